// Property checks of how preference values are read, on arbitrary bytes:
// the defaults system's reading of a stored text as a number (against the C
// library's strtoll) and as a bool, of a double as an integer, through the
// simulated process's preferences port; and the scenario language's
// preference values, whose shown form reads back as the same value.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <variant>

#include "scenario.h"
#include "sim_preferences.h"
#include "sim_process.h"
#include "sim_world.h"

namespace {

using qm::scenario::PrefValue;

void require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

// A string's boolValue, written apart from the reader under test.
bool referenceBool(const std::string& text) {
  const char* c = text.c_str();
  c += std::strspn(c, " \t\n\v\f\r");
  c += std::strspn(c, "+-") > 0 ? 1 : 0;
  c += std::strspn(c, "0");
  return *c != '\0' && std::strchr("YyTt123456789", *c) != nullptr;
}

void checkStoredText(const std::string& text) {
  // strtoll reads the same syntax and saturates the same way; both stop at
  // a NUL byte.
  const std::int64_t expected = std::strtoll(text.c_str(), nullptr, 10);
  require(qm::sim::stringIntegerValue(text) == expected);
  require(qm::sim::stringBoolValue(text) == referenceBool(text));

  // One world for the whole run: making one per input would be most of the
  // work.
  static qm::sim::World world("/nonexistent");
  static qm::sim::Process process(world);
  world.setStringPreference("k", text);
  qm::Preferences& defaults = process.platform().preferences;
  require(defaults.integerForKey("k") == expected);
  require(defaults.boolForKey("k") == referenceBool(text));
}

void checkStoredDouble(double value) {
  const std::int64_t read = qm::sim::integerValueOf(value);
  constexpr double kTop = 9223372036854775808.0;  // 2^63
  if (std::isnan(value)) {
    require(read == 0);
  } else if (value >= kTop) {
    require(read == std::numeric_limits<std::int64_t>::max());
  } else if (value < -kTop) {
    require(read == std::numeric_limits<std::int64_t>::min());
  } else {
    require(static_cast<double>(read) == std::trunc(value));
  }
  require(qm::sim::boolValueOf(value) == (value != 0));
}

// The value of a one-line scenario, or nothing when it is refused.
std::optional<PrefValue> valueOf(const std::string& line) {
  qm::scenario::Scenario scenario;
  qm::scenario::ParseError error;
  if (!qm::scenario::parse(line, &scenario, &error) || scenario.commands.size() != 1) {
    return std::nullopt;
  }
  return scenario.commands[0].value;
}

// Shown, a value reads back as one shown the same way, and a number keeps
// its exact value (a whole real may come back as an int).
void checkRoundTrip(const PrefValue& value) {
  const std::string shown = qm::scenario::describe(value);
  const std::optional<PrefValue> again = valueOf("expect pref k " + shown);
  require(again.has_value());
  require(qm::scenario::describe(*again) == shown);
  if (const auto* real = std::get_if<double>(&value)) {
    const auto* asInteger = std::get_if<std::int64_t>(&*again);
    const auto* asReal = std::get_if<double>(&*again);
    require((asReal && *asReal == *real) ||
            (asInteger && static_cast<double>(*asInteger) == *real));
  } else {
    require(*again == value);
  }
}

void checkScenarioValue(const std::string& token) {
  if (std::optional<PrefValue> value = valueOf("expect pref k " + token)) {
    checkRoundTrip(*value);
  }
  static const char* const kTypes[] = {"int", "real", "bool", "string"};
  for (std::size_t type = 0; type < 4; ++type) {
    const std::optional<PrefValue> value =
        valueOf(std::string("pref set k ") + kTypes[type] + " " + token);
    if (!value) {
      continue;
    }
    // Each type gives values of its own kind only.
    require(value->index() == type + 1);
    checkRoundTrip(*value);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  checkStoredText(text);
  if (size >= sizeof(double)) {
    double value = 0;
    std::memcpy(&value, data, sizeof value);
    checkStoredDouble(value);
  }
  checkScenarioValue(text);
  return 0;
}
