// quillmark-sim: Quillmark's application core on a simulated desktop, played
// from a scenario and printed as a timeline.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <iostream>
#include <optional>
#include <string>

#include "builtin_scenario.h"
#include "cairo_replay.h"
#include "help.h"
#include "home_folder.h"
#include "icon_renderer.h"
#include "interruption.h"
#include "scenario.h"
#include "session.h"
#include "timeline.h"

namespace {

using qm::simtool::Home;
using qm::simtool::Session;
using qm::simtool::Timeline;

constexpr int kAllHeld = 0;
constexpr int kSomeFailed = 1;
constexpr int kUsageError = 2;

struct Options {
  std::optional<std::string> home;
  std::optional<std::string> icon;
  std::optional<std::string> scenario;
  bool quiet = false;
  bool everySecond = false;
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
    } else if (argument == "--every-second") {
      options->everySecond = true;
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

// The whole scenario from a file or standard input, refusing a folder, a
// read error and more than a scenario may hold.
bool readScenario(const Options& options, std::string* text, std::string* name,
                  std::string* reason) {
  if (!options.scenario) {
    *text = qm::simtool::kBuiltinScenario;
    *name = "built-in scenario";
    return true;
  }
  const bool standardInput = *options.scenario == "-";
  *name = standardInput ? "<stdin>" : *options.scenario;
  const std::string what = standardInput ? "standard input" : *options.scenario;
  const int fd =
      standardInput ? STDIN_FILENO : ::open(options.scenario->c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *reason = "cannot read " + what + ": " + std::strerror(errno);
    return false;
  }
  struct Closer {
    int fd;
    bool owned;
    ~Closer() {
      if (owned) {
        ::close(fd);
      }
    }
  } closer{fd, !standardInput};
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    *reason = "cannot read " + what + ": it is a folder, not a scenario file";
    return false;
  }
  text->clear();
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      *reason = "cannot read " + what + ": " + std::strerror(errno);
      return false;
    }
    if (got == 0) {
      return true;
    }
    text->append(buffer, static_cast<std::size_t>(got));
    if (text->size() > qm::scenario::kMaxScenarioBytes) {
      *reason = what + " is larger than " + std::to_string(qm::scenario::kMaxScenarioBytes) +
                " bytes, more than a scenario may hold";
      return false;
    }
  }
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
  // The icon and the pictures keep cairo's and fontconfig's caches until the
  // end; released then, they leave leak checkers nothing to report.
  struct ReleaseRenderer {
    ~ReleaseRenderer() { qm::render::releaseRendererCaches(); }
  } releaseRenderer;
  Options options;
  std::string reason;
  if (!parseArguments(argc, argv, &options, &reason)) {
    return usageError(reason);
  }
  if (options.help) {
    std::cout << qm::simtool::kHelp;
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
    std::cerr << name;
    if (parseError.line > 0) {
      std::cerr << ":" << parseError.line;
    }
    std::cerr << ": " << parseError.reason << "\n";
    return kUsageError;
  }

  // Written first, so a bad path is refused before anything is printed.
  std::string retina;
  if (options.icon && !qm::simtool::writeIconFiles(*options.icon, &retina, &reason)) {
    return usageError(reason);
  }

  Home home;
  if (!(options.home ? home.use(*options.home, &reason)
                     : qm::simtool::makeTemporaryHomeRemovedWhenInterrupted(home, &reason))) {
    return usageError(reason);
  }

  Timeline timeline(std::cout, {.quiet = options.quiet,
                                .showDate = spansDays(qm::scenario::monotonicEnd(scenario)),
                                .everySecond = options.everySecond});
  Session session(home.path(), timeline);
  timeline.follow(session);
  if (!options.quiet) {
    std::cout << "Quillmark on a simulated desktop · " << name << " · home " << home.path()
              << (home.temporary() ? " (removed at exit)" : "") << "\n";
  }
  if (options.icon && !options.quiet) {
    std::cout << "icon: " << *options.icon << " (22x22), " << retina << " (44x44)\n";
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
