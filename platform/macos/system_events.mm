// Sleep, wake, the screen lock, fast user switching, a set clock and the end
// of the session, from the three notification centers that announce them.

#import <AppKit/AppKit.h>

#include <functional>
#include <memory>
#include <utility>

#include "macos_platform.h"

// The screen lock is announced only as distributed notifications, by these
// names.
static NSString* const kScreenLocked = @"com.apple.screenIsLocked";
static NSString* const kScreenUnlocked = @"com.apple.screenIsUnlocked";

namespace {

// A callback may end the observation; the copy lives until it returns.
void call(const std::function<void()>& callback) {
  const std::function<void()> copy = callback;
  if (copy) {
    copy();
  }
}

void callLock(const std::function<void(bool)>& callback, bool locked) {
  const std::function<void(bool)> copy = callback;
  if (copy) {
    copy(locked);
  }
}

}  // namespace

@interface QMSystemEventObserver : NSObject
- (instancetype)initWithCallbacks:(qm::macos::SystemEventCallbacks)callbacks;
- (void)start;
- (void)stop;
- (void)willSleep:(NSNotification*)notification;
- (void)didWake:(NSNotification*)notification;
- (void)sessionDidResignActive:(NSNotification*)notification;
- (void)sessionDidBecomeActive:(NSNotification*)notification;
- (void)screenLocked:(NSNotification*)notification;
- (void)screenUnlocked:(NSNotification*)notification;
- (void)clockChanged:(NSNotification*)notification;
- (void)willPowerOff:(NSNotification*)notification;
@end

@implementation QMSystemEventObserver {
  qm::macos::SystemEventCallbacks _callbacks;
  BOOL _stopped;
}

- (instancetype)initWithCallbacks:(qm::macos::SystemEventCallbacks)callbacks {
  self = [super init];
  if (self != nil) {
    _callbacks = std::move(callbacks);
  }
  return self;
}

- (void)start {
  NSNotificationCenter* workspace = [[NSWorkspace sharedWorkspace] notificationCenter];
  [workspace addObserver:self
                selector:@selector(willSleep:)
                    name:NSWorkspaceWillSleepNotification
                  object:nil];
  [workspace addObserver:self
                selector:@selector(didWake:)
                    name:NSWorkspaceDidWakeNotification
                  object:nil];
  [workspace addObserver:self
                selector:@selector(sessionDidResignActive:)
                    name:NSWorkspaceSessionDidResignActiveNotification
                  object:nil];
  [workspace addObserver:self
                selector:@selector(sessionDidBecomeActive:)
                    name:NSWorkspaceSessionDidBecomeActiveNotification
                  object:nil];
  [workspace addObserver:self
                selector:@selector(willPowerOff:)
                    name:NSWorkspaceWillPowerOffNotification
                  object:nil];
  // AppKit holds back distributed notifications while the application is
  // not active, and an accessory application almost never is: the lock
  // would arrive at the next click on the menu.
  NSDistributedNotificationCenter* distributed = [NSDistributedNotificationCenter defaultCenter];
  [distributed addObserver:self
                  selector:@selector(screenLocked:)
                      name:kScreenLocked
                    object:nil
        suspensionBehavior:NSNotificationSuspensionBehaviorDeliverImmediately];
  [distributed addObserver:self
                  selector:@selector(screenUnlocked:)
                      name:kScreenUnlocked
                    object:nil
        suspensionBehavior:NSNotificationSuspensionBehaviorDeliverImmediately];
  [[NSNotificationCenter defaultCenter] addObserver:self
                                           selector:@selector(clockChanged:)
                                               name:NSSystemClockDidChangeNotification
                                             object:nil];
}

- (void)stop {
  _stopped = YES;
  [[[NSWorkspace sharedWorkspace] notificationCenter] removeObserver:self];
  [[NSDistributedNotificationCenter defaultCenter] removeObserver:self];
  [[NSNotificationCenter defaultCenter] removeObserver:self];
}

// Whether the notification may be handled here and now. One posted on
// another thread is handed to the main thread, where the delegate lives;
// one handed over after the observation ended reaches nobody.
- (BOOL)onMainThread:(SEL)selector notification:(NSNotification*)notification {
  if (_stopped) {
    return NO;
  }
  if (![NSThread isMainThread]) {
    [self performSelectorOnMainThread:selector withObject:notification waitUntilDone:NO];
    return NO;
  }
  return YES;
}

- (void)willSleep:(NSNotification*)notification {
  if ([self onMainThread:_cmd notification:notification]) {
    call(_callbacks.willSleep);
  }
}

- (void)didWake:(NSNotification*)notification {
  if ([self onMainThread:_cmd notification:notification]) {
    call(_callbacks.didWake);
  }
}

// Another user's session has the screen and the keyboard: keys sent now
// would go to a session nobody sees.
- (void)sessionDidResignActive:(NSNotification*)notification {
  if ([self onMainThread:_cmd notification:notification]) {
    callLock(_callbacks.lockChanged, true);
  }
}

- (void)sessionDidBecomeActive:(NSNotification*)notification {
  if ([self onMainThread:_cmd notification:notification]) {
    callLock(_callbacks.lockChanged, false);
  }
}

- (void)screenLocked:(NSNotification*)notification {
  if ([self onMainThread:_cmd notification:notification]) {
    callLock(_callbacks.lockChanged, true);
  }
}

- (void)screenUnlocked:(NSNotification*)notification {
  if ([self onMainThread:_cmd notification:notification]) {
    callLock(_callbacks.lockChanged, false);
  }
}

- (void)clockChanged:(NSNotification*)notification {
  if ([self onMainThread:_cmd notification:notification]) {
    call(_callbacks.clockChanged);
  }
}

// Logging out, restarting or shutting down: AppKit quits the application
// soon after anyway. Another application may still cancel the logout; the
// watcher then starts Quillmark again while Live runs.
- (void)willPowerOff:(NSNotification*)notification {
  if ([self onMainThread:_cmd notification:notification]) {
    call(_callbacks.sessionWillEnd);
  }
}

@end

namespace qm::macos {
namespace {

class SystemEventObservation final : public Observation {
 public:
  explicit SystemEventObservation(QMSystemEventObserver* observer) : observer_(observer) {
    [observer_ start];
  }
  ~SystemEventObservation() override { [observer_ stop]; }

  SystemEventObservation(const SystemEventObservation&) = delete;
  SystemEventObservation& operator=(const SystemEventObservation&) = delete;

 private:
  QMSystemEventObserver* observer_;
};

}  // namespace

ObservationRef observeSystemEvents(SystemEventCallbacks callbacks) {
  return std::make_unique<SystemEventObservation>(
      [[QMSystemEventObserver alloc] initWithCallbacks:std::move(callbacks)]);
}

}  // namespace qm::macos
