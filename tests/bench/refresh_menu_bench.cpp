// AppDelegate::refreshMenu on the simulated desktop, after a real launch, in
// the states that refresh most often: Live absent with the waiting animation
// (four refreshes a second) and Live running with the countdown (one a
// second), the latter with and without a status message.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "app_delegate.h"
#include "sim_process.h"
#include "sim_world.h"
#include "test_support.h"

namespace {

using qm::AppDelegate;
using qm::sim::Process;
using qm::sim::World;

// A temporary home with Library/Logs, so the launch writes its log and
// launch agent for real, as in the application.
struct TemporaryHome : qm::test::TempDir {
  TemporaryHome() { std::filesystem::create_directories(path() + "/Library/Logs"); }
};

enum class State { liveAbsent, countdown, countdownWithMessage };

class Desktop {
 public:
  explicit Desktop(State state) {
    world.setBoolPreference(std::string(qm::kAccessibilityPromptShownDefaultsKey), true);
    world.setTrusted(true);
    if (state != State::liveAbsent) {
      world.startApplication(std::string(qm::kAbletonBundleIdentifier), "Live");
    }
    process.run([&] { app.applicationDidFinishLaunching(); });
    world.advanceBy(1.5);
    if (state == State::countdownWithMessage) {
      process.click({"Save Now"});
    }
  }

  TemporaryHome home;
  World world{home.path()};
  Process process{world};
  AppDelegate app{process.platform()};
};

void refreshMenu(benchmark::State& state, State situation) {
  Desktop desktop(situation);
  for (auto _ : state) {
    desktop.app.refreshMenu();
  }
  benchmark::DoNotOptimize(desktop.process.statusItem()->toolTip().size());
}

BENCHMARK_CAPTURE(refreshMenu, live_absent_animating, State::liveAbsent);
BENCHMARK_CAPTURE(refreshMenu, live_running_countdown, State::countdown);
BENCHMARK_CAPTURE(refreshMenu, live_running_countdown_message, State::countdownWithMessage);

}  // namespace
