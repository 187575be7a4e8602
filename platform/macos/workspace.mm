// Running applications and the shared workspace over NSRunningApplication and
// NSWorkspace.

#import <AppKit/AppKit.h>

#include <memory>
#include <string>
#include <vector>

#include "appkit_objects.h"
#include "macos_platform.h"

namespace qm::macos {
namespace {

static_assert(NSApplicationActivateAllWindows == kApplicationActivateAllWindows);

class MacRunningApplication final : public RunningApplication {
 public:
  explicit MacRunningApplication(NSRunningApplication* application) : application_(application) {}

  int processIdentifier() const override { return [application_ processIdentifier]; }
  bool unhide() override { return [application_ unhide]; }
  bool activateWithOptions(unsigned options) override {
    return [application_ activateWithOptions:static_cast<NSApplicationActivationOptions>(options)];
  }
  // macOS 14 and later, which the deployment target guarantees.
  bool activateFromApplicationOptions(const RunningApplication& from, unsigned options) override {
    return [application_
        activateFromApplication:static_cast<const MacRunningApplication&>(from).application_
                        options:static_cast<NSApplicationActivationOptions>(options)];
  }

 private:
  NSRunningApplication* application_;
};

RunningApplicationRef wrap(NSRunningApplication* application) {
  if (application == nil) {
    return nullptr;
  }
  return std::make_shared<MacRunningApplication>(application);
}

class MacWorkspace final : public Workspace {
 public:
  std::vector<RunningApplicationRef> runningApplicationsWithBundleIdentifier(
      const std::string& bundleIdentifier) override {
    std::vector<RunningApplicationRef> result;
    for (NSRunningApplication* application in [NSRunningApplication
             runningApplicationsWithBundleIdentifier:toNSString(bundleIdentifier)]) {
      result.push_back(wrap(application));
    }
    return result;
  }

  RunningApplicationRef frontmostApplication() override {
    return wrap([[NSWorkspace sharedWorkspace] frontmostApplication]);
  }

  bool openURL(const std::string& url) override {
    NSURL* nsURL = [NSURL URLWithString:toNSString(url)];
    if (nsURL == nil) {
      return false;
    }
    return [[NSWorkspace sharedWorkspace] openURL:nsURL];
  }
};

}  // namespace

std::unique_ptr<Workspace> makeWorkspace() {
  return std::make_unique<MacWorkspace>();
}

}  // namespace qm::macos
