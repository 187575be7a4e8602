// Checking the scenario's expectations against the world and the running
// Quillmark.
#include "session.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "home_folder.h"
#include "save_sequences.h"
#include "timeline.h"

namespace qm::simtool {

namespace fs = std::filesystem;
using scenario::Check;
using scenario::Command;
using scenario::quote;

namespace {

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
      if (!staysUnderHome(home_, word)) {
        throw ScenarioError(command.line, "expect file: " + scenario::excerpt(word) +
                                              " leads out of the home folder");
      }
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
    case Check::strayKeys:
      countOf(static_cast<std::int64_t>(
          world_.userKeysReceivedBy(std::string(kAbletonBundleIdentifier))));
      break;
    case Check::live: {
      expected = command.flag ? "hidden" : "shown";
      const std::vector<int> pids =
          world_.runningApplications(std::string(kAbletonBundleIdentifier));
      actual = pids.empty() ? "not running" : world_.isHidden(pids.front()) ? "hidden" : "shown";
      break;
    }
    case Check::liveSaves:
      countOf(world_.liveSaves());
      break;
    case Check::liveDialog:
      expected = command.flag ? "open" : "closed";
      actual = world_.liveDialogOpen() ? "open" : "closed";
      break;
    case Check::notification: {
      expected = command.words.empty() ? "none" : quote(word);
      const std::vector<sim::NotificationRecord>& posted = world_.notifications();
      actual = posted.empty() ? "none" : quote(posted.back().title);
      break;
    }
    case Check::notifications:
      countOf(static_cast<std::int64_t>(world_.notifications().size()));
      break;
    case Check::menuSaves:
      countOf(static_cast<std::int64_t>(world_.menuPresses().size()));
      break;
    case Check::liveActivations:
      countOf(static_cast<std::int64_t>(
          world_.activationRequestsOf(std::string(kAbletonBundleIdentifier))));
      break;
    case Check::mainThreadWaitsAtMost: {
      // Within rounding: the waits' times are read off a clock that counts
      // seconds since 1970.
      constexpr double kRounding = 1e-6;
      expected = "at most " + secondsText(command.seconds) + " s waiting for Live in one second";
      const sim::World::WaitWindow worst = world_.worstLiveWaitSecond();
      actual = worst.seconds <= command.seconds + kRounding
                   ? expected
                   : secondsText(worst.seconds) + " s in the second from " +
                         timeline_.timeText(worst.start);
      break;
    }
  }
  if (expected != actual) {
    fail(command, what, expected, actual);
  }
}

}  // namespace qm::simtool
