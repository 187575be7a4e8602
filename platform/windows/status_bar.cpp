// The tray icon and its menu over Shell_NotifyIconW and popup menus. The
// icon asks for the version 4 callbacks: a click, left or right, or the
// keyboard (Win+B, arrows, Enter or Space) opens the menu at the point the
// taskbar names, which for the keyboard is the icon. Without version 4 a
// click opens it at the cursor. The chosen item comes back as WM_COMMAND to
// the icon's hidden window, which calls the item's action. Items keep their
// state in C++: Win32 menus have no hidden items, so a menu is laid out again
// whenever an item is shown or hidden. The same window, a top-level one
// because Windows broadcasts power and clock changes only to those, hears of
// the session (lock, unlock, log-off), sleep and wake, a set clock, Explorer
// restarting and display changes.
// windows.h comes first: the other Win32 headers build on it.
#include <windows.h>

#include <dwmapi.h>
#include <shellapi.h>
#include <wtsapi32.h>

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
constexpr UINT kFirstCommandId = 100;

std::map<DWORD, TrayIconCall>& trayIconCalls() {
  static std::map<DWORD, TrayIconCall> calls;
  return calls;
}

// Every Shell_NotifyIconW call goes through here, so the tests can read the
// last of each kind.
bool notifyIcon(DWORD operation, NOTIFYICONDATAW& data) {
  static int order = 0;
  const bool succeeded = Shell_NotifyIconW(operation, &data) != FALSE;
  trayIconCalls()[operation] = {data, succeeded, ++order};
  return succeeded;
}

// The anchor of a version 4 callback: screen coordinates, signed, in wParam.
POINT anchorPoint(WPARAM wParam) {
  return {static_cast<short>(LOWORD(wParam)), static_cast<short>(HIWORD(wParam))};
}

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
  Win32StatusItem(WinRunLoop& runLoop, SessionEvents sessionEvents)
      : runLoop_(runLoop), sessionEvents_(std::move(sessionEvents)) {
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
    data_.uCallbackMessage = kTrayMessage;
    data_.uVersion = NOTIFYICON_VERSION_4;
    addIcon();
    sessionRegistered_ = WTSRegisterSessionNotification(window_, NOTIFY_FOR_THIS_SESSION) != FALSE;

    // An icon left behind would stay in the tray until the mouse passes it.
    // The handler comes after the list, so the list outlives it at exit.
    liveStatusItems().push_back(this);
    static const bool registered = std::atexit(&Win32StatusItem::shutDownAll) == 0;
    (void)registered;
  }
  ~Win32StatusItem() override {
    shutDown();
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
    updateIcon(true);
  }

  void setToolTip(const std::string& toolTip) override {
    // The tray keeps 127 characters.
    const std::wstring text = fittedText(widen(toolTip), std::size(data_.szTip));
    // Each change is a message to the taskbar's process: send only changes.
    if (std::wstring_view(data_.szTip) == text) {
      return;
    }
    std::fill(std::begin(data_.szTip), std::end(data_.szTip), L'\0');
    std::copy(text.begin(), text.end(), data_.szTip);
    modify(NIF_TIP | NIF_SHOWTIP);
  }

  // A balloon from the icon. Only this call carries NIF_INFO, so no later
  // change of the icon shows it again.
  bool showBalloon(const std::wstring& title, const std::wstring& body) {
    if (!added_) {
      addIcon();
    }
    NOTIFYICONDATAW data = data_;
    data.uFlags = NIF_INFO;
    data.dwInfoFlags = NIIF_WARNING;
    const std::wstring fittedTitle = fittedText(title, std::size(data.szInfoTitle));
    // An empty text would remove the balloon instead of showing it.
    const std::wstring fittedBody = fittedText(body.empty() ? title : body, std::size(data.szInfo));
    std::copy(fittedTitle.begin(), fittedTitle.end(), data.szInfoTitle);
    data.szInfoTitle[fittedTitle.size()] = L'\0';
    std::copy(fittedBody.begin(), fittedBody.end(), data.szInfo);
    data.szInfo[fittedBody.size()] = L'\0';
    return notifyIcon(NIM_MODIFY, data);
  }

  void setMenu(MenuRef menu) override { menu_ = std::move(menu); }

  HWND window() const { return window_; }
  HMENU menu() const { return menu_ ? static_cast<Win32Menu&>(*menu_).handle() : nullptr; }

  void openMenu() {
    POINT cursor{};
    GetCursorPos(&cursor);
    openMenuAt(cursor, false);
  }

  void openMenuAt(POINT at, bool fromKeyboard) {
    // Enter may announce itself twice; one menu at a time.
    if (!menu_ || menuOpen_) {
      return;
    }
    menuOpen_ = true;
    gWindowBeforeMenu = windowTheUserWorkedIn();
    // The menu closes on a click elsewhere only when its window is in front.
    SetForegroundWindow(window_);
    const UINT alignment =
        GetSystemMetrics(SM_MENUDROPALIGNMENT) != 0 ? TPM_RIGHTALIGN : TPM_LEFTALIGN;
    ++gMenusOpen;
    runLoop_.beginModal();
    const auto chosen = static_cast<UINT>(
        TrackPopupMenuEx(menu(), alignment | TPM_BOTTOMALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD,
                         at.x, at.y, window_, nullptr));
    runLoop_.endModal();
    --gMenusOpen;
    menuOpen_ = false;
    if (chosen != 0) {
      PostMessageW(window_, WM_COMMAND, chosen, 0);
    } else if (fromKeyboard) {
      // Escape: the keyboard user goes on in the notification area.
      notifyIcon(NIM_SETFOCUS, data_);
    }
    PostMessageW(window_, WM_NULL, 0, 0);
  }

 private:
  static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Win32StatusItem*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) {
      return DefWindowProcW(window, message, wParam, lParam);
    }
    if (message == kTrayMessage) {
      // Version 4 puts the event in the low word and the anchor in wParam;
      // a mouse-up there is followed by NIN_SELECT or WM_CONTEXTMENU.
      const UINT event = LOWORD(lParam);
      if (!self->version4_) {
        if (event == WM_LBUTTONUP || event == WM_RBUTTONUP) {
          self->openMenu();
        }
      } else if (event == NIN_SELECT || event == NIN_KEYSELECT || event == WM_CONTEXTMENU) {
        self->openMenuAt(anchorPoint(wParam), event == NIN_KEYSELECT);
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
    if (message == WM_SETTINGCHANGE || message == WM_SYSCOLORCHANGE ||
        message == WM_DISPLAYCHANGE || message == WM_DPICHANGED) {
      // A light or dark taskbar, high contrast, or another scaling.
      self->updateIcon(false);
      return 0;
    }
    if (message == self->taskbarCreated_) {
      // Explorer restarted (or rebuilt the taskbar): the tray is new and
      // empty, and may have another scaling.
      self->updateIcon(false);
      self->addIcon();
      return 0;
    }
    if (message == WM_WTSSESSION_CHANGE) {
      const std::optional<bool> locked = sessionLockedAfter(
          wParam, [lParam] { return sessionLockedNow(static_cast<DWORD>(lParam)); });
      if (locked && self->sessionEvents_.lockChanged) {
        self->sessionEvents_.lockChanged(*locked);
      }
      return 0;
    }
    if (message == WM_POWERBROADCAST) {
      // Every wake brings PBT_APMRESUMEAUTOMATIC; PBT_APMRESUMESUSPEND
      // follows it when a user is there. The core takes the first and
      // ignores a wake without a sleep.
      const auto& events = self->sessionEvents_;
      if (wParam == PBT_APMSUSPEND && events.willSleep) {
        events.willSleep();
      } else if ((wParam == PBT_APMRESUMEAUTOMATIC || wParam == PBT_APMRESUMESUSPEND) &&
                 events.didWake) {
        events.didWake();
      }
      return TRUE;
    }
    if (message == WM_TIMECHANGE) {
      if (self->sessionEvents_.clockChanged) {
        self->sessionEvents_.clockChanged();
      }
      return 0;
    }
    if (message == WM_CLOSE) {
      // The installer's and uninstaller's stop: quit, the icon with it.
      PostQuitMessage(0);
      return 0;
    }
    if (message == WM_QUERYENDSESSION) {
      return TRUE;  // nothing to save of its own
    }
    if (message == WM_ENDSESSION) {
      if (wParam != FALSE && self->sessionEvents_.ending) {
        self->sessionEvents_.ending();
      }
      return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }

  static void shutDownAll() {
    for (Win32StatusItem* item : liveStatusItems()) {
      item->shutDown();
    }
  }

  void shutDown() {
    if (added_) {
      notifyIcon(NIM_DELETE, data_);
      added_ = false;
    }
    if (sessionRegistered_) {
      WTSUnRegisterSessionNotification(window_);
      sessionRegistered_ = false;
    }
  }

  // The whole icon, whatever was sent before, then the version 4 callbacks.
  void addIcon() {
    data_.uFlags = NIF_MESSAGE | NIF_TIP | NIF_SHOWTIP | (icon_ != nullptr ? NIF_ICON : 0);
    // A taskbar that kept the icon refuses the add; it gets it whole again.
    added_ = notifyIcon(NIM_ADD, data_) || notifyIcon(NIM_MODIFY, data_);
    version4_ = added_ && notifyIcon(NIM_SETVERSION, data_);
  }

  void modify(UINT flags) {
    if (!added_) {
      addIcon();
      return;
    }
    data_.uFlags = NIF_MESSAGE | flags;
    notifyIcon(NIM_MODIFY, data_);
  }

  // Makes the icon afresh for a new image, or when its size or colour
  // changed; each change is a message to the taskbar's process.
  void updateIcon(bool newImage) {
    const int side = trayIconPixels();
    const std::uint32_t tint = currentTemplateTint();
    if (!newImage && (!image_ || (side == iconSide_ && tint == iconTint_))) {
      return;
    }
    iconSide_ = side;
    iconTint_ = tint;
    const HICON previous = icon_;
    icon_ = nullptr;
    if (image_) {
      const ImageRef drawn = redrawnImage(image_, side);
      const IconPixels pixels = iconPixels(*drawn, tint);
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
  SessionEvents sessionEvents_;
  HWND window_ = nullptr;
  UINT taskbarCreated_ = 0;
  NOTIFYICONDATAW data_{};
  bool added_ = false;
  bool version4_ = false;
  bool sessionRegistered_ = false;
  bool menuOpen_ = false;
  ImageRef image_;
  HICON icon_ = nullptr;
  int iconSide_ = 0;
  std::uint32_t iconTint_ = 0;
  MenuRef menu_;
};

class Win32StatusBar final : public StatusBar {
 public:
  Win32StatusBar(WinRunLoop& runLoop, SessionEvents sessionEvents)
      : runLoop_(runLoop), sessionEvents_(std::move(sessionEvents)) {}

  StatusItemRef statusItemWithLength(double length) override {
    (void)length;  // tray icons have one size
    return std::make_shared<Win32StatusItem>(runLoop_, sessionEvents_);
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
  SessionEvents sessionEvents_;
};

}  // namespace

std::optional<TrayIconCall> lastTrayIconCall(DWORD operation) {
  const auto found = trayIconCalls().find(operation);
  if (found == trayIconCalls().end()) {
    return std::nullopt;
  }
  return found->second;
}

std::optional<bool> sessionLockedAfter(WPARAM sessionChange,
                                       const std::function<std::optional<bool>()>& lockedNow) {
  switch (sessionChange) {
    case WTS_SESSION_LOCK:
    case WTS_CONSOLE_DISCONNECT:
    case WTS_REMOTE_DISCONNECT:
      return true;
    case WTS_SESSION_UNLOCK:
      return false;
    case WTS_CONSOLE_CONNECT:
    case WTS_REMOTE_CONNECT:
      return lockedNow ? lockedNow() : std::nullopt;
    default:
      return std::nullopt;
  }
}

bool showTrayBalloon(const std::wstring& title, const std::wstring& body) {
  return !liveStatusItems().empty() && liveStatusItems().back()->showBalloon(title, body);
}

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

std::unique_ptr<StatusBar> makeStatusBar(WinRunLoop& runLoop, SessionEvents sessionEvents) {
  return std::make_unique<Win32StatusBar>(runLoop, std::move(sessionEvents));
}

}  // namespace qm::windows
