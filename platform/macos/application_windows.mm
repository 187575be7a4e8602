// Another application's windows through Accessibility: the main window's
// title, its modal windows and sheets, and the title's changes as the
// Accessibility server announces them. Each question is one look: the
// first message the application lets time out ends it (ax_element.h).
#import <AppKit/AppKit.h>
#import <ApplicationServices/ApplicationServices.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "appkit_objects.h"
#include "ax_element.h"
#include "macos_platform.h"

namespace qm::macos {
namespace {

std::optional<std::string> titleOf(AXLook& look, id window) {
  id title = copyAttribute(look, window, kAXTitleAttribute);
  if (![title isKindOfClass:[NSString class]]) {
    return std::nullopt;
  }
  return toStdString(title);
}

bool hasSheetRole(id role) {
  return [role isKindOfClass:[NSString class]] &&
         [role isEqualToString:(__bridge NSString*)kAXSheetRole];
}

// A modal window or a sheet: both read in one message.
bool isDialog(AXLook& look, id window) {
  NSArray* values = copyAttributes(
      look, window,
      @[ (__bridge NSString*)kAXModalAttribute, (__bridge NSString*)kAXRoleAttribute ]);
  if (values == nil) {
    return false;
  }
  id modal = values[0];
  return ([modal isKindOfClass:[NSNumber class]] && [modal boolValue]) || hasSheetRole(values[1]);
}

// The main window. An application that is not active may have none; then
// its focused window or the first of its windows stands in, unless it is a
// dialog, whose title is not the document's.
id mainWindowOf(AXLook& look, id application) {
  if (id window = copyElement(look, application, kAXMainWindowAttribute)) {
    return window;
  }
  id focused = copyElement(look, application, kAXFocusedWindowAttribute);
  if (focused != nil && !isDialog(look, focused)) {
    return focused;
  }
  for (id window in copyElements(look, application, kAXWindowsAttribute)) {
    if (isElement(window) && !isDialog(look, window)) {
      return window;
    }
  }
  return nil;
}

bool showsModal(AXLook& look, id application) {
  for (id window in copyElements(look, application, kAXWindowsAttribute)) {
    if (isElement(window) && isDialog(look, window)) {
      return true;
    }
  }
  // A sheet hangs off the window it belongs to, the set's main window.
  for (id child in copyElements(look, mainWindowOf(look, application), kAXChildrenAttribute)) {
    if (hasSheetRole(copyAttribute(look, child, kAXRoleAttribute))) {
      return true;
    }
  }
  return false;
}

// The application says when its main or focused window changes; the title's
// changes are taken from the main window alone, since the application
// announces those of every titled element of its own (a plug-in's window).
const CFStringRef kWindowNotifications[] = {kAXMainWindowChangedNotification,
                                            kAXFocusedWindowChangedNotification};

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
    for (CFStringRef notification : registered_) {
      AXObserverRemoveNotification(observer(), (__bridge AXUIElementRef)application_, notification);
    }
    if (started_) {
      CFRunLoopRemoveSource(CFRunLoopGetMain(), AXObserverGetRunLoopSource(observer()),
                            kCFRunLoopCommonModes);
    }
  }

  // False until the main window's title can be followed: the application
  // has no window yet, has quit, did not answer, or Quillmark is not trusted.
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
    AXLook look;
    if (!followMainWindow(look)) {
      return false;
    }
    for (CFStringRef notification : kWindowNotifications) {
      if (look.ask([&] {
            return AXObserverAddNotification(observer(), (__bridge AXUIElementRef)application_,
                                             notification, this);
          }) == AXAnswer::reading) {
        registered_.push_back(notification);
      }
    }
    if (look.unanswered()) {
      return false;
    }
    // Common modes: the announcements arrive while a menu or an alert of
    // Quillmark's runs its own loop too.
    CFRunLoopAddSource(CFRunLoopGetMain(), AXObserverGetRunLoopSource(observer()),
                       kCFRunLoopCommonModes);
    started_ = true;
    return true;
  }

 private:
  AXObserverRef observer() const { return (__bridge AXObserverRef)observer_; }

  static void announced(AXObserverRef, AXUIElementRef element, CFStringRef notification,
                        void* refcon) {
    auto* self = static_cast<AXTitleObservation*>(refcon);
    AXLook look;
    if (CFEqual(notification, kAXTitleChangedNotification)) {
      if (self->window_ == nil || !CFEqual(element, (__bridge CFTypeRef)self->window_)) {
        return;
      }
    } else {
      self->followMainWindow(look);
    }
    // Read at once, since a title may change again before the next look.
    // A title that went unanswered is left to the next look.
    const std::optional<std::string> title = titleOf(look, self->window_);
    if (look.unanswered()) {
      return;
    }
    // `changed` may end this observation: nothing of it is touched after.
    const Changed changed = self->changed_;
    changed(title);
  }

  bool followMainWindow(AXLook& look) {
    id window = mainWindowOf(look, application_);
    if (window != nil && window_ != nil &&
        CFEqual((__bridge CFTypeRef)window, (__bridge CFTypeRef)window_)) {
      return true;
    }
    forgetWindow();
    if (window == nil || look.ask([&] {
          return AXObserverAddNotification(observer(), (__bridge AXUIElementRef)window,
                                           kAXTitleChangedNotification, this);
        }) != AXAnswer::reading) {
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
  std::vector<CFStringRef> registered_;
  bool started_ = false;
};

class AXApplicationWindows final : public ApplicationWindows {
 public:
  AXApplicationWindows() { useShortMessagingTimeout(); }

  Reply<std::optional<std::string>> mainWindowTitle(int pid) override {
    AXLook look;
    const std::optional<std::string> title =
        titleOf(look, mainWindowOf(look, applicationElement(pid)));
    if (look.unanswered() && processRuns(pid)) {
      return Reply<std::optional<std::string>>::noAnswer();
    }
    return title;
  }

  Reply<bool> showsModalDialog(int pid) override {
    AXLook look;
    const bool modal = showsModal(look, applicationElement(pid));
    if (look.unanswered() && processRuns(pid)) {
      return Reply<bool>::noAnswer();
    }
    return modal;
  }

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

}  // namespace qm::macos
