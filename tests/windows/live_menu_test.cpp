// Live's Save command found by its shortcut in a real Win32 menu bar and
// pressed with a posted WM_COMMAND: on a window of this process, whose
// menus any Windows lets it read, and on the stand-in Live, whose menus
// Wine does not let another process read.
// windows.h comes first: the other Win32 headers build on it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "tray_test_support.h"

namespace qm::windows::test {
namespace {

using Press = ApplicationMenus::Press;

constexpr UINT kSaveId = 12;

// The WM_COMMAND wParams the test's Live window received.
std::vector<WPARAM>& commands() {
  static std::vector<WPARAM> received;
  return received;
}

LRESULT CALLBACK recordCommands(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND) {
    commands().push_back(wParam);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// Dispatches what was posted to this thread.
void pump() {
  MSG message{};
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    DispatchMessageW(&message);
  }
}

// A window of this thread titled as Live's, so it is the process's main
// window, with a File menu of the given items.
class LiveWithMenu {
 public:
  struct Item {
    const wchar_t* text;
    UINT id;
  };
  explicit LiveWithMenu(std::initializer_list<Item> items) {
    static const ATOM windowClass = [] {
      WNDCLASSEXW description{};
      description.cbSize = sizeof description;
      description.lpfnWndProc = &recordCommands;
      description.hInstance = GetModuleHandleW(nullptr);
      description.lpszClassName = L"QuillmarkMenuTestLive";
      return RegisterClassExW(&description);
    }();
    file_ = CreatePopupMenu();
    for (const Item& item : items) {
      AppendMenuW(file_, MF_STRING, item.id, item.text);
    }
    const HMENU bar = CreateMenu();
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file_), L"&File");
    window_ = CreateWindowExW(0, MAKEINTATOM(windowClass), L"Set - Ableton Live 12 Suite",
                              WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 300, nullptr, bar,
                              GetModuleHandleW(nullptr), nullptr);
    commands().clear();
  }
  ~LiveWithMenu() {
    // Hidden first: destroying a shown window waits under Wine without a
    // window manager.
    SetWindowLongPtrW(window_, GWL_STYLE, GetWindowLongPtrW(window_, GWL_STYLE) & ~WS_VISIBLE);
    DestroyWindow(window_);
    pump();
  }
  LiveWithMenu(const LiveWithMenu&) = delete;
  LiveWithMenu& operator=(const LiveWithMenu&) = delete;
  HWND window() const { return window_; }
  HMENU file() const { return file_; }

 private:
  HMENU file_ = nullptr;
  HWND window_ = nullptr;
};

class LiveMenuTest : public ::testing::Test {
 protected:
  std::unique_ptr<ApplicationMenus> menus = makeApplicationMenus();
  const int ownPid = static_cast<int>(GetCurrentProcessId());

  std::vector<WPARAM> pressAndReceive() {
    const Reply<Press> press = menus->pressSaveCommand(ownPid);
    EXPECT_EQ(press, Press::pressed);
    pump();
    return commands();
  }
};

TEST_F(LiveMenuTest, OneModifierAndSIsPressedWithTheIdTheItemHasNow) {
  const LiveWithMenu live({{L"&New Live Set\tCtrl+N", 10},
                           {L"Save Live Set &As...\tCtrl+Shift+S", 11},
                           {L"&Save Live Set\tCtrl+S", kSaveId}});
  EXPECT_EQ(pressAndReceive(), std::vector<WPARAM>{MAKEWPARAM(kSaveId, 0)});

  // Renumbered: the new id is pressed, not one kept from before.
  MENUITEMINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_ID;
  info.wID = 42;
  ASSERT_TRUE(SetMenuItemInfoW(live.file(), kSaveId, FALSE, &info));
  commands().clear();
  EXPECT_EQ(pressAndReceive(), std::vector<WPARAM>{MAKEWPARAM(42, 0)});

  // Nothing was pressed without a WM_COMMAND to show for it.
  LARGE_INTEGER start{}, end{}, frequency{};
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  constexpr int kPresses = 200;
  for (int i = 0; i < kPresses; ++i) {
    (void)menus->pressSaveCommand(ownPid);
  }
  QueryPerformanceCounter(&end);
  pump();
  std::printf("[ FIGURE   ] one press of a three-item menu %.0f us, mean of %d\n",
              1e6 * static_cast<double>(end.QuadPart - start.QuadPart) /
                  static_cast<double>(frequency.QuadPart) / kPresses,
              kPresses);
  EXPECT_EQ(commands().size(), std::size_t{1 + kPresses});
}

TEST_F(LiveMenuTest, AnyLanguagesModifierWordCounts) {
  const LiveWithMenu live({{L"Live-Set &speichern\tStrg+S", kSaveId}});
  EXPECT_EQ(pressAndReceive(), std::vector<WPARAM>{MAKEWPARAM(kSaveId, 0)});
}

TEST_F(LiveMenuTest, OtherShortcutsAGrayedItemAndNoMenuBarPressNothing) {
  {
    const LiveWithMenu live({{L"Save Live Set &As...\tCtrl+Shift+S", 11}, {L"&Save Live Set", 13}});
    EXPECT_EQ(menus->pressSaveCommand(ownPid), Press::missing);
  }
  {
    const LiveWithMenu live({{L"&Save Live Set\tCtrl+S", kSaveId}});
    EnableMenuItem(live.file(), kSaveId, MF_BYCOMMAND | MF_GRAYED);
    EXPECT_EQ(menus->pressSaveCommand(ownPid), Press::disabled);
    EnableMenuItem(live.file(), kSaveId, MF_BYCOMMAND | MF_DISABLED);
    EXPECT_EQ(menus->pressSaveCommand(ownPid), Press::disabled);

    const HMENU bar = GetMenu(live.window());
    SetMenu(live.window(), nullptr);
    EXPECT_EQ(menus->pressSaveCommand(ownPid), Press::missing);
    DestroyMenu(bar);
    pump();
    EXPECT_TRUE(commands().empty());
  }
  EXPECT_EQ(menus->pressSaveCommand(ownPid), Press::missing);  // no window at all
}

// A Live busy elsewhere gets no command that it would carry out whenever it
// wakes. Its window is another process's: GetWindowTextW would wait on a
// busy window of this one.
TEST_F(LiveMenuTest, ALiveThatDoesNotAnswerGetsNoCommand) {
  TempFolder folder;
  ChildProcess live(widen(QM_STAND_IN_LIVE_EXE),
                    {(folder.path() / "live.txt").wstring(), L"--set", L"Song"});
  const HWND window = live.waitForWindow();
  ASSERT_NE(window, nullptr);
  PostMessageW(window, kStandInBusyMessage, 1500, 0);
  ASSERT_TRUE(waitUntil([&] { return readCounts(folder.path() / "live.txt").busy == 1; }, 5));
  LARGE_INTEGER start{}, end{}, frequency{};
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  EXPECT_FALSE(menus->pressSaveCommand(static_cast<int>(live.pid())).answered());
  QueryPerformanceCounter(&end);
  std::printf("[ FIGURE   ] no answer after %.0f ms\n",
              1e3 * static_cast<double>(end.QuadPart - start.QuadPart) /
                  static_cast<double>(frequency.QuadPart));
  // Awake again, it finds no command posted before this second call.
  PostMessageW(window, kStandInBusyMessage, 0, 0);
  ASSERT_TRUE(waitUntil([&] { return readCounts(folder.path() / "live.txt").busy == 2; }, 5));
  EXPECT_EQ(readCounts(folder.path() / "live.txt").saves, 0);
}

// The stand-in Live's File menu, read from another process: Windows lets a
// process read another's menus; Wine 8 answers -1 for its item count, and
// the Save command then reads as missing (the keys save).
TEST_F(LiveMenuTest, AnotherProcessesMenuIsPressedWhereTheSystemLetsItBeRead) {
  TempFolder folder;
  ChildProcess live(widen(QM_STAND_IN_LIVE_EXE),
                    {(folder.path() / "live.txt").wstring(), L"--set", L"Song"});
  const HWND window = live.waitForWindow();
  ASSERT_NE(window, nullptr);
  const HMENU bar = GetMenu(window);
  ASSERT_NE(bar, nullptr);
  const int count = GetMenuItemCount(bar);
  std::printf("[ FIGURE   ] GetMenuItemCount on another process's menu bar: %d\n", count);
  const Reply<Press> press = menus->pressSaveCommand(static_cast<int>(live.pid()));
  if (count < 0) {
    EXPECT_EQ(press, Press::missing);
  } else {
    EXPECT_EQ(press, Press::pressed);
    EXPECT_TRUE(waitUntil([&] { return readCounts(folder.path() / "live.txt").saves == 1; }, 5));
  }
}

}  // namespace
}  // namespace qm::windows::test
