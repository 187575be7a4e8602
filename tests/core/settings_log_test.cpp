// Settings load, the application log and the launch sequence.
#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "test_support.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;
using sim::PreferenceValue;

constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();

const std::string kSecondsKey(kIntervalDefaultsKey);
const std::string kMinutesKey(kLegacyIntervalMinutesDefaultsKey);
const std::string kEnabledKey(kEnabledDefaultsKey);

// ---------------------------------------------------------------------------
// Settings load

struct IntervalCase {
  const char* what;
  std::optional<PreferenceValue> storedSeconds;
  std::optional<PreferenceValue> storedMinutes;
  std::int64_t expectedInterval;
  // What the seconds key holds afterwards. A text stored there and still a
  // text afterwards proves that nothing was written.
  PreferenceValue secondsAfter;
};

class SettingsTest : public CoreTest {
 protected:
  void setPreference(const std::string& key, std::int64_t value) {
    world.setIntegerPreference(key, value);
  }
  void setPreference(const std::string& key, double value) {
    world.setDoublePreference(key, value);
  }
  void setPreference(const std::string& key, bool value) { world.setBoolPreference(key, value); }
  void setPreference(const std::string& key, const std::string& value) {
    world.setStringPreference(key, value);
  }
};

TEST_F(SettingsTest, IntervalComesFromSecondsThenLegacyMinutesThenDefault) {
  const std::vector<IntervalCase> cases = {
      {"nothing stored", std::nullopt, std::nullopt, 600, std::int64_t{600}},
      {"legacy 5 minutes", std::nullopt, std::int64_t{5}, 300, std::int64_t{300}},
      {"both zero", std::int64_t{0}, std::int64_t{0}, 600, std::int64_t{600}},
      {"seconds win over legacy", std::string("1800"), std::int64_t{5}, 1800, std::string("1800")},
      {"not one of the choices", std::string("45"), std::nullopt, 45, std::string("45")},
      {"non-numeric seconds", std::string("soon"), std::nullopt, 600, std::int64_t{600}},
      {"non-numeric seconds, legacy 3", std::string("soon"), std::int64_t{3}, 180,
       std::int64_t{180}},
      {"negative seconds", std::int64_t{-30}, std::nullopt, 600, std::int64_t{600}},
      {"negative seconds, legacy 2", std::int64_t{-30}, std::int64_t{2}, 120, std::int64_t{120}},
      // A negative interval would make a timer that never pauses.
      {"negative legacy minutes", std::nullopt, std::int64_t{-5}, 600, std::int64_t{600}},
      {"negative legacy minutes as text", std::int64_t{0}, std::string("-1"), 600,
       std::int64_t{600}},
      {"huge legacy minutes", std::nullopt, kInt64Max, (kInt64Max / 60) * 60,
       (kInt64Max / 60) * 60},
      {"legacy minutes beyond 64 bits", std::nullopt, std::string("99999999999999999999999"),
       (kInt64Max / 60) * 60, (kInt64Max / 60) * 60},
      {"huge seconds", std::string("9223372036854775807"), std::int64_t{5}, kInt64Max,
       std::string("9223372036854775807")},
  };

  for (const IntervalCase& c : cases) {
    SCOPED_TRACE(c.what);
    world.removePreference(kSecondsKey);
    world.removePreference(kMinutesKey);
    if (c.storedSeconds) {
      std::visit([&](const auto& v) { setPreference(kSecondsKey, v); }, *c.storedSeconds);
    }
    if (c.storedMinutes) {
      std::visit([&](const auto& v) { setPreference(kMinutesKey, v); }, *c.storedMinutes);
    }
    delegate.reset();

    AppDelegate& delegateRef = app();

    EXPECT_EQ(delegateRef.intervalSeconds(), c.expectedInterval);
    EXPECT_EQ(delegateRef.autosaveIntervalSeconds(), static_cast<double>(c.expectedInterval));
    ASSERT_NE(world.preference(kSecondsKey), nullptr);
    EXPECT_EQ(*world.preference(kSecondsKey), c.secondsAfter);
    // The legacy key is only ever read.
    if (c.storedMinutes) {
      ASSERT_NE(world.preference(kMinutesKey), nullptr);
      EXPECT_EQ(*world.preference(kMinutesKey), *c.storedMinutes);
    } else {
      EXPECT_EQ(world.preference(kMinutesKey), nullptr);
    }
  }
}

TEST_F(SettingsTest, AutosaveSwitchDefaultsToOnWithoutWritingIt) {
  EXPECT_TRUE(app().autosaveEnabled());
  EXPECT_EQ(world.preference(kEnabledKey), nullptr);

  world.setBoolPreference(kEnabledKey, false);
  delegate.reset();
  EXPECT_FALSE(app().autosaveEnabled());
  EXPECT_EQ(world.boolPreference(kEnabledKey), false);

  // Removing the key turns autosave on again at the next start.
  world.removePreference(kEnabledKey);
  delegate.reset();
  EXPECT_TRUE(app().autosaveEnabled());
  EXPECT_EQ(world.preference(kEnabledKey), nullptr);
}

TEST_F(SettingsTest, LoadingTouchesNothingButThePreferences) {
  app();
  EXPECT_FALSE(fs::exists(logPath()));
  EXPECT_EQ(world.pendingCallCount(), 0u);
  EXPECT_EQ(world.trustCheckCount(), 0u);
  EXPECT_EQ(process->statusItemCount(), 0);
  EXPECT_TRUE(app().intervalItems().empty());
}

// ---------------------------------------------------------------------------
// Application log

class LogTest : public CoreTest {};

TEST_F(LogTest, FirstLineCreatesTheFileAndLaterLinesAreAppended) {
  ASSERT_FALSE(fs::exists(logPath()));
  world.advanceBy(303);
  app().logMessage("first");
  EXPECT_EQ(readFile(logPath()), "[2025-03-02 09:05:03] first\n");

  world.advanceBy(0.999);
  app().logMessage("second");
  EXPECT_EQ(readFile(logPath()),
            "[2025-03-02 09:05:03] first\n"
            "[2025-03-02 09:05:03] second\n");

  // The file is opened afresh for every line, so lines written by someone
  // else in between are kept.
  std::ofstream(logPath(), std::ios::app | std::ios::binary) << "foreign\n";
  world.advanceBy(3600 * 15);
  app().logMessage("third");
  EXPECT_EQ(splitLines(readFile(logPath())),
            (std::vector<std::string>{"[2025-03-02 09:05:03] first", "[2025-03-02 09:05:03] second",
                                      "foreign", "[2025-03-03 00:05:03] third"}));
}

TEST_F(LogTest, FormatCharactersInMessagesAreWrittenLiterally) {
  app().logMessage("%@");
  app().logMessage("%s %d");
  app().logMessage("100% done %n%n%n");
  EXPECT_EQ(logMessages(), (std::vector<std::string>{"%@", "%s %d", "100% done %n%n%n"}));
  EXPECT_EQ(readFile(logPath()),
            "[2025-03-02 09:00:00] %@\n"
            "[2025-03-02 09:00:00] %s %d\n"
            "[2025-03-02 09:00:00] 100% done %n%n%n\n");
}

TEST_F(LogTest, MissingLogsFolderLosesTheLineAndCreatesNothing) {
  fs::remove(logsDirectory());
  app().logMessage("lost");
  EXPECT_FALSE(fs::exists(logsDirectory()));
  EXPECT_TRUE(fs::is_empty(home() + "/Library"));

  // Nor is Library created when it is missing too.
  fs::remove_all(home() + "/Library");
  app().logMessage("lost again");
  EXPECT_TRUE(fs::is_empty(home()));
}

TEST_F(LogTest, UnwritableLogPathLosesTheLineQuietly) {
  // Something exists at the path but cannot be opened as a file.
  fs::create_directory(logPath());
  app().logMessage("lost");
  EXPECT_TRUE(fs::is_directory(logPath()));
  EXPECT_TRUE(fs::is_empty(logPath()));
  // Nothing else is left beside it.
  EXPECT_EQ(std::distance(fs::directory_iterator(logsDirectory()), fs::directory_iterator()), 1);
}

TEST_F(LogTest, MultibyteMessagesAreWrittenAsUtf8) {
  app().logMessage("✓ Saved · Нужен");
  EXPECT_EQ(readFile(logPath()), "[2025-03-02 09:00:00] ✓ Saved · Нужен\n");
}

// ---------------------------------------------------------------------------
// Launch sequence

class LaunchSequenceTest : public CoreTest {
 protected:
  std::string statusLine() const {
    auto item = process->statusItem();
    return item && item->menu() && item->menu()->items().size() > 1
               ? item->menu()->items()[1]->title()
               : std::string();
  }
};

TEST_F(LaunchSequenceTest, StepsRunInOrderWithLiveRunningAndPermissionGranted) {
  installBundle();
  const int live = startLive();
  world.setTrusted(true);
  const Date start = world.now();

  AppDelegate& delegateRef = app();
  int launchctlRuns = 0;
  world.setObserver([&](const sim::Event& event) {
    if (event.kind != sim::Event::Kind::taskRun) {
      return;
    }
    ++launchctlRuns;
    // The launch agent comes first: nothing of the later steps exists yet.
    EXPECT_EQ(process->statusItem(), nullptr);
    EXPECT_FALSE(delegateRef.hasSeenAbletonRunning());
    EXPECT_FALSE(delegateRef.autosaveTimer());
    EXPECT_FALSE(delegateRef.liveMonitorTimer());
    EXPECT_FALSE(fs::exists(logPath()));
  });
  launch();
  world.setObserver({});

  ASSERT_EQ(launchctlRuns, 2);
  EXPECT_EQ(world.taskRuns()[0].arguments.front(), "bootout");
  EXPECT_EQ(world.taskRuns()[1].arguments.front(), "bootstrap");

  ASSERT_NE(process->statusItem(), nullptr);
  EXPECT_TRUE(process->statusItem()->menu());
  EXPECT_TRUE(delegateRef.hasSeenAbletonRunning());
  EXPECT_EQ(logMessages(), std::vector<std::string>{"Autosave timer started: every 10 min."});
  ASSERT_TRUE(delegateRef.autosaveTimer());
  EXPECT_EQ(delegateRef.nextAutosaveAt(), start + 600);
  ASSERT_TRUE(delegateRef.liveMonitorTimer());
  // The refresh came after the schedule was set: it shows the countdown.
  EXPECT_EQ(statusLine(), "✓ Next save in 10:00");
  EXPECT_EQ(process->statusItem()->toolTip(),
            "Ableton connected | Accessibility granted | Autosave on | Next save 10:00");
  EXPECT_TRUE(world.alerts().empty());

  // The monitor's first tick is one period later, not at once: Live quits
  // right after the launch and the monitor notices at 2.0 s exactly.
  world.after(0.1, [&] { world.quitApplication(live); });
  world.advanceTo(start + 1.999);
  EXPECT_FALSE(delegateRef.abletonStoppedAt());
  world.advanceTo(start + 2.0);
  EXPECT_EQ(delegateRef.abletonStoppedAt(), start + 2.0);
  // Granted at 1.0 s: the first-launch request does nothing.
  EXPECT_EQ(world.promptRequestCount(), 0);
  EXPECT_TRUE(world.alerts().empty());
  EXPECT_EQ(world.preference(std::string(kAccessibilityPromptShownDefaultsKey)), nullptr);
}

TEST_F(LaunchSequenceTest, WithoutLiveOrPermissionTheRequestComesOneSecondLater) {
  // No watcher beside the executable: launchctl never runs.
  const Date start = world.now();
  launch();

  EXPECT_TRUE(world.taskRuns().empty());
  EXPECT_FALSE(fs::exists(home() + "/Library/LaunchAgents"));
  EXPECT_FALSE(app().hasSeenAbletonRunning());
  EXPECT_EQ(logMessages(),
            std::vector<std::string>{"Autosave timer not started: app is disabled, Ableton is "
                                     "missing, or Accessibility is missing."});
  EXPECT_FALSE(app().autosaveTimer());
  EXPECT_TRUE(app().liveMonitorTimer());
  EXPECT_EQ(statusLine(), "◐ Waiting for Ableton Live");

  world.advanceTo(start + 0.999);
  EXPECT_TRUE(world.alerts().empty());
  world.advanceTo(start + 1.0);
  ASSERT_EQ(world.alerts().size(), 1u);
  EXPECT_EQ(world.alerts()[0].shownAt, start + 1.0);
}

TEST_F(LaunchSequenceTest, FirstLaunchRequestWaitsWhileAnotherAlertIsOpen) {
  // A delayed perform runs in the default mode only: an alert that is open
  // from 0.5 s to 1.7 s holds the request back until it closes.
  const Date start = world.now();
  launch();
  world.at(start + 0.5, [&] {
    world.setNextAlertResponse(0, 1.2);
    process->run([&] { process->platform().alerts.runModal(AlertContent{"other", "", {"OK"}}); });
  });
  world.advanceTo(start + 5);

  ASSERT_EQ(world.alerts().size(), 2u);
  EXPECT_EQ(world.alerts()[0].content.messageText, "other");
  EXPECT_EQ(world.alerts()[1].content.messageText, "Нужен Универсальный доступ");
  EXPECT_DOUBLE_EQ(world.alerts()[1].shownAt, start + 1.7);
}

}  // namespace
}  // namespace qm::test
