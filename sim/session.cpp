#include "session.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "save_sequences.h"
#include "timeline.h"

namespace qm::simtool {

namespace fs = std::filesystem;
using scenario::Check;
using scenario::Command;
using scenario::Op;
using scenario::quote;

namespace {

constexpr const char* kNotRunning = "no Quillmark running";

void touch(const std::string& path) {
  std::ofstream file(path, std::ios::app);
  if (!file) {
    throw std::runtime_error("cannot create " + path);
  }
}

std::string clickProblem(sim::ClickResult result) {
  switch (result) {
    case sim::ClickResult::ok:
      return "chosen";
    case sim::ClickResult::notFound:
      return "no such item";
    case sim::ClickResult::hidden:
      return "the item is hidden";
    case sim::ClickResult::disabled:
      return "the item is disabled";
    case sim::ClickResult::noAction:
      return "the item does nothing when chosen";
    case sim::ClickResult::processEnded:
      return kNotRunning;
  }
  return "?";
}

// The messages of the application log, without their "[date time] " stamps.
std::vector<std::string> logMessages(const std::string& path, bool* exists) {
  std::ifstream in(path, std::ios::binary);
  *exists = static_cast<bool>(in);
  std::vector<std::string> messages;
  std::string line;
  while (std::getline(in, line)) {
    const auto close = line.find("] ");
    messages.push_back(!line.empty() && line[0] == '[' && close != std::string::npos
                           ? line.substr(close + 2)
                           : line);
  }
  return messages;
}

void collectChecked(const sim::SimMenu& menu, std::vector<std::string>& titles) {
  for (const sim::SimMenuItemRef& item : menu.items()) {
    if (item->state() == kControlStateValueOn) {
      titles.push_back(quote(item->title()));
    }
    if (item->submenu()) {
      collectChecked(*item->submenu(), titles);
    }
  }
}

std::string joined(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) {
    text += (text.empty() ? "" : ", ") + part;
  }
  return text;
}

}  // namespace

Session::Session(const std::string& home, Timeline& timeline)
    : home_(home),
      logPath_(home + "/" + std::string(kLogPathInHome)),
      executablePath_(home + "/Applications/Quillmark.app/Contents/MacOS/Quillmark"),
      watcherPath_(home + "/Applications/Quillmark.app/Contents/MacOS/QuillmarkWatcher"),
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

const sim::SimStatusItem* Session::statusItem() const {
  const sim::Process* process = runningQuillmark();
  return process ? process->statusItem().get() : nullptr;
}

const sim::SimMenuItem* Session::menuRow(MenuRow row) const {
  const sim::SimStatusItem* item = statusItem();
  if (item == nullptr || !item->menu() || item->menu()->items().size() != kMenuRowCount) {
    return nullptr;
  }
  return item->menu()->items()[rowIndex(row)].get();
}

// ---------------------------------------------------------------------------
// Playing

int Session::play(const scenario::Scenario& scenario) {
  const Date start = world_.now();
  for (const Command& command : scenario.commands) {
    if (command.op == Op::run) {
      continue;
    }
    const Date due = start + command.time;
    const Command* line = &command;
    // Queued in the common modes, so a line also runs while an alert is open.
    // On coming due it queues itself once more: whatever else is already
    // waiting for that instant (a timer due now) runs before it.
    world_.at(due, [this, line, due] { world_.at(due, [this, line] { execute(*line); }); });
  }
  world_.advanceTo(start + scenario.endTime);
  timeline_.flush();
  return failures_;
}

void Session::execute(const Command& command) {
  switch (command.op) {
    case Op::note:
      timeline_.note(world_.now(), command.words[0]);
      break;
    case Op::launch:
      launch(command);
      break;
    case Op::liveStart: {
      const int pid =
          startApplication(command, std::string(kAbletonBundleIdentifier), command.flag);
      timeline_.command(world_.now(), command, "pid " + std::to_string(pid));
      break;
    }
    case Op::liveQuit:
      quitApplications(command, std::string(kAbletonBundleIdentifier));
      break;
    case Op::appStart: {
      const int pid = startApplication(command, command.words[0], false);
      timeline_.command(world_.now(), command, "pid " + std::to_string(pid));
      break;
    }
    case Op::appQuit:
      quitApplications(command, command.words[0]);
      break;
    case Op::front:
      front(command);
      break;
    case Op::trust:
      world_.setTrusted(command.flag);
      timeline_.command(world_.now(), command);
      break;
    case Op::alertAnswer:
      world_.setNextAlertResponse(static_cast<int>(command.count), command.seconds);
      timeline_.command(world_.now(), command);
      break;
    case Op::failEventSource:
      world_.failNextEventSource();
      timeline_.command(world_.now(), command);
      break;
    case Op::failKeyEvent:
      world_.failKeyEventOfNextSave(static_cast<int>(command.count));
      timeline_.command(world_.now(), command);
      break;
    case Op::prefSet:
      setPreference(command);
      timeline_.command(world_.now(), command);
      break;
    case Op::prefRemove:
      world_.removePreference(command.words[0]);
      timeline_.command(world_.now(), command);
      break;
    case Op::watcher:
      if (command.flag) {
        touch(watcherPath_);
      } else {
        fs::remove(watcherPath_);
      }
      timeline_.command(world_.now(), command);
      break;
    case Op::library:
      world_.setLibraryAvailable(command.flag);
      timeline_.command(world_.now(), command);
      break;
    case Op::logsFolder:
      if (command.flag) {
        fs::create_directories(home_ + "/Library/Logs");
      } else {
        fs::remove_all(home_ + "/Library/Logs");
      }
      timeline_.command(world_.now(), command);
      break;
    case Op::launchctl:
      world_.setLaunchctlPresent(command.flag);
      timeline_.command(world_.now(), command);
      break;
    case Op::bootstrapFails:
      world_.failNextBootstraps(static_cast<int>(command.count));
      timeline_.command(world_.now(), command);
      break;
    case Op::click:
    case Op::quitKey:
      click(command);
      break;
    case Op::expect:
      expect(command);
      break;
    case Op::run:
      break;
  }
}

void Session::launch(const Command& command) {
  if (const Instance* instance = running()) {
    // LaunchServices would only bring the running one forward; a second
    // process of the same bundle never runs.
    throw ScenarioError(command.line, "launch: Quillmark still runs (pid " +
                                          std::to_string(instance->process->pid()) +
                                          "); quit it first");
  }
  auto instance = std::make_unique<Instance>();
  instance->process = std::make_unique<sim::Process>(world_);
  instance->process->setMainExecutablePath(executablePath_);
  const int pid = instance->process->pid();
  bundles_[pid] = sim::Process::kBundleIdentifier;
  instance->delegate = std::make_unique<AppDelegate>(instance->process->platform());
  AppDelegate& delegate = *instance->delegate;
  sim::Process& process = *instance->process;
  instances_.push_back(std::move(instance));
  timeline_.command(world_.now(), command, "Quillmark, pid " + std::to_string(pid));
  process.run([&delegate] { delegate.applicationDidFinishLaunching(); });
}

int Session::startApplication(const Command& command, const std::string& bundleIdentifier,
                              bool hidden) {
  if (bundleIdentifier == sim::Process::kBundleIdentifier) {
    throw ScenarioError(command.line, "Quillmark itself is started with launch");
  }
  const std::vector<int> pids = world_.runningApplications(bundleIdentifier);
  if (!pids.empty()) {
    throw ScenarioError(command.line, bundleIdentifier + " already runs (pid " +
                                          std::to_string(pids.front()) + ")");
  }
  const int pid = world_.startApplication(
      bundleIdentifier, bundleIdentifier == kAbletonBundleIdentifier ? "Live" : bundleIdentifier,
      hidden);
  bundles_[pid] = bundleIdentifier;
  timeline_.started(pid, hidden);
  return pid;
}

void Session::quitApplications(const Command& command, const std::string& bundleIdentifier) {
  if (bundleIdentifier == sim::Process::kBundleIdentifier) {
    throw ScenarioError(command.line,
                        "Quillmark quits through its menu: click \"Quit\" or quit-key");
  }
  if (world_.runningApplications(bundleIdentifier).empty()) {
    throw ScenarioError(command.line, bundleIdentifier + " does not run");
  }
  world_.quitApplications(bundleIdentifier);
  timeline_.command(world_.now(), command);
}

void Session::front(const Command& command) {
  if (command.words.empty()) {
    world_.setFrontmost(std::nullopt);
  } else {
    const std::vector<int> pids = world_.runningApplications(command.words[0]);
    if (pids.empty()) {
      throw ScenarioError(command.line, command.words[0] + " does not run");
    }
    world_.setFrontmost(pids.front());
  }
  timeline_.command(world_.now(), command);
}

void Session::setPreference(const Command& command) {
  const std::string& key = command.words[0];
  if (const auto* integer = std::get_if<std::int64_t>(&command.value)) {
    world_.setIntegerPreference(key, *integer);
  } else if (const auto* real = std::get_if<double>(&command.value)) {
    world_.setDoublePreference(key, *real);
  } else if (const auto* flag = std::get_if<bool>(&command.value)) {
    world_.setBoolPreference(key, *flag);
  } else if (const auto* text = std::get_if<std::string>(&command.value)) {
    world_.setStringPreference(key, *text);
  }
}

void Session::click(const Command& command) {
  timeline_.command(world_.now(), command);
  Instance* instance = running();
  if (instance == nullptr) {
    fail(command, command.text, "Quillmark running", kNotRunning);
    return;
  }
  const sim::ClickResult result = command.op == Op::quitKey
                                      ? instance->process->pressKeyEquivalent("q")
                                      : instance->process->click(command.words);
  if (result != sim::ClickResult::ok) {
    fail(command, command.text,
         command.op == Op::quitKey ? "a visible, enabled item with Command+Q"
                                   : "a visible, enabled item",
         clickProblem(result));
  }
}

void Session::fail(const Command& command, const std::string& what, const std::string& expected,
                   const std::string& actual) {
  ++failures_;
  timeline_.failure(world_.now(), command.line, what, expected, actual);
}

// ---------------------------------------------------------------------------
// Expectations

void Session::expect(const Command& command) {
  const std::string what = std::string("expect ") + scenario::name(command.check);
  const std::string& word = command.words.empty() ? std::string() : command.words[0];
  Instance* instance = running();
  std::string expected;
  std::string actual;

  const auto textOf = [&](MenuRow row) -> std::string {
    const sim::SimMenuItem* item = menuRow(row);
    return item ? quote(item->title()) : kNotRunning;
  };
  const auto countOf = [&](std::int64_t value) {
    expected = std::to_string(command.count);
    actual = std::to_string(value);
  };
  const auto logCount = [&](bool* exists) {
    std::vector<std::string> messages = logMessages(logPath_, exists);
    return std::count(messages.begin(), messages.end(), word);
  };

  switch (command.check) {
    case Check::status:
    case Check::ableton:
    case Check::permission:
    case Check::autosave:
    case Check::toggle:
      expected = quote(word);
      actual = textOf(menuRowNamed(scenario::name(command.check))->row);
      break;
    case Check::tooltip: {
      expected = quote(word);
      const sim::SimStatusItem* item = statusItem();
      actual = item ? quote(item->toolTip()) : kNotRunning;
      break;
    }
    case Check::countdown:
      expected = quote(word);
      actual = instance ? quote(instance->delegate->formattedCountdownText()) : kNotRunning;
      break;
    case Check::checked: {
      expected = command.words.empty() ? "none" : quote(word);
      const sim::SimStatusItem* item = statusItem();
      if (item == nullptr || !item->menu()) {
        actual = kNotRunning;
        break;
      }
      std::vector<std::string> titles;
      collectChecked(*item->menu(), titles);
      actual = titles.empty() ? "none" : joined(titles);
      break;
    }
    case Check::visible:
    case Check::hidden: {
      const bool wantVisible = command.check == Check::visible;
      expected = quote(word) + (wantVisible ? " visible" : " hidden");
      const sim::SimStatusItem* item = statusItem();
      if (item == nullptr || !item->menu()) {
        actual = kNotRunning;
        break;
      }
      const sim::SimMenuItemRef found = item->menu()->item(word);
      actual = !found ? "no such item" : quote(word) + (found->hidden() ? " hidden" : " visible");
      break;
    }
    case Check::log: {
      bool exists = false;
      const auto count = logCount(&exists);
      expected = "a log line " + quote(word);
      actual = !exists ? "no log file" : count > 0 ? expected : "no such line";
      break;
    }
    case Check::logCount: {
      bool exists = false;
      countOf(logCount(&exists));
      expected += " lines " + quote(word);
      actual += " lines " + quote(word) + (exists ? "" : " (no log file)");
      break;
    }
    case Check::noLog: {
      bool exists = false;
      const auto count = logCount(&exists);
      expected = "no log line " + quote(word);
      actual = count == 0 ? expected : std::to_string(count) + " such lines";
      break;
    }
    case Check::saves: {
      std::int64_t saves = 0;
      for (const auto& [pid, bundle] : bundles_) {
        if (bundle == kAbletonBundleIdentifier) {
          saves += completedSaveSequences(world_.keyEvents(), pid);
        }
      }
      countOf(saves);
      break;
    }
    case Check::front: {
      expected = command.words.empty() ? "none" : word;
      const std::optional<int> pid = world_.frontmost();
      actual = pid ? bundleIdentifier(*pid) : "none";
      break;
    }
    case Check::running:
      expected = command.flag ? "yes" : "no";
      actual = instance ? "yes" : "no";
      break;
    case Check::alerts:
      countOf(static_cast<std::int64_t>(world_.alerts().size()));
      break;
    case Check::prompts:
      countOf(world_.promptShownCount());
      break;
    case Check::launchctl:
      countOf(std::count_if(world_.taskRuns().begin(), world_.taskRuns().end(),
                            [](const sim::TaskRun& run) { return run.status.has_value(); }));
      break;
    case Check::pref: {
      expected = scenario::describe(command.value);
      scenario::PrefValue stored;
      if (const sim::PreferenceValue* value = world_.preference(word)) {
        std::visit([&stored](const auto& v) { stored = v; }, *value);
      }
      actual = scenario::describe(stored);
      break;
    }
    case Check::file:
      expected = quote(word) + (command.flag ? " present" : " absent");
      actual = quote(word) + (fs::exists(fs::path(home_) / word) ? " present" : " absent");
      break;
    case Check::opened: {
      expected = quote(word) + " opened";
      std::vector<std::string> urls;
      for (const sim::OpenedURL& opened : world_.openedURLs()) {
        urls.push_back(quote(opened.url));
      }
      const bool found =
          std::any_of(world_.openedURLs().begin(), world_.openedURLs().end(),
                      [&](const sim::OpenedURL& opened) { return opened.url == word; });
      actual = found ? expected : urls.empty() ? "no URL opened" : "opened only " + joined(urls);
      break;
    }
    case Check::openedCount:
      countOf(static_cast<std::int64_t>(world_.openedURLs().size()));
      break;
  }
  if (expected != actual) {
    fail(command, what, expected, actual);
  }
}

}  // namespace qm::simtool
