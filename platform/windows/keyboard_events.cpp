// Synthesized key strokes over SendInput. SendInput types into whichever
// window is in front, so every stroke is sent only while the receiving
// process owns the foreground window: keys never reach another program.
#include <memory>

#include "windows_platform.h"

namespace qm::windows {
namespace {

// The core speaks in the Mac's virtual key codes.
constexpr std::uint16_t kMacKeyCommand = 55;
constexpr std::uint16_t kMacKeyS = 1;

WORD windowsKeyFor(std::uint16_t macKey) {
  switch (macKey) {
    case kMacKeyCommand:
      return VK_CONTROL;
    case kMacKeyS:
      return 'S';
    default:
      return 0;
  }
}

class Win32KeyboardEvent final : public KeyboardEvent {
 public:
  Win32KeyboardEvent(WORD key, bool keyDown) : key_(key), keyDown_(keyDown) {}

  // Windows has no modifier flags on an event: Ctrl is a stroke of its own.
  void setFlags(std::uint64_t flags) override { (void)flags; }

  void postToPid(int pid) override {
    DWORD foregroundPid = 0;
    const HWND foreground = GetForegroundWindow();
    if (foreground == nullptr || GetWindowThreadProcessId(foreground, &foregroundPid) == 0 ||
        foregroundPid != static_cast<DWORD>(pid)) {
      return;
    }
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key_;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key_, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = keyDown_ ? 0 : KEYEVENTF_KEYUP;
    SendInput(1, &input, sizeof input);
  }

 private:
  WORD key_;
  bool keyDown_;
};

class Win32EventSource final : public EventSource {
 public:
  std::unique_ptr<KeyboardEvent> createKeyboardEvent(std::uint16_t virtualKey,
                                                     bool keyDown) override {
    const WORD key = windowsKeyFor(virtualKey);
    if (key == 0) {
      return nullptr;
    }
    return std::make_unique<Win32KeyboardEvent>(key, keyDown);
  }
};

class Win32KeyboardEvents final : public KeyboardEvents {
 public:
  std::unique_ptr<EventSource> createEventSource(int stateId) override {
    (void)stateId;
    return std::make_unique<Win32EventSource>();
  }

  // Windows' virtual keys already follow the layout: 'S' is whichever key
  // types "s", on Dvorak and Colemak as on QWERTY.
  std::optional<std::uint16_t> virtualKeyTypingWithCommand(char32_t character) override {
    (void)character;
    return std::nullopt;
  }
};

}  // namespace

std::unique_ptr<KeyboardEvents> makeKeyboardEvents() {
  return std::make_unique<Win32KeyboardEvents>();
}

}  // namespace qm::windows
