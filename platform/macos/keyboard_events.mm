// Synthesized key events over Core Graphics event sources and events, and
// the key that types a character in the keyboard layout over Text Input
// Sources and UCKeyTranslate.

#import <Carbon/Carbon.h>
#import <CoreGraphics/CoreGraphics.h>

#include <iterator>
#include <memory>
#include <optional>

#include "macos_platform.h"

namespace qm::macos {
namespace {

static_assert(kCGEventFlagMaskCommand == kEventFlagMaskCommand);
static_assert(kCGEventSourceStateCombinedSessionState == kEventSourceStateCombinedSessionState);

// UCKeyTranslate takes the Carbon modifier bits shifted down by a byte.
constexpr UInt32 kCommandKeyState = (cmdKey >> 8) & 0xFF;
// Virtual key codes run from 0 to 127.
constexpr UInt16 kVirtualKeyCount = 128;

bool typesExactly(const UniChar* text, UniCharCount length, char32_t character) {
  if (character < 0x10000) {
    return length == 1 && text[0] == character;
  }
  const char32_t offset = character - 0x10000;
  return length == 2 && text[0] == 0xD800 + (offset >> 10) && text[1] == 0xDC00 + (offset & 0x3FF);
}

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

  std::optional<std::uint16_t> virtualKeyTypingWithCommand(char32_t character) override {
    TISInputSourceRef layout = TISCopyCurrentKeyboardLayoutInputSource();
    if (layout == nullptr) {
      return std::nullopt;
    }
    const std::optional<std::uint16_t> key = virtualKeyTypingWithCommandInLayout(layout, character);
    CFRelease(layout);
    return key;
  }
};

}  // namespace

std::optional<std::uint16_t> virtualKeyTypingWithCommandInLayout(const void* inputSource,
                                                                 char32_t character) {
  // The data belongs to the input source, which outlives this call. A layout
  // without Unicode data cannot tell.
  const void* data =
      TISGetInputSourceProperty(static_cast<TISInputSourceRef>(const_cast<void*>(inputSource)),
                                kTISPropertyUnicodeKeyLayoutData);
  if (data == nullptr) {
    return std::nullopt;
  }
  const auto* layout =
      reinterpret_cast<const UCKeyboardLayout*>(CFDataGetBytePtr(static_cast<CFDataRef>(data)));
  const UInt32 keyboardType = LMGetKbdType();
  // With Command held, so that a layout whose shortcuts keep QWERTY's keys
  // ("Dvorak - QWERTY ⌘") answers with the key that makes the shortcut.
  for (UInt16 key = 0; key < kVirtualKeyCount; ++key) {
    UInt32 deadKeyState = 0;
    UniChar text[4] = {};
    UniCharCount length = 0;
    const OSStatus status = UCKeyTranslate(layout, key, kUCKeyActionDown, kCommandKeyState,
                                           keyboardType, kUCKeyTranslateNoDeadKeysMask,
                                           &deadKeyState, std::size(text), &length, text);
    if (status == noErr && typesExactly(text, length, character)) {
      return key;
    }
  }
  return std::nullopt;
}

std::unique_ptr<KeyboardEvents> makeKeyboardEvents() {
  return std::make_unique<MacKeyboardEvents>();
}

const void* cgEventOf(const KeyboardEvent& event) {
  return static_cast<const MacKeyboardEvent&>(event).event();
}

}  // namespace qm::macos
