// Stored preference values and how the defaults system reads them back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace qm::sim {

// The property-list types a preference can hold in this world.
using PreferenceValue = std::variant<std::int64_t, double, bool, std::string>;

// integerForKey: of a stored value: a bool gives 0 or 1, a double is truncated
// (saturating, NaN gives 0), a string is read like a string's integerValue.
std::int64_t integerValueOf(const PreferenceValue& value);
// boolForKey: of a stored value: a number is YES when nonzero, a string is
// read like a string's boolValue.
bool boolValueOf(const PreferenceValue& value);

// A string's integerValue: leading whitespace, an optional sign, then the
// leading decimal digits ("12abc" gives 12, "abc" gives 0); saturates.
std::int64_t stringIntegerValue(std::string_view text);
// A string's boolValue: after leading whitespace, an optional sign and
// leading zeros, YES on 'Y', 'y', 'T', 't' or a digit 1-9.
bool stringBoolValue(std::string_view text);

}  // namespace qm::sim
