// The autosave scheduler: when it starts and stops, when saves happen, the
// countdown and the interval texts, and the two menu actions that change the
// schedule.
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "menu_support.h"

namespace qm::test {
namespace {

// Both sleeps of a successful save: activation settle and focus restore.
constexpr double kSaveWaits = 0.65;
// Sums of wall-clock dates and fractions of a second are not exact.
constexpr double kClockSlack = 1e-6;

class SchedulerTest : public MenuTest {
 protected:
  int saves() const { return completedSaveSequences(world.keyEvents(), livePid); }
  std::string liveBundle() const { return std::string(kAbletonBundleIdentifier); }
};

TEST_F(SchedulerTest, FirstSaveComesOneFullIntervalAfterLaunchAndEachFiringSavesOnce) {
  setIntervalPreference(10);
  const Date start = launchWithLiveTrusted();

  EXPECT_EQ(countMessages("Autosave timer started: every 10 sec."), 1u);
  ASSERT_TRUE(app().nextAutosaveAt());
  EXPECT_EQ(*app().nextAutosaveAt(), start + 10);
  ASSERT_TRUE(app().autosaveTimer());
  ASSERT_TRUE(app().countdownTimer());
  EXPECT_EQ(statusLine(), "✓ Next save in 00:10");

  // Never at once, and not a moment early.
  world.advanceTo(start + 9.99);
  EXPECT_EQ(saves(), 0);
  EXPECT_EQ(countMessages(kFiredLine), 0u);
  EXPECT_EQ(statusLine(), "✓ Next save in 00:01");

  world.advanceTo(start + 10);
  EXPECT_EQ(saves(), 1);
  ASSERT_EQ(world.keyEvents().size(), 4u);
  EXPECT_NEAR(world.keyEvents()[0].time, start + 10.5, kClockSlack);
  const std::vector<std::string> log = logMessages();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], kFiredLine);
  EXPECT_EQ(log.back(), "Autosave command sent successfully.");
  EXPECT_EQ(app().lastStatusMessage(), "Autosaved at 09:00");
  // Counted from the end of the attempt, not from the timer's own grid.
  ASSERT_TRUE(app().nextAutosaveAt());
  EXPECT_NEAR(*app().nextAutosaveAt(), start + 10 + kSaveWaits + 10, kClockSlack);

  world.advanceTo(start + 11);
  EXPECT_EQ(statusLine(), "✓ Autosaved at 09:00 · next 00:10");

  // The timer itself stays on its grid: the second save starts at +20.
  world.advanceTo(start + 20);
  EXPECT_EQ(saves(), 2);
  EXPECT_NEAR(world.keyEvents()[4].time, start + 20.5, kClockSlack);
  EXPECT_NEAR(*app().nextAutosaveAt(), start + 20 + kSaveWaits + 10, kClockSlack);
  EXPECT_EQ(countMessages(kFiredLine), 2u);
}

TEST_F(SchedulerTest, EachMissingConditionKeepsTheSchedulerStopped) {
  markAccessibilityAsked();
  // Live absent.
  world.setTrusted(true);
  const Date start = launchNow();
  EXPECT_EQ(logMessages(), std::vector<std::string>{kNotStartedLine});
  EXPECT_FALSE(app().autosaveTimer());
  EXPECT_FALSE(app().nextAutosaveAt());
  EXPECT_FALSE(app().countdownTimer());

  // Live present, permission missing.
  livePid = startLive();
  world.setTrusted(false);
  runOnMain([&] { app().configureAutosaveTimer(); });
  EXPECT_EQ(countMessages(kNotStartedLine), 2u);
  EXPECT_FALSE(app().autosaveTimer());

  // Live and permission present, autosave paused.
  world.setTrusted(true);
  app().setAutosaveEnabled(false);
  runOnMain([&] { app().configureAutosaveTimer(); });
  EXPECT_EQ(countMessages(kNotStartedLine), 3u);
  EXPECT_FALSE(app().autosaveTimer());
  EXPECT_FALSE(app().nextAutosaveAt());
  EXPECT_FALSE(app().countdownTimer());

  world.advanceTo(start + 3600);
  EXPECT_EQ(saves(), 0);
}

TEST_F(SchedulerTest, ResumingWithoutLiveWaitsForTheMonitorToFindLive) {
  markAccessibilityAsked();
  setAutosavePreference(false);
  world.setTrusted(true);
  const Date start = launchNow();

  world.advanceTo(start + 0.5);
  ASSERT_EQ(process->click({"Start Autosave"}), sim::ClickResult::ok);
  EXPECT_TRUE(app().autosaveEnabled());
  EXPECT_EQ(world.boolPreference(std::string(kEnabledDefaultsKey)), true);
  EXPECT_EQ(logMessages().back(), kNotStartedLine);
  EXPECT_FALSE(app().autosaveTimer());
  EXPECT_FALSE(app().nextAutosaveAt());

  // Live comes up between monitor ticks; the tick at +4 starts the schedule.
  world.advanceTo(start + 2.5);
  livePid = startLive();
  world.advanceTo(start + 3.99);
  EXPECT_FALSE(app().autosaveTimer());
  world.advanceTo(start + 4);
  EXPECT_EQ(logMessages().back(), "Autosave timer started: every 10 min.");
  ASSERT_TRUE(app().nextAutosaveAt());
  EXPECT_EQ(*app().nextAutosaveAt(), start + 4 + 600);
  EXPECT_TRUE(app().countdownTimer());

  world.advanceTo(start + 603.9);
  EXPECT_EQ(saves(), 0);
  world.advanceTo(start + 604);
  EXPECT_EQ(saves(), 1);
}

TEST_F(SchedulerTest, ChoosingTheIntervalInForceRestartsFromTheFullInterval) {
  setIntervalPreference(10);
  const Date start = launchWithLiveTrusted();
  const TimerRef countdown = app().countdownTimer();

  world.advanceTo(start + 4);
  EXPECT_EQ(statusLine(), "✓ Next save in 00:06");
  ASSERT_EQ(process->click({"Interval", "10 seconds (test)"}), sim::ClickResult::ok);
  ASSERT_TRUE(app().nextAutosaveAt());
  EXPECT_EQ(*app().nextAutosaveAt(), start + 14);
  EXPECT_EQ(statusLine(), "✓ Next save in 00:10");
  EXPECT_EQ(countMessages("Autosave timer started: every 10 sec."), 2u);
  // A running countdown goes on; only the autosave timer is made anew.
  EXPECT_EQ(app().countdownTimer(), countdown);

  world.advanceTo(start + 13.9);
  EXPECT_EQ(saves(), 0);
  world.advanceTo(start + 14);
  EXPECT_EQ(saves(), 1);
  EXPECT_NEAR(world.keyEvents()[0].time, start + 14.5, kClockSlack);
}

TEST_F(SchedulerTest, PausingClearsTheScheduleAndResumingRestartsIt) {
  const Date start = launchWithLiveTrusted();
  world.advanceTo(start + 1.2);
  ASSERT_EQ(process->click({"Save Now"}), sim::ClickResult::ok);
  EXPECT_EQ(app().lastStatusMessage(), "Saved at 09:00");
  EXPECT_EQ(countMessages("Autosave timer started: every 10 min."), 2u);

  world.advanceTo(start + 2.5);
  ASSERT_EQ(process->click({"Pause Autosave"}), sim::ClickResult::ok);
  EXPECT_FALSE(app().autosaveEnabled());
  EXPECT_EQ(world.boolPreference(std::string(kEnabledDefaultsKey)), false);
  EXPECT_EQ(app().lastStatusMessage(), "");
  EXPECT_EQ(logMessages().back(), kNotStartedLine);
  EXPECT_FALSE(app().autosaveTimer());
  EXPECT_FALSE(app().nextAutosaveAt());
  EXPECT_FALSE(app().countdownTimer());
  // Only the Live monitor is left waiting on the run loop, besides the
  // 10 s look for a dialog that Live may open in answer to the manual save.
  EXPECT_EQ(world.pendingCallCount(), 2u);
  world.advanceTo(start + 12);
  EXPECT_EQ(world.pendingCallCount(), 1u);
  EXPECT_EQ(statusLine(), "✕ Autosave paused");
  EXPECT_EQ(toggleTitle(), "Start Autosave");

  // The monitor does not restart a paused schedule.
  world.advanceTo(start + 1300);
  EXPECT_EQ(saves(), 1);
  EXPECT_FALSE(app().autosaveTimer());

  ASSERT_EQ(process->click({"Start Autosave"}), sim::ClickResult::ok);
  EXPECT_TRUE(app().autosaveEnabled());
  EXPECT_EQ(world.boolPreference(std::string(kEnabledDefaultsKey)), true);
  EXPECT_EQ(logMessages().back(), "Autosave timer started: every 10 min.");
  ASSERT_TRUE(app().nextAutosaveAt());
  EXPECT_EQ(*app().nextAutosaveAt(), start + 1300 + 600);
  EXPECT_TRUE(app().countdownTimer());
  EXPECT_EQ(statusLine(), "✓ Next save in 10:00");
  EXPECT_EQ(toggleTitle(), "Pause Autosave");
}

TEST_F(SchedulerTest, SelectingAnIntervalStoresItDropsTheLegacyKeyAndClearsTheMessage) {
  world.setIntegerPreference(std::string(kLegacyIntervalMinutesDefaultsKey), 5);
  const Date start = launchWithLiveTrusted();
  ASSERT_EQ(app().intervalSeconds(), 300);
  EXPECT_EQ(checkedIntervals(), std::vector<std::int64_t>{300});

  world.advanceTo(start + 1.5);
  ASSERT_EQ(process->click({"Save Now"}), sim::ClickResult::ok);
  ASSERT_FALSE(app().lastStatusMessage().empty());

  ASSERT_EQ(process->click({"Interval", "15 minutes"}), sim::ClickResult::ok);
  EXPECT_EQ(app().intervalSeconds(), 900);
  EXPECT_EQ(world.integerPreference(std::string(kIntervalDefaultsKey)), 900);
  EXPECT_EQ(world.preference(std::string(kLegacyIntervalMinutesDefaultsKey)), nullptr);
  EXPECT_EQ(app().lastStatusMessage(), "");
  EXPECT_EQ(logMessages().back(), "Autosave timer started: every 15 min.");
  ASSERT_TRUE(app().nextAutosaveAt());
  EXPECT_NEAR(*app().nextAutosaveAt(), world.now() + 900, kClockSlack);
  EXPECT_EQ(checkedIntervals(), std::vector<std::int64_t>{900});
  EXPECT_EQ(statusLine(), "✓ Next save in 15:00");

  // Without the permission the choice is still stored, and the schedule stops.
  world.setTrusted(false);
  ASSERT_EQ(process->click({"Interval", "3 minutes"}), sim::ClickResult::ok);
  EXPECT_EQ(world.integerPreference(std::string(kIntervalDefaultsKey)), 180);
  EXPECT_EQ(logMessages().back(), kNotStartedLine);
  EXPECT_FALSE(app().autosaveTimer());
  EXPECT_FALSE(app().nextAutosaveAt());
  EXPECT_FALSE(app().countdownTimer());
  EXPECT_EQ(checkedIntervals(), std::vector<std::int64_t>{180});
}

TEST_F(SchedulerTest, FailedAutomaticSaveKeepsTheTimerAndTheNextFiringTriesAgain) {
  setIntervalPreference(10);
  const Date start = launchWithLiveTrusted();
  const TimerRef timer = app().autosaveTimer();

  world.failNextEventSource();
  world.advanceTo(start + 10);
  EXPECT_EQ(saves(), 0);
  EXPECT_TRUE(world.keyEvents().empty());
  EXPECT_EQ(app().lastStatusMessage(), "Could not create keyboard event source");
  EXPECT_EQ(logMessages().back(), "Autosave failed: Could not create keyboard event source");
  EXPECT_EQ(app().autosaveTimer(), timer);
  EXPECT_TRUE(timer->isValid());
  // A failure after activation waits only the first 0.5 s.
  ASSERT_TRUE(app().nextAutosaveAt());
  EXPECT_NEAR(*app().nextAutosaveAt(), start + 10.5 + 10, kClockSlack);

  world.advanceTo(start + 11);
  EXPECT_EQ(statusLine(), "✕ Could not create keyboard event source · next 00:10");

  world.advanceTo(start + 20);
  EXPECT_EQ(saves(), 1);
  EXPECT_NEAR(world.keyEvents()[0].time, start + 20.5, kClockSlack);
  EXPECT_EQ(app().lastStatusMessage(), "Autosaved at 09:00");
}

TEST_F(SchedulerTest, FiringAfterLiveQuitLeavesTheNextSaveTimeForTheMonitorToClear) {
  setIntervalPreference(10);
  const Date start = launchWithLiveTrusted();
  // Moves the autosave grid off the monitor's even seconds.
  world.advanceTo(start + 1);
  ASSERT_EQ(process->click({"Interval", "10 seconds (test)"}), sim::ClickResult::ok);

  world.advanceTo(start + 10.5);
  world.quitApplications(liveBundle());
  world.advanceTo(start + 11.5);
  const std::vector<std::string> log = logMessages();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], kFiredLine);
  EXPECT_EQ(log.back(), "Autosave failed: Ableton Live is not running");
  ASSERT_TRUE(app().nextAutosaveAt());
  EXPECT_EQ(*app().nextAutosaveAt(), start + 11);
  EXPECT_TRUE(app().autosaveTimer());

  world.advanceTo(start + 12);
  EXPECT_FALSE(app().autosaveTimer());
  EXPECT_FALSE(app().nextAutosaveAt());
  EXPECT_FALSE(app().countdownTimer());
  EXPECT_EQ(saves(), 0);
}

TEST_F(SchedulerTest, CountdownStopsItselfWithoutANextSaveAndTheMonitorRestartsIt) {
  const Date start = launchWithLiveTrusted();
  ASSERT_TRUE(app().countdownTimer());
  const TimerRef countdown = app().countdownTimer();
  const std::string shown = statusLine();

  world.advanceTo(start + 0.5);
  app().setNextAutosaveAt(std::nullopt);
  app().setLastStatusMessage("set behind the menu's back");
  world.advanceTo(start + 1.5);
  EXPECT_FALSE(app().countdownTimer());
  EXPECT_FALSE(countdown->isValid());
  // That tick did not refresh.
  EXPECT_EQ(statusLine(), shown);

  // With the schedule still running, the monitor brings the countdown back.
  app().setNextAutosaveAt(start + 600);
  world.advanceTo(start + 2);
  ASSERT_TRUE(app().countdownTimer());
  EXPECT_TRUE(app().countdownTimer()->isValid());
  world.advanceTo(start + 3);
  EXPECT_EQ(statusLine(), "✓ set behind the menu's back · next 09:57");
}

TEST_F(SchedulerTest, CountdownTextRoundsUpToWholeSeconds) {
  const Date now = world.now();
  EXPECT_EQ(app().formattedCountdownText(), "00:00");

  struct Case {
    double secondsLeft;
    const char* text;
  };
  for (const Case& c : std::vector<Case>{{-5.0, "00:00"},
                                         {0.0, "00:00"},
                                         {0.2, "00:01"},
                                         {59.0, "00:59"},
                                         {59.5, "01:00"},
                                         {600.0, "10:00"},
                                         {1800.0, "30:00"},
                                         {7200.0, "120:00"}}) {
    app().setNextAutosaveAt(now + c.secondsLeft);
    EXPECT_EQ(app().formattedCountdownText(), c.text) << c.secondsLeft << " s left";
    EXPECT_GE(app().secondsUntilNextAutosave(), 0.0);
  }
  app().setNextAutosaveAt(std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(app().secondsUntilNextAutosave(), 0.0);
  EXPECT_EQ(app().formattedCountdownText(), "00:00");
}

// "minutes:seconds" with the minutes as a number; nothing when malformed.
std::optional<long double> minutesOf(const std::string& text) {
  const auto colon = text.find(':');
  if (colon == std::string::npos || colon < 2 || text.size() != colon + 3) {
    return std::nullopt;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i != colon && (text[i] < '0' || text[i] > '9')) {
      return std::nullopt;
    }
  }
  if (text[colon + 1] > '5') {
    return std::nullopt;
  }
  return std::stold(text.substr(0, colon));
}

TEST_F(SchedulerTest, HugeIntervalKeepsTheCountdownWellFormedAndNearTheTruth) {
  constexpr std::int64_t kLargest = std::numeric_limits<std::int64_t>::max();
  setIntervalPreference(kLargest);
  const Date start = launchWithLiveTrusted();
  ASSERT_EQ(app().intervalSeconds(), kLargest);
  EXPECT_EQ(app().intervalStatusText(), "153722867280912930 min");
  EXPECT_EQ(autosaveLine(), "✓ Autosave on · every 153722867280912930 min");
  EXPECT_TRUE(checkedIntervals().empty());

  world.advanceTo(start + 30);
  EXPECT_FALSE(process->terminated());
  const std::string text = app().formattedCountdownText();
  const auto minutes = minutesOf(text);
  ASSERT_TRUE(minutes) << text;
  EXPECT_NEAR(*minutes / (static_cast<long double>(kLargest) / 60), 1.0L, 1e-12L) << text;
  EXPECT_EQ(statusLine(), "✓ Next save in " + text);

  // Just below where a 64-bit count ends, the text still follows the interval.
  constexpr std::int64_t kNearLargest = 9'210'000'000'000'000'000;
  runOnMain([&] {
    app().setIntervalSeconds(kNearLargest);
    app().configureAutosaveTimer();
    app().refreshMenu();
  });
  const std::string nearText = app().formattedCountdownText();
  const auto nearMinutes = minutesOf(nearText);
  ASSERT_TRUE(nearMinutes) << nearText;
  EXPECT_NEAR(*nearMinutes / (static_cast<long double>(kNearLargest) / 60), 1.0L, 1e-12L)
      << nearText;
  world.advanceTo(start + 60);
  EXPECT_EQ(saves(), 0);
}

TEST_F(SchedulerTest, IntervalTitlesAndShortTexts) {
  struct Case {
    std::int64_t seconds;
    const char* title;
    const char* shortText;
  };
  for (const Case& c : std::vector<Case>{{10, "10 seconds (test)", "10 sec"},
                                         {180, "3 minutes", "3 min"},
                                         {300, "5 minutes", "5 min"},
                                         {600, "10 minutes", "10 min"},
                                         {900, "15 minutes", "15 min"},
                                         {1800, "30 minutes", "30 min"},
                                         {45, "45 seconds", "45 sec"},
                                         {59, "59 seconds", "59 sec"},
                                         {60, "1 minutes", "1 min"},
                                         {90, "1 minutes", "1 min"},
                                         {119, "1 minutes", "1 min"}}) {
    EXPECT_EQ(app().intervalMenuTitleForSeconds(c.seconds), c.title);
    app().setIntervalSeconds(c.seconds);
    EXPECT_EQ(app().intervalStatusText(), c.shortText);
  }
}

TEST_F(SchedulerTest, ADayWithLiveSavesOncePerIntervalWithoutDrift) {
  setIntervalPreference(10);
  const Date start = launchWithLiveTrusted();
  constexpr int kFirings = 24 * 60 * 60 / 10;

  for (int n = 1; n <= kFirings; ++n) {
    const Date grid = start + 10.0 * n;
    world.advanceTo(grid);
    ASSERT_EQ(saves(), n) << "at firing " << n;
    // The save's first key goes out 0.5 s after its firing on the grid.
    ASSERT_NEAR(world.keyEvents()[4 * (n - 1)].time, grid + 0.5, kClockSlack);
    ASSERT_TRUE(app().nextAutosaveAt());
    ASSERT_LE(*app().nextAutosaveAt(), grid + 10 + kSaveWaits + kClockSlack);
    ASSERT_GE(*app().nextAutosaveAt(), grid + 10);
  }
  EXPECT_EQ(world.keyEvents().size(), 4u * kFirings);
  EXPECT_EQ(countMessages(kFiredLine), static_cast<std::size_t>(kFirings));
  EXPECT_EQ(countMessages("Autosave command sent successfully."),
            static_cast<std::size_t>(kFirings));
  EXPECT_FALSE(process->terminated());
  world.advanceTo(start + 10.0 * kFirings + 1);
  EXPECT_EQ(statusLine(), "✓ Autosaved at 09:00 · next 00:10");
}

}  // namespace
}  // namespace qm::test
