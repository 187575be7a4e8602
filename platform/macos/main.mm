// Quillmark's entry point: an accessory application whose behaviour lives in
// qm::AppDelegate, driven by AppKit's event loop.

#import <AppKit/AppKit.h>

#include <memory>
#include <string_view>

#include "app_delegate.h"
#include "macos_platform.h"

// Receives the launch notification and hands it to the C++ delegate, then
// tells it of sleep, the lock, user switching, a set clock and the end of the
// session until the application terminates.
@interface QMApplicationDelegate : NSObject <NSApplicationDelegate>
- (instancetype)initWithDelegate:(qm::AppDelegate*)delegate;
@end

@implementation QMApplicationDelegate {
  qm::AppDelegate* _delegate;
  qm::ObservationRef _systemEvents;
}

- (instancetype)initWithDelegate:(qm::AppDelegate*)delegate {
  self = [super init];
  if (self != nil) {
    _delegate = delegate;
  }
  return self;
}

- (void)applicationDidFinishLaunching:(NSNotification*)notification {
  (void)notification;
  _delegate->applicationDidFinishLaunching();
  // Only now: the delegate's menu and timers exist.
  qm::AppDelegate* delegate = _delegate;
  _systemEvents = qm::macos::observeSystemEvents({
      .willSleep = [delegate] { delegate->systemWillSleep(); },
      .didWake = [delegate] { delegate->systemDidWake(); },
      .lockChanged = [delegate](bool locked) { delegate->sessionLockChanged(locked); },
      .clockChanged = [delegate] { delegate->systemClockChanged(); },
      .sessionWillEnd = [delegate] { delegate->sessionWillEnd(); },
  });
}

- (void)applicationWillTerminate:(NSNotification*)notification {
  (void)notification;
  _systemEvents.reset();
}

@end

int main(int argc, const char* argv[]) {
  (void)argc;
  (void)argv;
  @autoreleasepool {
    NSApplication* application = [NSApplication sharedApplication];

    const auto runLoop = qm::macos::makeRunLoop();
    const auto workspace = qm::macos::makeWorkspace();
    const auto accessibility = qm::macos::makeAccessibility();
    const auto keyboardEvents = qm::macos::makeKeyboardEvents();
    const auto userActivity = qm::macos::makeUserActivity();
    const auto applicationWindows = qm::macos::makeApplicationWindows();
    const auto applicationMenus = qm::macos::makeApplicationMenus();
    // The delegate, made after the ports, keeps the application log.
    qm::AppDelegate* app = nullptr;
    const auto notifications = qm::macos::makeNotifications([&app](std::string_view line) {
      if (app != nullptr) {
        app->logMessage(line);
      }
    });
    const auto preferences = qm::macos::makePreferences();
    const auto statusBar = qm::macos::makeStatusBar();
    const auto alerts = qm::macos::makeAlerts();
    const auto graphics = qm::macos::makeGraphics();
    const auto system = qm::macos::makeSystem();
    // The core's defaults are the macOS words and habits.
    qm::Desktop desktop;
    qm::Platform platform{*runLoop,          *workspace,     *accessibility,
                          *keyboardEvents,   *userActivity,  *applicationWindows,
                          *applicationMenus, *notifications, *preferences,
                          *statusBar,        *alerts,        *graphics,
                          *system,           desktop};

    // Lives for the whole run: the status item, the menu and every timer
    // call back into it.
    const auto delegate = std::make_unique<qm::AppDelegate>(platform);
    app = delegate.get();
    // NSApplication holds its delegate weakly; this reference keeps it.
    QMApplicationDelegate* applicationDelegate NS_VALID_UNTIL_END_OF_SCOPE =
        [[QMApplicationDelegate alloc] initWithDelegate:delegate.get()];

    [application setDelegate:applicationDelegate];
    [application setActivationPolicy:NSApplicationActivationPolicyAccessory];
    [application run];
  }
  return 0;
}
