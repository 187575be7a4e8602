// The status menu: its items as built, every text a refresh derives from the
// state, the waiting animation, and the "Report a Problem" and "Quit" items.
#include <cstdint>
#include <string>
#include <vector>

#include "menu_support.h"

namespace qm::test {
namespace {

class StatusMenuTest : public MenuTest {
 protected:
  void quitLive() { world.quitApplications(std::string(kAbletonBundleIdentifier)); }
  bool openSettingsShown() const { return !row(kOpenSettingsRow).hidden(); }
  // Save Now stays enabled and choosable whatever the state.
  void expectSaveNowEnabled() const {
    EXPECT_TRUE(row(kSaveNowRow).enabledFlag());
    EXPECT_TRUE(row(kSaveNowRow).enabled());
  }
};

TEST_F(StatusMenuTest, MenuAsBuiltHasEveryItemInOrderAndBlankLinesUntilTheFirstRefresh) {
  runOnMain([&] { app().buildMenuBar(); });
  const sim::SimStatusItemRef status = process->statusItem();
  ASSERT_TRUE(status);
  EXPECT_EQ(status->length(), kVariableStatusItemLength);
  EXPECT_TRUE(status->image());
  EXPECT_EQ(status->toolTip(), "Quillmark");
  ASSERT_TRUE(status->menu());
  EXPECT_EQ(status->menu()->title(), "Quillmark");

  struct Expected {
    const char* title;
    bool separator;
    bool action;
    bool enabledFlag;
    const char* key;
  };
  const std::vector<Expected> expected = {
      {"Quillmark", false, false, false, ""},
      {"", false, false, false, ""},
      {"", false, false, false, ""},
      {"", false, false, false, ""},
      {"", false, false, false, ""},
      {"", true, false, true, ""},
      {"Interval", false, false, true, ""},
      {"", false, true, true, ""},
      {"Save Now", false, true, true, ""},
      {"Open Accessibility Settings", false, true, true, ""},
      {"", true, false, true, ""},
      {"Report a Problem", false, true, true, ""},
      {"", true, false, true, ""},
      {"Quit", false, true, true, "q"},
  };
  const auto& items = menuItems();
  ASSERT_EQ(items.size(), kMenuRowCount);
  for (std::size_t i = 0; i < items.size(); ++i) {
    SCOPED_TRACE("item " + std::to_string(i + 1));
    EXPECT_EQ(items[i]->title(), expected[i].title);
    EXPECT_EQ(items[i]->isSeparator(), expected[i].separator);
    EXPECT_EQ(items[i]->hasAction(), expected[i].action);
    EXPECT_EQ(items[i]->enabledFlag(), expected[i].enabledFlag);
    EXPECT_EQ(items[i]->keyEquivalent(), expected[i].key);
    EXPECT_FALSE(items[i]->hidden());
  }
  // The title and the four lines cannot be chosen; the Interval item opens
  // its submenu.
  for (MenuRow line : {kTitleRow, kStatusRow, kLiveRow, kPermissionRow, kAutosaveRow}) {
    EXPECT_FALSE(row(line).enabled());
  }
  EXPECT_EQ(process->click({"Quillmark"}), sim::ClickResult::disabled);

  // The delegate keeps the very items the menu shows.
  EXPECT_EQ(app().statusLineItem(), items[kStatusRow]);
  EXPECT_EQ(app().abletonStatusItem(), items[kLiveRow]);
  EXPECT_EQ(app().accessibilityStatusItem(), items[kPermissionRow]);
  EXPECT_EQ(app().autosaveStatusItem(), items[kAutosaveRow]);
  EXPECT_EQ(app().toggleAutosaveItem(), items[kToggleRow]);
  EXPECT_EQ(app().saveNowItem(), items[kSaveNowRow]);
  EXPECT_EQ(app().accessibilityItem(), items[kOpenSettingsRow]);

  const sim::SimMenuRef& submenu = row(kIntervalRow).submenu();
  ASSERT_TRUE(submenu);
  EXPECT_EQ(submenu->title(), "Interval");
  const std::vector<std::pair<std::int64_t, const char*>> intervals = {
      {10, "10 seconds (test)"}, {180, "3 minutes"},  {300, "5 minutes"},
      {600, "10 minutes"},       {900, "15 minutes"}, {1800, "30 minutes"}};
  ASSERT_EQ(submenu->items().size(), intervals.size());
  ASSERT_EQ(app().intervalItems().size(), intervals.size());
  for (std::size_t i = 0; i < intervals.size(); ++i) {
    const sim::SimMenuItemRef& item = submenu->items()[i];
    EXPECT_EQ(item->title(), intervals[i].second);
    EXPECT_EQ(item->tag(), intervals[i].first);
    EXPECT_TRUE(item->hasAction());
    EXPECT_EQ(item->keyEquivalent(), "");
    EXPECT_EQ(item->state(), kControlStateValueOff);
    EXPECT_EQ(app().intervalItems().at(intervals[i].first), item);
  }
}

TEST_F(StatusMenuTest, EveryStatusLineRowAndTooltipFollowsTheState) {
  markAccessibilityAsked();
  world.setTrusted(true);
  const Date start = launchNow();

  // Live absent.
  EXPECT_EQ(statusLine(), "◐ Waiting for Ableton Live");
  EXPECT_EQ(liveLine(), "◐ Ableton waiting");
  EXPECT_EQ(permissionLine(), "✓ Accessibility granted");
  EXPECT_EQ(autosaveLine(), "✓ Autosave on · every 10 min");
  EXPECT_EQ(toggleTitle(), "Pause Autosave");
  EXPECT_FALSE(openSettingsShown());
  EXPECT_EQ(toolTip(), "Ableton not connected | Accessibility granted | Autosave on");
  expectSaveNowEnabled();

  // Live found by the animation tick, before the monitor has started a
  // schedule: nothing to count down yet.
  world.advanceTo(start + 0.6);
  livePid = startLive();
  world.advanceTo(start + 0.75);
  EXPECT_EQ(statusLine(), "✓ Autosave every 10 min");
  EXPECT_EQ(liveLine(), "✓ Ableton connected");
  EXPECT_EQ(toolTip(), "Ableton connected | Accessibility granted | Autosave on");

  // The monitor starts the schedule; the countdown shows on both.
  world.advanceTo(start + 2);
  EXPECT_EQ(statusLine(), "✓ Next save in 10:00");
  world.advanceTo(start + 3);
  EXPECT_EQ(statusLine(), "✓ Next save in 09:59");
  EXPECT_EQ(toolTip(), "Ableton connected | Accessibility granted | Autosave on | Next save 09:59");

  // A message stands before the countdown, a failure behind the check too.
  ASSERT_EQ(process->click({"Save Now"}), sim::ClickResult::ok);
  EXPECT_EQ(statusLine(), "✓ Saved at 09:00 · next 10:00");
  world.failKeyEventOfNextSave(2);
  ASSERT_EQ(process->click({"Save Now"}), sim::ClickResult::ok);
  EXPECT_EQ(statusLine(),
            "✕ Could not build Cmd+S events · next " + app().formattedCountdownText());
  EXPECT_EQ(toolTip(), "Ableton connected | Accessibility granted | Autosave on | Next save " +
                           app().formattedCountdownText());
  expectSaveNowEnabled();

  // Paused: no message, no countdown.
  ASSERT_EQ(process->click({"Pause Autosave"}), sim::ClickResult::ok);
  EXPECT_EQ(statusLine(), "✕ Autosave paused");
  EXPECT_EQ(autosaveLine(), "✕ Autosave off");
  EXPECT_EQ(toggleTitle(), "Start Autosave");
  EXPECT_EQ(toolTip(), "Ableton connected | Accessibility granted | Autosave off");

  // A message without a countdown stands alone.
  ASSERT_EQ(process->click({"Save Now"}), sim::ClickResult::ok);
  EXPECT_EQ(statusLine(), "Saved at 09:00");

  // Permission gone: the message still wins until it is cleared.
  world.setTrusted(false);
  world.advanceTo(start + 4);
  EXPECT_EQ(statusLine(), "Saved at 09:00");
  EXPECT_EQ(permissionLine(), "✕ Accessibility missing");
  EXPECT_TRUE(openSettingsShown());
  ASSERT_EQ(process->click({"Open Accessibility Settings"}), sim::ClickResult::ok);
  EXPECT_EQ(statusLine(), "✕ Grant Accessibility access");
  EXPECT_EQ(toolTip(), "Ableton connected | Accessibility missing | Autosave off");
  expectSaveNowEnabled();

  // Without the permission nothing counts down, even with a next-save time.
  ASSERT_EQ(process->click({"Start Autosave"}), sim::ClickResult::ok);
  runOnMain([&] {
    app().setNextAutosaveAt(world.now() + 100);
    app().refreshMenu();
  });
  EXPECT_EQ(statusLine(), "✕ Grant Accessibility access");
  EXPECT_EQ(autosaveLine(), "✓ Autosave on · every 10 min");
  EXPECT_EQ(toolTip(), "Ableton connected | Accessibility missing | Autosave on");
}

TEST_F(StatusMenuTest, WaitingAnimationTurnsBothLinesTogetherAndRestartsAtTheFirstFrame) {
  markAccessibilityAsked();
  world.setTrusted(true);
  const Date start = launchNow();
  ASSERT_TRUE(app().waitingAnimationTimer());
  // A message waits behind the waiting text while Live is absent.
  ASSERT_EQ(process->click({"Save Now"}), sim::ClickResult::ok);
  ASSERT_EQ(app().lastStatusMessage(), "Ableton Live is not running");

  const std::vector<std::string> turn = {"◐", "◓", "◑", "◒", "◐", "◓"};
  for (std::size_t frame = 0; frame < turn.size(); ++frame) {
    world.advanceTo(start + 0.25 * static_cast<double>(frame));
    SCOPED_TRACE("frame " + std::to_string(frame));
    EXPECT_EQ(app().waitingAnimationFrame(), static_cast<std::int64_t>(frame));
    EXPECT_EQ(app().waitingAnimationSymbol(), turn[frame]);
    EXPECT_EQ(statusLine(), turn[frame] + " Waiting for Ableton Live");
    EXPECT_EQ(liveLine(), turn[frame] + " Ableton waiting");
  }

  // Live starts; the next tick finds it and stops the animation.
  world.advanceTo(start + 1.3);
  livePid = startLive();
  const std::size_t pendingWithAnimation = world.pendingCallCount();
  world.advanceTo(start + 1.5);
  EXPECT_FALSE(app().waitingAnimationTimer());
  EXPECT_EQ(app().waitingAnimationFrame(), 0);
  EXPECT_EQ(world.pendingCallCount(), pendingWithAnimation - 1);
  EXPECT_EQ(liveLine(), "✓ Ableton connected");
  EXPECT_EQ(statusLine(), "✕ Ableton Live is not running");

  // Live gone before the monitor saw it: no closing, and the animation
  // starts over from the first frame.
  world.advanceTo(start + 1.6);
  quitLive();
  world.advanceTo(start + 2);
  EXPECT_TRUE(app().waitingAnimationTimer());
  EXPECT_EQ(statusLine(), "◐ Waiting for Ableton Live");
  world.advanceTo(start + 2.25);
  EXPECT_EQ(statusLine(), "◓ Waiting for Ableton Live");
}

TEST_F(StatusMenuTest, ClosingShowsTheSymbolReadAtTheStartOfItsRefreshThenTheFirstFrame) {
  const Date start = launchWithLiveTrusted();
  EXPECT_FALSE(app().waitingAnimationTimer());
  world.advanceTo(start + 2.5);
  quitLive();
  // A failed save refreshes off the monitor's grid and starts the animation.
  world.advanceTo(start + 2.6);
  ASSERT_EQ(process->click({"Save Now"}), sim::ClickResult::ok);
  ASSERT_TRUE(app().waitingAnimationTimer());

  world.advanceTo(start + 3.9);
  EXPECT_EQ(app().waitingAnimationFrame(), 5);
  EXPECT_EQ(liveLine(), "◓ Ableton waiting");

  world.advanceTo(start + 4);
  EXPECT_EQ(statusLine(), "Ableton closed, quitting...");
  EXPECT_EQ(liveLine(), "◓ Ableton waiting");
  EXPECT_FALSE(app().waitingAnimationTimer());
  EXPECT_EQ(app().waitingAnimationFrame(), 0);

  // The closing notice stands whatever message comes meanwhile.
  world.advanceTo(start + 5);
  ASSERT_EQ(process->click({"Save Now"}), sim::ClickResult::ok);
  EXPECT_EQ(app().lastStatusMessage(), "Ableton Live is not running");
  EXPECT_EQ(statusLine(), "Ableton closed, quitting...");
  EXPECT_EQ(liveLine(), "◐ Ableton waiting");
  EXPECT_FALSE(app().waitingAnimationTimer());
  world.advanceTo(start + 6);
  EXPECT_EQ(liveLine(), "◐ Ableton waiting");
}

TEST_F(StatusMenuTest, StartingTwiceKeepsOneTimerAndStoppingTwiceIsHarmless) {
  markAccessibilityAsked();
  world.setTrusted(true);
  const Date start = launchNow();
  world.advanceTo(start + 0.5);
  const TimerRef timer = app().waitingAnimationTimer();
  ASSERT_TRUE(timer);
  const std::size_t pending = world.pendingCallCount();

  runOnMain([&] {
    app().startWaitingAnimationIfNeeded();
    app().startWaitingAnimationIfNeeded();
  });
  EXPECT_EQ(app().waitingAnimationTimer(), timer);
  EXPECT_EQ(app().waitingAnimationFrame(), 2);
  EXPECT_EQ(world.pendingCallCount(), pending);

  runOnMain([&] {
    app().stopWaitingAnimation();
    app().stopWaitingAnimation();
  });
  EXPECT_FALSE(app().waitingAnimationTimer());
  EXPECT_FALSE(timer->isValid());
  EXPECT_EQ(app().waitingAnimationFrame(), 0);
  EXPECT_EQ(world.pendingCallCount(), pending - 1);

  // Stopped means stopped: no tick arrives until something starts it again.
  world.advanceTo(start + 1.9);
  EXPECT_EQ(app().waitingAnimationFrame(), 0);
  EXPECT_EQ(app().waitingAnimationSymbol(), "◐");
}

TEST_F(StatusMenuTest, CheckMarkSitsOnTheIntervalInForceOrNowhere) {
  setIntervalPreference(45);
  const Date start = launchWithLiveTrusted();
  EXPECT_TRUE(checkedIntervals().empty());
  EXPECT_EQ(autosaveLine(), "✓ Autosave on · every 45 sec");
  EXPECT_EQ(statusLine(), "✓ Next save in 00:45");

  world.advanceTo(start + 1);
  ASSERT_EQ(process->click({"Interval", "30 minutes"}), sim::ClickResult::ok);
  EXPECT_EQ(checkedIntervals(), std::vector<std::int64_t>{1800});
  ASSERT_EQ(process->click({"Interval", "10 seconds (test)"}), sim::ClickResult::ok);
  EXPECT_EQ(checkedIntervals(), std::vector<std::int64_t>{10});
  EXPECT_EQ(autosaveLine(), "✓ Autosave on · every 10 sec");
}

TEST_F(StatusMenuTest, ReportAProblemOpensTheSupportLinkAndChangesNothingElse) {
  const Date start = launchWithLiveTrusted();
  world.advanceTo(start + 1);
  ASSERT_EQ(process->click({"Save Now"}), sim::ClickResult::ok);
  const std::string message = app().lastStatusMessage();
  const std::size_t lines = logLines().size();

  ASSERT_EQ(process->click({"Report a Problem"}), sim::ClickResult::ok);
  ASSERT_EQ(world.openedURLs().size(), 1u);
  EXPECT_EQ(world.openedURLs()[0].url, kSupportURL);
  EXPECT_EQ(world.openedURLs()[0].pid, process->pid());
  EXPECT_EQ(app().lastStatusMessage(), message);
  EXPECT_EQ(logLines().size(), lines);
  EXPECT_FALSE(process->terminated());
}

TEST_F(StatusMenuTest, QuitItemAndCommandQEndTheProcess) {
  markAccessibilityAsked();
  world.setTrusted(true);
  Date start = launchNow();
  world.advanceTo(start + 0.6);
  ASSERT_TRUE(app().waitingAnimationTimer());
  ASSERT_EQ(process->click({"Quit"}), sim::ClickResult::ok);
  EXPECT_TRUE(process->terminated());
  EXPECT_EQ(process->terminatedAt(), start + 0.6);
  EXPECT_FALSE(app().waitingAnimationTimer());
  EXPECT_EQ(app().waitingAnimationFrame(), 0);
  EXPECT_EQ(world.pendingCallCount(), 0u);

  // A second process, quit with the keyboard while its menu is open.
  delegate.reset();
  process = std::make_unique<sim::Process>(world);
  livePid = startLive();
  start = launchNow();
  world.advanceTo(start + 3);
  EXPECT_EQ(process->pressKeyEquivalent("q"), sim::ClickResult::ok);
  EXPECT_TRUE(process->terminated());
  ASSERT_EQ(world.terminations().size(), 2u);
  EXPECT_EQ(world.terminations()[1].pid, process->pid());
  EXPECT_EQ(world.terminations()[1].time, start + 3);
}

}  // namespace
}  // namespace qm::test
