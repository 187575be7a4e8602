// The timeline's lines for what Quillmark does to Live from outside: presses
// of its Save command, reads it left unanswered, keys it held while busy, and
// the worst second of waiting at the end.
#include "timeline.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "scenario.h"
#include "session.h"
#include "sim_process.h"

namespace qm::simtool {
namespace {

namespace fs = std::filesystem;

class TimelineTest : public ::testing::Test {
 protected:
  TimelineTest() {
    std::string pattern = (fs::temp_directory_path() / "qm-timeline-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) {
      home_ = pattern;
    }
    session_ = std::make_unique<Session>(home_.string(), timeline_);
    timeline_.follow(*session_);
  }
  ~TimelineTest() override {
    quillmark_.reset();
    session_.reset();
    std::error_code ignored;
    fs::remove_all(home_, ignored);
  }

  // Plays the scenario, then starts a Quillmark process of the test's own
  // (not launched by a line, so no core runs in it).
  void play(const std::string& text) {
    scenario::Scenario scenario;
    scenario::ParseError error;
    ASSERT_TRUE(scenario::parse(text, &scenario, &error)) << error.reason;
    session_->play(scenario);
    quillmark_ = std::make_unique<sim::Process>(session_->world());
  }
  std::vector<std::string> lines() {
    timeline_.flush();
    std::vector<std::string> split;
    std::istringstream in(out_.str());
    for (std::string line; std::getline(in, line);) {
      split.push_back(line);
    }
    return split;
  }
  sim::World& world() { return session_->world(); }
  Platform& ports() { return quillmark_->platform(); }
  int live() { return world().runningApplications(sim::World::kLiveBundleIdentifier).front(); }

  fs::path home_;
  std::ostringstream out_;
  Timeline timeline_{out_, {}};
  std::unique_ptr<Session> session_;
  std::unique_ptr<sim::Process> quillmark_;
};

// The first read a busy spell leaves unanswered shows as a line, the others
// are counted when Live answers again.
TEST_F(TimelineTest, APressUnansweredReadsAndHeldKeysShowAsLines) {
  play("live start\nlive set \"Song\"\nlive menu-save ignored\nlive busy 1\n");
  quillmark_->run([&] {
    ports().applicationWindows.mainWindowTitle(live());
    ports().applicationWindows.showsModalDialog(live());
    auto source = ports().keyboardEvents.createEventSource(0);
    for (bool down : {true, false}) {
      auto event = source->createKeyboardEvent(1, down);
      event->setFlags(kEventFlagMaskCommand);
      event->postToPid(live());
    }
  });
  world().advanceTo(world().now() + 1);
  quillmark_->run([&] { ports().applicationMenus.pressSaveCommand(live()); });
  timeline_.summary(world().now(), 0, 0);

  const std::vector<std::string> printed = lines();
  ASSERT_GE(printed.size(), 7u);
  EXPECT_EQ(std::vector<std::string>(printed.end() - 7, printed.end()),
            (std::vector<std::string>{
                "              wait       Quillmark (pid 502) asked com.ableton.live (pid 501) "
                "for its window's title: no answer in 0.25 s",
                "09:00:00.500  keys       S↓ S↑  → com.ableton.live (pid 501), held while it is "
                "busy",
                "09:00:01.000  wait       1 more read went unanswered, 0.25 s of waiting in all",
                "              live       answers again",
                "09:00:01.500  menu       File ▸ Save Live Set  → com.ableton.live (pid 501)",
                "              waits      Quillmark's main thread waited for Live at most 0.5 s "
                "in one second, from 09:00:00.000",
                "              end        0 checks, all held",
            }));
}

TEST_F(TimelineTest, TooMuchWaitingFailsWithTheWorstSecondAndItsStart) {
  play("live start\nlive set \"Song\"\nlive busy 5\n");
  // Waits [0, 0.5] and [0.9, 1.15]: the second from 0 holds 0.6 s of them
  // (0.1 s of the later one); no second holds more.
  quillmark_->run([&] {
    ports().applicationWindows.mainWindowTitle(live());
    ports().applicationWindows.showsModalDialog(live());
  });
  world().advanceBy(0.4);
  quillmark_->run([&] { ports().applicationWindows.mainWindowTitle(live()); });
  world().advanceBy(1);

  scenario::Scenario checks;
  scenario::ParseError error;
  ASSERT_TRUE(scenario::parse(
      "expect main-thread-waits-at-most 0.6\nexpect main-thread-waits-at-most 0.599\n", &checks,
      &error));
  EXPECT_EQ(session_->play(checks), 1);
  const std::vector<std::string> printed = lines();
  EXPECT_EQ(printed.back(),
            "09:00:02.150  FAILED     line 2: expect main-thread-waits-at-most: expected at most "
            "0.599 s waiting for Live in one second, actual 0.6 s in the second from "
            "09:00:00.000");
}

}  // namespace
}  // namespace qm::simtool
