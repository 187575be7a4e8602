// The tray icon and its menu over Shell_NotifyIconW and popup menus. A click
// on the icon, left or right, opens the menu at the cursor; the chosen item
// comes back as WM_COMMAND to the icon's hidden window, which calls the
// item's action. Items keep their state in C++: Win32 menus have no hidden
// items, so a menu is laid out again whenever an item is shown or hidden.
// windows.h comes first: the other Win32 headers build on it.
#include <windows.h>

#include <dwmapi.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdlib>
#include <cwctype>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "windows_platform.h"

namespace qm::windows {
namespace {

constexpr UINT kTrayMessage = WM_APP + 1;
constexpr UINT kTrayIconId = 1;
constexpr UINT kFirstCommandId = 100;

// Menus use & for the mnemonic: a literal one is doubled, and the key
// equivalent becomes the mnemonic when the title holds it ("&Quit").
std::wstring menuText(const std::string& title, const std::string& keyEquivalent) {
  std::wstring text;
  const std::wstring wide = widen(title);
  for (const wchar_t c : wide) {
    if (c == L'&') {
      text += L'&';
    }
    text += c;
  }
  if (keyEquivalent.size() == 1) {
    const wchar_t key = static_cast<wchar_t>(std::towlower(keyEquivalent[0]));
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == L'&') {
        ++i;  // skip the doubled ampersand
      } else if (static_cast<wchar_t>(std::towlower(text[i])) == key) {
        text.insert(i, 1, L'&');
        break;
      }
    }
  }
  return text;
}

class Win32Menu;
class Win32StatusItem;

HWND gWindowBeforeMenu = nullptr;

// A click on a tray icon brings the taskbar to the front before the icon's
// owner hears of it; the taskbar and the notification area share a thread.
bool isTaskbarWindow(HWND window) {
  const HWND root = GetAncestor(window, GA_ROOT);
  const HWND taskbar = FindWindowW(L"Shell_TrayWnd", nullptr);
  if (taskbar != nullptr &&
      GetWindowThreadProcessId(root, nullptr) == GetWindowThreadProcessId(taskbar, nullptr)) {
    return true;
  }
  wchar_t name[64] = L"";
  GetClassNameW(root, name, 64);
  // The flyouts of hidden icons on Windows 10 and 11.
  const std::wstring_view rootClass(name);
  return rootClass == L"NotifyIconOverflowWindow" ||
         rootClass == L"TopLevelWindowForOverflowXamlIsland";
}

bool belongsToAnotherProgram(HWND window) {
  DWORD pid = 0;
  return window != nullptr && GetWindowThreadProcessId(window, &pid) != 0 &&
         pid != GetCurrentProcessId() && !isTaskbarWindow(window);
}

// A window the user may have been working in, as the z-order shows it.
bool looksWorkedIn(HWND window) {
  if (!belongsToAnotherProgram(window) || !IsWindowVisible(window) || IsIconic(window)) {
    return false;
  }
  // Ever-on-top windows (players, overlays) stay above the one in use.
  const auto style = GetWindowLongPtrW(window, GWL_EXSTYLE);
  if ((style & (WS_EX_NOACTIVATE | WS_EX_TOPMOST)) != 0 ||
      ((style & WS_EX_TOOLWINDOW) != 0 && (style & WS_EX_APPWINDOW) == 0)) {
    return false;
  }
  // Windows 10 and 11 keep suspended apps and other desktops' windows in
  // the z-order, visible but cloaked.
  DWORD cloaked = 0;
  return FAILED(DwmGetWindowAttribute(window, DWMWA_CLOAKED, &cloaked, sizeof cloaked)) ||
         cloaked == 0;
}

BOOL CALLBACK findWindowWorkedIn(HWND window, LPARAM found) {
  if (!looksWorkedIn(window)) {
    return TRUE;
  }
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

// The window in front before the menu. When the click gave the foreground
// to the taskbar, that is the topmost window under it: activating the
// taskbar leaves the others' order alone.
HWND windowTheUserWorkedIn() {
  const HWND foreground = GetForegroundWindow();
  if (belongsToAnotherProgram(foreground)) {
    return foreground;
  }
  HWND found = nullptr;
  EnumWindows(&findWindowWorkedIn, reinterpret_cast<LPARAM>(&found));
  return found;
}

// Every menu's changes are shown at once, also while a menu is open.
int gMenusOpen = 0;

BOOL CALLBACK repaintMenuWindow(HWND window, LPARAM) {
  wchar_t name[16] = L"";
  GetClassNameW(window, name, 16);
  if (std::wstring_view(name) == L"#32768") {
    InvalidateRect(window, nullptr, TRUE);
  }
  return TRUE;
}

void repaintOpenMenus() {
  if (gMenusOpen > 0) {
    EnumThreadWindows(GetCurrentThreadId(), &repaintMenuWindow, 0);
  }
}

class Win32MenuItem final : public MenuItem {
 public:
  Win32MenuItem(UINT id, std::string title, MenuAction action, std::string keyEquivalent,
                bool separator)
      : id_(id),
        title_(std::move(title)),
        action_(std::move(action)),
        keyEquivalent_(std::move(keyEquivalent)),
        separator_(separator) {}

  // The core sets every title and state at each refresh; only a change
  // reaches the menu.
  void setTitle(const std::string& title) override {
    if (title != title_) {
      title_ = title;
      update();
    }
  }
  void setEnabled(bool enabled) override {
    if (enabled != enabled_) {
      enabled_ = enabled;
      update();
    }
  }
  void setHidden(bool hidden) override;
  void setState(int state) override {
    if (state != state_) {
      state_ = state;
      update();
    }
  }
  void setTag(std::int64_t tag) override { tag_ = tag; }
  std::int64_t tag() const override { return tag_; }
  void setSubmenu(MenuRef submenu) override;

  UINT id() const { return id_; }
  bool hidden() const { return hidden_; }
  void setParent(Win32Menu* parent) { parent_ = parent; }

  void choose() {
    if (action_ && enabled_) {
      // The action may drop the last other reference to this item.
      const MenuAction action = action_;
      action(*this);
    }
  }

  // Fills a description of the item for InsertMenuItemW or SetMenuItemInfoW.
  MENUITEMINFOW info(std::wstring& text) const;

 private:
  void update();

  UINT id_;
  std::string title_;
  MenuAction action_;
  std::string keyEquivalent_;
  bool separator_;
  bool enabled_ = true;
  bool hidden_ = false;
  int state_ = kControlStateValueOff;
  std::int64_t tag_ = 0;
  MenuRef submenu_;
  Win32Menu* parent_ = nullptr;
};

class Win32Menu final : public Menu {
 public:
  Win32Menu() : menu_(CreatePopupMenu()) {}
  ~Win32Menu() override {
    // Submenus belong to their own C++ menus; detach them before the
    // menu is destroyed, or DestroyMenu would destroy them too.
    while (GetMenuItemCount(menu_) > 0) {
      RemoveMenu(menu_, 0, MF_BYPOSITION);
    }
    DestroyMenu(menu_);
  }
  Win32Menu(const Win32Menu&) = delete;
  Win32Menu& operator=(const Win32Menu&) = delete;

  void addItem(MenuItemRef item) override {
    auto& windowsItem = static_cast<Win32MenuItem&>(*item);
    windowsItem.setParent(this);
    items_.push_back(std::move(item));
    layOut();
  }

  // Puts the visible items into the Win32 menu, in order.
  void layOut() {
    while (GetMenuItemCount(menu_) > 0) {
      RemoveMenu(menu_, 0, MF_BYPOSITION);
    }
    UINT position = 0;
    for (const MenuItemRef& item : items_) {
      const auto& windowsItem = static_cast<const Win32MenuItem&>(*item);
      if (windowsItem.hidden()) {
        continue;
      }
      std::wstring text;
      const MENUITEMINFOW info = windowsItem.info(text);
      InsertMenuItemW(menu_, position++, TRUE, &info);
    }
    repaintOpenMenus();
  }

  void update(const Win32MenuItem& item) {
    if (item.hidden()) {
      return;
    }
    std::wstring text;
    const MENUITEMINFOW info = item.info(text);
    SetMenuItemInfoW(menu_, item.id(), FALSE, &info);
    repaintOpenMenus();
  }

  HMENU handle() const { return menu_; }

 private:
  HMENU menu_;
  std::vector<MenuItemRef> items_;
};

MENUITEMINFOW Win32MenuItem::info(std::wstring& text) const {
  MENUITEMINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STATE | MIIM_SUBMENU;
  info.wID = id_;
  if (separator_) {
    info.fType = MFT_SEPARATOR;
    return info;
  }
  info.fMask |= MIIM_STRING;
  info.fType = MFT_STRING;
  text = menuText(title_, keyEquivalent_);
  info.dwTypeData = text.data();
  info.cch = static_cast<UINT>(text.size());
  // An item without action cannot be chosen, as AppKit's automatic
  // enabling does it; one carrying a submenu opens it.
  const bool enabled = enabled_ && (action_ || submenu_);
  info.fState = (enabled ? MFS_ENABLED : MFS_DISABLED) |
                (state_ == kControlStateValueOn ? MFS_CHECKED : MFS_UNCHECKED);
  info.hSubMenu = submenu_ ? static_cast<Win32Menu&>(*submenu_).handle() : nullptr;
  return info;
}

void Win32MenuItem::update() {
  if (parent_ != nullptr) {
    parent_->update(*this);
  }
}

void Win32MenuItem::setHidden(bool hidden) {
  if (hidden == hidden_) {
    return;
  }
  hidden_ = hidden;
  if (parent_ != nullptr) {
    parent_->layOut();
  }
}

void Win32MenuItem::setSubmenu(MenuRef submenu) {
  submenu_ = std::move(submenu);
  update();
}

// Every item by its command id, so WM_COMMAND finds it.
std::map<UINT, std::weak_ptr<Win32MenuItem>>& itemsById() {
  static std::map<UINT, std::weak_ptr<Win32MenuItem>> items;
  return items;
}

std::vector<Win32StatusItem*>& liveStatusItems() {
  static std::vector<Win32StatusItem*> items;
  return items;
}

class Win32StatusItem final : public StatusItem {
 public:
  explicit Win32StatusItem(WinRunLoop& runLoop) : runLoop_(runLoop) {
    static const UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    taskbarCreated_ = taskbarCreated;
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &Win32StatusItem::windowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"QuillmarkTray";
    RegisterClassExW(&windowClass);
    // A hidden tool window: it owns the menu and gets no taskbar button.
    window_ = CreateWindowExW(WS_EX_TOOLWINDOW, windowClass.lpszClassName, L"Quillmark", WS_POPUP,
                              0, 0, 0, 0, nullptr, nullptr, windowClass.hInstance, nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

    data_.cbSize = sizeof data_;
    data_.hWnd = window_;
    data_.uID = kTrayIconId;
    data_.uFlags = NIF_MESSAGE | NIF_TIP | NIF_SHOWTIP;
    data_.uCallbackMessage = kTrayMessage;
    added_ = Shell_NotifyIconW(NIM_ADD, &data_) != FALSE;

    // An icon left behind would stay in the tray until the mouse passes it.
    static const bool registered = std::atexit(&Win32StatusItem::removeAllIcons) == 0;
    (void)registered;
    liveStatusItems().push_back(this);
  }
  ~Win32StatusItem() override {
    removeIcon();
    std::erase(liveStatusItems(), this);
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
    if (icon_ != nullptr) {
      DestroyIcon(icon_);
    }
  }
  Win32StatusItem(const Win32StatusItem&) = delete;
  Win32StatusItem& operator=(const Win32StatusItem&) = delete;

  void setImage(ImageRef image) override {
    image_ = std::move(image);
    updateIcon();
  }

  void setToolTip(const std::string& toolTip) override {
    const std::wstring text = widen(toolTip);
    // The tray keeps 127 characters; a cut never splits a surrogate pair.
    std::size_t length = std::min(text.size(), std::size(data_.szTip) - 1);
    if (length < text.size() && length > 0 && IS_HIGH_SURROGATE(text[length - 1])) {
      --length;
    }
    // Each change is a message to the taskbar's process: send only changes.
    if (std::wstring_view(data_.szTip) == std::wstring_view(text.data(), length)) {
      return;
    }
    std::fill(std::begin(data_.szTip), std::end(data_.szTip), L'\0');
    std::copy_n(text.begin(), length, data_.szTip);
    modify(NIF_TIP | NIF_SHOWTIP);
  }

  void setMenu(MenuRef menu) override { menu_ = std::move(menu); }

  HWND window() const { return window_; }
  HMENU menu() const { return menu_ ? static_cast<Win32Menu&>(*menu_).handle() : nullptr; }

  void openMenu() {
    if (!menu_) {
      return;
    }
    POINT cursor{};
    GetCursorPos(&cursor);
    gWindowBeforeMenu = windowTheUserWorkedIn();
    // The menu closes on a click elsewhere only when its window is in front.
    SetForegroundWindow(window_);
    const UINT alignment =
        GetSystemMetrics(SM_MENUDROPALIGNMENT) != 0 ? TPM_RIGHTALIGN : TPM_LEFTALIGN;
    ++gMenusOpen;
    runLoop_.beginModal();
    TrackPopupMenuEx(menu(), alignment | TPM_BOTTOMALIGN | TPM_RIGHTBUTTON, cursor.x, cursor.y,
                     window_, nullptr);
    runLoop_.endModal();
    --gMenusOpen;
    PostMessageW(window_, WM_NULL, 0, 0);
  }

 private:
  static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Win32StatusItem*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) {
      return DefWindowProcW(window, message, wParam, lParam);
    }
    if (message == kTrayMessage) {
      const UINT event = LOWORD(lParam);
      if (event == WM_LBUTTONUP || event == WM_RBUTTONUP) {
        self->openMenu();
      }
      return 0;
    }
    if (message == WM_COMMAND && HIWORD(wParam) == 0) {
      const auto found = itemsById().find(LOWORD(wParam));
      if (found != itemsById().end()) {
        if (const auto item = found->second.lock()) {
          item->choose();
        }
      }
      return 0;
    }
    if (message == WM_SETTINGCHANGE && lParam != 0 &&
        std::wstring_view(reinterpret_cast<const wchar_t*>(lParam)) == L"ImmersiveColorSet") {
      self->updateIcon();  // the taskbar may have turned light or dark
      return 0;
    }
    if (message == self->taskbarCreated_) {
      // Explorer restarted: the tray is new and empty.
      self->added_ = Shell_NotifyIconW(NIM_ADD, &self->data_) != FALSE;
      return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }

  static void removeAllIcons() {
    for (Win32StatusItem* item : liveStatusItems()) {
      item->removeIcon();
    }
  }

  void removeIcon() {
    if (added_) {
      Shell_NotifyIconW(NIM_DELETE, &data_);
      added_ = false;
    }
  }

  void modify(UINT flags) {
    data_.uFlags = NIF_MESSAGE | flags;
    if (!added_) {
      added_ = Shell_NotifyIconW(NIM_ADD, &data_) != FALSE;
    } else {
      Shell_NotifyIconW(NIM_MODIFY, &data_);
    }
  }

  void updateIcon() {
    const HICON previous = icon_;
    icon_ = nullptr;
    if (image_) {
      const IconPixels pixels = iconPixels(*image_, taskbarIsLight());
      BITMAPV5HEADER header{};
      header.bV5Size = sizeof header;
      header.bV5Width = pixels.width;
      header.bV5Height = -pixels.height;
      header.bV5Planes = 1;
      header.bV5BitCount = 32;
      header.bV5Compression = BI_BITFIELDS;
      header.bV5RedMask = 0x00FF0000;
      header.bV5GreenMask = 0x0000FF00;
      header.bV5BlueMask = 0x000000FF;
      header.bV5AlphaMask = 0xFF000000;
      void* bits = nullptr;
      const HDC screen = GetDC(nullptr);
      const HBITMAP color = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header),
                                             DIB_RGB_COLORS, &bits, nullptr, 0);
      ReleaseDC(nullptr, screen);
      if (color != nullptr) {
        std::copy(pixels.pixels.begin(), pixels.pixels.end(), static_cast<std::uint32_t*>(bits));
        const HBITMAP mask = CreateBitmap(pixels.width, pixels.height, 1, 1, nullptr);
        ICONINFO info{TRUE, 0, 0, mask, color};
        icon_ = CreateIconIndirect(&info);
        DeleteObject(mask);
        DeleteObject(color);
      }
    }
    data_.hIcon = icon_;
    modify(NIF_ICON);
    if (previous != nullptr) {
      DestroyIcon(previous);
    }
  }

  WinRunLoop& runLoop_;
  HWND window_ = nullptr;
  UINT taskbarCreated_ = 0;
  NOTIFYICONDATAW data_{};
  bool added_ = false;
  ImageRef image_;
  HICON icon_ = nullptr;
  MenuRef menu_;
};

class Win32StatusBar final : public StatusBar {
 public:
  explicit Win32StatusBar(WinRunLoop& runLoop) : runLoop_(runLoop) {}

  StatusItemRef statusItemWithLength(double length) override {
    (void)length;  // tray icons have one size
    return std::make_shared<Win32StatusItem>(runLoop_);
  }

  MenuRef createMenu(const std::string& title) override {
    (void)title;  // a popup menu shows no title
    return std::make_shared<Win32Menu>();
  }

  MenuItemRef createMenuItem(const std::string& title, MenuAction action,
                             const std::string& keyEquivalent) override {
    return makeItem(title, std::move(action), keyEquivalent, false);
  }

  MenuItemRef separatorItem() override { return makeItem("", nullptr, "", true); }

 private:
  MenuItemRef makeItem(const std::string& title, MenuAction action,
                       const std::string& keyEquivalent, bool separator) {
    // Ids are unique in the process, as the table that maps them back is.
    static UINT nextId = kFirstCommandId;
    auto item = std::make_shared<Win32MenuItem>(nextId++, title, std::move(action), keyEquivalent,
                                                separator);
    std::erase_if(itemsById(), [](const auto& entry) { return entry.second.expired(); });
    itemsById()[item->id()] = item;
    return item;
  }

  WinRunLoop& runLoop_;
};

}  // namespace

HWND windowBeforeTrayMenu() {
  return gWindowBeforeMenu != nullptr && IsWindow(gWindowBeforeMenu) ? gWindowBeforeMenu : nullptr;
}

HWND statusItemWindow(StatusItem& item) {
  return static_cast<Win32StatusItem&>(item).window();
}

HMENU statusItemMenu(StatusItem& item) {
  return static_cast<Win32StatusItem&>(item).menu();
}

void openStatusItemMenu(StatusItem& item) {
  static_cast<Win32StatusItem&>(item).openMenu();
}

std::unique_ptr<StatusBar> makeStatusBar(WinRunLoop& runLoop) {
  return std::make_unique<Win32StatusBar>(runLoop);
}

}  // namespace qm::windows
