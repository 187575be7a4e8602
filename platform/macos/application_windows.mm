// Another application's windows through Accessibility: the main window's
// title, its modal windows and sheets, and the title's changes as the
// Accessibility server announces them.
#import <AppKit/AppKit.h>
#import <ApplicationServices/ApplicationServices.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "appkit_objects.h"
#include "macos_platform.h"

namespace qm::macos {
namespace {

// Every request to the application waits at most this long: a busy Live
// answers none, and Quillmark's only thread must not wait on it.
constexpr float kMessagingTimeoutSeconds = 0.25f;

// The elements are CoreFoundation objects bridged to id: ARC owns every one
// that a Copy or Create call hands over.
bool isElement(id value) {
  return value != nil && CFGetTypeID((__bridge CFTypeRef)value) == AXUIElementGetTypeID();
}

id copyAttribute(id element, CFStringRef attribute) {
  if (!isElement(element)) {
    return nil;
  }
  // Elements read from the application each carry their own timeout.
  AXUIElementSetMessagingTimeout((__bridge AXUIElementRef)element, kMessagingTimeoutSeconds);
  CFTypeRef value = nullptr;
  const AXError error =
      AXUIElementCopyAttributeValue((__bridge AXUIElementRef)element, attribute, &value);
  id owned = CFBridgingRelease(value);
  return error == kAXErrorSuccess ? owned : nil;
}

id copyElement(id element, CFStringRef attribute) {
  id value = copyAttribute(element, attribute);
  return isElement(value) ? value : nil;
}

NSArray* copyElements(id element, CFStringRef attribute) {
  id value = copyAttribute(element, attribute);
  return [value isKindOfClass:[NSArray class]] ? value : @[];
}

id applicationElement(int pid) {
  id application = CFBridgingRelease(AXUIElementCreateApplication(static_cast<pid_t>(pid)));
  if (application != nil) {
    AXUIElementSetMessagingTimeout((__bridge AXUIElementRef)application, kMessagingTimeoutSeconds);
  }
  return application;
}

std::optional<std::string> titleOf(id window) {
  id title = copyAttribute(window, kAXTitleAttribute);
  if (![title isKindOfClass:[NSString class]]) {
    return std::nullopt;
  }
  return toStdString(title);
}

bool isSheet(id element) {
  id role = copyAttribute(element, kAXRoleAttribute);
  return [role isKindOfClass:[NSString class]] &&
         [role isEqualToString:(__bridge NSString*)kAXSheetRole];
}

// A modal window or a sheet.
bool isDialog(id window) {
  id modal = copyAttribute(window, kAXModalAttribute);
  return ([modal isKindOfClass:[NSNumber class]] && [modal boolValue]) || isSheet(window);
}

bool showsModal(id application) {
  for (id window in copyElements(application, kAXWindowsAttribute)) {
    if (!isElement(window)) {
      continue;
    }
    if (isDialog(window)) {
      return true;
    }
    // A sheet hangs off its window as a child.
    for (id child in copyElements(window, kAXChildrenAttribute)) {
      if (isElement(child) && isSheet(child)) {
        return true;
      }
    }
  }
  return false;
}

// The main window. An application that is not active may have none; then
// its focused window or the first of its windows stands in, unless it is a
// dialog, whose title is not the document's.
id mainWindowOf(id application) {
  if (id window = copyElement(application, kAXMainWindowAttribute)) {
    return window;
  }
  id focused = copyElement(application, kAXFocusedWindowAttribute);
  if (focused != nil && !isDialog(focused)) {
    return focused;
  }
  for (id window in copyElements(application, kAXWindowsAttribute)) {
    if (isElement(window) && !isDialog(window)) {
      return window;
    }
  }
  return nil;
}

const CFStringRef kApplicationNotifications[] = {kAXTitleChangedNotification,
                                                 kAXMainWindowChangedNotification,
                                                 kAXFocusedWindowChangedNotification};

// Registered on the application and on its main window, followed as it
// changes: applications differ in which of the two announces a window's
// new title. A title announced twice is read twice, which is harmless.
class AXTitleObservation final : public Observation {
 public:
  using Changed = std::function<void(const std::optional<std::string>&)>;

  AXTitleObservation(id application, Changed changed)
      : application_(application), changed_(std::move(changed)) {}

  AXTitleObservation(const AXTitleObservation&) = delete;
  AXTitleObservation& operator=(const AXTitleObservation&) = delete;

  ~AXTitleObservation() override {
    if (observer_ == nil) {
      return;
    }
    forgetWindow();
    for (CFStringRef notification : kApplicationNotifications) {
      AXObserverRemoveNotification(observer(), (__bridge AXUIElementRef)application_, notification);
    }
    CFRunLoopRemoveSource(CFRunLoopGetMain(), AXObserverGetRunLoopSource(observer()),
                          kCFRunLoopCommonModes);
  }

  // False when the application can announce nothing to this process: it has
  // quit, or Quillmark is not trusted.
  bool start(int pid) {
    AXObserverRef created = nullptr;
    if (AXObserverCreate(static_cast<pid_t>(pid), &AXTitleObservation::announced, &created) !=
        kAXErrorSuccess) {
      return false;
    }
    observer_ = CFBridgingRelease(created);
    if (observer_ == nil) {
      return false;
    }
    bool registered = false;
    for (CFStringRef notification : kApplicationNotifications) {
      registered |= AXObserverAddNotification(observer(), (__bridge AXUIElementRef)application_,
                                              notification, this) == kAXErrorSuccess;
    }
    registered |= followMainWindow();
    if (!registered) {
      return false;
    }
    // Common modes: the announcements arrive while a menu or an alert of
    // Quillmark's runs its own loop too.
    CFRunLoopAddSource(CFRunLoopGetMain(), AXObserverGetRunLoopSource(observer()),
                       kCFRunLoopCommonModes);
    return true;
  }

 private:
  AXObserverRef observer() const { return (__bridge AXObserverRef)observer_; }

  static void announced(AXObserverRef, AXUIElementRef, CFStringRef notification, void* refcon) {
    auto* self = static_cast<AXTitleObservation*>(refcon);
    if (!CFEqual(notification, kAXTitleChangedNotification)) {
      self->followMainWindow();
    }
    // Read at once, since a title may change again before the next look.
    // `changed` may end this observation: nothing of it is touched after.
    const std::optional<std::string> title = titleOf(mainWindowOf(self->application_));
    const Changed changed = self->changed_;
    changed(title);
  }

  bool followMainWindow() {
    id window = mainWindowOf(application_);
    if (window != nil && window_ != nil &&
        CFEqual((__bridge CFTypeRef)window, (__bridge CFTypeRef)window_)) {
      return true;
    }
    forgetWindow();
    if (window == nil ||
        AXObserverAddNotification(observer(), (__bridge AXUIElementRef)window,
                                  kAXTitleChangedNotification, this) != kAXErrorSuccess) {
      return false;
    }
    window_ = window;
    return true;
  }

  void forgetWindow() {
    if (window_ != nil) {
      AXObserverRemoveNotification(observer(), (__bridge AXUIElementRef)window_,
                                   kAXTitleChangedNotification);
      window_ = nil;
    }
  }

  id application_;
  Changed changed_;
  id observer_ = nil;
  id window_ = nil;
};

class AXApplicationWindows final : public ApplicationWindows {
 public:
  Reply<std::optional<std::string>> mainWindowTitle(int pid) override {
    return titleOf(mainWindowOf(applicationElement(pid)));
  }

  Reply<bool> showsModalDialog(int pid) override { return showsModal(applicationElement(pid)); }

  ObservationRef observeTitleChanges(
      int pid, std::function<void(const std::optional<std::string>&)> changed) override {
    id application = applicationElement(pid);
    if (application == nil) {
      return nullptr;
    }
    auto observation = std::make_unique<AXTitleObservation>(application, std::move(changed));
    if (!observation->start(pid)) {
      return nullptr;
    }
    return observation;
  }
};

}  // namespace

std::unique_ptr<ApplicationWindows> makeApplicationWindows() {
  return std::make_unique<AXApplicationWindows>();
}

// Live's menus are not read yet: the keys save.
class AXApplicationMenus final : public ApplicationMenus {
 public:
  Reply<Press> pressSaveCommand(int pid) override {
    (void)pid;
    return Press::missing;
  }
};

std::unique_ptr<ApplicationMenus> makeApplicationMenus() {
  return std::make_unique<AXApplicationMenus>();
}

}  // namespace qm::macos
