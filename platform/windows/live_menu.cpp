// Live's own Save command, pressed through the Win32 menu bar of its main
// window: the item is told apart by the shortcut after the tab of its text,
// never by its translated title, and pressed with a posted WM_COMMAND, as a
// click on it would send, so no key and no activation are needed. The menu
// is read afresh at every press: Live may rebuild it and renumber its items.
// windows.h comes first: the other Win32 headers build on it.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "save_shortcut.h"
#include "window_answers.h"
#include "windows_platform.h"

namespace qm::windows {
namespace {

struct MenuItem {
  HMENU menu = nullptr;
  UINT position = 0;
};

// The item's text with its shortcut after the tab; none when it has none or
// it cannot be read.
std::optional<std::wstring> itemText(HMENU menu, UINT position) {
  MENUITEMINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_STRING;
  info.dwTypeData = nullptr;
  if (!GetMenuItemInfoW(menu, position, TRUE, &info) || info.cch == 0) {
    return std::nullopt;
  }
  std::wstring text(info.cch + 1, L'\0');
  info.dwTypeData = text.data();
  info.cch = static_cast<UINT>(text.size());
  if (!GetMenuItemInfoW(menu, position, TRUE, &info)) {
    return std::nullopt;
  }
  text.resize(info.cch < text.size() ? info.cch : text.size() - 1);
  return text;
}

// What one item shows; an item that cannot be read is not the command.
MenuItemFacts factsOf(HMENU menu, UINT position) {
  MENUITEMINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_SUBMENU;
  MenuItemFacts facts;
  if (!GetMenuItemInfoW(menu, position, TRUE, &info) || (info.fType & MFT_SEPARATOR) != 0) {
    return facts;
  }
  facts.hasSubmenu = info.hSubMenu != nullptr;
  // MFS_DISABLED is MF_GRAYED | MF_DISABLED: either keeps a click from
  // doing anything.
  facts.enabled = (info.fState & (MF_GRAYED | MF_DISABLED)) == 0;
  const std::optional<std::wstring> text = itemText(menu, position);
  facts.savesByShortcut = text && isWindowsSaveShortcut(narrow(*text));
  return facts;
}

// The items of the menus that the bar's entries open, in menu order; none
// when the bar cannot be read (another process's menu under Wine).
std::optional<std::vector<MenuItem>> menuItems(HMENU bar, std::vector<MenuItemFacts>& facts) {
  const int entries = GetMenuItemCount(bar);
  if (entries < 0) {
    return std::nullopt;
  }
  std::vector<MenuItem> items;
  for (int entry = 0; entry < entries; ++entry) {
    const HMENU menu = GetSubMenu(bar, entry);
    const int count = menu != nullptr ? GetMenuItemCount(menu) : -1;
    for (int position = 0; position < count; ++position) {
      items.push_back({menu, static_cast<UINT>(position)});
      facts.push_back(factsOf(menu, static_cast<UINT>(position)));
    }
  }
  return items;
}

class WinApplicationMenus final : public ApplicationMenus {
 public:
  Reply<Press> pressSaveCommand(int pid) override {
    const HWND main = mainWindowOfProcess(static_cast<DWORD>(pid));
    if (main == nullptr) {
      return Press::missing;
    }
    // A command posted to a Live that does not answer would be carried out
    // whenever it wakes, perhaps long after the user's next change.
    if (!windowAnswers(main)) {
      return Reply<Press>::noAnswer();
    }
    const HMENU bar = GetMenu(main);
    if (bar == nullptr) {
      return Press::missing;
    }
    std::vector<MenuItemFacts> facts;
    const std::optional<std::vector<MenuItem>> items = menuItems(bar, facts);
    if (!items) {
      return Press::missing;
    }
    std::size_t index = 0;
    const Press press = chooseSaveCommand(facts, &index);
    if (press != Press::pressed) {
      return press;
    }
    const MenuItem& item = (*items)[index];
    const UINT id = GetMenuItemID(item.menu, static_cast<int>(item.position));
    // A menu command carries 0 in the high word, an accelerator 1.
    if (id == static_cast<UINT>(-1) ||
        !PostMessageW(main, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), 0), 0)) {
      return Press::missing;
    }
    return Press::pressed;
  }
};

}  // namespace

std::unique_ptr<ApplicationMenus> makeApplicationMenus() {
  return std::make_unique<WinApplicationMenus>();
}

}  // namespace qm::windows
