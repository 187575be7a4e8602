// The tray menu and icon that the real application core builds on the
// Win32 ports: the items read back with GetMenuItemInfoW, chosen with
// WM_COMMAND, and the icon's pixels; the icon back after Explorer restarts,
// the menu opened from the keyboard, and the session's, power and clock
// messages.
// windows.h comes first: the other Win32 headers build on it.
#include <windows.h>

#include <gtest/gtest.h>
#include <wtsapi32.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app_delegate.h"
#include "icon_drawing.h"
#include "tray_test_support.h"

namespace qm::windows::test {
namespace {

constexpr wchar_t kTestPreferencesKey[] = L"Software\\Vellum\\QuillmarkMenuTest";

// Keeps the status item the core makes, so the test can reach its menu.
class RecordingStatusBar final : public StatusBar {
 public:
  explicit RecordingStatusBar(WinRunLoop& loop) : bar_(makeStatusBar(loop)) {}
  StatusItemRef statusItemWithLength(double length) override {
    item = bar_->statusItemWithLength(length);
    return item;
  }
  MenuRef createMenu(const std::string& title) override { return bar_->createMenu(title); }
  MenuItemRef createMenuItem(const std::string& title, MenuAction action,
                             const std::string& keyEquivalent) override {
    return bar_->createMenuItem(title, std::move(action), keyEquivalent);
  }
  MenuItemRef separatorItem() override { return bar_->separatorItem(); }

  StatusItemRef item;

 private:
  std::unique_ptr<StatusBar> bar_;
};

struct MenuRow {
  std::wstring text;
  bool separator = false;
  bool enabled = false;
  bool checked = false;
  HMENU submenu = nullptr;
  UINT id = 0;
};

std::vector<MenuRow> rowsOf(HMENU menu) {
  std::vector<MenuRow> rows;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    wchar_t text[256] = L"";
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_STRING | MIIM_SUBMENU | MIIM_ID;
    info.dwTypeData = text;
    info.cch = 256;
    EXPECT_TRUE(GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info));
    rows.push_back({text, (info.fType & MFT_SEPARATOR) != 0, (info.fState & MFS_DISABLED) == 0,
                    (info.fState & MFS_CHECKED) != 0, info.hSubMenu, info.wID});
  }
  return rows;
}

std::vector<std::wstring> textsOf(const std::vector<MenuRow>& rows) {
  std::vector<std::wstring> texts;
  for (const MenuRow& row : rows) {
    texts.push_back(row.separator ? L"--" : row.text);
  }
  return texts;
}

class TrayMenuTest : public ::testing::Test {
 protected:
  TrayMenuTest() {
    RegDeleteTreeW(HKEY_CURRENT_USER, kTestPreferencesKey);
    preferences->setInteger(300, "autosave.interval.seconds");
  }
  ~TrayMenuTest() override { RegDeleteTreeW(HKEY_CURRENT_USER, kTestPreferencesKey); }

  std::unique_ptr<WinRunLoop> loop = makeRunLoop();
  std::unique_ptr<Workspace> workspace = makeWorkspace();
  std::unique_ptr<Accessibility> accessibility = makeAccessibility(*workspace);
  std::unique_ptr<KeyboardEvents> keyboardEvents = makeKeyboardEvents();
  std::unique_ptr<UserActivity> userActivity = makeUserActivity();
  std::unique_ptr<ApplicationWindows> applicationWindows = makeApplicationWindows();
  std::unique_ptr<ApplicationMenus> applicationMenus = makeApplicationMenus();
  std::unique_ptr<Preferences> preferences = makePreferences(kTestPreferencesKey);
  RecordingStatusBar statusBar{*loop};
  std::unique_ptr<Notifications> notifications = makeNotifications(statusBar);
  std::unique_ptr<Alerts> alerts = makeAlerts(*loop);
  std::unique_ptr<Graphics> graphics = makeGraphics();
  std::unique_ptr<System> system = makeSystem();
  std::unique_ptr<Desktop> desktop = makeDesktop();
  Platform platform{*loop,
                    *workspace,
                    *accessibility,
                    *keyboardEvents,
                    *userActivity,
                    *applicationWindows,
                    *applicationMenus,
                    *notifications,
                    *preferences,
                    statusBar,
                    *alerts,
                    *graphics,
                    *system,
                    *desktop};
};

TEST_F(TrayMenuTest, TheCoreMenuReadsBackWithWindowsWordsAndItsItemsAnswerWmCommand) {
  AppDelegate app(platform);
  app.buildMenuBar();
  app.refreshMenu();
  ASSERT_TRUE(statusBar.item);
  const HMENU menu = statusItemMenu(*statusBar.item);
  const HWND window = statusItemWindow(*statusBar.item);

  // No Live here: waiting, keyboard access granted (nothing blocks it), so
  // the permission item is left out of the menu.
  std::vector<MenuRow> rows = rowsOf(menu);
  EXPECT_EQ(textsOf(rows),
            (std::vector<std::wstring>{
                L"Quillmark", L"◐ Waiting for Ableton Live", L"◐ Ableton waiting",
                L"✓ Keyboard access granted", L"✓ Autosave on · every 5 min", L"--", L"Interval",
                L"Pause Autosave", L"Save Now", L"--", L"Report a Problem", L"--", L"&Quit"}));
  for (int line = 0; line < 5; ++line) {
    EXPECT_FALSE(rows[line].enabled) << line;
  }
  EXPECT_TRUE(rows[6].enabled);
  EXPECT_TRUE(rows[7].enabled);

  // The interval submenu, with the check on the stored choice.
  const std::vector<MenuRow> intervals = rowsOf(rows[6].submenu);
  EXPECT_EQ(textsOf(intervals),
            (std::vector<std::wstring>{L"10 seconds (test)", L"3 minutes", L"5 minutes",
                                       L"10 minutes", L"15 minutes", L"30 minutes"}));
  for (std::size_t i = 0; i < intervals.size(); ++i) {
    EXPECT_EQ(intervals[i].checked, i == 2) << i;
  }

  // Choosing "10 seconds (test)" and "Pause Autosave" through WM_COMMAND
  // changes the settings and the menu at once.
  SendMessageW(window, WM_COMMAND, intervals[0].id, 0);
  EXPECT_EQ(preferences->integerForKey("autosave.interval.seconds"), 10);
  EXPECT_TRUE(rowsOf(rows[6].submenu)[0].checked);
  EXPECT_FALSE(rowsOf(rows[6].submenu)[2].checked);
  SendMessageW(window, WM_COMMAND, rows[7].id, 0);
  EXPECT_TRUE(preferences->hasObjectForKey("autosave.enabled"));
  EXPECT_FALSE(preferences->boolForKey("autosave.enabled"));
  rows = rowsOf(menu);
  EXPECT_EQ(rows[4].text, L"✕ Autosave off");
  EXPECT_EQ(rows[7].text, L"Start Autosave");

  // A disabled line does nothing when chosen.
  SendMessageW(window, WM_COMMAND, rows[1].id, 0);
  EXPECT_EQ(rowsOf(menu).size(), rows.size());
}

TEST_F(TrayMenuTest, HiddenItemsLeaveTheMenuAndComeBackInPlace) {
  MenuRef menu = statusBar.createMenu("Quillmark");
  MenuItemRef first = statusBar.createMenuItem(
      "A & B", [](MenuItem&) {}, "");
  MenuItemRef middle = statusBar.createMenuItem(
      "Middle", [](MenuItem&) {}, "");
  MenuItemRef last = statusBar.createMenuItem(
      "Quit", [](MenuItem&) {}, "q");
  menu->addItem(first);
  menu->addItem(middle);
  menu->addItem(last);
  StatusItemRef item = statusBar.statusItemWithLength(kVariableStatusItemLength);
  item->setMenu(menu);
  const HMENU handle = statusItemMenu(*item);

  EXPECT_EQ(textsOf(rowsOf(handle)), (std::vector<std::wstring>{L"A && B", L"Middle", L"&Quit"}));
  middle->setHidden(true);
  middle->setTitle("Changed while hidden");
  EXPECT_EQ(textsOf(rowsOf(handle)), (std::vector<std::wstring>{L"A && B", L"&Quit"}));
  middle->setHidden(false);
  EXPECT_EQ(textsOf(rowsOf(handle)),
            (std::vector<std::wstring>{L"A && B", L"Changed while hidden", L"&Quit"}));
}

// Where a popup menu of this process opened; the timer closes it.
std::optional<RECT> gShownMenu;

void CALLBACK closeShownMenu(HWND, UINT, UINT_PTR, DWORD) {
  const HWND menu = FindWindowW(L"#32768", nullptr);
  DWORD pid = 0;
  if (menu != nullptr && GetWindowThreadProcessId(menu, &pid) && pid == GetCurrentProcessId() &&
      IsWindowVisible(menu)) {
    gShownMenu.emplace();
    GetWindowRect(menu, &*gShownMenu);
  }
  EndMenu();
}

std::optional<RECT> menuShownFor(HWND window, UINT callback, POINT anchor, UINT event) {
  gShownMenu.reset();
  const UINT_PTR timer = SetTimer(nullptr, 0, 300, &closeShownMenu);
  SendMessageW(window, callback, MAKEWPARAM(anchor.x, anchor.y), MAKELPARAM(event, kTrayIconId));
  KillTimer(nullptr, timer);
  return gShownMenu;
}

TEST_F(TrayMenuTest, ExplorerRestartingGetsTheIconBackWholeAndKeyboardOpensTheMenuAtTheIcon) {
  AppDelegate app(platform);
  app.buildMenuBar();
  const HWND window = statusItemWindow(*statusBar.item);
  ASSERT_TRUE(lastTrayIconCall(NIM_ADD)->succeeded) << "needs a notification area";
  EXPECT_EQ(lastTrayIconCall(NIM_SETVERSION)->data.uVersion, UINT{NOTIFYICON_VERSION_4});

  // A new Explorer: the tray is empty; the broadcast brings the icon back
  // with image, tooltip and callbacks, then version 4.
  NOTIFYICONDATAW probe{};
  probe.cbSize = sizeof probe;
  probe.hWnd = window;
  probe.uID = kTrayIconId;
  ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &probe));
  SendMessageW(window, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  const TrayIconCall add = *lastTrayIconCall(NIM_ADD);
  EXPECT_TRUE(add.succeeded);
  EXPECT_EQ(add.data.uFlags, UINT{NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP});
  EXPECT_NE(add.data.hIcon, nullptr);
  EXPECT_TRUE(lastTrayIconCall(NIM_SETVERSION)->succeeded);
  EXPECT_GT(lastTrayIconCall(NIM_SETVERSION)->order, add.order);
  EXPECT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &probe));  // the tray has it again

  // Enter on the icon, or the context-menu key: the menu opens at the
  // taskbar's anchor, not at the pointer. A mouse-up alone opens nothing
  // (NIN_SELECT follows it).
  SetCursorPos(40, 40);
  for (const UINT event : {UINT{NIN_KEYSELECT}, UINT{WM_CONTEXTMENU}}) {
    const std::optional<RECT> menu =
        menuShownFor(window, add.data.uCallbackMessage, {500, 600}, event);
    ASSERT_TRUE(menu) << event;
    EXPECT_EQ(menu->left, 500);
    EXPECT_EQ(menu->bottom, 600);
  }
  EXPECT_TRUE(lastTrayIconCall(NIM_SETFOCUS));  // Escape: back to the tray
  EXPECT_FALSE(menuShownFor(window, add.data.uCallbackMessage, {500, 600}, WM_LBUTTONUP));
}

TEST(TraySessionTest, LocksDisconnectsAndTheSessionsEndReachTheHooks) {
  auto loop = makeRunLoop();
  std::vector<bool> locks;
  int endings = 0;
  SessionEvents events;
  events.lockChanged = [&](bool locked) { locks.push_back(locked); };
  events.ending = [&] { ++endings; };
  auto statusBar = makeStatusBar(*loop, std::move(events));
  const StatusItemRef item = statusBar->statusItemWithLength(kVariableStatusItemLength);
  const HWND window = statusItemWindow(*item);
  for (const WPARAM change : {WTS_SESSION_LOCK, WTS_SESSION_UNLOCK, WTS_REMOTE_DISCONNECT,
                              WTS_REMOTE_CONNECT, WTS_CONSOLE_DISCONNECT, WTS_CONSOLE_CONNECT,
                              WTS_SESSION_LOGON, WTS_SESSION_REMOTE_CONTROL}) {
    SendMessageW(window, WM_WTSSESSION_CHANGE, change, 1);
  }
  // A connect passes on what the session's own query says, if anything.
  std::vector<bool> expected{true, false, true};
  const std::optional<bool> lockedNow = sessionLockedNow(1);
  if (lockedNow) {
    expected.push_back(*lockedNow);
  }
  expected.push_back(true);
  if (lockedNow) {
    expected.push_back(*lockedNow);
  }
  EXPECT_EQ(locks, expected);

  // Log-off may go ahead; only one that really happens ends Quillmark.
  EXPECT_EQ(SendMessageW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
  SendMessageW(window, WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF);
  EXPECT_EQ(endings, 0);
  SendMessageW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
  EXPECT_EQ(endings, 1);
}

// Power and clock changes are broadcast to top-level windows only: sent as
// Windows sends them, to every one of them.
TEST(TraySessionTest, SleepWakeAndASetClockReachTheHooksAsWindowsBroadcastsThem) {
  auto loop = makeRunLoop();
  std::vector<std::string> heard;
  SessionEvents events;
  events.willSleep = [&] { heard.push_back("sleep"); };
  events.didWake = [&] { heard.push_back("wake"); };
  events.clockChanged = [&] { heard.push_back("clock"); };
  auto statusBar = makeStatusBar(*loop, std::move(events));
  const StatusItemRef item = statusBar->statusItemWithLength(kVariableStatusItemLength);
  ASSERT_EQ(GetAncestor(statusItemWindow(*item), GA_PARENT), GetDesktopWindow());

  const auto broadcast = [](UINT message, WPARAM wParam) {
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(HWND_BROADCAST, message, wParam, 0, SMTO_ABORTIFHUNG, 2000, &answer);
  };
  // A wake with a user: the automatic resume, then the one for the user.
  // A battery's news is neither.
  broadcast(WM_POWERBROADCAST, PBT_APMSUSPEND);
  broadcast(WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC);
  broadcast(WM_POWERBROADCAST, PBT_APMRESUMESUSPEND);
  broadcast(WM_POWERBROADCAST, PBT_APMPOWERSTATUSCHANGE);
  broadcast(WM_TIMECHANGE, 0);
  EXPECT_EQ(heard, (std::vector<std::string>{"sleep", "wake", "wake", "clock"}));
  // Granted, as every power request is.
  EXPECT_EQ(SendMessageW(statusItemWindow(*item), WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 0), TRUE);
}

// A connect is asked about, and only a connect; without an answer it is
// neither a lock nor an unlock.
TEST(SessionLockDecisionTest, LocksAndUnlocksDecideAlone) {
  int asked = 0;
  const auto query = [&asked]() -> std::optional<bool> {
    ++asked;
    return false;
  };
  EXPECT_EQ(sessionLockedAfter(WTS_SESSION_LOCK, query), true);
  EXPECT_EQ(sessionLockedAfter(WTS_CONSOLE_DISCONNECT, query), true);
  EXPECT_EQ(sessionLockedAfter(WTS_REMOTE_DISCONNECT, query), true);
  EXPECT_EQ(sessionLockedAfter(WTS_SESSION_UNLOCK, query), false);
  EXPECT_EQ(sessionLockedAfter(WTS_SESSION_LOGON, query), std::nullopt);
  EXPECT_EQ(sessionLockedAfter(WTS_SESSION_REMOTE_CONTROL, query), std::nullopt);
  EXPECT_EQ(asked, 0);
}

TEST(SessionLockDecisionTest, AConnectTakesTheQuerysAnswerAndNoAnswerChangesNothing) {
  for (const WPARAM connect : {WTS_CONSOLE_CONNECT, WTS_REMOTE_CONNECT}) {
    EXPECT_EQ(sessionLockedAfter(connect, [] { return std::optional<bool>(true); }), true);
    EXPECT_EQ(sessionLockedAfter(connect, [] { return std::optional<bool>(false); }), false);
    EXPECT_EQ(sessionLockedAfter(connect, [] { return std::optional<bool>(); }), std::nullopt);
    EXPECT_EQ(sessionLockedAfter(connect, nullptr), std::nullopt);
  }
}

TEST(SessionLockDecisionTest, SessionFlagsReadLockUnlockOrUnknownAndWindows7ReversesThem) {
  EXPECT_EQ(lockedFromSessionFlags(0), true);           // WTS_SESSIONSTATE_LOCK
  EXPECT_EQ(lockedFromSessionFlags(1), false);          // WTS_SESSIONSTATE_UNLOCK
  EXPECT_EQ(lockedFromSessionFlags(-1), std::nullopt);  // WTS_SESSIONSTATE_UNKNOWN
  EXPECT_EQ(lockedFromSessionFlags(2), std::nullopt);
  EXPECT_EQ(lockedFromSessionFlags(0, true), false);
  EXPECT_EQ(lockedFromSessionFlags(1, true), true);
  EXPECT_EQ(lockedFromSessionFlags(-1, true), std::nullopt);
}

// WTSINFOEXW: a DWORD level, then level 1's record at 8 bytes (its times
// are 8-byte aligned), whose flags follow the session's id and state.
TEST(SessionLockDecisionTest, OnlyAWholeLevelOneRecordSaysLocked) {
  // The names, 33, 21 and 18 characters, then 4 bytes to align the times.
  alignas(8) unsigned char record[8 + 3 * 4 + 2 * (33 + 21 + 18) + 4 + 5 * 8 + 6 * 4] = {};
  const auto put = [&record](std::size_t at, std::int32_t value) {
    std::memcpy(record + at, &value, sizeof value);
  };
  // Zeroed: level 0, and flags 0 would read "locked".
  EXPECT_EQ(lockedFromSessionInfo(record, sizeof record, false), std::nullopt);
  put(0, 1);
  EXPECT_EQ(lockedFromSessionInfo(record, sizeof record, false), true);
  EXPECT_EQ(lockedFromSessionInfo(record, sizeof record, true), false);
  EXPECT_EQ(lockedFromSessionInfo(record, sizeof record - 1, false), std::nullopt);
  EXPECT_EQ(lockedFromSessionInfo(nullptr, sizeof record, false), std::nullopt);
  put(16, 1);
  EXPECT_EQ(lockedFromSessionInfo(record, sizeof record, false), false);
  put(16, -1);
  EXPECT_EQ(lockedFromSessionInfo(record, sizeof record, false), std::nullopt);
  put(0, 2);
  put(16, 0);
  EXPECT_EQ(lockedFromSessionInfo(record, sizeof record, false), std::nullopt);
}

// The system asked as the core asks it at every monitor tick; none when it
// cannot tell, never a guess.
TEST(SessionLockDecisionTest, TheSystemAnswersWhatTheSessionQueryTells) {
  LPWSTR buffer = nullptr;
  DWORD size = 0;
  const bool queried = WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION,
                                                   static_cast<WTS_INFO_CLASS>(25), &buffer, &size);
  const DWORD error = queried ? 0 : GetLastError();
  if (queried) {
    WTSFreeMemory(buffer);
  }
  const std::optional<bool> locked = makeSystem()->sessionIsLocked();
  std::printf("[ FIGURE   ] WTSSessionInfoEx query %s (error %lu, %lu bytes): session locked %s\n",
              queried ? "answered" : "failed", static_cast<unsigned long>(error),
              static_cast<unsigned long>(size), locked ? (*locked ? "yes" : "no") : "unknown");
  if (!queried) {
    EXPECT_EQ(locked, std::nullopt);
  } else {
    EXPECT_EQ(locked, sessionLockedNow(WTS_CURRENT_SESSION));
  }
}

// Another scaling: the drawing is made again at that DPI's small-icon size.
TEST(TrayIconTest, AnotherScalingRedrawsTheIconAtThatSmallIconSize) {
  EXPECT_EQ(trayIconPixelsAtDpi(96), 16);
  EXPECT_EQ(trayIconPixelsAtDpi(192), 32);
  auto graphics = makeGraphics();
  const ImageRef image = applicationIconImage(*graphics, 22, IconMargin::narrow);
  EXPECT_EQ(redrawnImage(image, trayIconPixels()), image);  // nothing to redo
  const auto& large = static_cast<Win32Image&>(*redrawnImage(image, 32));
  ASSERT_EQ(large.width(), 32);
  // Clear corners and the tile under the waveform, as at 16 pixels.
  EXPECT_EQ(large.pixels().front() >> 24, 0u);
  const std::uint32_t tile = large.pixels()[static_cast<std::size_t>(32 * 19 / 22) * 32 + 16];
  EXPECT_EQ(tile >> 24, 255u);
  EXPECT_EQ((tile >> 16) & 0xFF, kQuillmarkColor.red);
}

TEST(TrayIconTest, TheIconIsTheWaveAndLettersInTheTaskbarsOrTheHighContrastTextColour) {
  auto graphics = makeGraphics();
  auto loop = makeRunLoop();
  auto workspace = makeWorkspace();
  auto accessibility = makeAccessibility(*workspace);
  auto keyboardEvents = makeKeyboardEvents();
  auto userActivity = makeUserActivity();
  auto applicationWindows = makeApplicationWindows();
  auto applicationMenus = makeApplicationMenus();
  auto preferences = makePreferences(kTestPreferencesKey);
  auto statusBar = makeStatusBar(*loop);
  auto notifications = makeNotifications(*statusBar);
  auto alerts = makeAlerts(*loop);
  auto system = makeSystem();
  auto desktop = makeDesktop();
  Platform platform{*loop,
                    *workspace,
                    *accessibility,
                    *keyboardEvents,
                    *userActivity,
                    *applicationWindows,
                    *applicationMenus,
                    *notifications,
                    *preferences,
                    *statusBar,
                    *alerts,
                    *graphics,
                    *system,
                    *desktop};
  AppDelegate app(platform);
  const ImageRef image = app.menuBarIconImage();
  ASSERT_TRUE(image);
  EXPECT_TRUE(image->isTemplate());

  const IconPixels dark = iconPixels(*image, templateTint(false, std::nullopt));
  const int side = trayIconPixels();
  ASSERT_EQ(dark.width, side);
  ASSERT_EQ(dark.height, side);
  const auto alphaAt = [&](double x, double y) {
    // Points, origin bottom left, on the 22-point icon.
    const int column = std::min(side - 1, static_cast<int>(x * side / 22.0));
    const int row = std::min(side - 1, static_cast<int>((22.0 - y) * side / 22.0));
    return dark.pixels[static_cast<std::size_t>(row) * side + column] >> 24;
  };
  // Corners are clear; the flat lead-in of the wave at y = 13 is drawn, and
  // so are the letters at the bottom.
  EXPECT_EQ(alphaAt(0.2, 0.2), 0u);
  EXPECT_EQ(alphaAt(21.8, 21.8), 0u);
  EXPECT_GT(alphaAt(3.5, 13.0), 100u);
  int letterPixels = 0;
  for (int row = side * 13 / 22; row < side; ++row) {
    for (int column = 0; column < side; ++column) {
      letterPixels += (dark.pixels[static_cast<std::size_t>(row) * side + column] >> 24) > 64;
    }
  }
  EXPECT_GT(letterPixels, 4);
  // White on the dark taskbar, black on the light one, and under high
  // contrast the system's text colour whatever the theme; same shape.
  const IconPixels light = iconPixels(*image, templateTint(true, std::nullopt));
  const IconPixels contrast = iconPixels(*image, templateTint(true, RGB(0x12, 0x34, 0x56)));
  for (std::size_t i = 0; i < dark.pixels.size(); ++i) {
    if ((dark.pixels[i] >> 24) != 0) {
      EXPECT_EQ(dark.pixels[i] & 0xFFFFFF, 0xFFFFFFu);
      EXPECT_EQ(light.pixels[i] & 0xFFFFFF, 0u);
      EXPECT_EQ(contrast.pixels[i] & 0xFFFFFF, 0x123456u);
    }
    EXPECT_EQ(dark.pixels[i] >> 24, light.pixels[i] >> 24);
    EXPECT_EQ(dark.pixels[i] >> 24, contrast.pixels[i] >> 24);
  }
  // Wine runs without high contrast: the theme decides.
  EXPECT_EQ(currentTemplateTint(), templateTint(taskbarIsLight(), std::nullopt));
}

// The application icon on the GDI canvas: colour where the canvas drew
// colour, white where it drew white, clear where it drew nothing.
TEST(ApplicationIconTest, TheTileIsQuillmarksColourTheWaveformWhiteAndTheCornersClear) {
  auto graphics = makeGraphics();
  const ImageRef image = applicationIconImage(*graphics, 22, IconMargin::narrow);
  ASSERT_TRUE(image);
  EXPECT_FALSE(image->isTemplate());
  const IconPixels icon = iconPixels(*image, templateTint(true, std::nullopt));
  const int side = trayIconPixels();
  ASSERT_EQ(icon.width, side);
  const auto at = [&](double x, double y) {
    // Points, origin bottom left, on the 22-point image.
    const int column = std::min(side - 1, static_cast<int>(x * side / 22.0));
    const int row = std::min(side - 1, static_cast<int>((22.0 - y) * side / 22.0));
    return icon.pixels[static_cast<std::size_t>(row) * side + column];
  };
  EXPECT_EQ(at(0.1, 0.1) >> 24, 0u);
  EXPECT_EQ(at(21.9, 21.9) >> 24, 0u);
  // Under the waveform: the tile, exactly.
  const std::uint32_t tile = at(11.0, 3.0);
  EXPECT_EQ(tile >> 24, 255u);
  EXPECT_EQ((tile >> 16) & 0xFF, kQuillmarkColor.red);
  EXPECT_EQ((tile >> 8) & 0xFF, kQuillmarkColor.green);
  EXPECT_EQ(tile & 0xFF, kQuillmarkColor.blue);
  // The flat lead-in, 1.9 points wide around y 10.8: nearly white.
  const std::uint32_t line = at(3.0, 10.8);
  EXPECT_EQ(line >> 24, 255u);
  for (const int shift : {0, 8, 16}) {
    EXPECT_GT((line >> shift) & 0xFF, 160u);
  }
}

}  // namespace
}  // namespace qm::windows::test
