// Synthesized key strokes over SendInput. SendInput types into whichever
// window is in front, so strokes are sent only while the receiving process
// owns the foreground window: keys never reach another program.
#include <algorithm>
#include <memory>
#include <vector>

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

INPUT keyInput(WORD key, bool keyDown) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = key;
  input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = keyDown ? 0 : KEYEVENTF_KEYUP;
  return input;
}

bool ownsForegroundWindow(int pid) {
  DWORD foregroundPid = 0;
  const HWND foreground = GetForegroundWindow();
  return foreground != nullptr && GetWindowThreadProcessId(foreground, &foregroundPid) != 0 &&
         foregroundPid == static_cast<DWORD>(pid);
}

class Win32KeyboardEvent final : public KeyboardEvent {
 public:
  Win32KeyboardEvent(WORD key, bool keyDown) : input_(keyInput(key, keyDown)) {}

  // Windows has no modifier flags on an event: Ctrl is a stroke of its own.
  void setFlags(std::uint64_t flags) override { (void)flags; }

  void postToPid(int pid) override {
    if (ownsForegroundWindow(pid)) {
      SendInput(1, &input_, sizeof input_);
    }
  }

  const INPUT& input() const { return input_; }

 private:
  INPUT input_;
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

  // One SendInput call, so no key of the user's can fall between the
  // strokes.
  bool postEventsToPid(KeyboardEventList events, int pid) override {
    std::vector<INPUT> inputs;
    inputs.reserve(events.size());
    for (const auto& event : events) {
      // Every event comes from this source.
      inputs.push_back(static_cast<const Win32KeyboardEvent&>(*event).input());
    }
    // Checked as late as possible: another window may have come forward
    // since Live was activated.
    if (!ownsForegroundWindow(pid)) {
      return false;
    }
    const UINT inserted = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    if (inserted == inputs.size()) {
      return true;
    }
    // A Ctrl left down would turn the user's next key or click into a
    // shortcut.
    std::vector<INPUT> owed = keyUpsOwed(inputs, inserted);
    if (!owed.empty()) {
      SendInput(static_cast<UINT>(owed.size()), owed.data(), sizeof(INPUT));
    }
    return false;
  }
};

class Win32KeyboardEvents final : public KeyboardEvents {
 public:
  std::unique_ptr<EventSource> createEventSource(int stateId) override {
    (void)stateId;
    return std::make_unique<Win32EventSource>();
  }

  // Windows' virtual keys already follow the layout: 'S' is whichever key
  // types "s", on Dvorak and Colemak as on QWERTY, and applications match
  // Ctrl+S on it even where no key types "s".
  std::optional<std::uint16_t> virtualKeyTypingWithCommand(char32_t character) override {
    (void)character;
    return std::nullopt;
  }
};

}  // namespace

std::vector<INPUT> keyUpsOwed(std::span<const INPUT> sent, std::size_t inserted) {
  std::vector<INPUT> owed;
  for (std::size_t i = 0; i < inserted && i < sent.size(); ++i) {
    const KEYBDINPUT& key = sent[i].ki;
    const auto same = [&](const INPUT& up) { return up.ki.wVk == key.wVk; };
    if ((key.dwFlags & KEYEVENTF_KEYUP) != 0) {
      std::erase_if(owed, same);
    } else if (std::none_of(owed.begin(), owed.end(), same)) {
      owed.push_back(keyInput(key.wVk, false));
    }
  }
  // Let up in the reverse order: S before Ctrl, as a hand would.
  std::reverse(owed.begin(), owed.end());
  return owed;
}

std::unique_ptr<KeyboardEvents> makeKeyboardEvents() {
  return std::make_unique<Win32KeyboardEvents>();
}

}  // namespace qm::windows
