#include "sim_preferences.h"

#include <cmath>
#include <limits>

namespace qm::sim {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

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
  std::size_t i = 0;
  while (i < text.size() && isBlank(text[i])) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulate as a negative number so that the minimum fits.
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const int digit = text[i] - '0';
    if (value < (kMin + digit) / 10) {
      return negative ? kMin : kMax;
    }
    value = value * 10 - digit;
  }
  if (negative) {
    return value;
  }
  return value == kMin ? kMax : -value;
}

bool stringBoolValue(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && isBlank(text[i])) {
    ++i;
  }
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    ++i;
  }
  while (i < text.size() && text[i] == '0') {
    ++i;
  }
  if (i == text.size()) {
    return false;
  }
  const char c = text[i];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
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
