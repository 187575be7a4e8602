// The session's frame: the home folder and the world, the Quillmark processes
// on it, and playing the scenario's lines on the virtual clock.
#include "session.h"

#include <filesystem>
#include <fstream>

#include "home_folder.h"
#include "timeline.h"

namespace qm::simtool {

namespace fs = std::filesystem;
using scenario::Command;
using scenario::Op;

void Session::touch(const std::string& path) {
  std::ofstream file(path, std::ios::app);
  if (!file) {
    throw std::runtime_error("cannot create " + path);
  }
}

Session::Session(const std::string& home, Timeline& timeline)
    : home_(home),
      logPath_(home + "/" + std::string(kLogPathInHome)),
      executablePath_(home + "/" + std::string(kExecutableInHome)),
      watcherPath_(home + "/" + std::string(kWatcherInHome)),
      timeline_(timeline),
      world_(home) {
  fs::create_directories(home + "/Library/Logs");
  fs::create_directories(fs::path(executablePath_).parent_path());
  touch(executablePath_);
  touch(watcherPath_);
  const int finder = world_.startApplication(kFinderBundleIdentifier, "Finder");
  bundles_[finder] = kFinderBundleIdentifier;
  world_.setFrontmost(finder);
}

Session::~Session() {
  world_.setObserver({});
}

std::string Session::bundleIdentifier(int pid) const {
  auto it = bundles_.find(pid);
  return it == bundles_.end() ? "pid " + std::to_string(pid) : it->second;
}

Session::Instance* Session::running() const {
  if (instances_.empty() || instances_.back()->process->terminated()) {
    return nullptr;
  }
  return instances_.back().get();
}

sim::Process* Session::runningQuillmark() const {
  Instance* instance = running();
  return instance ? instance->process.get() : nullptr;
}

void Session::queue(const Command& command, Date start) {
  const Date due = start + command.time;
  const Command* line = &command;
  // Queued in the common modes, so a line also runs while an alert is open.
  // On coming due it queues itself once more: whatever else is already
  // waiting for that instant (a timer due now) runs before it.
  world_.at(due, [this, line, due] { world_.at(due, [this, line] { execute(*line); }); });
}

int Session::play(const scenario::Scenario& scenario) {
  const Date start = world_.now();
  // The world sleeps only between two advances, never inside a call: the
  // lines are queued up to the next sleep and those at its own instant, the
  // world advanced to that instant, put to sleep and woken, and only then
  // are the later lines queued. Those timed inside the sleep are overdue and
  // run right after the wake, in order.
  const std::vector<Command>& commands = scenario.commands;
  const auto isSleep = [&commands](std::size_t i) { return commands[i].op == Op::systemSleep; };
  std::size_t next = 0;
  while (next < commands.size()) {
    std::size_t sleep = next;
    while (sleep < commands.size() && !isSleep(sleep)) {
      ++sleep;
    }
    std::size_t end = std::min(sleep + 1, commands.size());
    while (end < commands.size() && !isSleep(end) && commands[end].time == commands[sleep].time) {
      ++end;
    }
    for (; next < end; ++next) {
      if (commands[next].op != Op::run) {
        queue(commands[next], start);
      }
    }
    if (sleep < commands.size()) {
      world_.advanceTo(start + commands[sleep].time);
      sleepThrough(commands[sleep]);
    }
  }
  world_.advanceTo(start + scenario.endTime);
  timeline_.flush();
  return failures_;
}

void Session::sleepThrough(const Command& command) {
  world_.sleepSystem(command.seconds);
  timeline_.wake(world_.now(), command.seconds);
  // Told of the wake before any overdue timer fires: those fire at the next
  // advance.
  if (Instance* instance = running()) {
    AppDelegate& delegate = *instance->delegate;
    instance->process->run([&delegate] { delegate.systemDidWake(); });
  }
}

void Session::fail(const Command& command, const std::string& what, const std::string& expected,
                   const std::string& actual) {
  ++failures_;
  timeline_.failure(world_.now(), command.line, what, expected, actual);
}

}  // namespace qm::simtool
