// The Live monitor: following Live and the permission every two seconds, and
// the automatic quit once Live has been gone for six seconds.
#include <string>
#include <vector>

#include "menu_support.h"

namespace qm::test {
namespace {

constexpr double kClockSlack = 1e-6;

class LiveMonitorTest : public MenuTest {
 protected:
  void quitLive() { world.quitApplications(std::string(kAbletonBundleIdentifier)); }
  bool schedulerStopped() {
    return !app().autosaveTimer() && !app().nextAutosaveAt() && !app().countdownTimer();
  }
};

TEST_F(LiveMonitorTest, LiveNeverSeenKeepsTheProcessAlive) {
  markAccessibilityAsked();
  world.setTrusted(true);
  const Date start = launchNow();
  EXPECT_FALSE(app().hasSeenAbletonRunning());

  world.advanceTo(start + 120);
  EXPECT_FALSE(process->terminated());
  EXPECT_TRUE(world.terminations().empty());
  EXPECT_FALSE(app().hasSeenAbletonRunning());
  EXPECT_FALSE(app().abletonStoppedAt());
  EXPECT_EQ(app().lastStatusMessage(), "");
  EXPECT_TRUE(schedulerStopped());
  EXPECT_EQ(countMessages("Autosave timer started: every 10 min."), 0u);
}

TEST_F(LiveMonitorTest, LiveQuittingStopsTheScheduleAndQuitsAtTheFirstTickSixSecondsOn) {
  const Date start = launchWithLiveTrusted();
  const std::size_t linesAfterLaunch = logLines().size();

  world.advanceTo(start + 2.5);
  quitLive();
  // Until the monitor looks, the schedule and the quit state stay as they were.
  world.advanceTo(start + 3.9);
  EXPECT_TRUE(app().autosaveTimer());
  EXPECT_FALSE(app().abletonStoppedAt());

  world.advanceTo(start + 4);
  ASSERT_TRUE(app().abletonStoppedAt());
  EXPECT_EQ(*app().abletonStoppedAt(), start + 4);
  EXPECT_EQ(app().lastStatusMessage(), "Ableton closed, quitting...");
  EXPECT_TRUE(schedulerStopped());
  EXPECT_FALSE(app().waitingAnimationTimer());
  EXPECT_EQ(statusLine(), "Ableton closed, quitting...");
  EXPECT_EQ(toolTip(), "Ableton not connected | Accessibility granted | Autosave on");

  // Ticks at +6 and +8 are only 2 and 4 s into the closing.
  world.advanceTo(start + 9.99);
  EXPECT_FALSE(process->terminated());
  EXPECT_EQ(*app().abletonStoppedAt(), start + 4);

  world.advanceTo(start + 10);
  ASSERT_TRUE(process->terminated());
  EXPECT_EQ(process->terminatedAt(), start + 10);
  ASSERT_EQ(world.terminations().size(), 1u);
  EXPECT_EQ(world.terminations()[0].time, start + 10);
  EXPECT_EQ(world.terminations()[0].pid, process->pid());
  EXPECT_FALSE(world.isRunning(process->pid()));
  EXPECT_FALSE(app().autosaveTimer());
  EXPECT_FALSE(app().countdownTimer());
  EXPECT_FALSE(app().waitingAnimationTimer());
  EXPECT_EQ(world.pendingCallCount(), 0u);
  // Stopping and quitting write nothing to the log.
  EXPECT_EQ(logLines().size(), linesAfterLaunch);
  EXPECT_EQ(completedSaveSequences(world.keyEvents(), livePid), 0);
}

TEST_F(LiveMonitorTest, LiveReturningWithinSixSecondsCancelsTheQuitAndALaterAbsenceStartsAfresh) {
  setIntervalPreference(10);
  const Date start = launchWithLiveTrusted();
  world.advanceTo(start + 2.5);
  quitLive();
  world.advanceTo(start + 4);
  ASSERT_EQ(app().lastStatusMessage(), "Ableton closed, quitting...");

  world.advanceTo(start + 7);
  livePid = startLive();
  world.advanceTo(start + 8);
  EXPECT_TRUE(app().hasSeenAbletonRunning());
  EXPECT_FALSE(app().abletonStoppedAt());
  EXPECT_EQ(app().lastStatusMessage(), "");
  // The same tick starts the schedule again, a full interval ahead.
  ASSERT_TRUE(app().nextAutosaveAt());
  EXPECT_EQ(*app().nextAutosaveAt(), start + 18);
  EXPECT_EQ(statusLine(), "✓ Next save in 00:10");

  world.advanceTo(start + 30);
  EXPECT_FALSE(process->terminated());
  EXPECT_EQ(completedSaveSequences(world.keyEvents(), livePid), 2);

  // The second closing counts from its own start, not from the first one.
  world.advanceTo(start + 30.5);
  quitLive();
  world.advanceTo(start + 32);
  ASSERT_TRUE(app().abletonStoppedAt());
  EXPECT_EQ(*app().abletonStoppedAt(), start + 32);
  world.advanceTo(start + 37.99);
  EXPECT_FALSE(process->terminated());
  world.advanceTo(start + 38);
  EXPECT_TRUE(process->terminated());
  EXPECT_EQ(process->terminatedAt(), start + 38);
}

TEST_F(LiveMonitorTest, MessageSetDuringClosingStaysWhenLiveReturns) {
  const Date start = launchWithLiveTrusted();
  world.advanceTo(start + 2.5);
  quitLive();
  world.advanceTo(start + 5);

  ASSERT_EQ(process->click({"Save Now"}), sim::ClickResult::ok);
  EXPECT_EQ(app().lastStatusMessage(), "Ableton Live is not running");
  EXPECT_EQ(logMessages().back(), "Manual save failed: Ableton Live is not running");
  // Closing outranks any message on the status line.
  EXPECT_EQ(statusLine(), "Ableton closed, quitting...");

  world.advanceTo(start + 7);
  livePid = startLive();
  world.advanceTo(start + 8);
  EXPECT_FALSE(app().abletonStoppedAt());
  EXPECT_EQ(app().lastStatusMessage(), "Ableton Live is not running");
  EXPECT_EQ(statusLine(), "✕ Ableton Live is not running · next 10:00");
  world.advanceTo(start + 60);
  EXPECT_FALSE(process->terminated());
}

TEST_F(LiveMonitorTest, PermissionRevokedWhileLiveRunsStopsTheScheduleWithoutQuitting) {
  setIntervalPreference(10);
  const Date start = launchWithLiveTrusted();
  const std::size_t linesAfterLaunch = logLines().size();

  world.advanceTo(start + 3);
  world.setTrusted(false);
  world.advanceTo(start + 4);
  EXPECT_TRUE(schedulerStopped());
  EXPECT_EQ(logLines().size(), linesAfterLaunch);
  EXPECT_FALSE(app().abletonStoppedAt());
  EXPECT_EQ(app().lastStatusMessage(), "");
  EXPECT_EQ(statusLine(), "✕ Grant Accessibility access");

  world.advanceTo(start + 120);
  EXPECT_FALSE(process->terminated());
  EXPECT_EQ(completedSaveSequences(world.keyEvents(), livePid), 0);
  EXPECT_TRUE(schedulerStopped());
}

TEST_F(LiveMonitorTest, PermissionGrantedWhileLiveRunsStartsTheScheduleAtTheNextTick) {
  markAccessibilityAsked();
  setIntervalPreference(10);
  livePid = startLive();
  const Date start = launchNow();
  EXPECT_EQ(logMessages().back(), kNotStartedLine);
  EXPECT_TRUE(schedulerStopped());

  world.advanceTo(start + 5);
  world.setTrusted(true);
  world.advanceTo(start + 5.99);
  EXPECT_TRUE(schedulerStopped());
  world.advanceTo(start + 6);
  EXPECT_EQ(logMessages().back(), "Autosave timer started: every 10 sec.");
  ASSERT_TRUE(app().nextAutosaveAt());
  EXPECT_EQ(*app().nextAutosaveAt(), start + 16);
  EXPECT_TRUE(app().countdownTimer());

  world.advanceTo(start + 15.9);
  EXPECT_EQ(completedSaveSequences(world.keyEvents(), livePid), 0);
  world.advanceTo(start + 16);
  EXPECT_EQ(completedSaveSequences(world.keyEvents(), livePid), 1);
}

TEST_F(LiveMonitorTest, PausedAutosaveStillRefreshesEveryTickAndStillQuits) {
  setAutosavePreference(false);
  const Date start = launchWithLiveTrusted();
  EXPECT_EQ(statusLine(), "✕ Autosave paused");

  // Set behind the menu's back: only a refresh can show it.
  world.advanceTo(start + 2.5);
  app().setLastStatusMessage("shown by the next tick");
  world.advanceTo(start + 3.99);
  EXPECT_EQ(statusLine(), "✕ Autosave paused");
  world.advanceTo(start + 4);
  EXPECT_EQ(statusLine(), "shown by the next tick");
  EXPECT_TRUE(schedulerStopped());

  world.advanceTo(start + 5);
  quitLive();
  world.advanceTo(start + 6);
  EXPECT_EQ(app().lastStatusMessage(), "Ableton closed, quitting...");
  world.advanceTo(start + 12);
  EXPECT_TRUE(process->terminated());
  EXPECT_EQ(process->terminatedAt(), start + 12);
}

TEST_F(LiveMonitorTest, TickDelayedByASaveMeasuresTheClosingOnTheWallClock) {
  setIntervalPreference(10);
  const Date start = launchWithLiveTrusted();
  // A manual save ending at +1.7 moves the autosave grid to +11.7, so the
  // next save blocks the main thread across the monitor's tick at +12.
  world.advanceTo(start + 1.05);
  ASSERT_EQ(process->click({"Save Now"}), sim::ClickResult::ok);
  ASSERT_TRUE(app().nextAutosaveAt());
  ASSERT_NEAR(*app().nextAutosaveAt(), start + 11.7, kClockSlack);
  // Live quits while that save sleeps; the tick due at +12 runs at +12.35.
  world.at(start + 11.9, [this] { quitLive(); });

  world.advanceTo(start + 13);
  EXPECT_EQ(completedSaveSequences(world.keyEvents(), livePid), 2);
  ASSERT_TRUE(app().abletonStoppedAt());
  EXPECT_NEAR(*app().abletonStoppedAt(), start + 12.35, kClockSlack);

  // +14, +16 and +18 are 1.65, 3.65 and 5.65 s in: the fourth tick quits.
  world.advanceTo(start + 19.99);
  EXPECT_FALSE(process->terminated());
  world.advanceTo(start + 20);
  EXPECT_TRUE(process->terminated());
  EXPECT_EQ(process->terminatedAt(), start + 20);
}

}  // namespace
}  // namespace qm::test
