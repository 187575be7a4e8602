#include "sim_preferences.h"

#include "preference_text.h"

#include <cmath>
#include <limits>

namespace qm::sim {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

// The target's float-to-integer conversion saturates and maps NaN to 0; C++
// leaves both undefined, so do it by hand.
std::int64_t truncateSaturating(double value) {
  if (std::isnan(value)) {
    return 0;
  }
  if (value >= 9223372036854775808.0) {
    return kMax;
  }
  if (value < -9223372036854775808.0) {
    return kMin;
  }
  return static_cast<std::int64_t>(value);
}

}  // namespace

std::int64_t stringIntegerValue(std::string_view text) {
  return textIntegerValue(text);
}

bool stringBoolValue(std::string_view text) {
  return textBoolValue(text);
}

std::int64_t integerValueOf(const PreferenceValue& value) {
  if (const auto* integer = std::get_if<std::int64_t>(&value)) {
    return *integer;
  }
  if (const auto* real = std::get_if<double>(&value)) {
    return truncateSaturating(*real);
  }
  if (const auto* flag = std::get_if<bool>(&value)) {
    return *flag ? 1 : 0;
  }
  return stringIntegerValue(std::get<std::string>(value));
}

bool boolValueOf(const PreferenceValue& value) {
  if (const auto* integer = std::get_if<std::int64_t>(&value)) {
    return *integer != 0;
  }
  if (const auto* real = std::get_if<double>(&value)) {
    return *real != 0;
  }
  if (const auto* flag = std::get_if<bool>(&value)) {
    return *flag;
  }
  return stringBoolValue(std::get<std::string>(value));
}

}  // namespace qm::sim
