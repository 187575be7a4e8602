// Live's Save command is found by its shortcut: its title is translated, and
// Save As sits next to it with a shortcut one key longer.
#include "save_shortcut.h"

#include <gtest/gtest.h>

#include <vector>

namespace qm {
namespace {

using Press = ApplicationMenus::Press;

TEST(SaveShortcutTest, MacCommandSAloneSaves) {
  EXPECT_TRUE(isMacSaveShortcut("S", 0));
  EXPECT_TRUE(isMacSaveShortcut("s", 0));
  EXPECT_FALSE(isMacSaveShortcut("S", 1));  // Shift: Save Live Set As
  EXPECT_FALSE(isMacSaveShortcut("S", 2));  // Option
  EXPECT_FALSE(isMacSaveShortcut("S", 8));  // no Command at all
  EXPECT_FALSE(isMacSaveShortcut("", 0));
  EXPECT_FALSE(isMacSaveShortcut("SS", 0));
}

TEST(SaveShortcutTest, WindowsOneModifierWordAndS) {
  EXPECT_TRUE(isWindowsSaveShortcut("Save Live Set\tCtrl+S"));
  EXPECT_TRUE(isWindowsSaveShortcut("Live-Set speichern\tStrg+S"));
  EXPECT_TRUE(isWindowsSaveShortcut("&Guardar\t Ctrl + S "));
  EXPECT_FALSE(isWindowsSaveShortcut("Save Live Set As...\tCtrl+Shift+S"));
  EXPECT_FALSE(isWindowsSaveShortcut("Solo\tAlt+S"));
  EXPECT_FALSE(isWindowsSaveShortcut("Enregistrer sous\tMaj+S"));
  EXPECT_FALSE(isWindowsSaveShortcut("Save Live Set Ctrl+S"));  // no tab: no shortcut
  EXPECT_FALSE(isWindowsSaveShortcut("Split\tCtrl+E"));
  EXPECT_FALSE(isWindowsSaveShortcut("Oddity\t+S"));
}

TEST(SaveShortcutTest, TheFirstItemThatSavesDecidesByItsState) {
  std::size_t index = 99;
  const std::vector<MenuItemFacts> menu = {
      {.savesByShortcut = false, .hasSubmenu = false, .enabled = true},  // "Save" by title only
      {.savesByShortcut = true, .hasSubmenu = true, .enabled = true},    // a submenu
      {.savesByShortcut = true, .hasSubmenu = false, .enabled = false},
      {.savesByShortcut = true, .hasSubmenu = false, .enabled = true},
  };
  EXPECT_EQ(chooseSaveCommand(menu, &index), Press::disabled);
  EXPECT_EQ(index, 2u);
  EXPECT_EQ(chooseSaveCommand(std::span(menu).last(1), &index), Press::pressed);
  EXPECT_EQ(index, 0u);
  EXPECT_EQ(chooseSaveCommand(std::span(menu).first(2)), Press::missing);
  EXPECT_EQ(chooseSaveCommand({}), Press::missing);
}

}  // namespace
}  // namespace qm
