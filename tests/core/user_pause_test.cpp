// The person at the keyboard: what a save does when a key goes down during
// its settle wait, when the layout cannot tell the S key, when the keys do
// not all go out, and when the system's idle reading is no number.
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "test_support.h"

namespace qm::test {
namespace {

// The simulated user, except that a key may go down at a chosen query and
// the idle reading may be replaced.
class ScriptedUser final : public UserActivity {
 public:
  explicit ScriptedUser(UserActivity& inner) : inner_(inner) {}
  double secondsSinceLastUserInput() override {
    return seconds.value_or(inner_.secondsSinceLastUserInput());
  }
  bool isUserInputHeld() override {
    ++heldQueries;
    return (heldFromQuery > 0 && heldQueries >= heldFromQuery) || inner_.isUserInputHeld();
  }

  std::optional<double> seconds;
  // Held from this query on (1 for the first); 0 for never.
  int heldFromQuery = 0;
  int heldQueries = 0;

 private:
  UserActivity& inner_;
};

// The simulated keyboard, except that the layout may give no answer and the
// delivery may stop after two keys.
class ScriptedKeyboard final : public KeyboardEvents {
 public:
  explicit ScriptedKeyboard(KeyboardEvents& inner) : inner_(inner) {}
  std::unique_ptr<EventSource> createEventSource(int stateId) override {
    std::unique_ptr<EventSource> source = inner_.createEventSource(stateId);
    return source ? std::make_unique<Source>(std::move(source), deliveryStops) : nullptr;
  }
  std::optional<std::uint16_t> virtualKeyTypingWithCommand(char32_t character) override {
    return layoutKnown ? inner_.virtualKeyTypingWithCommand(character) : std::nullopt;
  }

  bool layoutKnown = true;
  bool deliveryStops = false;

 private:
  class Source final : public EventSource {
   public:
    Source(std::unique_ptr<EventSource> inner, bool stops)
        : inner_(std::move(inner)), stops_(stops) {}
    std::unique_ptr<KeyboardEvent> createKeyboardEvent(std::uint16_t key, bool down) override {
      return inner_->createKeyboardEvent(key, down);
    }
    bool postEventsToPid(KeyboardEventList events, int pid) override {
      if (stops_) {
        inner_->postEventsToPid(events.first(2), pid);
        return false;
      }
      return inner_->postEventsToPid(events, pid);
    }

   private:
    std::unique_ptr<EventSource> inner_;
    bool stops_;
  };

  KeyboardEvents& inner_;
};

class UserPauseTest : public CoreTest {
 protected:
  // Live runs hidden, the user works in an editor, saves every 10 s.
  void SetUp() override {
    live = startLive(true);
    editor = world.startApplication("com.example.editor", "Editor");
    world.setFrontmost(editor);
    world.setTrusted(true);
    world.setBoolPreference(std::string(kAccessibilityPromptShownDefaultsKey), true);
    world.setIntegerPreference(std::string(kIntervalDefaultsKey), 10);
    Platform& sim = process->platform();
    platform = std::make_unique<Platform>(
        Platform{sim.runLoop, sim.workspace, sim.accessibility, keyboard, user,
                 sim.applicationWindows, sim.applicationMenus, sim.notifications, sim.preferences,
                 sim.statusBar, sim.alerts, sim.graphics, sim.system, sim.desktop});
    delegate = std::make_unique<AppDelegate>(*platform);
    launch();
  }
  void TearDown() override { delegate.reset(); }

  int saves() const { return completedSaveSequences(world.keyEvents(), live); }
  long count(const std::string& message) const {
    const auto messages = logMessages();
    return std::count(messages.begin(), messages.end(), message);
  }

  int live = 0;
  int editor = 0;
  ScriptedUser user{process->platform().userActivity};
  ScriptedKeyboard keyboard{process->platform().keyboardEvents};
  std::unique_ptr<Platform> platform;
};

TEST_F(UserPauseTest, AKeyDownDuringTheSettleSendsNothingAndTheSaveWaitsOn) {
  // The first query comes at the timer's fire, the second after the settle.
  user.heldFromQuery = 2;
  world.advanceBy(10.7);
  EXPECT_TRUE(world.keyEvents().empty());
  EXPECT_EQ(world.frontmost(), editor);
  EXPECT_TRUE(world.isHidden(live));
  EXPECT_TRUE(app().pauseCheckTimer());
  EXPECT_EQ(count(std::string(kWaitingForPauseLogMessage)), 1);
  EXPECT_EQ(count("Autosave failed: " + std::string(kInputHeldError)), 0);
  EXPECT_EQ(app().lastStatusMessage(), "");

  // Up again: the next check saves, still as one waiting save.
  user.heldFromQuery = 0;
  world.advanceBy(1);
  EXPECT_EQ(saves(), 1);
  EXPECT_FALSE(app().pauseCheckTimer());
  EXPECT_EQ(count(std::string(kWaitingForPauseLogMessage)), 1);
  EXPECT_TRUE(world.isHidden(live));

  // A manual save says why it sent nothing.
  user.heldFromQuery = user.heldQueries + 1;
  runOnMain([&] { app().performSaveIsManual(true); });
  EXPECT_EQ(saves(), 1);
  EXPECT_EQ(app().lastStatusMessage(), kInputHeldError);
  EXPECT_EQ(count("Manual save failed: " + std::string(kInputHeldError)), 1);
  EXPECT_EQ(world.frontmost(), editor);
}

TEST_F(UserPauseTest, WithoutLayoutDataTheUSKeyIsUsed) {
  keyboard.layoutKnown = false;
  world.setKeyboardLayout(sim::World::KeyboardLayout::dvorak);
  world.advanceBy(11);
  ASSERT_EQ(world.keyEvents().size(), 4u);
  EXPECT_EQ(world.keyEvents()[1].keyCode, kVirtualKeyS);
}

TEST_F(UserPauseTest, KeysThatDidNotAllGoOutFailTheSave) {
  keyboard.deliveryStops = true;
  runOnMain([&] { app().performSaveIsManual(true); });
  EXPECT_EQ(world.keyEvents().size(), 2u);
  EXPECT_EQ(app().lastStatusMessage(), "Could not send all of the Cmd+S keys");
  EXPECT_EQ(count("Manual save failed: Could not send all of the Cmd+S keys"), 1);
  EXPECT_EQ(world.frontmost(), editor);
  EXPECT_TRUE(world.isHidden(live));
}

// An idle reading that is no number must not hold saves back for good.
TEST_F(UserPauseTest, AnIdleReadingThatIsNoNumberDoesNotBlockSaves) {
  user.seconds = std::numeric_limits<double>::quiet_NaN();
  world.advanceBy(11);
  EXPECT_EQ(saves(), 1);
  EXPECT_EQ(count(std::string(kWaitingForPauseLogMessage)), 0);
}

}  // namespace
}  // namespace qm::test
