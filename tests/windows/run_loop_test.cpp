// The run loop over real Win32 timers: the repeating timer's grid, a late
// timer after the main thread was blocked, timers that keep firing inside a
// message box and the tray menu while delayed calls wait, and a wall clock
// set back or forward that moves none of them.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <vector>

#include "tray_test_support.h"

namespace qm::windows::test {
namespace {

// Dispatches this thread's messages for `seconds`.
void pumpFor(double seconds) {
  waitUntil([] { return false; }, seconds);
}

class RunLoopTest : public ::testing::Test {
 protected:
  std::unique_ptr<WinRunLoop> loop = makeRunLoop();
};

TEST_F(RunLoopTest, RepeatingTimerFiresOnePeriodAfterCreationThenOnItsGrid) {
  std::vector<double> fired;
  // On the clock the timers run on: the tick count is coarse on Windows,
  // so the wall clock could see a timer a tick early.
  const double created = loop->monotonicNow();
  TimerRef timer =
      loop->scheduleRepeatingTimer(0.2, [&] { fired.push_back(loop->monotonicNow()); });
  ASSERT_TRUE(waitUntil([&] { return fired.size() >= 4; }, 10));
  timer->invalidate();
  EXPECT_FALSE(timer->isValid());
  for (std::size_t i = 0; i < fired.size(); ++i) {
    // Never early, and never more than once a period; how late a loaded
    // machine runs it is no fault.
    EXPECT_GE(fired[i] - created, 0.2 * static_cast<double>(i + 1) - 0.002) << i;
  }
  const std::size_t count = fired.size();
  pumpFor(0.3);
  EXPECT_EQ(fired.size(), count);  // invalidated: nothing more
}

TEST_F(RunLoopTest, LateTimerFiresOnceAndStaysOnItsGrid) {
  std::vector<double> fired;
  // On the clock the timers run on: the tick count is coarse on Windows,
  // so the wall clock could see a timer a tick early.
  const double created = loop->monotonicNow();
  TimerRef timer =
      loop->scheduleRepeatingTimer(0.2, [&] { fired.push_back(loop->monotonicNow()); });
  // The main thread is blocked past three periods; nothing fires meanwhile.
  loop->sleepMicroseconds(700000);
  EXPECT_TRUE(fired.empty());
  ASSERT_TRUE(waitUntil([&] { return fired.size() >= 2; }, 10));
  timer->invalidate();
  // One late firing for the three missed, then none before the grid's next
  // point, created + 4 * 0.2.
  EXPECT_GE(fired[0] - created, 0.7);
  EXPECT_GE(fired[1] - created, 0.8 - 0.002);
}

TEST_F(RunLoopTest, TimersFireInsideAMessageBoxWhileDelayedCallsWait) {
  auto alerts = makeAlerts(*loop);
  bool boxOpen = false;
  bool performedDuringBox = false;
  bool performed = false;
  int ticks = 0;
  loop->performAfterDelay(0.05, [&] {
    performed = true;
    performedDuringBox = boxOpen;
  });
  TimerRef timer = loop->scheduleRepeatingTimer(0.1, [&] {
    if (boxOpen && ++ticks == 5) {
      // Presses the first button of this thread's message box.
      EnumThreadWindows(
          GetCurrentThreadId(),
          [](HWND window, LPARAM) {
            wchar_t name[16] = L"";
            GetClassNameW(window, name, 16);
            if (std::wstring(name) == L"#32770") {
              PostMessageW(window, WM_COMMAND, IDOK, 0);
            }
            return TRUE;
          },
          0);
    }
  });
  boxOpen = true;
  const long pressed = alerts->runModal({"Message", "Informative", {"First", "Second"}});
  boxOpen = false;
  EXPECT_EQ(pressed, kAlertFirstButtonReturn);
  EXPECT_EQ(ticks, 5);
  EXPECT_FALSE(performed);
  EXPECT_TRUE(waitUntil([&] { return performed; }, 10));
  EXPECT_FALSE(performedDuringBox);
  timer->invalidate();
}

TEST_F(RunLoopTest, TimersFireInsideTheTrayMenuWhileDelayedCallsWait) {
  auto bar = makeStatusBar(*loop);
  StatusItemRef item = bar->statusItemWithLength(kVariableStatusItemLength);
  MenuRef menu = bar->createMenu("Quillmark");
  menu->addItem(bar->createMenuItem(
      "Save Now", [](MenuItem&) {}, ""));
  item->setMenu(menu);

  bool menuOpen = false;
  bool performedDuringMenu = false;
  bool performed = false;
  int ticks = 0;
  loop->performAfterDelay(0.05, [&] {
    performed = true;
    performedDuringMenu = menuOpen;
  });
  TimerRef timer = loop->scheduleRepeatingTimer(0.1, [&] {
    if (menuOpen && ++ticks == 5) {
      EndMenu();
    }
  });
  menuOpen = true;
  openStatusItemMenu(*item);
  menuOpen = false;
  EXPECT_EQ(ticks, 5);
  EXPECT_FALSE(performed);
  EXPECT_TRUE(waitUntil([&] { return performed; }, 10));
  EXPECT_FALSE(performedDuringMenu);
  timer->invalidate();
}

TEST_F(RunLoopTest, CallbacksMayStopTheirOwnTimerAndDelayedCallsRunInOrder) {
  std::vector<int> order;
  TimerRef timer;
  timer = loop->scheduleRepeatingTimer(0.05, [&] {
    order.push_back(0);
    timer->invalidate();
  });
  loop->performAfterDelay(0.02, [&] { order.push_back(1); });
  loop->performAfterDelay(0.02, [&] { order.push_back(2); });
  waitUntil([&] { return order.size() >= 3; }, 10);
  pumpFor(0.1);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 0}));
}

// The wall clock is set back an hour, then forward an hour: the timer keeps
// its period, and the delayed call comes neither an hour late nor at once.
TEST(RunLoopClockTest, SettingTheWallClockMovesNoTimerAndNoDelayedCall) {
  // A wall clock that runs as the real one does, until it is set.
  double setBy = 0;
  const auto origin = std::chrono::steady_clock::now();
  auto loop = makeRunLoop([&] {
    return 1.7e9 + setBy +
           std::chrono::duration<double>(std::chrono::steady_clock::now() - origin).count();
  });
  int fired = 0;
  bool performed = false;
  TimerRef timer = loop->scheduleRepeatingTimer(0.1, [&] { ++fired; });
  loop->performAfterDelay(1.0, [&] { performed = true; });
  ASSERT_TRUE(waitUntil([&] { return fired >= 1; }, 2));

  setBy = -3600;
  EXPECT_LT(loop->now(), 1.7e9 - 3500);
  const int beforeBack = fired;
  EXPECT_TRUE(waitUntil([&] { return fired >= beforeBack + 2; }, 2)) << fired;

  setBy = 3600;
  pumpFor(0.1);
  EXPECT_FALSE(performed);
  EXPECT_TRUE(waitUntil([&] { return performed; }, 2));
  timer->invalidate();
}

}  // namespace
}  // namespace qm::windows::test
