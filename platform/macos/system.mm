// Process facts and actions over NSApplication, NSBundle, NSFileManager,
// NSURL, NSDateFormatter, NSProcessInfo, CGSession, statfs and posix_spawn.

#import <AppKit/AppKit.h>
#import <CoreGraphics/CoreGraphics.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
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

using Clock = std::chrono::steady_clock;

// How long a program ended at its time limit has to go after SIGTERM before
// SIGKILL.
constexpr auto kTerminationGrace = std::chrono::milliseconds(500);
// How long one wait for the child's words or its end may take.
constexpr int kPollMilliseconds = 10;

[[noreturn]] void throwCannotRun(const std::string& launchPath, int error) {
  throw std::runtime_error("cannot run " + launchPath + ": " + std::strerror(error));
}

Clock::duration secondsFromNow(double seconds) {
  // No wait for a bad bound; a huge or infinite one is cut to a million seconds.
  const double bounded = seconds > 0 ? std::min(seconds, 1.0e6) : 0.0;
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(bounded));
}

// A descriptor closed when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
  ~Descriptor() { reset(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const { return descriptor_; }
  void reset() {
    if (descriptor_ >= 0) {
      close(descriptor_);
      descriptor_ = -1;
    }
  }

 private:
  int descriptor_;
};

// What the child is given: the null device for its standard input and
// output, the pipe for its standard error and no other descriptor of this
// process, whether or not it is marked close-on-exec.
struct SpawnSettings {
  posix_spawnattr_t attributes{};
  posix_spawn_file_actions_t actions{};
  int error = 0;

  explicit SpawnSettings(int errorWriteEnd) {
    error = posix_spawnattr_init(&attributes);
    attributesMade_ = error == 0;
    if (error == 0) {
      error = posix_spawn_file_actions_init(&actions);
      actionsMade_ = error == 0;
    }
    if (error == 0) {
      error =
          posix_spawnattr_setflags(&attributes, static_cast<short>(POSIX_SPAWN_CLOEXEC_DEFAULT));
    }
    if (error == 0) {
      error = posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    if (error == 0) {
      error = posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    if (error == 0) {
      error = posix_spawn_file_actions_adddup2(&actions, errorWriteEnd, STDERR_FILENO);
    }
  }
  ~SpawnSettings() {
    if (actionsMade_) {
      posix_spawn_file_actions_destroy(&actions);
    }
    if (attributesMade_) {
      posix_spawnattr_destroy(&attributes);
    }
  }
  SpawnSettings(const SpawnSettings&) = delete;
  SpawnSettings& operator=(const SpawnSettings&) = delete;

 private:
  bool attributesMade_ = false;
  bool actionsMade_ = false;
};

// The start of what the child writes to its standard error. The rest is read
// and dropped, so that a full pipe never holds the child up.
class ErrorOutput {
 public:
  explicit ErrorOutput(int readEnd) : readEnd_(readEnd) {}

  // Waits a moment for words or the end of the pipe, and reads them.
  void waitAndRead() {
    if (ended_) {
      usleep(kPollMilliseconds * 1000);
      return;
    }
    pollfd entry{readEnd_, POLLIN, 0};
    if (poll(&entry, 1, kPollMilliseconds) > 0) {
      read();
    }
  }

  // Reads what is there without waiting; a child that writes without pause
  // still gets its time limit checked between two calls.
  void read() {
    constexpr int kReadsAtOnce = 16;
    char buffer[4096];
    for (int reads = 0; reads < kReadsAtOnce && !ended_; ++reads) {
      const ssize_t count = ::read(readEnd_, buffer, sizeof buffer);
      if (count > 0) {
        const std::size_t room = System::kTaskErrorOutputLimit - text_.size();
        text_.append(buffer, std::min(room, static_cast<std::size_t>(count)));
      } else if (count < 0 && errno == EINTR) {
        continue;
      } else if (count < 0 && errno == EAGAIN) {
        return;
      } else {
        ended_ = true;
      }
    }
  }

  const std::string& text() const { return text_; }

 private:
  int readEnd_;
  bool ended_ = false;
  std::string text_;
};

// The exit status once the child has ended and is reaped: a signal's death
// counts as 128 plus its number, as in the shell.
std::optional<int> reapedStatus(pid_t child) {
  int status = 0;
  pid_t answer = 0;
  while ((answer = waitpid(child, &status, WNOHANG)) < 0 && errno == EINTR) {
  }
  if (answer == 0) {
    return std::nullopt;
  }
  if (answer < 0) {
    // Someone else reaped it: ended, with no status to tell.
    return -1;
  }
  if (WIFEXITED(status)) {
    return WEXITSTATUS(status);
  }
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

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

  int processIdentifier() override { return getpid(); }

  VolumeKind volumeKind(const std::string& path) override {
    struct statfs volume {};
    if (statfs(path.c_str(), &volume) != 0) {
      return VolumeKind::unknown;
    }
    if ((volume.f_flags & MNT_RDONLY) != 0) {
      return VolumeKind::readOnly;
    }
    if ((volume.f_flags & MNT_LOCAL) == 0) {
      return VolumeKind::network;
    }
    if ((volume.f_flags & MNT_REMOVABLE) != 0) {
      return VolumeKind::removable;
    }
    // The kernel marks only disk images removable; an external disk or a
    // card is told by its media.
    NSURL* url = [NSURL fileURLWithPath:toNSString(path)];
    bool canGo = false;
    for (NSString* key in @[ NSURLVolumeIsRemovableKey, NSURLVolumeIsEjectableKey ]) {
      id value = nil;
      if (![url getResourceValue:&value forKey:key error:nullptr]) {
        return VolumeKind::unknown;
      }
      canGo = canGo || [value boolValue];
    }
    return canGo ? VolumeKind::removable : VolumeKind::fixed;
  }

  // posix_spawn and waitpid rather than NSTask: waitUntilExit runs the run
  // loop in the default mode until the task ends, and a launchctl run from a
  // timer (the bootstrap retries) would then let other timers and delayed
  // calls, the first-launch alert among them, fire inside it.
  TaskResult runTask(const std::string& launchPath, const std::vector<std::string>& arguments,
                     double timeoutSeconds) override {
    std::vector<std::string> argumentStrings;
    argumentStrings.reserve(arguments.size() + 1);
    argumentStrings.push_back(launchPath);
    argumentStrings.insert(argumentStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : argumentStrings) {
      argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    int ends[2] = {-1, -1};
    if (pipe(ends) != 0) {
      throwCannotRun(launchPath, errno);
    }
    Descriptor readEnd(ends[0]);
    Descriptor writeEnd(ends[1]);
    // Neither end may reach another program this process starts, and
    // reading must never block the main thread.
    fcntl(readEnd.get(), F_SETFD, FD_CLOEXEC);
    fcntl(writeEnd.get(), F_SETFD, FD_CLOEXEC);
    fcntl(readEnd.get(), F_SETFL, fcntl(readEnd.get(), F_GETFL) | O_NONBLOCK);

    pid_t child = 0;
    {
      const SpawnSettings settings(writeEnd.get());
      if (settings.error != 0) {
        throwCannotRun(launchPath, settings.error);
      }
      const int error = posix_spawn(&child, launchPath.c_str(), &settings.actions,
                                    &settings.attributes, argv.data(), environ);
      if (error != 0) {
        throwCannotRun(launchPath, error);
      }
    }
    // The child holds the only write end now: the pipe ends with it.
    writeEnd.reset();

    TaskResult result;
    ErrorOutput errorOutput(readEnd.get());
    const auto deadline = Clock::now() + secondsFromNow(timeoutSeconds);
    std::optional<int> status;
    while (!(status = reapedStatus(child)) && Clock::now() < deadline) {
      errorOutput.waitAndRead();
    }
    if (!status) {
      // SIGTERM lets it end in its own way; SIGKILL is for one that will not.
      kill(child, SIGTERM);
      const auto graceEnd = Clock::now() + kTerminationGrace;
      while (!(status = reapedStatus(child)) && Clock::now() < graceEnd) {
        errorOutput.waitAndRead();
      }
      if (!status) {
        kill(child, SIGKILL);
        int ignored = 0;
        while (waitpid(child, &ignored, 0) < 0 && errno == EINTR) {
        }
      }
      result.timedOut = true;
      result.status = -1;
    } else {
      result.status = *status;
    }
    errorOutput.read();
    result.errorOutput = errorOutput.text();
    return result;
  }

  // macOS 14's cooperative request; activateIgnoringOtherApps: is deprecated and forces nothing.
  void activate() override { [NSApp activate]; }

  // The window server's record of this login session: off the console while
  // another user has the screen (fast user switching), and marked with the
  // screen's lock, a key Apple does not document, present while locked alone.
  std::optional<bool> sessionIsLocked() override {
    NSDictionary* session = CFBridgingRelease(CGSessionCopyCurrentDictionary());
    if (![session isKindOfClass:[NSDictionary class]]) {
      return std::nullopt;
    }
    id onConsole = session[(__bridge NSString*)kCGSessionOnConsoleKey];
    id screenLocked = session[@"CGSSessionScreenIsLocked"];
    return ([onConsole isKindOfClass:[NSNumber class]] && ![onConsole boolValue]) ||
           ([screenLocked isKindOfClass:[NSNumber class]] && [screenLocked boolValue]);
  }

  // An activity the user started keeps App Nap from slowing Quillmark's
  // timers while Live runs, and still lets an idle Mac sleep.
  void setTimersMustStayPrompt(bool prompt) override {
    NSProcessInfo* process = [NSProcessInfo processInfo];
    if (prompt && activity_ == nil) {
      activity_ = [process beginActivityWithOptions:NSActivityUserInitiatedAllowingIdleSystemSleep
                                             reason:@"Saves Ableton Live's set at its interval"];
    } else if (!prompt && activity_ != nil) {
      [process endActivity:activity_];
      activity_ = nil;
    }
  }

  std::string shortTimeString(Date date) override {
    NSDateFormatter* formatter = [[NSDateFormatter alloc] init];
    [formatter setTimeStyle:NSDateFormatterShortStyle];
    return toStdString([formatter stringFromDate:[NSDate dateWithTimeIntervalSince1970:date]]);
  }

 private:
  // The token of the activity while one runs.
  id<NSObject> activity_ = nil;
};

}  // namespace

std::unique_ptr<System> makeSystem() {
  return std::make_unique<MacSystem>();
}

}  // namespace qm::macos
