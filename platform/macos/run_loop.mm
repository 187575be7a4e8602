// Clock, timers and delayed calls over NSDate, NSTimer and NSRunLoop.

#import <Foundation/Foundation.h>

#include <mach/mach_time.h>

#include <unistd.h>

#include <functional>
#include <memory>
#include <utility>

#include "macos_platform.h"

// NSTimer and delayed performs call a selector on an object; this one holds
// the C++ callback.
@interface QMCallbackTarget : NSObject
- (instancetype)initWithCallback:(std::function<void()>)callback;
- (void)timerFired:(NSTimer*)timer;
- (void)performCallback:(id)unused;
@end

@implementation QMCallbackTarget {
  std::function<void()> _callback;
}

- (instancetype)initWithCallback:(std::function<void()>)callback {
  self = [super init];
  if (self != nil) {
    _callback = std::move(callback);
  }
  return self;
}

- (void)timerFired:(NSTimer*)timer {
  (void)timer;
  [self performCallback:nil];
}

- (void)performCallback:(id)unused {
  (void)unused;
  // A callback may invalidate its own timer, which releases this target; the
  // copy keeps the callback alive until it returns.
  const std::function<void()> callback = _callback;
  if (callback) {
    callback();
  }
}

@end

namespace qm::macos {
namespace {

class MacTimer final : public Timer {
 public:
  explicit MacTimer(NSTimer* timer) : timer_(timer) {}

  void invalidate() override { [timer_ invalidate]; }
  bool isValid() const override { return [timer_ isValid]; }

 private:
  NSTimer* timer_;
};

class MacRunLoop final : public RunLoop {
 public:
  Date now() const override { return [[NSDate date] timeIntervalSince1970]; }
  // Counts through sleep, unlike mach_absolute_time.
  double monotonicNow() const override {
    static const double secondsPerTick = [] {
      mach_timebase_info_data_t timebase{};
      mach_timebase_info(&timebase);
      return static_cast<double>(timebase.numer) / timebase.denom / 1e9;
    }();
    return static_cast<double>(mach_continuous_time()) * secondsPerTick;
  }

  TimerRef scheduleRepeatingTimer(double interval, std::function<void()> callback) override {
    QMCallbackTarget* target = [[QMCallbackTarget alloc] initWithCallback:std::move(callback)];
    NSTimer* timer = [NSTimer scheduledTimerWithTimeInterval:interval
                                                      target:target
                                                    selector:@selector(timerFired:)
                                                    userInfo:nil
                                                     repeats:YES];
    // Also fire while a menu is open or a modal alert runs.
    [[NSRunLoop mainRunLoop] addTimer:timer forMode:NSRunLoopCommonModes];
    return std::make_shared<MacTimer>(timer);
  }

  void performAfterDelay(double delay, std::function<void()> callback) override {
    QMCallbackTarget* target = [[QMCallbackTarget alloc] initWithCallback:std::move(callback)];
    // Default mode only, so the call waits while a modal alert runs.
    [target performSelector:@selector(performCallback:) withObject:nil afterDelay:delay];
  }

  void sleepMicroseconds(std::uint32_t microseconds) override { usleep(microseconds); }
};

}  // namespace

std::unique_ptr<RunLoop> makeRunLoop() {
  return std::make_unique<MacRunLoop>();
}

}  // namespace qm::macos
