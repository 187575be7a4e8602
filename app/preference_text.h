// How a preference stored as text reads as a number or a flag, the way macOS
// reads its defaults. Narrow and wide texts read alike, so every desktop
// shares these.
#pragma once

#include <cstdint>
#include <limits>
#include <string_view>

namespace qm {

template <typename Char>
constexpr bool isPreferenceBlank(Char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Leading blanks, a sign, then digits up to the first other character;
// saturating, 0 when there are none.
template <typename Char>
std::int64_t textIntegerValue(std::basic_string_view<Char> text) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  std::size_t i = 0;
  while (i < text.size() && isPreferenceBlank(text[i])) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulated as a negative number so that the minimum fits.
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const int digit = static_cast<int>(text[i] - '0');
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

// "YES", "true" or a number other than zero.
template <typename Char>
bool textBoolValue(std::basic_string_view<Char> text) {
  std::size_t i = 0;
  while (i < text.size() && isPreferenceBlank(text[i])) {
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
  const Char c = text[i];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

}  // namespace qm
