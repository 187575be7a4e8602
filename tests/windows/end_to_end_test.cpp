// Quillmark.exe end to end under the real window system: a stand-in Live
// ("Ableton Live 12 Suite.exe") that counts the Ctrl+S it receives, and
// another window that has the focus and must never receive a key.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
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
    SetForegroundWindow(window);
    EXPECT_TRUE(waitUntil([&] { return GetForegroundWindow() == window; }, 5));
    return window;
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
  const Clock::time_point start = Clock::now();
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
  std::vector<double> saveTimes;
  const auto followSaves = [&](int wanted) {
    return waitUntil(
        [&] {
          const int saves = readCounts(liveStatus).saves;
          if (saves > delivered) {
            delivered = saves;
            saveTimes.push_back(secondsSince(start));
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
  ASSERT_EQ(saveTimes.size(), 3u) << readWholeFile(logPath);
  std::printf("[ FIGURE   ] saves at %.1f, %.1f, %.1f s\n", saveTimes[0], saveTimes[1],
              saveTimes[2]);
  EXPECT_NEAR(saveTimes[1] - saveTimes[0], 10.0, 1.5);
  EXPECT_NEAR(saveTimes[2] - saveTimes[1], 10.0, 1.5);

  // Live minimised is restored and saved, and the focus comes back.
  ShowWindow(liveWindow, SW_MINIMIZE);
  SetForegroundWindow(keeperWindow);
  ASSERT_TRUE(followSaves(4));
  EXPECT_FALSE(IsIconic(liveWindow));
  EXPECT_EQ(restored, 4);
  std::printf("[ FIGURE   ] saves delivered %d, focus restored %d, key repeats seen by Live %d\n",
              delivered, restored, readCounts(liveStatus).repeats);

  const StandInCounts keeperCounts = readCounts(keeperStatus);
  EXPECT_EQ(keeperCounts.saves, 0);
  EXPECT_EQ(keeperCounts.keys, 0);

  // Live quits; about six seconds later Quillmark follows.
  PostMessageW(liveWindow, WM_CLOSE, 0, 0);
  ASSERT_EQ(WaitForSingleObject(live.handle(), 10000), WAIT_OBJECT_0);
  const Clock::time_point liveGone = Clock::now();
  ASSERT_EQ(WaitForSingleObject(quillmark.handle(), 15000), WAIT_OBJECT_0);
  const double quitDelay = secondsSince(liveGone);
  std::printf("[ FIGURE   ] Quillmark quit %.1f s after Live\n", quitDelay);
  // Six seconds from the monitor tick that saw Live gone, on the 2 s grid.
  EXPECT_GE(quitDelay, 5.5);
  EXPECT_LE(quitDelay, 10.5);

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

}  // namespace
}  // namespace qm::windows::test
