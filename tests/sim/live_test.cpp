// Live as Quillmark meets it from outside: busy spells that answer no read,
// the saves the user makes in Live, and its Save command pressed through
// its menus.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "save_sequences.h"
#include "sim_process.h"
#include "sim_world.h"

namespace qm::sim {
namespace {

using simtool::completedSaveSequences;
using Press = ApplicationMenus::Press;
using Read = LiveWait::Read;

constexpr std::uint16_t kCommand = 55;
constexpr std::uint16_t kS = 1;
constexpr double kTimeout = World::kLiveMessagingTimeout;

class LiveTest : public ::testing::Test {
 protected:
  Platform& ports() { return process.platform(); }
  ApplicationWindows& windows() { return ports().applicationWindows; }
  Reply<Press> press() { return ports().applicationMenus.pressSaveCommand(live); }
  // The title as read from outside: "no answer", "none" or the title.
  std::string titleOf(int pid) {
    const Reply<std::optional<std::string>> title = windows().mainWindowTitle(pid);
    return !title.answered() ? "no answer" : title->value_or("none");
  }

  void postSave() {
    auto source = ports().keyboardEvents.createEventSource(kEventSourceStateCombinedSessionState);
    ASSERT_TRUE(source);
    for (const auto& [key, down] :
         {std::pair{kCommand, true}, {kS, true}, {kS, false}, {kCommand, false}}) {
      auto event = source->createKeyboardEvent(key, down);
      event->setFlags(kEventFlagMaskCommand);
      event->postToPid(live);
    }
  }
  // One read of Live's title at `time` from now's start, on Quillmark's main
  // thread.
  void readTitleAt(Date time) {
    world.advanceTo(time);
    process.run([&] { windows().mainWindowTitle(live); });
  }

  World world{"/Users/tester"};
  Process process{world};
  const int finder = world.startApplication("com.apple.finder", "Finder");
  const int live = world.startApplication(World::kLiveBundleIdentifier, "Live");
  const Date t0 = world.now();
  static constexpr const char* kSaved = "Song [Song] - Ableton Live 12 Suite";
  static constexpr const char* kEdited = "Song* [Song] - Ableton Live 12 Suite";
};

// ---------------------------------------------------------------------------
// Busy spells

TEST_F(LiveTest, EveryReadOfABusyLiveCostsTheTimeoutAndGetsNoAnswer) {
  world.setLiveSet("Song");
  world.setLiveMenuSave(World::LiveMenuSave::works);
  world.setLiveBusy(2);
  bool timerFired = false;
  TimerRef timer = ports().runLoop.scheduleRepeatingTimer(0.1, [&] { timerFired = true; });
  process.run([&] {
    EXPECT_EQ(titleOf(live), "no answer");
    EXPECT_EQ(world.now(), t0 + kTimeout);
    EXPECT_FALSE(windows().showsModalDialog(live).answered());
    EXPECT_FALSE(press().answered());
    // Another application answers at once.
    EXPECT_EQ(titleOf(finder), "none");
    EXPECT_EQ(world.now(), t0 + 3 * kTimeout);
    // Nothing of the waiting thread fires while it waits.
    EXPECT_FALSE(timerFired);
  });
  timer->invalidate();
  EXPECT_TRUE(world.menuPresses().empty());

  const std::vector<LiveWait>& waits = world.liveWaits();
  ASSERT_EQ(waits.size(), 3u);
  EXPECT_EQ(waits[1].start, t0 + kTimeout);
  EXPECT_EQ(waits[1].seconds, kTimeout);
  EXPECT_EQ(waits[1].pid, process.pid());
  EXPECT_EQ(waits[1].livePid, live);
  EXPECT_EQ(waits[0].read, Read::title);
  EXPECT_EQ(waits[1].read, Read::dialog);
  EXPECT_EQ(waits[2].read, Read::saveCommand);

  // A shorter spell does not cut the one under way short.
  world.setLiveBusy(0.5);
  world.advanceTo(t0 + 1.9);
  EXPECT_TRUE(world.liveBusy());
  world.advanceTo(t0 + 2);
  EXPECT_FALSE(world.liveBusy());
  process.run([&] {
    EXPECT_EQ(titleOf(live), kSaved);
    EXPECT_EQ(windows().showsModalDialog(live), false);
  });
  EXPECT_EQ(world.now(), t0 + 2);
  EXPECT_EQ(world.liveWaits().size(), 3u);
}

TEST_F(LiveTest, KeysAndUserSavesWaitForABusyLiveAndItsTitleIsToldOnlyAfter) {
  world.setLiveSet("Song");
  std::vector<std::optional<std::string>> told;
  ObservationRef observation = windows().observeTitleChanges(
      live, [&](const std::optional<std::string>& title) { told.push_back(title); });
  world.setLiveBusy(1);
  world.liveEdits();
  world.advanceTo(t0 + 0.9);
  EXPECT_TRUE(told.empty());
  world.advanceTo(t0 + 1);
  EXPECT_EQ(told, (std::vector<std::optional<std::string>>{kEdited}));

  world.setLiveBusy(1);
  postSave();
  ASSERT_EQ(world.keyEvents().size(), 4u);
  EXPECT_TRUE(world.keyEvents()[1].heldByBusyLive);
  world.advanceTo(t0 + 1.9);
  EXPECT_EQ(world.liveSaves(), 0);
  // Done, Live handles the keys as if they came now.
  world.advanceTo(t0 + 2);
  EXPECT_EQ(world.liveSaves(), 1);
  EXPECT_EQ(told, (std::vector<std::optional<std::string>>{kEdited, kSaved}));

  // A user's save waits likewise.
  world.setLiveBusy(1);
  world.liveEdits();
  world.liveUserSaves();
  world.advanceBy(0.5);
  EXPECT_EQ(world.liveSaves(), 1);
  world.advanceBy(0.5);
  EXPECT_EQ(world.liveSaves(), 2);
  EXPECT_EQ(world.liveTitle(), kSaved);
}

TEST_F(LiveTest, ABusySpellEndsOnTimeWhileQuillmarksThreadIsBlocked) {
  world.setLiveSet("Song");
  world.liveEdits();
  world.setLiveBusy(0.1);
  process.run([&] {
    postSave();
    // The end of the spell falls into the first wait: Live saves then, and
    // the second read is answered with the saved title.
    EXPECT_EQ(titleOf(live), "no answer");
    EXPECT_EQ(world.liveSaves(), 1);
    EXPECT_EQ(titleOf(live), kSaved);
  });
  EXPECT_EQ(world.liveWaits().size(), 1u);
}

TEST_F(LiveTest, QuittingEndsTheSpellAndDropsWhatItHeld) {
  world.setLiveSet("Song");
  world.liveEdits();
  world.setLiveBusy(5);
  world.liveUserSaves();
  world.quitApplication(live);
  const int next = world.startApplication(World::kLiveBundleIdentifier, "Live");
  EXPECT_FALSE(world.liveBusy());
  world.advanceBy(10);
  EXPECT_EQ(world.liveSaves(), 0);
  process.run([&] { EXPECT_EQ(titleOf(next), kEdited); });
}

// ---------------------------------------------------------------------------
// The time Quillmark's main thread spends waiting

TEST_F(LiveTest, TheWorstSecondOfWaitingSlidesAcrossWholeSeconds) {
  EXPECT_EQ(world.worstLiveWaitSecond().seconds, 0);
  world.setLiveSet("Song");
  world.setLiveBusy(10);
  // Waits [0.8, 1.05], [1.3, 1.55], [1.6, 1.85], [2.5, 2.75]: whole seconds
  // hold at most 0.55 s of them; the second from 0.8 holds 0.7 s, cutting the
  // third wait short.
  for (Date time : {0.8, 1.3, 1.6, 2.5}) {
    readTitleAt(t0 + time);
  }
  World::WaitWindow worst = world.worstLiveWaitSecond();
  EXPECT_NEAR(worst.seconds, 0.7, 1e-6);
  EXPECT_NEAR(worst.start - t0, 0.8, 1e-6);

  // Four reads in a row fill a whole second.
  world.advanceTo(t0 + 5);
  process.run([&] {
    for (int i = 0; i < 4; ++i) {
      windows().mainWindowTitle(live);
    }
  });
  worst = world.worstLiveWaitSecond();
  EXPECT_NEAR(worst.seconds, 1.0, 1e-6);
  EXPECT_NEAR(worst.start - t0, 5, 1e-6);
}

TEST_F(LiveTest, AWindowEndingWithAWaitCanHoldTheMost) {
  world.setLiveSet("Song");
  world.setLiveBusy(10);
  // [0, 0.25], then [1.1, 1.35], [1.4, 1.65], [1.7, 1.95]: the second
  // that ends at 1.95 holds the last three (0.75 s); any second that starts
  // with a wait holds less.
  for (Date time : {0.0, 1.1, 1.4, 1.7}) {
    readTitleAt(t0 + time);
  }
  const World::WaitWindow worst = world.worstLiveWaitSecond();
  EXPECT_NEAR(worst.seconds, 0.75, 1e-6);
  EXPECT_NEAR(worst.start - t0, 1.1, 1e-6);
}

// ---------------------------------------------------------------------------
// The user's own saves

TEST_F(LiveTest, TheUsersSaveIsLivesOwnNoKeyOfTheirsAndNoFocusChange) {
  world.setFrontmost(finder);
  world.setLiveSet("Song");
  world.setLiveSaveDuration(0.5);
  world.setLiveDeaf(true);  // deaf to posted keys, not to the user
  world.liveEdits();
  world.liveUserSaves();
  EXPECT_EQ(world.liveSaves(), 0);
  world.advanceBy(0.5);
  EXPECT_EQ(world.liveSaves(), 1);
  EXPECT_EQ(world.liveTitle(), kSaved);
  EXPECT_EQ(completedSaveSequences(world.keyEvents(), live), 0);
  EXPECT_TRUE(world.keyEvents().empty());
  EXPECT_EQ(world.secondsSinceLastUserPress(), std::numeric_limits<double>::infinity());
  EXPECT_EQ(world.frontmost(), finder);
  EXPECT_TRUE(world.activations().empty());

  // Nothing to save, or a dialog in the way: nothing happens.
  world.liveUserSaves();
  world.liveEdits();
  world.setLiveDialogOpen(true);
  world.liveUserSaves();
  world.advanceBy(1);
  EXPECT_EQ(world.liveSaves(), 1);

  // An untitled set opens the Save dialog instead.
  world.setLiveDialogOpen(false);
  world.setLiveSetUntitled();
  world.liveUserSaves();
  EXPECT_TRUE(world.liveDialogOpen());
  EXPECT_EQ(world.liveSaves(), 1);
}

// ---------------------------------------------------------------------------
// The Save command in Live's menus

TEST_F(LiveTest, AWorkingSaveCommandSavesAsCommandSDoesWithoutKeysOrFocus) {
  world.setFrontmost(finder);
  world.setLiveSet("Song");
  world.setLiveSaveDuration(0.5);
  world.setLiveMenuSave(World::LiveMenuSave::works);
  std::vector<Event::Kind> events;
  world.setObserver([&](const Event& event) { events.push_back(event.kind); });
  world.liveEdits();
  process.run([&] { EXPECT_EQ(press(), Press::pressed); });
  ASSERT_EQ(world.menuPresses().size(), 1u);
  EXPECT_EQ(world.menuPresses()[0].pid, live);
  EXPECT_EQ(world.menuPresses()[0].requester, process.pid());
  EXPECT_EQ(world.menuPresses()[0].time, t0);
  EXPECT_EQ(world.liveSaves(), 0);
  world.advanceBy(0.5);
  EXPECT_EQ(world.liveSaves(), 1);
  EXPECT_TRUE(world.keyEvents().empty());
  EXPECT_EQ(world.frontmost(), finder);
  EXPECT_TRUE(world.activations().empty());
  EXPECT_EQ(std::count(events.begin(), events.end(), Event::Kind::menuPressed), 1);

  // Deaf Live takes the press and saves nothing; an untitled set opens the
  // Save dialog, after which the command reads disabled.
  world.liveEdits();
  world.setLiveDeaf(true);
  EXPECT_EQ(press(), Press::pressed);
  world.advanceBy(1);
  EXPECT_EQ(world.liveSaves(), 1);
  world.setLiveDeaf(false);
  world.setLiveSetUntitled();
  EXPECT_EQ(press(), Press::pressed);
  EXPECT_TRUE(world.liveDialogOpen());
  EXPECT_EQ(press(), Press::disabled);
  EXPECT_EQ(world.menuPresses().size(), 3u);
}

TEST_F(LiveTest, AnIgnoredPressGoesThroughAndADisabledOrMissingCommandIsNot) {
  world.setLiveSet("Song");
  world.liveEdits();
  EXPECT_EQ(press(), Press::missing);  // the default
  world.setLiveMenuSave(World::LiveMenuSave::ignored);
  EXPECT_EQ(press(), Press::pressed);
  world.advanceBy(1);
  EXPECT_EQ(world.liveSaves(), 0);
  EXPECT_EQ(world.menuPresses().size(), 1u);

  world.setLiveMenuSave(World::LiveMenuSave::disabled);
  EXPECT_EQ(press(), Press::disabled);
  EXPECT_EQ(world.menuPresses().size(), 1u);
  EXPECT_EQ(world.liveTitle(), kEdited);
}

}  // namespace
}  // namespace qm::sim
