// Process facts and actions over NSApplication, NSBundle, NSFileManager,
// NSDateFormatter, statfs and posix_spawn.

#import <AppKit/AppKit.h>

#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "appkit_objects.h"
#include "macos_platform.h"

extern char** environ;

namespace qm::macos {
namespace {

class MacSystem final : public System {
 public:
  [[noreturn]] void terminate() override {
    [NSApp terminate:nil];
    // AppKit declines to quit while a modal alert is open, and then
    // terminate: returns; end the process the way terminate: would have.
    std::exit(EXIT_SUCCESS);
  }

  std::string mainExecutablePath() override {
    return toStdString([[NSBundle mainBundle] executablePath]);
  }

  std::string homeDirectory() override { return toStdString(NSHomeDirectory()); }

  std::optional<std::string> userLibraryDirectory() override {
    NSArray<NSURL*>* urls = [[NSFileManager defaultManager] URLsForDirectory:NSLibraryDirectory
                                                                   inDomains:NSUserDomainMask];
    NSURL* library = [urls firstObject];
    if (library == nil || [library path] == nil) {
      return std::nullopt;
    }
    return toStdString([library path]);
  }

  std::uint32_t userId() override { return getuid(); }

  bool isVolumeReadOnly(const std::string& path) override {
    struct statfs volume {};
    if (statfs(path.c_str(), &volume) != 0) {
      return false;
    }
    return (volume.f_flags & MNT_RDONLY) != 0;
  }

  // posix_spawn and waitpid rather than NSTask: waitUntilExit runs the run
  // loop in the default mode until the task ends, and a launchctl run from a
  // timer (the bootstrap retries) would then let other timers and delayed
  // calls, the first-launch alert among them, fire inside it.
  int runTaskAndWait(const std::string& launchPath,
                     const std::vector<std::string>& arguments) override {
    std::vector<std::string> argumentStrings;
    argumentStrings.reserve(arguments.size() + 1);
    argumentStrings.push_back(launchPath);
    argumentStrings.insert(argumentStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : argumentStrings) {
      argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    // The child inherits this process's standard input, output and error.
    pid_t child = 0;
    const int error =
        posix_spawn(&child, launchPath.c_str(), nullptr, nullptr, argv.data(), environ);
    if (error != 0) {
      throw std::runtime_error("cannot run " + launchPath + ": " + std::strerror(error));
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
      if (errno != EINTR) {
        return -1;
      }
    }
    if (WIFEXITED(status)) {
      return WEXITSTATUS(status);
    }
    // Killed by a signal: a failure all the same, in the shell's manner.
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
  }

  std::string shortTimeString(Date date) override {
    NSDateFormatter* formatter = [[NSDateFormatter alloc] init];
    [formatter setTimeStyle:NSDateFormatterShortStyle];
    return toStdString([formatter stringFromDate:[NSDate dateWithTimeIntervalSince1970:date]]);
  }
};

}  // namespace

std::unique_ptr<System> makeSystem() {
  return std::make_unique<MacSystem>();
}

}  // namespace qm::macos
