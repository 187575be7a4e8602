// Live's window read from outside: which window is its main one, its title,
// its modal dialogs, title changes announced as they happen, and the tray
// balloon with the texts cut to the tray's limits.
// windows.h comes first: the other Win32 headers build on it.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tray_test_support.h"

namespace qm::windows::test {
namespace {

constexpr WORD kStandInSaveCommand = 1;
constexpr wchar_t kSuffix[] = L" - Ableton Live 12 Suite";

// Hidden as IsWindowVisible reads it. ShowWindow(SW_HIDE) and destroying a
// shown window wait 2 s under Wine for an X server without a window manager.
void hide(HWND window) {
  SetWindowLongPtrW(window, GWL_STYLE, GetWindowLongPtrW(window, GWL_STYLE) & ~WS_VISIBLE);
}

// A plain top-level window of this process; gone with the object.
class OwnWindow {
 public:
  OwnWindow(const wchar_t* title, int width, int height, HWND owner = nullptr) {
    window_ = CreateWindowExW(0, L"STATIC", title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, width,
                              height, owner, nullptr, GetModuleHandleW(nullptr), nullptr);
  }
  ~OwnWindow() {
    hide(window_);
    DestroyWindow(window_);
  }
  OwnWindow(const OwnWindow&) = delete;
  OwnWindow& operator=(const OwnWindow&) = delete;
  HWND handle() const { return window_; }

 private:
  HWND window_ = nullptr;
};

// A modeless dialog: a visible "#32770" window that disables nothing.
HWND openModelessDialog(HWND owner) {
  struct alignas(DWORD) {
    DLGTEMPLATE header{WS_POPUP | WS_CAPTION | WS_VISIBLE, 0, 0, 0, 0, 120, 60};
    WORD menu = 0, windowClass = 0, title = 0;
  } dialogTemplate;
  return CreateDialogIndirectParamW(
      GetModuleHandleW(nullptr), &dialogTemplate.header, owner,
      [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
}

std::wstring repeated(wchar_t c, std::size_t count) {
  return std::wstring(count, c);
}

class LiveWindowTest : public ::testing::Test {
 protected:
  TempFolder folder;
  std::unique_ptr<ApplicationWindows> windows = makeApplicationWindows();
  const int ownPid = static_cast<int>(GetCurrentProcessId());
};

TEST_F(LiveWindowTest, MainWindowIsTheOneWithLiveTitleElseTheLargestUnowned) {
  EXPECT_EQ(windows->mainWindowTitle(ownPid), std::nullopt);  // no window yet
  const OwnWindow plugIn(L"Operator/1-Audio", 900, 700);
  const OwnWindow live((L"Beat [v2]* [Beats]" + std::wstring(kSuffix)).c_str(), 300, 200);
  const OwnWindow small(L"Small", 100, 100);
  const OwnWindow ownedLarge(L"Owned", 1200, 780, small.handle());
  EXPECT_EQ(windows->mainWindowTitle(ownPid), "Beat [v2]* [Beats] - Ableton Live 12 Suite");
  EXPECT_EQ(mainWindowOfProcess(GetCurrentProcessId()), live.handle());

  // Without Live's suffix the largest window that no other owns is the main one.
  SetWindowTextW(live.handle(), L"Untitled - Some Other Program");
  EXPECT_EQ(windows->mainWindowTitle(ownPid), "Operator/1-Audio");
  // Minimised, it keeps its size.
  ShowWindow(plugIn.handle(), SW_MINIMIZE);
  EXPECT_EQ(windows->mainWindowTitle(ownPid), "Operator/1-Audio");
  hide(plugIn.handle());
  EXPECT_EQ(windows->mainWindowTitle(ownPid), "Untitled - Some Other Program");

  // A title longer than the first buffer, in UTF-8.
  const std::wstring longName = repeated(L'\u00e4', 300) + L" \u266a";
  SetWindowTextW(live.handle(), (longName + kSuffix).c_str());
  EXPECT_EQ(windows->mainWindowTitle(ownPid), narrow(longName) + narrow(kSuffix));
}

TEST_F(LiveWindowTest, OnlyAWindowThatMakesLiveModalReadsAsADialog) {
  const OwnWindow live((L"Set" + std::wstring(kSuffix)).c_str(), 300, 200);
  EXPECT_EQ(windows->showsModalDialog(ownPid), false);
  EnableWindow(live.handle(), FALSE);
  EXPECT_EQ(windows->showsModalDialog(ownPid), true);
  EnableWindow(live.handle(), TRUE);
  EXPECT_EQ(windows->showsModalDialog(ownPid), false);

  // A plug-in's window, and a modeless dialog of its own or of Live's
  // window: Live takes its keys as before.
  const OwnWindow plugIn(L"Operator/1-Audio", 200, 100, live.handle());
  const HWND plugInDialog = openModelessDialog(plugIn.handle());
  const HWND liveDialog = openModelessDialog(live.handle());
  ASSERT_NE(plugInDialog, nullptr);
  ASSERT_NE(liveDialog, nullptr);
  EXPECT_EQ(windows->showsModalDialog(ownPid), false);
  // The plug-in's dialog turns modal: it disabled the plug-in's window.
  EnableWindow(plugIn.handle(), FALSE);
  EXPECT_EQ(windows->showsModalDialog(ownPid), true);
  hide(plugInDialog);
  EXPECT_EQ(windows->showsModalDialog(ownPid), false);
  EnableWindow(plugIn.handle(), TRUE);
  DestroyWindow(plugInDialog);
  hide(liveDialog);
  DestroyWindow(liveDialog);

  EXPECT_EQ(windows->showsModalDialog(0x7FFFFFF0), false);  // no such process
  EXPECT_EQ(windows->mainWindowTitle(0x7FFFFFF0), std::nullopt);
}

TEST_F(LiveWindowTest, StandInSaveDialogIsModalWhileTheTitleStays) {
  ChildProcess live(widen(QM_STAND_IN_LIVE_EXE),
                    {(folder.path() / "live.txt").wstring(), L"--untitled"});
  const HWND window = live.waitForWindow();
  ASSERT_NE(window, nullptr);
  const int pid = static_cast<int>(live.pid());
  EXPECT_EQ(windows->mainWindowTitle(pid), "Untitled* - Ableton Live 12 Suite");
  EXPECT_EQ(windows->showsModalDialog(pid), false);

  PostMessageW(window, WM_COMMAND, kStandInSaveCommand, 0);
  ASSERT_TRUE(waitUntil([&] { return windows->showsModalDialog(pid) == true; }, 5));
  EXPECT_EQ(readCounts(folder.path() / "live.txt").dialogs, 1);
  EXPECT_EQ(windows->mainWindowTitle(pid), "Untitled* - Ableton Live 12 Suite");
  EXPECT_EQ(mainWindowOfProcess(live.pid()), window);
}

// A Live that takes no messages: both reads say "no answer" while it hangs,
// each look waiting about one timeout at most (none once the system counts
// it hung, after 5 s), and the same reads answer again when it is back.
TEST_F(LiveWindowTest, HungLiveGivesNoAnswerForTitleAndDialogUntilItIsBack) {
  ChildProcess live(widen(QM_STAND_IN_LIVE_EXE),
                    {(folder.path() / "live.txt").wstring(), L"--set", L"Song", L"--plug-in"});
  const HWND window = live.waitForWindow();
  ASSERT_NE(window, nullptr);
  const int pid = static_cast<int>(live.pid());
  EXPECT_EQ(windows->mainWindowTitle(pid), "Song [Song] - Ableton Live 12 Suite");
  EXPECT_EQ(windows->showsModalDialog(pid), false);

  struct Look {
    double milliseconds = 0;
    bool hung = false;  // as the system counted it before the look
    bool titleAnswered = false;
    bool dialogAnswered = false;
  };
  const auto look = [&] {
    Look taken;
    taken.hung = IsHungAppWindow(window) != FALSE;
    const auto start = std::chrono::steady_clock::now();
    taken.titleAnswered = windows->mainWindowTitle(pid).answered();
    taken.dialogAnswered = windows->showsModalDialog(pid).answered();
    taken.milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return taken;
  };

  const double hangSeconds = 7;
  PostMessageW(window, kStandInBusyMessage, static_cast<WPARAM>(hangSeconds * 1000), 0);
  const auto posted = std::chrono::steady_clock::now();
  const auto since = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - posted).count();
  };
  // Once it hangs, every look until shortly before its end finds no answer.
  ASSERT_TRUE(waitUntil([&] { return !look().titleAnswered; }, 2));
  std::vector<Look> looks;
  while (since() < hangSeconds - 0.7) {
    looks.push_back(look());
    // Past the timeout: a window that gave no answer just now is not asked
    // again at once.
    Sleep(300);
  }
  std::vector<double> waiting;
  std::vector<double> counted;
  for (const Look& taken : looks) {
    EXPECT_FALSE(taken.titleAnswered);
    EXPECT_FALSE(taken.dialogAnswered);
    EXPECT_LT(taken.milliseconds, 2000.0);  // a guard against a wait on the hang itself
    (taken.hung ? counted : waiting).push_back(taken.milliseconds);
  }
  const auto median = [](std::vector<double> values) {
    if (values.empty()) {
      return -1.0;
    }
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
  };
  std::printf(
      "[ FIGURE   ] one look at a hung Live: %.0f ms (median of %zu) before the system counts it "
      "hung, %.1f ms (median of %zu) after; timeout %u ms\n",
      median(waiting), waiting.size(), median(counted), counted.size(), kAnswerTimeoutMilliseconds);

  // Back: the same reads answer.
  ASSERT_TRUE(waitUntil([&] { return windows->mainWindowTitle(pid).answered(); }, 5));
  EXPECT_EQ(windows->mainWindowTitle(pid), "Song [Song] - Ableton Live 12 Suite");
  EXPECT_EQ(windows->showsModalDialog(pid), false);
}

TEST_F(LiveWindowTest, TitleChangesAreAnnouncedWithTheTitleOfThatInstant) {
  ChildProcess live(widen(QM_STAND_IN_LIVE_EXE),
                    {(folder.path() / "live.txt").wstring(), L"--set", L"Song"});
  const HWND window = live.waitForWindow();
  ASSERT_NE(window, nullptr);
  const int pid = static_cast<int>(live.pid());
  std::vector<std::optional<std::string>> first;
  std::vector<std::optional<std::string>> second;
  auto firstObservation =
      windows->observeTitleChanges(pid, [&](const auto& title) { first.push_back(title); });
  auto secondObservation =
      windows->observeTitleChanges(pid, [&](const auto& title) { second.push_back(title); });
  ASSERT_TRUE(firstObservation);
  ASSERT_TRUE(secondObservation);

  const std::string unsaved = "Song* [Song] - Ableton Live 12 Suite";
  const std::string saved = "Song [Song] - Ableton Live 12 Suite";
  // Never called inside a call of this thread that waits on another
  // (which takes the announcements meanwhile): only from the message loop.
  SendMessageW(window, kStandInEditMessage, 0, 0);
  EXPECT_TRUE(first.empty());
  ASSERT_TRUE(waitUntil([&] { return !first.empty() && !second.empty(); }, 5));
  EXPECT_EQ(first.back(), unsaved);
  // The mark goes and comes back: each change is heard as it comes.
  PostMessageW(window, WM_COMMAND, kStandInSaveCommand, 0);
  ASSERT_TRUE(waitUntil([&] { return first.back() == saved; }, 5));
  PostMessageW(window, kStandInEditMessage, 0, 0);
  ASSERT_TRUE(waitUntil([&] { return first.back() == unsaved; }, 5));
  EXPECT_EQ(readCounts(folder.path() / "live.txt").stored, 1);
  EXPECT_TRUE(waitUntil([&] { return second.size() == first.size(); }, 2));

  // Ended: no more calls for it; the other one still hears.
  firstObservation.reset();
  const std::size_t heard = first.size();
  PostMessageW(window, WM_COMMAND, kStandInSaveCommand, 0);
  ASSERT_TRUE(waitUntil([&] { return second.back() == saved; }, 5));
  EXPECT_EQ(first.size(), heard);
}

TEST(TrayBalloonTest, WarningBalloonAndTooltipAreCutToTheTrayLimitsWithAnEllipsis) {
  const auto loop = makeRunLoop();
  const auto bar = makeStatusBar(*loop);
  const auto notifications = makeNotifications(*bar);
  const StatusItemRef item = bar->statusItemWithLength(kVariableStatusItemLength);
  const bool trayAccepts = lastTrayIconCall(NIM_ADD) && lastTrayIconCall(NIM_ADD)->succeeded;

  notifications->postNotification(
      "Quillmark has not saved \xe2\x80\x9cSet\xe2\x80\x9d for 20 minutes",
      "Live did not save \xe2\x80\x9cSet\xe2\x80\x9d");
  std::optional<TrayIconCall> call = lastTrayIconCall(NIM_MODIFY);
  ASSERT_TRUE(call);
  EXPECT_EQ(call->data.uFlags, UINT{NIF_INFO});
  EXPECT_EQ(call->data.dwInfoFlags, DWORD{NIIF_WARNING});
  EXPECT_EQ(std::wstring(call->data.szInfoTitle),
            L"Quillmark has not saved \u201cSet\u201d for 20 minutes");
  EXPECT_EQ(std::wstring(call->data.szInfo), L"Live did not save \u201cSet\u201d");
  EXPECT_EQ(call->succeeded, trayAccepts);

  // Windows keeps 63 characters of the title and 255 of the body.
  notifications->postNotification(narrow(repeated(L'T', 70)), narrow(repeated(L'B', 300)));
  call = lastTrayIconCall(NIM_MODIFY);
  EXPECT_EQ(std::wstring(call->data.szInfoTitle), repeated(L'T', 62) + L"\u2026");
  EXPECT_EQ(std::wstring(call->data.szInfo), repeated(L'B', 254) + L"\u2026");

  // And 127 of the tooltip.
  item->setToolTip(narrow(repeated(L'q', 128)));
  EXPECT_EQ(std::wstring(lastTrayIconCall(NIM_MODIFY)->data.szTip),
            repeated(L'q', 126) + L"\u2026");
  item->setToolTip(narrow(repeated(L'q', 127)));
  EXPECT_EQ(std::wstring(lastTrayIconCall(NIM_MODIFY)->data.szTip), repeated(L'q', 127));
}

TEST(FittedTextTest, FitsTheBufferWithAnEllipsisAndNeverSplitsASurrogatePair) {
  EXPECT_EQ(fittedText(L"abc", 4), L"abc");
  EXPECT_EQ(fittedText(L"abcd", 4), L"ab\u2026");
  // U+1F3B9 (a keyboard) is two UTF-16 units; half of it is dropped whole.
  EXPECT_EQ(fittedText(L"a\U0001F3B9bc", 4), L"a\u2026");
  EXPECT_EQ(fittedText(L"ab\U0001F3B9c", 5), L"ab\u2026");
  EXPECT_EQ(fittedText(L"abc", 0), L"");
}

}  // namespace
}  // namespace qm::windows::test
