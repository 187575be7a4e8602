// Synthesized key events over Core Graphics event sources and events.

#import <CoreGraphics/CoreGraphics.h>

#include <memory>

#include "macos_platform.h"

namespace qm::macos {
namespace {

static_assert(kCGEventFlagMaskCommand == kEventFlagMaskCommand);
static_assert(kCGEventSourceStateCombinedSessionState == kEventSourceStateCombinedSessionState);

class MacKeyboardEvent final : public KeyboardEvent {
 public:
  explicit MacKeyboardEvent(CGEventRef event) : event_(event) {}
  ~MacKeyboardEvent() override { CFRelease(event_); }
  MacKeyboardEvent(const MacKeyboardEvent&) = delete;
  MacKeyboardEvent& operator=(const MacKeyboardEvent&) = delete;

  void setFlags(std::uint64_t flags) override {
    CGEventSetFlags(event_, static_cast<CGEventFlags>(flags));
  }
  void postToPid(int pid) override { CGEventPostToPid(static_cast<pid_t>(pid), event_); }

  CGEventRef event() const { return event_; }

 private:
  CGEventRef event_;
};

class MacEventSource final : public EventSource {
 public:
  explicit MacEventSource(CGEventSourceRef source) : source_(source) {}
  ~MacEventSource() override { CFRelease(source_); }
  MacEventSource(const MacEventSource&) = delete;
  MacEventSource& operator=(const MacEventSource&) = delete;

  std::unique_ptr<KeyboardEvent> createKeyboardEvent(std::uint16_t virtualKey,
                                                     bool keyDown) override {
    CGEventRef event =
        CGEventCreateKeyboardEvent(source_, static_cast<CGKeyCode>(virtualKey), keyDown);
    if (event == nullptr) {
      return nullptr;
    }
    return std::make_unique<MacKeyboardEvent>(event);
  }

 private:
  CGEventSourceRef source_;
};

class MacKeyboardEvents final : public KeyboardEvents {
 public:
  std::unique_ptr<EventSource> createEventSource(int stateId) override {
    CGEventSourceRef source = CGEventSourceCreate(static_cast<CGEventSourceStateID>(stateId));
    if (source == nullptr) {
      return nullptr;
    }
    return std::make_unique<MacEventSource>(source);
  }
};

}  // namespace

std::unique_ptr<KeyboardEvents> makeKeyboardEvents() {
  return std::make_unique<MacKeyboardEvents>();
}

const void* cgEventOf(const KeyboardEvent& event) {
  return static_cast<const MacKeyboardEvent&>(event).event();
}

}  // namespace qm::macos
