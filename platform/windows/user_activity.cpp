// The person at the keyboard. Windows tells the time of the last input of
// any kind (a moved mouse included), and which keys and buttons are down.
#include <memory>

#include "windows_platform.h"

namespace qm::windows {
namespace {

class Win32UserActivity final : public UserActivity {
 public:
  double secondsSinceLastUserInput() override {
    LASTINPUTINFO info{};
    info.cbSize = sizeof info;
    if (!GetLastInputInfo(&info)) {
      return 0.0;
    }
    return static_cast<double>(millisecondsSinceInput(GetTickCount(), info.dwTime)) / 1000.0;
  }

  bool isUserInputHeld() override {
    // Every virtual key and mouse button, as the whole desktop sees them
    // (GetKeyboardState would show only this thread's); the lock keys
    // report down only while pressed, not while their light is on.
    for (int key = 1; key < 0xFF; ++key) {
      if ((GetAsyncKeyState(key) & 0x8000) != 0) {
        return true;
      }
    }
    return false;
  }
};

}  // namespace

DWORD millisecondsSinceInput(DWORD now, DWORD lastInput) {
  // Both are milliseconds since start-up in 32 bits; the unsigned
  // difference is right across the wrap every 49.7 days.
  const DWORD elapsed = now - lastInput;
  return elapsed > 0x7FFFFFFF ? 0 : elapsed;
}

std::unique_ptr<UserActivity> makeUserActivity() {
  return std::make_unique<Win32UserActivity>();
}

}  // namespace qm::windows
