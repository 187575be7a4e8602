// The person at the keyboard over the event-source state of Core Graphics.

#import <CoreGraphics/CoreGraphics.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>

#include "macos_platform.h"

namespace qm::macos {
namespace {

// The keyboard and the mouse alone. Events posted to a process, as Quillmark
// posts its Cmd+S to Live, never enter the HID system state: a save neither
// restarts the pause it waited for nor finds its own Command held.
constexpr CGEventSourceStateID kDevices = kCGEventSourceStateHIDSystemState;

// Presses and clicks only: a mouse moved across the screen holds off no save.
constexpr CGEventType kPresses[] = {kCGEventKeyDown, kCGEventLeftMouseDown, kCGEventRightMouseDown,
                                    kCGEventOtherMouseDown};

constexpr CGKeyCode kVirtualKeyCount = 128;
// Caps Lock reads as down while its light is on, which is no held key.
constexpr CGKeyCode kCapsLockKey = 57;
// Left, right, and the other buttons up to 31.
constexpr std::uint32_t kMouseButtonCount = 32;
// Modifiers held down. Caps Lock's alpha shift is its light; the numeric-pad
// and help bits tell which key an event came from, not what is held.
constexpr CGEventFlags kHeldModifiers = kCGEventFlagMaskShift | kCGEventFlagMaskControl |
                                        kCGEventFlagMaskAlternate | kCGEventFlagMaskCommand |
                                        kCGEventFlagMaskSecondaryFn;

class MacUserActivity final : public UserActivity {
 public:
  double secondsSinceLastUserInput() override {
    double seconds = std::numeric_limits<double>::infinity();
    for (const CGEventType type : kPresses) {
      seconds = std::min(seconds, CGEventSourceSecondsSinceLastEventType(kDevices, type));
    }
    return seconds;
  }

  bool isUserInputHeld() override {
    for (CGKeyCode key = 0; key < kVirtualKeyCount; ++key) {
      if (key != kCapsLockKey && CGEventSourceKeyState(kDevices, key)) {
        return true;
      }
    }
    for (std::uint32_t button = kCGMouseButtonLeft; button < kMouseButtonCount; ++button) {
      if (CGEventSourceButtonState(kDevices, static_cast<CGMouseButton>(button))) {
        return true;
      }
    }
    return (CGEventSourceFlagsState(kDevices) & kHeldModifiers) != 0;
  }
};

}  // namespace

std::unique_ptr<UserActivity> makeUserActivity() {
  return std::make_unique<MacUserActivity>();
}

}  // namespace qm::macos
