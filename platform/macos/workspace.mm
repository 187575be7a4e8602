// Running applications and the shared workspace over NSRunningApplication and
// NSWorkspace, and the application in front right now over the system-wide
// Accessibility element.

#import <AppKit/AppKit.h>
#import <ApplicationServices/ApplicationServices.h>

#include <memory>
#include <optional>
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
  bool isHidden() const override { return [application_ isHidden]; }
  bool unhide() override { return [application_ unhide]; }
  bool hide() override { return [application_ hide]; }
  bool activateWithOptions(unsigned options) override {
    return [application_ activateWithOptions:static_cast<NSApplicationActivationOptions>(options)];
  }
  // macOS 14 and later, which the deployment target guarantees. Apple
  // documents a request with no promise of activation: true when the system
  // allows it.
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

// The process of the application with the keyboard focus, asked of the
// Accessibility server at this moment; none when it does not answer (the
// process is not trusted, or nothing has the focus).
std::optional<int> focusedApplicationProcessIdentifier() {
  // Handed to ARC, which releases them on every return.
  id systemWide = CFBridgingRelease(AXUIElementCreateSystemWide());
  if (systemWide == nil) {
    return std::nullopt;
  }
  CFTypeRef value = nullptr;
  const AXError error = AXUIElementCopyAttributeValue((__bridge AXUIElementRef)systemWide,
                                                      kAXFocusedApplicationAttribute, &value);
  id focused = CFBridgingRelease(value);
  if (error != kAXErrorSuccess || focused == nil ||
      CFGetTypeID((__bridge CFTypeRef)focused) != AXUIElementGetTypeID()) {
    return std::nullopt;
  }
  pid_t pid = 0;
  if (AXUIElementGetPid((__bridge AXUIElementRef)focused, &pid) != kAXErrorSuccess) {
    return std::nullopt;
  }
  return pid;
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

  // NSWorkspace learns of a new application in front only when the main run
  // loop turns, and a save activates Live and checks it within one turn. The
  // Accessibility server is asked instead; Quillmark is trusted whenever it
  // saves, and otherwise NSWorkspace's answer is the best there is.
  std::optional<int> frontmostProcessIdentifierNow() override {
    if (const std::optional<int> pid = focusedApplicationProcessIdentifier()) {
      return pid;
    }
    NSRunningApplication* front = [[NSWorkspace sharedWorkspace] frontmostApplication];
    if (front == nil) {
      return std::nullopt;
    }
    return [front processIdentifier];
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
