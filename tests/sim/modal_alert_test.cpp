// The modal alert's nested loop: common-mode calls run while it is open,
// delayed performs wait for it to close.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim_process.h"
#include "sim_world.h"

namespace qm::sim {
namespace {

const AlertContent kTwoButtons{"Message", "Details", {"Open", "Later"}};

class ModalAlertTest : public ::testing::Test {
 protected:
  RunLoop& loop() { return process.platform().runLoop; }
  Alerts& alerts() { return process.platform().alerts; }

  World world{"/nonexistent/home"};
  Process process{world};
  const Date t0 = world.now();
};

TEST_F(ModalAlertTest, TimersAndScriptedActionsRunWhileOpenButPerformsWait) {
  std::vector<std::string> log;
  auto note = [&](const std::string& what) {
    log.push_back(what + "@" + std::to_string(static_cast<int>(world.now() - t0)));
  };
  TimerRef timer = loop().scheduleRepeatingTimer(2.0, [&] { note("timer"); });
  world.at(t0 + 3, [&] {
    note("action");
    loop().performAfterDelay(0, [&] { note("posted-inside"); });
  });
  loop().performAfterDelay(2.0, [&] { note("perform"); });
  long result = 0;
  loop().performAfterDelay(1.0, [&] {
    world.setNextAlertResponse(0, 4.0);
    result = alerts().runModal(kTwoButtons);
    note("closed");
  });

  world.advanceTo(t0 + 7);
  EXPECT_EQ(result, kAlertFirstButtonReturn);
  // Open from 1 to 5; the held performs run late, in order, once it closes.
  EXPECT_EQ(log, (std::vector<std::string>{"timer@2", "action@3", "timer@4", "closed@5",
                                           "perform@5", "posted-inside@5", "timer@6"}));
  ASSERT_EQ(world.alerts().size(), 1u);
  EXPECT_EQ(world.alerts()[0].shownAt, t0 + 1);
  EXPECT_EQ(world.alerts()[0].answeredAt, t0 + 5);
  EXPECT_EQ(world.alerts()[0].pressedButton, 0);
  EXPECT_EQ(world.alerts()[0].content.buttonTitles, kTwoButtons.buttonTitles);
}

TEST_F(ModalAlertTest, UnscriptedAlertsTakeTheSecondButtonAtOnce) {
  long first = 0;
  long second = 0;
  long single = 0;
  process.run([&] {
    world.setNextAlertResponse(0);
    first = alerts().runModal(kTwoButtons);
    second = alerts().runModal(kTwoButtons);  // the script was used up
    single = alerts().runModal({"Only", "", {"OK"}});
  });
  EXPECT_EQ(first, 1000);
  EXPECT_EQ(second, 1001);
  EXPECT_EQ(single, 1000);
  EXPECT_EQ(world.now(), t0);
  EXPECT_FALSE(world.alertOpen());
}

TEST_F(ModalAlertTest, TerminateWhileOpenUnwindsTheCallerAndLeavesNoAnswer) {
  bool returned = false;
  TimerRef quitter =
      loop().scheduleRepeatingTimer(2.0, [&] { process.platform().system.terminate(); });
  loop().performAfterDelay(1.0, [&] {
    world.setNextAlertResponse(0, 60);
    alerts().runModal(kTwoButtons);
    returned = true;
  });
  int after = 0;
  world.at(t0 + 10, [&] { ++after; });

  world.advanceTo(t0 + 20);
  EXPECT_FALSE(returned);
  EXPECT_EQ(process.terminatedAt(), t0 + 2);
  ASSERT_EQ(world.alerts().size(), 1u);
  EXPECT_FALSE(world.alerts()[0].pressedButton.has_value());
  EXPECT_FALSE(world.alertOpen());
  EXPECT_EQ(after, 1);
  EXPECT_EQ(world.now(), t0 + 20);
}

TEST_F(ModalAlertTest, AMenuChoiceThatEndsTheProcessClosesItsAlertToo) {
  StatusBar& bar = process.platform().statusBar;
  StatusItemRef item = bar.statusItemWithLength(kVariableStatusItemLength);
  MenuRef menu = bar.createMenu("Menu");
  menu->addItem(bar.createMenuItem(
      "Quit", [this](MenuItem&) { process.platform().system.terminate(); }, "q"));
  item->setMenu(menu);

  bool returned = false;
  loop().performAfterDelay(1.0, [&] {
    world.setNextAlertResponse(0, 60);
    alerts().runModal(kTwoButtons);
    returned = true;
  });
  world.at(t0 + 3, [&] { process.click({"Quit"}); });

  world.advanceTo(t0 + 10);
  EXPECT_FALSE(returned);
  EXPECT_EQ(process.terminatedAt(), t0 + 3);
  ASSERT_EQ(world.alerts().size(), 1u);
  EXPECT_FALSE(world.alerts()[0].pressedButton.has_value());
  EXPECT_FALSE(world.alertOpen());
}

}  // namespace
}  // namespace qm::sim
