// One Quillmark process: its end, its status menu as the user sees and
// clicks it, and the icon canvas.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "sim_process.h"
#include "sim_world.h"

namespace qm::sim {
namespace {

class ProcessTest : public ::testing::Test {
 protected:
  Platform& ports() { return process->platform(); }

  World world{"/nonexistent/home"};
  std::unique_ptr<Process> process = std::make_unique<Process>(world);
  const Date t0 = world.now();
};

TEST_F(ProcessTest, TerminateEndsTheProcessAndEverythingItScheduled) {
  int ticks = 0;
  int performs = 0;
  bool pastTerminate = false;
  TimerRef timer = ports().runLoop.scheduleRepeatingTimer(1.0, [&] { ++ticks; });
  ports().runLoop.performAfterDelay(10, [&] { ++performs; });
  TimerRef quitter = ports().runLoop.scheduleRepeatingTimer(3.5, [&] {
    ports().system.terminate();
    pastTerminate = true;
  });
  int scripted = 0;
  world.at(t0 + 20, [&] { ++scripted; });
  EXPECT_TRUE(world.isRunning(process->pid()));

  world.advanceTo(t0 + 30);
  EXPECT_FALSE(pastTerminate);
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(performs, 0);
  EXPECT_EQ(scripted, 1);
  EXPECT_FALSE(timer->isValid());
  EXPECT_FALSE(quitter->isValid());
  EXPECT_EQ(process->terminatedAt(), t0 + 3.5);
  EXPECT_FALSE(world.isRunning(process->pid()));
  ASSERT_EQ(world.terminations().size(), 1u);
  EXPECT_EQ(world.terminations()[0].pid, process->pid());

  // A dead process schedules nothing.
  TimerRef late = ports().runLoop.scheduleRepeatingTimer(1.0, [&] { ++ticks; });
  ports().runLoop.performAfterDelay(0, [&] { ++performs; });
  world.advanceBy(5);
  EXPECT_FALSE(late->isValid());
  EXPECT_EQ(ticks + performs, 3);
}

TEST_F(ProcessTest, RunCatchesTerminateAndTellsWhetherTheBodyReturned) {
  bool pastTerminate = false;
  EXPECT_TRUE(process->run([] {}));
  EXPECT_FALSE(process->run([&] {
    ports().system.terminate();
    pastTerminate = true;
  }));
  EXPECT_FALSE(pastTerminate);
  EXPECT_TRUE(process->terminated());
}

TEST_F(ProcessTest, DestroyedProcessLeavesNoCallBehindAndItsTimersStaySafe) {
  int ticks = 0;
  TimerRef timer = ports().runLoop.scheduleRepeatingTimer(1.0, [&] { ++ticks; });
  ports().runLoop.performAfterDelay(1.0, [&] { ++ticks; });
  const int pid = process->pid();
  process.reset();
  world.advanceBy(5);
  EXPECT_EQ(ticks, 0);
  EXPECT_FALSE(world.isRunning(pid));
  EXPECT_TRUE(world.terminations().empty());
  timer->invalidate();
  EXPECT_EQ(world.pendingCallCount(), 0u);
}

// The menu an application of this kind builds, made through the ports.
class MenuTest : public ProcessTest {
 protected:
  void SetUp() override {
    StatusBar& bar = ports().statusBar;
    status = bar.statusItemWithLength(kVariableStatusItemLength);
    MenuRef menu = bar.createMenu("Quillmark");
    auto add = [&](const std::string& title, MenuAction action, const std::string& key = "") {
      MenuItemRef item = bar.createMenuItem(title, std::move(action), key);
      menu->addItem(item);
      return item;
    };
    MenuItemRef header = add("Quillmark", nullptr);
    header->setEnabled(false);
    menu->addItem(bar.separatorItem());
    MenuItemRef interval = add("Interval", nullptr);
    MenuRef submenu = bar.createMenu("Interval");
    for (int seconds : {10, 300}) {
      MenuItemRef choice = bar.createMenuItem(
          std::to_string(seconds) + " s", [&](MenuItem& sender) { chosen.push_back(sender.tag()); },
          "");
      choice->setTag(seconds);
      submenu->addItem(choice);
    }
    interval->setSubmenu(submenu);
    saveNow = add("Save Now", [&](MenuItem&) { ++saves; });
    settings = add("Open Settings", [&](MenuItem&) { ++saves; });
    settings->setHidden(true);
    add(
        "Quit", [&](MenuItem&) { ports().system.terminate(); }, "q");
    status->setMenu(menu);
  }

  StatusItemRef status;
  MenuItemRef saveNow;
  MenuItemRef settings;
  std::vector<std::int64_t> chosen;
  int saves = 0;
};

TEST_F(MenuTest, ClicksReachOnlyVisibleItemsThatCanBeChosen) {
  EXPECT_EQ(process->click({"Nothing"}), ClickResult::notFound);
  EXPECT_EQ(process->click({"Quillmark"}), ClickResult::disabled);
  EXPECT_EQ(process->click({"Interval"}), ClickResult::noAction);
  EXPECT_EQ(process->click({"Open Settings"}), ClickResult::hidden);
  EXPECT_EQ(process->click({"Interval", "300 s"}), ClickResult::ok);
  EXPECT_EQ(chosen, (std::vector<std::int64_t>{300}));
  EXPECT_EQ(saves, 0);

  // Titles are looked up as they are now.
  saveNow->setTitle("Save Again");
  EXPECT_EQ(process->click({"Save Now"}), ClickResult::notFound);
  EXPECT_EQ(process->click({"Save Again"}), ClickResult::ok);
  EXPECT_EQ(saves, 1);
}

TEST_F(MenuTest, AMissingItemTellsWhichMenuTheUserLookedInAndWhatItShows) {
  MissingItem missing;
  EXPECT_EQ(process->click({"Intervall", "300 s"}, &missing), ClickResult::notFound);
  EXPECT_EQ(missing.menu, "");
  // Separators and hidden items are not seen; titles are today's.
  saveNow->setTitle("Save Again");
  EXPECT_EQ(process->click({"Intervall"}, &missing), ClickResult::notFound);
  EXPECT_EQ(missing.titles,
            (std::vector<std::string>{"Quillmark", "Interval", "Save Again", "Quit"}));

  EXPECT_EQ(process->click({"Interval", "7 s"}, &missing), ClickResult::notFound);
  EXPECT_EQ(missing.menu, "Interval");
  EXPECT_EQ(missing.titles, (std::vector<std::string>{"10 s", "300 s"}));

  // An item without a submenu has nothing under it.
  EXPECT_EQ(process->click({"Quit", "Now"}, &missing), ClickResult::notFound);
  EXPECT_EQ(missing.menu, "Quit");
  EXPECT_TRUE(missing.titles.empty());
  EXPECT_FALSE(process->terminated());
}

TEST_F(MenuTest, ItemsAreEnabledByTheirActionNotBySetEnabled) {
  saveNow->setEnabled(false);
  SimMenuItemRef item = process->findItem({"Save Now"});
  ASSERT_TRUE(item);
  EXPECT_FALSE(item->enabledFlag());
  EXPECT_TRUE(item->enabled());
  EXPECT_EQ(process->click({"Save Now"}), ClickResult::ok);
  EXPECT_FALSE(process->findItem({"Quillmark"})->enabled());
  EXPECT_TRUE(process->findItem({"Interval"})->enabled());
}

TEST_F(MenuTest, KeyEquivalentChoosesQuitWhichEndsTheProcess) {
  EXPECT_EQ(process->pressKeyEquivalent("w"), ClickResult::notFound);
  EXPECT_EQ(process->pressKeyEquivalent("q"), ClickResult::ok);
  EXPECT_TRUE(process->terminated());
  EXPECT_EQ(process->click({"Save Now"}), ClickResult::processEnded);
}

TEST_F(MenuTest, HiddenItemsDoNotAnswerTheirKeyEquivalent) {
  process->findItem({"Quit"})->setHidden(true);
  EXPECT_EQ(process->pressKeyEquivalent("q"), ClickResult::hidden);
  EXPECT_FALSE(process->terminated());
}

TEST_F(MenuTest, AReleasedStatusItemLeavesTheMenuBar) {
  EXPECT_EQ(process->statusItem().get(), status.get());
  status.reset();
  EXPECT_EQ(process->statusItem(), nullptr);
  EXPECT_EQ(process->click({"Save Now"}), ClickResult::notFound);
  EXPECT_EQ(process->statusItemCount(), 1);
}

TEST_F(MenuTest, MenusRefuseToShareItemsOrSubmenus) {
  MenuRef other = ports().statusBar.createMenu("Other");
  EXPECT_THROW(other->addItem(saveNow), std::logic_error);
  SimMenuRef submenu = process->findItem({"Interval"})->submenu();
  MenuItemRef second = ports().statusBar.createMenuItem("Second", nullptr, "");
  EXPECT_THROW(second->setSubmenu(submenu), std::logic_error);
}

TEST(CanvasTest, RecordsCommandsWithTheColoursInForceAndLocksAfterFinishing) {
  World world{"/nonexistent/home"};
  Process process{world};
  Graphics& graphics = process.platform().graphics;
  std::unique_ptr<ImageCanvas> canvas = graphics.beginImage({22, 22});
  canvas->setFillColor(Color::clear);
  canvas->fillRect({0, 0, 22, 22});
  canvas->strokePath({2.0, LineCapStyle::round, LineJoinStyle::round, {{1, 2}, {3, 4}}});
  canvas->drawText("QM", {0, 1, 22, 9}, {7.5, Color::black, TextAlignment::center});
  ImageRef image = canvas->finishImage(true);
  EXPECT_THROW(canvas->fillRect({0, 0, 1, 1}), std::logic_error);

  auto sim = std::dynamic_pointer_cast<render::RecordedImage>(image);
  ASSERT_TRUE(sim);
  EXPECT_EQ(sim->size().width, 22);
  EXPECT_TRUE(sim->isTemplate());
  ASSERT_EQ(sim->commands().size(), 3u);
  EXPECT_EQ(std::get<render::FillRectCommand>(sim->commands()[0]).color, Color::clear);
  const auto& stroke = std::get<render::StrokePathCommand>(sim->commands()[1]);
  EXPECT_EQ(stroke.color, Color::black);
  EXPECT_EQ(stroke.path.points.size(), 2u);
  EXPECT_EQ(std::get<render::DrawTextCommand>(sim->commands()[2]).attributes.alignment,
            TextAlignment::center);

  ImageRef again = graphics.beginImage({22, 22})->finishImage(false);
  EXPECT_NE(again, image);
  EXPECT_FALSE(again->isTemplate());
}

}  // namespace
}  // namespace qm::sim
