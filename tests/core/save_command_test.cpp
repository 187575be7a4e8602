// Save command delivery: what a save activates, posts and restores, and
// what it reports, on every path.
#include <algorithm>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "test_support.h"

namespace qm::test {
namespace {

constexpr std::uint64_t kCommandOnly = 0x100000;

class SaveCommandTest : public CoreTest {
 protected:
  // Live runs, the permission is granted, and the user works in another
  // application. The launch is at 09:00:00; tests start their save later.
  void SetUp() override {
    live = startLive();
    other = world.startApplication("com.example.editor", "Editor");
    world.setFrontmost(other);
    world.setTrusted(true);
    world.setBoolPreference(std::string(kAccessibilityPromptShownDefaultsKey), true);
  }

  void launchAndWait(double seconds) {
    launch();
    world.advanceBy(seconds);
  }

  bool save(std::string* error) {
    bool result = false;
    process->run([&] { result = app().sendSaveCommandReturningError(error); });
    return result;
  }
  void performSave(bool manual) {
    process->run([&] { app().performSaveIsManual(manual); });
  }

  std::string lastLogMessage() const {
    const auto messages = logMessages();
    return messages.empty() ? std::string() : messages.back();
  }

  int live = 0;
  int other = 0;
};

// ---------------------------------------------------------------------------
// Failures

struct FailureCase {
  const char* name;
  std::function<void(sim::World&, int live)> arrange;
  const char* error;
  // Live was brought forward, and the focus given back 0.5 s later.
  bool liveActivated;
};

const FailureCase kFailures[] = {
    {"PermissionMissing", [](sim::World& w, int) { w.setTrusted(false); },
     "Accessibility access is required", false},
    {"LiveNotRunning", [](sim::World& w, int live) { w.quitApplication(live); },
     "Ableton Live is not running", false},
    {"NoEventSource", [](sim::World& w, int) { w.failNextEventSource(); },
     "Could not create keyboard event source", true},
    {"NoKeyEvent1", [](sim::World& w, int) { w.failKeyEventOfNextSave(1); },
     "Could not build Cmd+S events", true},
    {"NoKeyEvent2", [](sim::World& w, int) { w.failKeyEventOfNextSave(2); },
     "Could not build Cmd+S events", true},
    {"NoKeyEvent3", [](sim::World& w, int) { w.failKeyEventOfNextSave(3); },
     "Could not build Cmd+S events", true},
    {"NoKeyEvent4", [](sim::World& w, int) { w.failKeyEventOfNextSave(4); },
     "Could not build Cmd+S events", true},
};

class SaveFailureTest : public SaveCommandTest,
                        public ::testing::WithParamInterface<std::tuple<int, bool>> {};

TEST_P(SaveFailureTest, ReportsItsTextAndRestoresWhatItChanged) {
  const FailureCase& c = kFailures[std::get<0>(GetParam())];
  const bool manual = std::get<1>(GetParam());
  world.setHidden(live, true);
  // Autosave off, so that no timer of the launch gets in the way.
  world.setBoolPreference(std::string(kEnabledDefaultsKey), false);
  launchAndWait(60);

  // The direct call hands the text back, and accepts a null pointer.
  c.arrange(world, live);
  std::string error = "untouched";
  EXPECT_FALSE(save(&error));
  EXPECT_EQ(error, c.error);
  c.arrange(world, live);
  EXPECT_FALSE(save(nullptr));
  world.setHidden(live, true);

  c.arrange(world, live);
  world.advanceBy(1);
  const Date t0 = world.now();
  const std::size_t unhidings = world.unhidings().size();
  const std::size_t activations = world.activations().size();
  const std::size_t sources = world.eventSourceStates().size();
  performSave(manual);

  EXPECT_EQ(app().lastStatusMessage(), c.error);
  EXPECT_EQ(lastLogMessage(),
            (manual ? "Manual save failed: " : "Autosave failed: ") + std::string(c.error));
  // The menu shows the failure at once, behind the cross (without Live it
  // waits for Live).
  if (world.isRunning(live)) {
    EXPECT_EQ(process->statusItem()->menu()->items()[1]->title(), "✕ " + std::string(c.error));
  }
  EXPECT_TRUE(world.keyEvents().empty());
  EXPECT_FALSE(app().autosaveTimer());
  if (c.liveActivated) {
    ASSERT_EQ(world.unhidings().size(), unhidings + 1);
    EXPECT_EQ(world.unhidings().back().pid, live);
    EXPECT_EQ(world.unhidings().back().time, t0);
    ASSERT_EQ(world.activations().size(), activations + 2);
    const sim::Activation& forward = world.activations()[activations];
    const sim::Activation& back = world.activations()[activations + 1];
    EXPECT_EQ(forward.pid, live);
    EXPECT_EQ(forward.options, 1u);
    EXPECT_EQ(forward.time, t0);
    // Given back at once after the 0.5 s wait.
    EXPECT_EQ(back.pid, other);
    EXPECT_EQ(back.options, 0u);
    EXPECT_NEAR(back.time - t0, 0.5, 1e-6);
    EXPECT_NEAR(world.now() - t0, 0.5, 1e-6);
    EXPECT_EQ(world.frontmost(), other);
    EXPECT_EQ(world.eventSourceStates().size(), sources + 1);
  } else {
    EXPECT_EQ(world.unhidings().size(), unhidings);
    EXPECT_EQ(world.activations().size(), activations);
    EXPECT_TRUE(world.isHidden(live));
    EXPECT_EQ(world.eventSourceStates().size(), sources);
    EXPECT_EQ(world.frontmost(), other);
    EXPECT_EQ(world.now(), t0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryRow, SaveFailureTest,
    ::testing::Combine(::testing::Range(0, static_cast<int>(std::size(kFailures))),
                       ::testing::Bool()),
    [](const ::testing::TestParamInfo<std::tuple<int, bool>>& info) {
      return std::string(kFailures[std::get<0>(info.param)].name) +
             (std::get<1>(info.param) ? "Manual" : "Automatic");
    });

TEST_F(SaveCommandTest, FailedManualSaveLeavesTheScheduleAlone) {
  launchAndWait(100);
  const TimerRef timer = app().autosaveTimer();
  ASSERT_TRUE(timer);
  const auto next = app().nextAutosaveAt();
  ASSERT_EQ(next, sim::World::startDate() + 600);

  world.failKeyEventOfNextSave(3);
  performSave(true);
  EXPECT_EQ(app().autosaveTimer(), timer);
  EXPECT_TRUE(timer->isValid());
  EXPECT_EQ(app().nextAutosaveAt(), next);
  EXPECT_EQ(lastLogMessage(), "Manual save failed: Could not build Cmd+S events");

  // The schedule runs on: the automatic save comes at 600 s as planned.
  world.advanceTo(sim::World::startDate() + 600);
  EXPECT_EQ(completedSaveSequences(world.keyEvents(), live), 1);
  EXPECT_EQ(world.keyEvents().front().time, sim::World::startDate() + 600.5);
}

// ---------------------------------------------------------------------------
// Success

TEST_F(SaveCommandTest, SuccessPostsCmdSToLiveAndGivesTheFocusBack) {
  world.setBoolPreference(std::string(kEnabledDefaultsKey), false);
  launchAndWait(7 * 60 + 30);
  world.setHidden(live, true);
  // The source reports Shift and Option held; the events carry Command only.
  world.setSourceModifierFlags(0x20000 | 0x80000);
  std::vector<std::string> order;
  world.setObserver([&](const sim::Event& event) {
    switch (event.kind) {
      case sim::Event::Kind::unhiding:
        order.push_back("unhide " + std::to_string(event.pid));
        break;
      case sim::Event::Kind::activation:
        order.push_back("activate " + std::to_string(event.pid));
        break;
      case sim::Event::Kind::keyEventPosted:
        order.push_back("post " + std::to_string(event.pid));
        break;
      case sim::Event::Kind::hiding:
        order.push_back("hide " + std::to_string(event.pid));
        break;
      default:
        break;
    }
  });
  const Date t0 = world.now();

  std::string error = "untouched";
  ASSERT_TRUE(save(&error));
  world.setObserver({});
  EXPECT_EQ(error, "untouched");

  const std::string livePid = std::to_string(live);
  EXPECT_EQ(order,
            (std::vector<std::string>{"unhide " + livePid, "activate " + livePid, "post " + livePid,
                                      "post " + livePid, "post " + livePid, "post " + livePid,
                                      "activate " + std::to_string(other), "hide " + livePid}));
  EXPECT_EQ(world.eventSourceStates(), std::vector<int>{0});

  const auto& events = world.keyEvents();
  ASSERT_EQ(events.size(), 4u);
  const std::uint16_t codes[] = {55, 1, 1, 55};
  const bool downs[] = {true, true, false, false};
  for (std::size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(events[i].keyCode, codes[i]);
    EXPECT_EQ(events[i].keyDown, downs[i]);
    EXPECT_EQ(events[i].flags, kCommandOnly);
    EXPECT_EQ(events[i].pid, live);
    EXPECT_TRUE(events[i].delivered);
    // No pause between the posts.
    EXPECT_EQ(events[i].time, events[0].time);
  }
  EXPECT_EQ(completedSaveSequences(world.keyEvents(), live), 1);

  const auto& activations = world.activations();
  ASSERT_EQ(activations.size(), 2u);
  EXPECT_EQ(activations[0].time, t0);
  EXPECT_EQ(activations[0].options, 1u);
  // Clock values near 1.7e9 s keep about 0.2 microseconds.
  EXPECT_NEAR(events[0].time - activations[0].time, 0.5, 1e-6);
  EXPECT_NEAR(activations[1].time - events[3].time, 0.15, 1e-6);
  EXPECT_EQ(activations[1].options, 0u);
  EXPECT_EQ(world.frontmost(), other);
  // The user had hidden Live: it is hidden again once the focus is back.
  EXPECT_TRUE(world.isHidden(live));
  EXPECT_EQ(world.unhidings().size(), 1u);
}

TEST_F(SaveCommandTest, NothingIsReactivatedWhenLiveOrNobodyHadTheFocus) {
  launchAndWait(10);
  for (const bool liveFront : {true, false}) {
    SCOPED_TRACE(liveFront ? "Live frontmost" : "no frontmost application");
    world.setFrontmost(liveFront ? std::optional<int>(live) : std::nullopt);
    const std::size_t before = world.activations().size();
    EXPECT_TRUE(save(nullptr));
    ASSERT_EQ(world.activations().size(), before + 1);
    EXPECT_EQ(world.activations().back().pid, live);
    EXPECT_EQ(world.frontmost(), live);
    world.advanceBy(1);
  }
  EXPECT_EQ(completedSaveSequences(world.keyEvents(), live), 2);
}

// ---------------------------------------------------------------------------
// Declined activation (cooperative activation, macOS 14 and later)

constexpr const char* kLiveStayedBehind =
    "Ableton Live did not come to the front; the keys were posted to it in the background.";

TEST_F(SaveCommandTest, DeclinedActivationIsHandedOverByTheFrontmostApplication) {
  world.setBoolPreference(std::string(kEnabledDefaultsKey), false);
  launchAndWait(10);
  world.declineActivations(sim::World::ActivationDecline::plain);
  const Date t0 = world.now();
  performSave(true);

  // Each plain request is declined and asked once more, handed over by the
  // application in front at that moment, with the same options.
  const auto& requests = world.activations();
  ASSERT_EQ(requests.size(), 4u);
  const struct {
    int pid;
    unsigned options;
    std::optional<int> from;
    bool granted;
  } expected[] = {{live, 1, std::nullopt, false},
                  {live, 1, other, true},
                  {other, 0, std::nullopt, false},
                  {other, 0, live, true}};
  for (std::size_t i = 0; i < requests.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(requests[i].pid, expected[i].pid);
    EXPECT_EQ(requests[i].options, expected[i].options);
    EXPECT_EQ(requests[i].handedOverBy, expected[i].from);
    EXPECT_EQ(requests[i].granted, expected[i].granted);
  }
  EXPECT_EQ(requests[1].time, t0);
  EXPECT_NEAR(requests[3].time - t0, 0.65, 1e-6);
  EXPECT_EQ(world.frontmost(), other);
  EXPECT_EQ(completedSaveSequences(world.keyEvents(), live), 1);
  // Live was in front when the keys came: nothing more to say.
  const auto messages = logMessages();
  EXPECT_EQ(messages.back(), "Manual save command sent successfully.");
  EXPECT_EQ(std::count(messages.begin(), messages.end(), kLiveStayedBehind), 0);
}

TEST_F(SaveCommandTest, DeclinedTwiceStillPostsTheKeysAndSaysSo) {
  world.setBoolPreference(std::string(kEnabledDefaultsKey), false);
  launchAndWait(10);
  world.declineActivations(sim::World::ActivationDecline::all);

  performSave(false);
  EXPECT_EQ(completedSaveSequences(world.keyEvents(), live), 1);
  EXPECT_EQ(app().lastStatusMessage(), "Autosaved at 09:00");
  const auto messages = logMessages();
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(messages[messages.size() - 2], kLiveStayedBehind);
  EXPECT_EQ(messages.back(), "Autosave command sent successfully.");
  // The focus never moved, and the restore was asked the same two ways.
  EXPECT_EQ(world.frontmost(), other);
  const auto& requests = world.activations();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[1].handedOverBy, other);
  EXPECT_EQ(requests[2].pid, other);
  EXPECT_EQ(requests[3].pid, other);
  EXPECT_EQ(requests[3].handedOverBy, other);
  EXPECT_TRUE(std::none_of(requests.begin(), requests.end(),
                           [](const sim::Activation& a) { return a.granted; }));

  // With nobody in front there is nobody to hand over: one request only.
  world.setFrontmost(std::nullopt);
  world.failNextEventSource();
  performSave(true);
  EXPECT_EQ(world.activations().size(), 5u);
  const auto failed = logMessages();
  EXPECT_EQ(failed.back(), "Manual save failed: Could not create keyboard event source");
  EXPECT_EQ(failed[failed.size() - 2], kLiveStayedBehind);

  // Live already in front needs no granted activation, and nothing is said.
  world.setFrontmost(live);
  performSave(true);
  const auto last = logMessages();
  EXPECT_EQ(last.back(), "Manual save command sent successfully.");
  EXPECT_EQ(std::count(last.begin(), last.end(), kLiveStayedBehind), 2);
  EXPECT_EQ(completedSaveSequences(world.keyEvents(), live), 2);
}

TEST_F(SaveCommandTest, FirstOfSeveralLiveInstancesReceivesTheKeys) {
  const int second = startLive();
  launchAndWait(10);
  EXPECT_TRUE(save(nullptr));
  EXPECT_EQ(completedSaveSequences(world.keyEvents(), live), 1);
  EXPECT_EQ(completedSaveSequences(world.keyEvents(), second), 0);
  // Once the first quits, the other one is Live.
  world.quitApplication(live);
  EXPECT_TRUE(save(nullptr));
  EXPECT_EQ(completedSaveSequences(world.keyEvents(), second), 1);
}

TEST_F(SaveCommandTest, ManualSaveRestartsTheScheduleOneIntervalLater) {
  const Date start = world.now();
  launchAndWait(100);
  const TimerRef before = app().autosaveTimer();
  ASSERT_TRUE(before);

  EXPECT_EQ(process->click({"Save Now"}), sim::ClickResult::ok);
  const Date savedAt = world.now();
  EXPECT_NEAR(savedAt - start, 100.65, 1e-6);
  EXPECT_EQ(app().lastStatusMessage(), "Saved at 09:01");
  const auto messages = logMessages();
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(messages[messages.size() - 2], "Manual save command sent successfully.");
  EXPECT_EQ(messages.back(), "Autosave timer started: every 10 min.");
  EXPECT_FALSE(before->isValid());
  ASSERT_TRUE(app().autosaveTimer());
  ASSERT_TRUE(app().nextAutosaveAt());
  EXPECT_EQ(*app().nextAutosaveAt(), savedAt + 600);

  // The first automatic save comes one interval after the manual one, not at
  // the old 600 s mark.
  world.advanceTo(start + 700);
  EXPECT_EQ(completedSaveSequences(world.keyEvents(), live), 1);
  world.advanceTo(savedAt + 600);
  EXPECT_EQ(completedSaveSequences(world.keyEvents(), live), 2);
}

TEST_F(SaveCommandTest, ManualSaveWithAutosaveOffStartsNoTimer) {
  world.setBoolPreference(std::string(kEnabledDefaultsKey), false);
  launchAndWait(100);
  performSave(true);
  EXPECT_EQ(lastLogMessage(), "Manual save command sent successfully.");
  EXPECT_FALSE(app().autosaveTimer());
  EXPECT_FALSE(app().nextAutosaveAt());
  world.advanceBy(3600);
  EXPECT_EQ(completedSaveSequences(world.keyEvents(), live), 1);
}

TEST_F(SaveCommandTest, AutomaticSaveReportsAndLeavesTheTimerToTheScheduler) {
  launchAndWait(59 * 60 + 59.5);
  const TimerRef timer = app().autosaveTimer();
  const auto next = app().nextAutosaveAt();

  performSave(false);
  // The time is read after the save: 09:59:59.5 + 0.65 s.
  EXPECT_EQ(app().lastStatusMessage(), "Autosaved at 10:00");
  EXPECT_EQ(lastLogMessage(), "Autosave command sent successfully.");
  EXPECT_EQ(app().autosaveTimer(), timer);
  EXPECT_TRUE(timer->isValid());
  EXPECT_EQ(app().nextAutosaveAt(), next);
  EXPECT_EQ(process->statusItem()->menu()->items()[1]->title().rfind("✓ Autosaved at 10:00", 0),
            0u);
}

}  // namespace
}  // namespace qm::test
