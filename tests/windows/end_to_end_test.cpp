// Quillmark.exe end to end under the real window system: a stand-in Live
// ("Ableton Live 12 Suite.exe") that counts the Ctrl+S it receives, or Wine's
// own Notepad under Live's name, and another window that has the focus and
// receives only what the user types. Keys and clicks go through the system's
// input queue (SendInput), as a person's do.

// windows.h comes first: the other Win32 headers build on it.
#include <windows.h>

#include <gtest/gtest.h>
#include <wtsapi32.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tray_test_support.h"

namespace qm::windows::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

int countLines(const std::string& log, const std::string& message) {
  int count = 0;
  for (std::size_t at = log.find("] " + message + "\n"); at != std::string::npos;
       at = log.find("] " + message + "\n", at + 1)) {
    ++count;
  }
  return count;
}

// Quillmark's own record of when it logged the message: the time stamp of
// each such line, in whole seconds.
std::vector<long long> loggedAt(const std::string& log, const std::string& message) {
  std::vector<long long> stamps;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (line.ends_with("] " + message) && std::sscanf(line.c_str(), "[%d-%d-%d %d:%d:%d]", &year,
                                                      &month, &day, &hour, &minute, &second) == 6) {
      using namespace std::chrono;
      const sys_days date =
          year_month_day(std::chrono::year(year), std::chrono::month(month), std::chrono::day(day));
      stamps.push_back(date.time_since_epoch().count() * 86400LL + hour * 3600 + minute * 60 +
                       second);
    }
  }
  return stamps;
}

// When the process ended, in seconds, as the system recorded it; NaN, which
// fails every comparison, when it cannot say.
double exitTime(HANDLE process) {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) {
    return std::nan("");
  }
  return static_cast<double>((ULONGLONG{exited.dwHighDateTime} << 32) | exited.dwLowDateTime) / 1e7;
}

INPUT key(WORD virtualKey, bool down) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = virtualKey;
  input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
  return input;
}

void send(std::vector<INPUT> inputs) {
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

void tap(WORD virtualKey) {
  send({key(virtualKey, true), key(virtualKey, false)});
}

void click(POINT at) {
  std::vector<INPUT> inputs;
  for (const DWORD button : {0, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP}) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = at.x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1);
    input.mi.dy = at.y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | button;
    inputs.push_back(input);
  }
  send(inputs);
}

// Whether the process shows a top-level window of the class: "#32768" a
// popup menu, "#32770" a dialog such as Save As.
bool showsWindow(DWORD pid, const wchar_t* windowClass) {
  for (HWND window = nullptr;
       (window = FindWindowExW(nullptr, window, windowClass, nullptr)) != nullptr;) {
    DWORD owner = 0;
    if (GetWindowThreadProcessId(window, &owner) != 0 && owner == pid && IsWindowVisible(window)) {
      return true;
    }
  }
  return false;
}

// Wine's stand-alone notification area; none on Windows itself.
HWND wineTray() {
  return FindWindowW(L"__winex11_standalone_tray", nullptr);
}

// Clicks the newest tray icon until Quillmark's menu opens: an icon left by
// an ended process goes when clicked.
bool openTrayMenu(DWORD quillmarkPid) {
  for (int attempt = 0; attempt < 6 && wineTray() != nullptr; ++attempt) {
    RECT icon{};
    GetWindowRect(GetWindow(wineTray(), GW_CHILD), &icon);
    click({(icon.left + icon.right) / 2, (icon.top + icon.bottom) / 2});
    if (waitUntil([&] { return showsWindow(quillmarkPid, L"#32768"); }, 2)) {
      return true;
    }
  }
  return false;
}

// Whether the tray holds the icon of Quillmark's window: changing nothing of
// it succeeds only then.
bool trayHasIcon(HWND owner) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = owner;
  data.uID = kTrayIconId;
  return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Nothing left over from an earlier test may answer as Live.
    ASSERT_TRUE(waitUntil(
        [] {
          return makeWorkspace()
              ->runningApplicationsWithBundleIdentifier("com.ableton.live")
              .empty();
        },
        5));
    // A 10-second interval, autosave on; the core reads them at start.
    const std::int64_t interval = 10;
    const DWORD enabled = 1;
    RegSetKeyValueW(HKEY_CURRENT_USER, kPreferencesKey, L"autosave.interval.seconds", REG_QWORD,
                    &interval, sizeof interval);
    RegSetKeyValueW(HKEY_CURRENT_USER, kPreferencesKey, L"autosave.enabled", REG_DWORD, &enabled,
                    sizeof enabled);
    logPath = fs::path(widen(localApplicationDataFolder().value())) / "Logs" / "Quillmark.log";
    std::error_code ignored;
    fs::remove(logPath, ignored);
  }

  // Starts the window that has the focus and waits until it is in front.
  HWND startFocusKeeper(ChildProcess& keeper) {
    const HWND window = keeper.waitForWindow();
    EXPECT_NE(window, nullptr);
    // On top of the others too, as Windows puts the window that comes to
    // the front (Wine leaves that to a window manager, and Xvfb has none).
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SetForegroundWindow(window);
    EXPECT_TRUE(waitUntil([&] { return GetForegroundWindow() == window; }, 5));
    return window;
  }

  int lines(const std::string& message) { return countLines(readWholeFile(logPath), message); }

  // Quillmark's tray window once it has one, or null after 5 s.
  static HWND trayWindowOf(const ChildProcess& quillmark) {
    HWND tray = nullptr;
    waitUntil(
        [&] {
          DWORD pid = 0;
          tray = FindWindowW(L"QuillmarkTray", nullptr);
          return GetWindowThreadProcessId(tray, &pid) != 0 && pid == quillmark.pid();
        },
        5);
    return tray;
  }

  TempFolder folder;
  const fs::path keeperStatus = folder.path() / "keeper.txt";
  const fs::path liveStatus = folder.path() / "live.txt";
  fs::path logPath;
};

TEST_F(EndToEndTest, SavesLiveEveryIntervalGivesTheFocusBackAndQuitsAfterLive) {
  ChildProcess keeper(widen(QM_FOCUS_KEEPER_EXE), {keeperStatus.wstring()});
  ChildProcess live(widen(QM_STAND_IN_LIVE_EXE), {liveStatus.wstring()});
  const HWND liveWindow = live.waitForWindow();
  ASSERT_NE(liveWindow, nullptr);
  ASSERT_NE(keeper.waitForWindow(), nullptr);

  ChildProcess quillmark(widen(QM_QUILLMARK_EXE), {});
  ASSERT_TRUE(quillmark.started());
  ASSERT_TRUE(waitUntil(
      [&] {
        return countLines(readWholeFile(logPath), "Autosave timer started: every 10 sec.") == 1;
      },
      10));
  // The user works in the other window. (Wine's stand-alone tray window may
  // take the focus when the icon first appears.)
  const HWND keeperWindow = startFocusKeeper(keeper);

  // A second Quillmark finds the first and leaves at once.
  {
    ChildProcess second(widen(QM_QUILLMARK_EXE), {});
    EXPECT_EQ(WaitForSingleObject(second.handle(), 10000), WAIT_OBJECT_0);
  }

  // Saves come every ten seconds; after each the focus is back in the other
  // window, which never receives a key.
  int delivered = 0;
  int restored = 0;
  bool awaitingFocus = false;
  const auto followSaves = [&](int wanted) {
    return waitUntil(
        [&] {
          const int saves = readCounts(liveStatus).saves;
          if (saves > delivered) {
            delivered = saves;
            awaitingFocus = true;
          }
          if (awaitingFocus && GetForegroundWindow() == keeperWindow) {
            ++restored;
            awaitingFocus = false;
          }
          return delivered >= wanted && !awaitingFocus;
        },
        12.0 * wanted);
  };
  ASSERT_TRUE(followSaves(3)) << delivered << " saves, focus restored " << restored << " times\n"
                              << readWholeFile(logPath);
  EXPECT_EQ(restored, 3) << readWholeFile(logPath);
  // When, by the programs' own records: the stand-in's clock as each Ctrl+S
  // came, and the log's stamps (whole seconds) as each timer fired.
  const std::vector<double> saved = readCounts(liveStatus).savedAt;
  const std::vector<long long> fired = loggedAt(readWholeFile(logPath), "Autosave timer fired.");
  ASSERT_EQ(saved.size(), 3u) << readWholeFile(liveStatus);
  ASSERT_EQ(fired.size(), 3u) << readWholeFile(logPath);
  std::printf("[ FIGURE   ] Ctrl+S %.2f and %.2f s apart\n", saved[1] - saved[0],
              saved[2] - saved[1]);
  for (std::size_t i = 1; i < 3; ++i) {
    EXPECT_NEAR(saved[i] - saved[i - 1], 10.0, 1.5) << i;
    EXPECT_NEAR(static_cast<double>(fired[i] - fired[i - 1]), 10.0, 1.0) << i;
  }

  // Live minimised is restored for its save (keys reach only the window in
  // front), minimised again, and the focus comes back.
  ShowWindow(liveWindow, SW_MINIMIZE);
  SetForegroundWindow(keeperWindow);
  ASSERT_TRUE(followSaves(4));
  EXPECT_TRUE(waitUntil([&] { return IsIconic(liveWindow) != FALSE; }, 2));
  EXPECT_EQ(GetForegroundWindow(), keeperWindow);
  EXPECT_EQ(restored, 4);
  std::printf("[ FIGURE   ] saves delivered %d, focus restored %d, key repeats seen by Live %d\n",
              delivered, restored, readCounts(liveStatus).repeats);

  const StandInCounts keeperCounts = readCounts(keeperStatus);
  EXPECT_EQ(keeperCounts.saves, 0);
  EXPECT_EQ(keeperCounts.keys, 0);

  // Live quits; Quillmark follows six seconds after the monitor tick (on a
  // 2 s grid) that saw Live gone, never sooner, and Wine's tray may hold its
  // exit up to 2 s more while X hides the emptied tray window. The system's
  // exit times tell when each ended; the wait only guards against a hang.
  PostMessageW(liveWindow, WM_CLOSE, 0, 0);
  ASSERT_EQ(WaitForSingleObject(live.handle(), 10000), WAIT_OBJECT_0);
  ASSERT_EQ(WaitForSingleObject(quillmark.handle(), 30000), WAIT_OBJECT_0)
      << readWholeFile(logPath);
  const double quitDelay = exitTime(quillmark.handle()) - exitTime(live.handle());
  std::printf("[ FIGURE   ] Quillmark quit %.1f s after Live\n", quitDelay);
  EXPECT_GE(quitDelay, 5.9);

  const std::string log = readWholeFile(logPath);
  EXPECT_EQ(countLines(log, "Autosave timer started: every 10 sec."), 1) << log;
  EXPECT_EQ(countLines(log, "Autosave timer fired."), delivered) << log;
  EXPECT_EQ(countLines(log, "Autosave command sent successfully."), delivered) << log;
}

TEST_F(EndToEndTest, LiveThatCannotComeToTheFrontGetsNothingAndTheFailureIsLogged) {
  ChildProcess keeper(widen(QM_FOCUS_KEEPER_EXE), {keeperStatus.wstring()});
  // Without a visible window Live cannot be brought to the front.
  ChildProcess live(widen(QM_STAND_IN_LIVE_EXE), {liveStatus.wstring(), L"--hidden"});
  ASSERT_TRUE(waitUntil([&] { return readCounts(liveStatus).saves == 0; }, 10));
  const HWND keeperWindow = startFocusKeeper(keeper);

  ChildProcess quillmark(widen(QM_QUILLMARK_EXE), {});
  const std::string failure = "Autosave failed: Ableton Live could not be brought to the front";
  ASSERT_TRUE(waitUntil([&] { return countLines(readWholeFile(logPath), failure) >= 1; }, 15))
      << readWholeFile(logPath);
  EXPECT_TRUE(waitUntil([&] { return GetForegroundWindow() == keeperWindow; }, 2));
  EXPECT_EQ(readCounts(keeperStatus).keys, 0);
  EXPECT_EQ(readCounts(liveStatus).saves, 0);
  EXPECT_TRUE(quillmark.running());
}

TEST_F(EndToEndTest, SavesOnlyInAPauseInTypingAndNothingWhileShiftIsHeld) {
  // Wine's Notepad as Live: it writes its document when Ctrl+S reaches it,
  // so the file on disk shows exactly what arrived.
  wchar_t windowsFolder[MAX_PATH] = L"";
  GetWindowsDirectoryW(windowsFolder, MAX_PATH);
  const fs::path liveProgram = folder.path() / "Ableton Live 12 Suite.exe";
  fs::copy_file(fs::path(windowsFolder) / "notepad.exe", liveProgram);
  const fs::path document = folder.path() / "Set.txt";
  std::ofstream(document, std::ios::binary) << "quillmark\r\n";
  ChildProcess live(liveProgram.wstring(), {document.wstring()});
  ChildProcess keeper(widen(QM_FOCUS_KEEPER_EXE), {keeperStatus.wstring()});
  ASSERT_NE(live.waitForWindow(), nullptr);
  ChildProcess quillmark(widen(QM_QUILLMARK_EXE), {});
  ASSERT_TRUE(waitUntil([&] { return lines("Autosave timer started: every 10 sec.") == 1; }, 10));
  const Clock::time_point started = Clock::now();
  const HWND keeperWindow = startFocusKeeper(keeper);
  const std::string sent = "Autosave command sent successfully.";
  const std::string waiting = "Autosave waiting for a pause in typing.";

  // A key every 150 ms across the save points at 10 and 20 s: no save.
  std::string typed;
  Clock::time_point lastKey;
  while (secondsSince(started) < 21.5) {
    typed += static_cast<char>('a' + typed.size() % 26);
    tap(static_cast<WORD>(typed.back() - 'a' + 'A'));
    lastKey = Clock::now();
    Sleep(150);
  }
  EXPECT_EQ(lines("Autosave timer fired."), 1);
  EXPECT_EQ(lines(sent), 0) << readWholeFile(logPath);
  const auto untouched = fs::last_write_time(document);

  // Saved in the pause: 2 s without a key, then Live's half-second settle.
  ASSERT_TRUE(waitUntil([&] { return lines(sent) == 1; }, 6)) << readWholeFile(logPath);
  const double afterLastKey = secondsSince(lastKey);
  const Clock::time_point saved = Clock::now();
  EXPECT_NE(fs::last_write_time(document), untouched);
  EXPECT_EQ(lines(waiting), 1);

  // Shift is down from 3 s before the next save point (an interval after
  // the waited save) to 3 s after it: nothing is sent meanwhile, so no
  // Ctrl+Shift+S (Save As) either.
  ASSERT_TRUE(waitUntil([&] { return secondsSince(saved) >= 7; }, 8));
  struct HeldShift {
    HeldShift() { send({key(VK_SHIFT, true)}); }
    ~HeldShift() { send({key(VK_SHIFT, false)}); }
  };
  auto shift = std::make_unique<HeldShift>();
  const auto beforeHold = fs::last_write_time(document);
  bool saveAs = false;
  waitUntil(
      [&] {
        saveAs = saveAs || showsWindow(live.pid(), L"#32770");
        return secondsSince(saved) >= 13;
      },
      7);
  EXPECT_EQ(lines(waiting), 2) << readWholeFile(logPath);
  EXPECT_EQ(lines(sent), 1);
  EXPECT_EQ(fs::last_write_time(document), beforeHold);
  EXPECT_FALSE(saveAs);
  shift.reset();
  const Clock::time_point released = Clock::now();
  ASSERT_TRUE(waitUntil([&] { return lines(sent) == 2; }, 6)) << readWholeFile(logPath);
  const double afterRelease = secondsSince(released);
  EXPECT_NE(fs::last_write_time(document), beforeHold);
  // Not before the pause: a save seen late here only lengthens the pause
  // measured, so this holds on a loaded machine too.
  for (const double pause : {afterLastKey, afterRelease}) {
    EXPECT_GE(pause, 2.0);
  }
  std::printf(
      "[ FIGURE   ] %zu keys; saves waited %.1f s (%.2f s after the last key) and %.1f s "
      "(%.2f s after Shift came up)\n",
      typed.size(), std::chrono::duration<double>(saved - started).count() - 10, afterLastKey,
      afterRelease + 3, afterRelease);

  // Not one typed key reached Live's document; every one reached the window
  // it was typed into, which has the focus again.
  EXPECT_EQ(readWholeFile(document), "quillmark\r\n");
  const std::string received = readStatusFile(keeperStatus);
  EXPECT_NE(received.find("\ntyped " + typed + "\n"), std::string::npos)
      << "typed " << typed << "\n"
      << received;
  EXPECT_TRUE(waitUntil([&] { return GetForegroundWindow() == keeperWindow; }, 2));
}

TEST_F(EndToEndTest, SaveNowFromTheTrayGivesTheFocusBackToTheWindowUsedBeforeTheClick) {
  // No automatic save comes within the test.
  const std::int64_t interval = 180;
  RegSetKeyValueW(HKEY_CURRENT_USER, kPreferencesKey, L"autosave.interval.seconds", REG_QWORD,
                  &interval, sizeof interval);
  ChildProcess keeper(widen(QM_FOCUS_KEEPER_EXE), {keeperStatus.wstring()});
  ChildProcess live(widen(QM_STAND_IN_LIVE_EXE), {liveStatus.wstring()});
  ASSERT_NE(live.waitForWindow(), nullptr);
  ChildProcess quillmark(widen(QM_QUILLMARK_EXE), {});
  ASSERT_TRUE(waitUntil([&] { return lines("Autosave timer started: every 3 min.") == 1; }, 10));
  const HWND keeperWindow = startFocusKeeper(keeper);
  if (wineTray() == nullptr) {
    GTEST_SKIP() << "clicks the icon in Wine's stand-alone tray";
  }

  // The click gives the foreground to the tray, then to Quillmark's menu,
  // which ends with Save Now, Report a Problem and Quit.
  ASSERT_TRUE(openTrayMenu(quillmark.pid()));
  EXPECT_NE(GetForegroundWindow(), keeperWindow);
  for (const WORD menuKey : {VK_UP, VK_UP, VK_UP, VK_RETURN}) {
    tap(menuKey);
  }
  ASSERT_TRUE(waitUntil([&] { return readCounts(liveStatus).saves == 1; }, 5))
      << readWholeFile(logPath);
  EXPECT_TRUE(waitUntil([&] { return GetForegroundWindow() == keeperWindow; }, 3));
  EXPECT_EQ(readCounts(keeperStatus).keys, 0);
  EXPECT_EQ(lines("Manual save command sent successfully."), 1);
}

TEST_F(EndToEndTest, NoSaveWhileTheSessionIsLockedOneAfterTheUnlockAndAQuitWhenItEnds) {
  ChildProcess live(widen(QM_STAND_IN_LIVE_EXE), {liveStatus.wstring()});
  ASSERT_NE(live.waitForWindow(), nullptr);
  ChildProcess quillmark(widen(QM_QUILLMARK_EXE), {});
  ASSERT_TRUE(waitUntil([&] { return lines("Autosave timer started: every 10 sec.") == 1; }, 10));
  const Clock::time_point started = Clock::now();
  // Quillmark's tray window, which hears of the session.
  const HWND tray = trayWindowOf(quillmark);
  ASSERT_NE(tray, nullptr);

  // Locked across the save point at 10 s: nothing is sent. Unlocked, with
  // no key for two seconds: the missed save, once.
  PostMessageW(tray, WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, 0);
  waitUntil([&] { return secondsSince(started) >= 12; }, 13);
  EXPECT_EQ(readCounts(liveStatus).saves, 0) << readWholeFile(logPath);
  EXPECT_EQ(lines("Session locked: no saves until it is unlocked."), 1);
  PostMessageW(tray, WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK, 0);
  ASSERT_TRUE(waitUntil([&] { return readCounts(liveStatus).saves == 1; }, 5))
      << readWholeFile(logPath) << readWholeFile(liveStatus);
  EXPECT_EQ(lines("Session unlocked: the save that fell due meanwhile runs now."), 1);
  EXPECT_FALSE(waitUntil([&] { return readCounts(liveStatus).saves > 1; }, 2));

  // Log-off: Quillmark agrees, then quits and takes its icon along (checked
  // at once: Wine clears the icons of a window that has gone too, later).
  const bool hadIcon = trayHasIcon(tray);
  DWORD_PTR answer = 0;
  SendMessageTimeoutW(tray, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, 0, 5000, &answer);
  EXPECT_EQ(answer, DWORD_PTR{TRUE});
  SendMessageTimeoutW(tray, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, 0, 5000, &answer);
  ASSERT_EQ(WaitForSingleObject(quillmark.handle(), 5000), WAIT_OBJECT_0);
  EXPECT_FALSE(trayHasIcon(tray));
  EXPECT_TRUE(hadIcon || wineTray() == nullptr);
  EXPECT_EQ(lines("Session ending: Quillmark quits."), 1) << readWholeFile(logPath);
}

TEST_F(EndToEndTest, NoSaveWhileTheSystemSleepsAndTheOneThatFellDueAfterTheWake) {
  ChildProcess live(widen(QM_STAND_IN_LIVE_EXE), {liveStatus.wstring()});
  ASSERT_NE(live.waitForWindow(), nullptr);
  ChildProcess quillmark(widen(QM_QUILLMARK_EXE), {});
  ASSERT_TRUE(waitUntil([&] { return lines("Autosave timer started: every 10 sec.") == 1; }, 10));
  const Clock::time_point started = Clock::now();
  const HWND tray = trayWindowOf(quillmark);
  ASSERT_NE(tray, nullptr);

  // Asleep across the save point at 10 s: nothing is sent. The wake comes
  // as Windows sends it with a user there, twice; the missed save runs once.
  PostMessageW(tray, WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
  waitUntil([&] { return secondsSince(started) >= 12; }, 13);
  EXPECT_EQ(readCounts(liveStatus).saves, 0) << readWholeFile(logPath);
  EXPECT_EQ(lines("System going to sleep: no saves until it wakes."), 1);
  PostMessageW(tray, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
  PostMessageW(tray, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
  ASSERT_TRUE(waitUntil([&] { return readCounts(liveStatus).saves == 1; }, 5))
      << readWholeFile(logPath) << readWholeFile(liveStatus);
  EXPECT_EQ(lines("System woke: the save that fell due meanwhile runs after your pause."), 1);
  EXPECT_EQ(lines("System woke."), 0);
  // A clock set by nothing at all moves nothing and says nothing.
  PostMessageW(tray, WM_TIMECHANGE, 0, 0);
  EXPECT_FALSE(waitUntil([&] { return readCounts(liveStatus).saves > 1; }, 2));
  EXPECT_EQ(readWholeFile(logPath).find("System clock changed"), std::string::npos);
}

// Live's set as its title shows it: the stand-in Live titles its window as
// Live does and saves, asks or ignores the keys as told.
class LiveSetEndToEndTest : public EndToEndTest {
 protected:
  // Live (with the options) and the window the user works in, then
  // Quillmark; the user works in the other window.
  void start(const std::vector<std::wstring>& options, bool edited) {
    std::vector<std::wstring> arguments{liveStatus.wstring()};
    arguments.insert(arguments.end(), options.begin(), options.end());
    live = std::make_unique<ChildProcess>(widen(QM_STAND_IN_LIVE_EXE), arguments);
    liveWindow = live->waitForWindow();
    ASSERT_NE(liveWindow, nullptr);
    if (edited) {
      PostMessageW(liveWindow, kStandInEditMessage, 0, 0);
    }
    startQuillmark();
    keeperWindow = startFocusKeeper(keeper);
  }

  void startQuillmark() {
    quillmark =
        std::make_unique<ChildProcess>(widen(QM_QUILLMARK_EXE), std::vector<std::wstring>{});
    ASSERT_TRUE(waitUntil([&] { return lines("Autosave timer started: every 10 sec.") == 1; }, 10));
    started = Clock::now();
  }

  // Until the n-th save point has passed, and a little more.
  void waitForSavePoint(int n) {
    ASSERT_TRUE(waitUntil([&] { return lines("Autosave timer fired.") >= n; }, 10.0 * n + 5))
        << readWholeFile(logPath);
  }

  ChildProcess keeper{widen(QM_FOCUS_KEEPER_EXE), {keeperStatus.wstring()}};
  std::unique_ptr<ChildProcess> live;
  std::unique_ptr<ChildProcess> quillmark;
  HWND liveWindow = nullptr;
  HWND keeperWindow = nullptr;
  Clock::time_point started;
  const std::string sent = "Autosave command sent successfully.";
};

// A plug-in's window stays open beside Live's throughout: a modeless
// "#32770" dialog, which holds no save back.
TEST_F(LiveSetEndToEndTest, SaveConfirmedThenNoneWhileNothingChangedThenTheNextChangeSaved) {
  start({L"--set", L"Jam Session", L"--plug-in"}, true);
  EXPECT_TRUE(showsWindow(live->pid(), L"#32770"));
  ASSERT_TRUE(waitUntil([&] { return lines("Live saved “Jam Session”.") == 1; }, 30))
      << readWholeFile(logPath) << readWholeFile(liveStatus);
  const double confirmed = secondsSince(started);
  EXPECT_EQ(readCounts(liveStatus).stored, 1);
  EXPECT_EQ(lines("Live's window reads “Jam Session* [Jam Session] - Ableton Live 12 Suite”."), 1)
      << readWholeFile(logPath);
  EXPECT_TRUE(waitUntil([&] { return GetForegroundWindow() == keeperWindow; }, 3));
  const StandInCounts afterSave = readCounts(liveStatus);

  // The next save point finds nothing to save: Live is not even activated.
  waitForSavePoint(2);
  ASSERT_TRUE(waitUntil(
      [&] { return lines("Autosave skipped: “Jam Session” has no unsaved changes.") == 1; }, 2))
      << readWholeFile(logPath);
  EXPECT_FALSE(
      waitUntil([&] { return readCounts(liveStatus).activations > afterSave.activations; }, 1));
  EXPECT_EQ(readCounts(liveStatus).saves, afterSave.saves);
  EXPECT_EQ(lines(sent), 1);

  // A change: the next save point saves it.
  PostMessageW(liveWindow, kStandInEditMessage, 0, 0);
  ASSERT_TRUE(waitUntil([&] { return readCounts(liveStatus).stored == 2; }, 12))
      << readWholeFile(logPath);
  EXPECT_TRUE(waitUntil([&] { return lines("Live saved “Jam Session”.") == 2; }, 2));
  EXPECT_EQ(lines(sent), 2);
  EXPECT_EQ(readCounts(keeperStatus).keys, 0);
  EXPECT_TRUE(showsWindow(live->pid(), L"#32770"));
  EXPECT_EQ(lines("Autosave waiting: Live is showing a dialog."), 0) << readWholeFile(logPath);
  std::printf("[ FIGURE   ] save confirmed %.1f s after start\n", confirmed);
}

TEST_F(LiveSetEndToEndTest, UntitledSetGetsOneSaveDialogAndNoSecondCtrlSWhileItStays) {
  start({L"--untitled"}, false);
  const std::string asked =
      "Live opened a dialog instead of saving “Untitled”: no automatic saves until its title "
      "changes.";
  ASSERT_TRUE(waitUntil([&] { return lines(asked) == 1; }, 16)) << readWholeFile(logPath);
  EXPECT_TRUE(showsWindow(live->pid(), L"#32770"));
  EXPECT_EQ(readCounts(liveStatus).dialogs, 1);

  // Two more save points pass with the dialog open: nothing is sent.
  waitForSavePoint(3);
  EXPECT_FALSE(waitUntil([&] { return lines(sent) > 1; }, 1)) << readWholeFile(logPath);
  EXPECT_EQ(readCounts(liveStatus).dialogs, 1);
  EXPECT_EQ(readCounts(liveStatus).saves, 1);
  EXPECT_EQ(lines(asked), 1);
  EXPECT_EQ(lines("Autosave waiting: Live is showing a dialog."), 0);
}

TEST_F(LiveSetEndToEndTest, LiveThatIgnoresTheKeysDidNotSave) {
  start({L"--set", L"Deaf", L"--deaf"}, true);
  const std::string late = "Live did not save “Deaf” within 10 seconds.";
  ASSERT_TRUE(waitUntil([&] { return lines(late) == 1; }, 30)) << readWholeFile(logPath);
  // By the log's own stamps: ten seconds after the keys, give or take the
  // stamps' whole second, and a second more for a loaded machine.
  const std::string log = readWholeFile(logPath);
  ASSERT_EQ(loggedAt(log, sent).size(), 1u) << log;
  const long long after = loggedAt(log, late).at(0) - loggedAt(log, sent).at(0);
  EXPECT_GE(after, 9) << log;
  EXPECT_LE(after, 12) << log;
  EXPECT_GE(readCounts(liveStatus).saves, 1);
  EXPECT_EQ(readCounts(liveStatus).stored, 0);
  EXPECT_EQ(lines("Live saved “Deaf”."), 0);
}

TEST_F(LiveSetEndToEndTest, NotepadsSaveAsDialogIsDetectedAndNoSecondCtrlSIsSent) {
  // Wine's Notepad with no file, under Live's name: Ctrl+S opens Save As.
  wchar_t windowsFolder[MAX_PATH] = L"";
  GetWindowsDirectoryW(windowsFolder, MAX_PATH);
  const fs::path liveProgram = folder.path() / "Ableton Live 12 Suite.exe";
  fs::copy_file(fs::path(windowsFolder) / "notepad.exe", liveProgram);
  live = std::make_unique<ChildProcess>(liveProgram.wstring(), std::vector<std::wstring>{});
  ASSERT_NE(live->waitForWindow(), nullptr);
  startQuillmark();
  keeperWindow = startFocusKeeper(keeper);

  const std::string asked =
      "Live opened a dialog instead of saving: no automatic saves until its title changes.";
  ASSERT_TRUE(waitUntil([&] { return lines(asked) == 1; }, 16)) << readWholeFile(logPath);
  // Notepad disables its window, which already reads as a dialog, before
  // Wine's Save As shows.
  EXPECT_TRUE(waitUntil([&] { return showsWindow(live->pid(), L"#32770"); }, 5));
  waitForSavePoint(2);
  EXPECT_FALSE(waitUntil([&] { return lines(sent) > 1; }, 1)) << readWholeFile(logPath);
  EXPECT_TRUE(showsWindow(live->pid(), L"#32770"));
  EXPECT_EQ(readCounts(keeperStatus).keys, 0);
}

// A figure, run by hand (--gtest_also_run_disabled_tests; QM_IDLE_MINUTES,
// 3 by default): how often Live comes forward while its set stays saved,
// for a Live whose title never shows the mark, as every Live was read
// before, and for one whose title does.
TEST_F(LiveSetEndToEndTest, DISABLED_IdleStretchWithASavedSet) {
  const char* minutesText = std::getenv("QM_IDLE_MINUTES");
  const double minutes = minutesText != nullptr ? std::atof(minutesText) : 3.0;
  for (const bool markShown : {false, true}) {
    std::vector<std::wstring> options{L"--set", L"Idle"};
    if (!markShown) {
      options.push_back(L"--no-mark");
    }
    fs::remove(logPath);
    start(options, true);
    // The one change is saved first; from then on the set stays saved.
    ASSERT_TRUE(waitUntil([&] { return readCounts(liveStatus).stored == 1; }, 16));
    ASSERT_TRUE(waitUntil([&] { return GetForegroundWindow() == keeperWindow; }, 3));
    const int before = readCounts(liveStatus).activations;
    const Clock::time_point from = Clock::now();
    waitUntil([] { return false; }, minutes * 60);
    const int activations = readCounts(liveStatus).activations - before;
    std::printf(
        "[ FIGURE   ] title %s the mark: Live brought forward %d times in %.1f min, %.0f an "
        "hour\n",
        markShown ? "shows" : "never shows", activations, secondsSince(from) / 60,
        activations * 3600.0 / secondsSince(from));
    quillmark.reset();
    live.reset();
    ASSERT_TRUE(waitUntil(
        [] {
          return makeWorkspace()
              ->runningApplicationsWithBundleIdentifier("com.ableton.live")
              .empty();
        },
        5));
  }
}

}  // namespace
}  // namespace qm::windows::test
