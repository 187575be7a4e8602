#include "save_shortcut.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace qm {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

std::string_view trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && blank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

// Words for Shift and Alt as Windows' keyboard texts write them.
constexpr std::array<std::string_view, 7> kOtherModifiers = {"Shift", "Alt",    "Umschalt", "Maj",
                                                             "Mayús", "Maiusc", "AltGr"};

}  // namespace

bool isMacSaveShortcut(std::string_view commandCharacter, long modifiers) {
  return modifiers == 0 && equalsIgnoringCase(commandCharacter, "S");
}

bool isWindowsSaveShortcut(std::string_view itemText) {
  const std::size_t tab = itemText.find('\t');
  if (tab == std::string_view::npos) {
    return false;
  }
  const std::string_view shortcut = trimmed(itemText.substr(tab + 1));
  const std::size_t plus = shortcut.find('+');
  if (plus == std::string_view::npos || shortcut.find('+', plus + 1) != std::string_view::npos) {
    return false;
  }
  const std::string_view word = trimmed(shortcut.substr(0, plus));
  const std::string_view key = trimmed(shortcut.substr(plus + 1));
  if (word.empty() || !equalsIgnoringCase(key, "S")) {
    return false;
  }
  return std::none_of(kOtherModifiers.begin(), kOtherModifiers.end(),
                      [word](std::string_view other) { return equalsIgnoringCase(word, other); });
}

ApplicationMenus::Press chooseSaveCommand(std::span<const MenuItemFacts> items,
                                          std::size_t* index) {
  const auto found = std::find_if(items.begin(), items.end(), [](const MenuItemFacts& item) {
    return item.savesByShortcut && !item.hasSubmenu;
  });
  if (found == items.end()) {
    return ApplicationMenus::Press::missing;
  }
  if (index != nullptr) {
    *index = static_cast<std::size_t>(found - items.begin());
  }
  return found->enabled ? ApplicationMenus::Press::pressed : ApplicationMenus::Press::disabled;
}

}  // namespace qm
