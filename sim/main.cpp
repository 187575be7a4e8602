// quillmark-sim: Quillmark's application core on a simulated desktop, played
// from a scenario and printed as a timeline.
#include <stdlib.h>

#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>

#include "builtin_scenario.h"
#include "icon_renderer.h"
#include "scenario.h"
#include "session.h"
#include "timeline.h"

namespace {

namespace fs = std::filesystem;
using qm::simtool::Session;
using qm::simtool::Timeline;

constexpr int kAllHeld = 0;
constexpr int kSomeFailed = 1;
constexpr int kUsageError = 2;

// Marks a home folder that quillmark-sim made, so a later run may empty it.
constexpr const char* kHomeMarker = ".quillmark-sim-home";

constexpr const char* kHelp =
    R"(Usage: quillmark-sim [--home DIR] [--icon FILE.png] [--quiet] [SCENARIO | -]

Runs Quillmark's application core on a simulated macOS desktop with a virtual
clock and prints, one event a line with its virtual time, what the user sees
and what the system does: status lines and tooltip as they change, log lines,
key events, focus changes, alerts, launchctl runs, quit. Without SCENARIO it
plays a built-in session, a compressed day with Live; "-" reads the scenario
from standard input.

Options:
  --home DIR       the simulated user's home: the log lands in
                   DIR/Library/Logs, the launch agent in
                   DIR/Library/LaunchAgents.
                   DIR is created when missing; it must be empty or made by an
                   earlier run, whose files are then replaced. Default: a new
                   temporary folder, removed at exit.
  --icon FILE.png  also render the menu-bar icon with cairo, as two files:
                   FILE.png at 22x22 and FILE@2x.png at 44x44 (Retina).
  --quiet          print only failed expectations.
  -h, --help       print this text.

Exit status: 0 when every expectation held, 1 when one failed, 2 for bad
arguments, a malformed scenario or a step the world cannot take.

The world at the start, 2025-03-02 09:00:00 local time: Finder
(com.apple.finder) running and frontmost; Live not running; Accessibility
not granted; no preferences; launchctl present; an empty Library/Logs; the
application at ~/Applications/Quillmark.app with the watcher beside its
executable. An alert takes its second button at once unless told otherwise.
The short time style is "HH:mm".

Scenario: one command a line, # starts a comment, blank lines are ignored.
Texts stand in double quotes with \" \\ \n escapes. A line may begin with
"at T" (seconds since the start, never going back) or "after D" (seconds
after the previous line); otherwise it runs at the previous line's time.
Times take decimals and a unit s, m, h or d: 90, 1.5, 10m, 7d. A line runs
like a common-mode timer: after the timers due at its instant, also while an
alert is open; a line whose time a save slept past runs at once, in order.

The world:
  launch                    start Quillmark; refused (exit 2) while it runs
  live start [hidden]       start Live (the frontmost app stays as it is)
  live quit
  app start ID, app quit ID other applications by bundle identifier
  front ID, front none      make an application frontmost, or none
  trust on|off              the Accessibility permission
  alert answer first|second [open D]
                            how the next alert is answered, after D seconds
  fail event-source, fail key-event N     a fault in the next save (N 1-4)
  pref set KEY int N | real X | bool yes|no | string "S"
  pref remove KEY
  watcher present|absent    library available|unavailable
  logs-folder present|absent
  launchctl present|missing
  bootstrap fails N         the next N launchctl bootstrap runs exit 5
  note "TEXT"               a line in the timeline
What the user does:
  click "TITLE" ["ITEM"]    choose a menu item (or an item of its submenu);
                            a hidden, disabled or missing item fails
  quit-key                  Command+Q with the menu open
What must hold (exact comparisons):
  expect status|ableton|permission|autosave|toggle|tooltip|countdown "TEXT"
  expect checked "TITLE"|none         expect visible|hidden "TITLE"
  expect log "MESSAGE"      expect log-count "MESSAGE" N
  expect no-log "MESSAGE"   expect saves|alerts|prompts|launchctl|opened-count N
  expect front ID|none      expect running yes|no        expect opened "URL"
  expect pref KEY 42|2.5|yes|no|"text"|absent
  expect file "PATH-UNDER-HOME" present|absent
  run T                     run to time T and stop reading
saves counts complete Cmd+S sequences delivered to Live, prompts the system
permission prompts shown, launchctl the runs that started.

Examples: tests/scenarios/*.scenario in the source tree.
)";

struct Options {
  std::optional<std::string> home;
  std::optional<std::string> icon;
  std::optional<std::string> scenario;
  bool quiet = false;
  bool help = false;
};

int usageError(const std::string& reason) {
  std::cerr << "quillmark-sim: " << reason << "\nTry 'quillmark-sim --help'.\n";
  return kUsageError;
}

// False with a reason for arguments that make no sense.
bool parseArguments(int argc, char** argv, Options* options, std::string* reason) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const auto value = [&](const char* name, std::optional<std::string>& target) {
      const std::string prefix = std::string(name) + "=";
      std::string text;
      if (argument.compare(0, prefix.size(), prefix) == 0) {
        text = argument.substr(prefix.size());
      } else if (i + 1 < argc) {
        text = argv[++i];
      } else {
        *reason = std::string(name) + " needs a value";
        return false;
      }
      if (target) {
        *reason = std::string(name) + " given twice";
        return false;
      }
      if (text.empty()) {
        *reason = std::string(name) + " needs a non-empty value";
        return false;
      }
      target = text;
      return true;
    };
    const auto is = [&](const char* name) {
      return argument == name || argument.rfind(std::string(name) + "=", 0) == 0;
    };
    if (argument == "-h" || argument == "--help") {
      options->help = true;
    } else if (argument == "--quiet") {
      options->quiet = true;
    } else if (is("--home")) {
      if (!value("--home", options->home)) {
        return false;
      }
    } else if (is("--icon")) {
      if (!value("--icon", options->icon)) {
        return false;
      }
    } else if (argument.size() > 1 && argument[0] == '-') {
      *reason = "unknown option " + argument;
      return false;
    } else if (options->scenario) {
      *reason = "one scenario at a time (got " + *options->scenario + " and " + argument + ")";
      return false;
    } else {
      options->scenario = argument;
    }
  }
  return true;
}

// The home folder: made for this run and removed at exit, or given.
class Home {
 public:
  ~Home() {
    if (temporary_ && !path_.empty()) {
      std::error_code ignored;
      fs::remove_all(path_, ignored);
    }
  }

  bool makeTemporary(std::string* reason) {
    std::string pattern = (fs::temp_directory_path() / "quillmark-sim-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      *reason = "cannot make a temporary home folder";
      return false;
    }
    path_ = pattern;
    temporary_ = true;
    return mark(reason);
  }

  bool use(const std::string& given, std::string* reason) {
    std::error_code error;
    const fs::path path = fs::absolute(given, error).lexically_normal();
    path_ = path.string();
    while (path_.size() > 1 && path_.back() == '/') {
      path_.pop_back();
    }
    if (fs::exists(path, error)) {
      if (!fs::is_directory(path, error)) {
        *reason = "--home " + given + " is not a folder";
        return false;
      }
      const bool ours = fs::exists(path / kHomeMarker, error);
      if (!ours && !fs::is_empty(path, error)) {
        *reason = "--home " + given + " is not empty and was not made by quillmark-sim";
        return false;
      }
      // An earlier run's files would disturb this one's expectations.
      for (const fs::directory_entry& entry : fs::directory_iterator(path, error)) {
        fs::remove_all(entry.path(), error);
      }
    }
    fs::create_directories(path, error);
    if (error) {
      *reason = "--home " + given + ": " + error.message();
      return false;
    }
    return mark(reason);
  }

  const std::string& path() const { return path_; }
  bool temporary() const { return temporary_; }

 private:
  bool mark(std::string* reason) {
    std::ofstream marker(fs::path(path_) / kHomeMarker);
    if (!marker) {
      *reason = "cannot write in the home folder " + path_;
      return false;
    }
    return true;
  }

  std::string path_;
  bool temporary_ = false;
};

bool readScenario(const Options& options, std::string* text, std::string* name,
                  std::string* reason) {
  if (!options.scenario) {
    *text = qm::simtool::kBuiltinScenario;
    *name = "built-in scenario";
    return true;
  }
  std::ostringstream content;
  if (*options.scenario == "-") {
    content << std::cin.rdbuf();
    *name = "<stdin>";
  } else {
    std::ifstream file(*options.scenario, std::ios::binary);
    if (!file) {
      *reason = "cannot read " + *options.scenario;
      return false;
    }
    content << file.rdbuf();
    *name = *options.scenario;
  }
  *text = content.str();
  return true;
}

// True when the session reaches another calendar day.
bool spansDays(double endSeconds) {
  const auto day = [](qm::Date date) {
    const auto seconds = static_cast<std::time_t>(std::floor(date));
    std::tm local{};
    localtime_r(&seconds, &local);
    return local.tm_year * 400 + local.tm_yday;
  };
  const qm::Date start = qm::sim::World::startDate();
  return day(start) != day(start + endSeconds);
}

// Everything but the last-resort error report.
int runCommand(int argc, char** argv) {
  Options options;
  std::string reason;
  if (!parseArguments(argc, argv, &options, &reason)) {
    return usageError(reason);
  }
  if (options.help) {
    std::cout << kHelp;
    return kAllHeld;
  }

  std::string text;
  std::string name;
  if (!readScenario(options, &text, &name, &reason)) {
    return usageError(reason);
  }
  qm::scenario::Scenario scenario;
  qm::scenario::ParseError parseError;
  if (!qm::scenario::parse(text, &scenario, &parseError)) {
    std::cerr << name << ":" << parseError.line << ": " << parseError.reason << "\n";
    return kUsageError;
  }

  Home home;
  if (!(options.home ? home.use(*options.home, &reason) : home.makeTemporary(&reason))) {
    return usageError(reason);
  }

  Timeline timeline(std::cout, options.quiet, spansDays(scenario.endTime));
  Session session(home.path(), timeline);
  timeline.follow(session);
  if (!options.quiet) {
    std::cout << "Quillmark on a simulated desktop · " << name << " · home " << home.path()
              << (home.temporary() ? " (removed at exit)" : "") << "\n";
  }
  if (options.icon) {
    std::string retina;
    if (!qm::simtool::writeIconFiles(*options.icon, &retina, &reason)) {
      return usageError(reason);
    }
    if (!options.quiet) {
      std::cout << "icon: " << *options.icon << " (22x22), " << retina << " (44x44)\n";
    }
  }

  int failures = 0;
  try {
    failures = session.play(scenario);
  } catch (const qm::simtool::ScenarioError& error) {
    timeline.flush();
    std::cerr << name << ":" << error.line << ": " << error.what() << "\n";
    return kUsageError;
  }
  // A choice in the menu expects the item to be there and usable.
  int expectations = 0;
  for (const qm::scenario::Command& command : scenario.commands) {
    using qm::scenario::Op;
    expectations +=
        command.op == Op::expect || command.op == Op::click || command.op == Op::quitKey ? 1 : 0;
  }
  timeline.summary(session.world().now(), expectations, failures);
  std::cout.flush();
  return failures == 0 ? kAllHeld : kSomeFailed;
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  try {
    return runCommand(argc, argv);
  } catch (const std::exception& error) {
    // The home folder or the system failed us, not the scenario's author.
    std::cout.flush();
    std::cerr << "quillmark-sim: " << error.what() << "\n";
    return kUsageError;
  }
}
