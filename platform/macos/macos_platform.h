// The AppKit implementations of the ports, one factory per concern. Each
// object must live as long as the application delegate that uses it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform.h"

namespace qm::macos {

std::unique_ptr<RunLoop> makeRunLoop();
std::unique_ptr<Workspace> makeWorkspace();
std::unique_ptr<Accessibility> makeAccessibility();
std::unique_ptr<KeyboardEvents> makeKeyboardEvents();
std::unique_ptr<UserActivity> makeUserActivity();
std::unique_ptr<ApplicationWindows> makeApplicationWindows();
std::unique_ptr<ApplicationMenus> makeApplicationMenus();
// Writes a refusal or an error of the notification center to `log`.
std::unique_ptr<Notifications> makeNotifications(std::function<void(std::string_view)> log);
std::unique_ptr<Preferences> makePreferences();
// Over a defaults suite of its own instead of the application's domain.
std::unique_ptr<Preferences> makePreferences(const std::string& suiteName);
std::unique_ptr<StatusBar> makeStatusBar();
std::unique_ptr<Alerts> makeAlerts();
std::unique_ptr<Graphics> makeGraphics();
std::unique_ptr<System> makeSystem();

// What the system announces of the machine and the session, each on the main
// thread.
struct SystemEventCallbacks {
  std::function<void()> willSleep;
  std::function<void()> didWake;
  // The screen was locked or unlocked, or fast user switching took the
  // session away from the screen or brought it back.
  std::function<void(bool locked)> lockChanged;
  // The wall clock was set.
  std::function<void()> clockChanged;
  // The user logs out, or the Mac restarts or shuts down.
  std::function<void()> sessionWillEnd;
};
// Calls the callbacks until the observation is destroyed.
ObservationRef observeSystemEvents(SystemEventCallbacks callbacks);

// The CGEventRef behind an event of makeKeyboardEvents(), so that tests can
// read what was made without posting it.
const void* cgEventOf(const KeyboardEvent& event);

// The virtual key that types `character` with Command held in the layout of
// `inputSource`, a TISInputSourceRef: what makeKeyboardEvents() answers for
// the current layout, so that tests can ask a layout without selecting it.
std::optional<std::uint16_t> virtualKeyTypingWithCommandInLayout(const void* inputSource,
                                                                 char32_t character);

}  // namespace qm::macos
