// A laptop's day: the system sleeps and wakes, and its wall clock is set,
// while durations keep to the monotonic clock.
#include <string>

#include "menu_support.h"

namespace qm::test {
namespace {

class SleepAndClockTest : public LiveRunningTest {
 protected:
  void sleepFor(double seconds) {
    runOnMain([this] { app().systemWillSleep(); });
    world.sleepSystem(seconds);
    runOnMain([this] { app().systemDidWake(); });
  }
  void setClockBy(double seconds) {
    world.jumpWallClock(seconds);
    runOnMain([this] { app().systemClockChanged(); });
  }
};

TEST_F(SleepAndClockTest, ASaveDueDuringSleepRunsOnceAfterTheWakeAndTheUsersPause) {
  setIntervalPreference(180);
  const Date start = launchNow();
  world.advanceTo(start + 100);
  sleepFor(500);
  EXPECT_EQ(countMessages("System woke: the save that fell due meanwhile runs after your pause."),
            1u);
  EXPECT_EQ(statusLine(), "◐ Waiting for a pause in typing");

  // The wake is a key press: two seconds later the one save goes.
  world.advanceTo(start + 601.9);
  EXPECT_EQ(saves(), 0);
  world.advanceTo(start + 603);
  EXPECT_EQ(saves(), 1);
  EXPECT_EQ(countMessages("System going to sleep: no saves until it wakes."), 1u);
  // The next one a full interval after it.
  world.advanceTo(start + 603 + 179);
  EXPECT_EQ(saves(), 1);
  world.advanceTo(start + 603 + 181);
  EXPECT_EQ(saves(), 2);

  // A short sleep with nothing due says so, and the countdown is true at once.
  world.advanceTo(start + 800);
  sleepFor(30);
  EXPECT_EQ(logMessages().back(), "System woke.");
  EXPECT_EQ(statusLine(), "✓ Autosaved at 09:13 · next 02:14");
}

TEST_F(SleepAndClockTest, WakingToALockedScreenWaitsForTheUnlock) {
  setIntervalPreference(180);
  const Date start = launchNow();
  world.advanceTo(start + 100);
  world.setSessionLocked(true);
  runOnMain([this] { app().sessionLockChanged(true); });
  sleepFor(500);
  world.advanceTo(start + 700);
  EXPECT_EQ(saves(), 0);
  world.setSessionLocked(false);
  runOnMain([this] { app().sessionLockChanged(false); });
  EXPECT_EQ(countMessages("Session unlocked: the save that fell due meanwhile runs now."), 1u);
  world.advanceTo(start + 705);
  EXPECT_EQ(saves(), 1);
}

TEST_F(SleepAndClockTest, SettingTheClockMovesNeitherTheCountdownNorTheQuitAfterLive) {
  const Date start = launchNow();
  world.advanceTo(start + 60);
  setClockBy(3600);
  EXPECT_EQ(logMessages().back(), "System clock changed by +3600 s.");
  world.advanceTo(start + 61);
  EXPECT_EQ(statusLine(), "✓ Next save in 08:59");
  setClockBy(-7200.7);
  EXPECT_EQ(logMessages().back(), "System clock changed by -7200 s.");
  world.advanceTo(start + 62);
  EXPECT_EQ(statusLine(), "✓ Next save in 08:58");
  // Times of day written now use the new clock.
  ASSERT_EQ(process->click({"Save Now"}), sim::ClickResult::ok);
  EXPECT_EQ(app().lastStatusMessage(), "Saved at 08:01");

  // Set back by an hour while Live is gone: the quit still comes 6 s after
  // the tick that saw Live gone.
  world.quitApplication(livePid);
  world.advanceTo(start + 65);
  ASSERT_TRUE(app().abletonStoppedAt());
  setClockBy(-3600);
  world.advanceTo(start + 69.9);
  EXPECT_FALSE(process->terminated());
  world.advanceTo(start + 70);
  EXPECT_TRUE(process->terminated());
}

TEST_F(SleepAndClockTest, TimeAsleepDoesNotCountTowardsWorkAtRisk) {
  world.setLiveSet("Song");
  world.liveEdits();
  world.setLiveDeaf(true);
  const Date start = launchNow();
  // Unsaved since +600; an hour asleep in between does not make it urgent.
  world.advanceTo(start + 700);
  sleepFor(3600);
  world.advanceTo(start + 3600 + 1790);
  EXPECT_TRUE(world.notifications().empty());
  world.advanceTo(start + 3600 + 1900);
  ASSERT_EQ(world.notifications().size(), 1u);
  EXPECT_EQ(world.notifications()[0].title, "Quillmark has not saved “Song” for 20 minutes");
}

}  // namespace
}  // namespace qm::test
