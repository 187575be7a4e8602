// Process facts and actions over NSApplication, NSBundle, NSFileManager,
// NSTask, NSDateFormatter and statfs.

#import <AppKit/AppKit.h>

#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "appkit_objects.h"
#include "macos_platform.h"

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

  int runTaskAndWait(const std::string& launchPath,
                     const std::vector<std::string>& arguments) override {
    NSMutableArray<NSString*>* taskArguments = [NSMutableArray array];
    for (const std::string& argument : arguments) {
      [taskArguments addObject:toNSString(argument)];
    }
    NSTask* task = [[NSTask alloc] init];
    [task setLaunchPath:toNSString(launchPath)];
    [task setArguments:taskArguments];
    NSString* failure = nil;
    @try {
      [task launch];
      [task waitUntilExit];
    } @catch (NSException* exception) {
      failure = [exception reason] != nil ? [exception reason] : [exception name];
    }
    // Thrown outside the handler so that no C++ exception leaves an
    // Objective-C catch block.
    if (failure != nil) {
      throw std::runtime_error("cannot run " + launchPath + ": " + toStdString(failure));
    }
    return [task terminationStatus];
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
