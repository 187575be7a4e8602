// Live's own Save command, told apart from its other menu items by its
// shortcut, never by its title, which Live translates.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include "platform.h"

namespace qm {

// The Mac: an item whose command character is "S" and whose modifiers are 0,
// which there means Command alone (Shift, Option or Control add bits).
bool isMacSaveShortcut(std::string_view commandCharacter, long modifiers);

// Windows: the shortcut after the tab of an item's text is one modifier
// word and S ("Ctrl+S", "Strg+S"); Shift or Alt make it another command.
bool isWindowsSaveShortcut(std::string_view itemText);

// What a menu item shows to a reader from outside.
struct MenuItemFacts {
  bool savesByShortcut = false;
  bool hasSubmenu = false;
  bool enabled = false;
};

// The first item, in menu order, that saves by its shortcut and opens no
// submenu; `pressed` when it is enabled, `disabled` when not, `missing`
// without one. `index` receives its place.
ApplicationMenus::Press chooseSaveCommand(std::span<const MenuItemFacts> items,
                                          std::size_t* index = nullptr);

}  // namespace qm
