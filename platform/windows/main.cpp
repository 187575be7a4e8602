// Quillmark's entry point on Windows: a tray application whose behaviour
// lives in qm::AppDelegate, driven by one message loop. It has no window in
// the taskbar, and one instance runs per user and desktop session.
// windows.h comes first: the other Win32 headers build on it.
#include <windows.h>

#include <memory>
#include <utility>

#include "app_delegate.h"
#include "watcher_win.h"
#include "windows_platform.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int show) {
  (void)instance;
  (void)previous;
  (void)commandLine;
  (void)show;

  // Held until the process ends; a second Quillmark finds it and leaves,
  // and the watcher takes it for a Quillmark running.
  wchar_t instanceName[kMutexNameCapacity];
  const HANDLE instanceMutex = quillmark_mutex_name(instanceName, kMutexNameCapacity)
                                   ? CreateMutexW(nullptr, FALSE, instanceName)
                                   : nullptr;
  if (instanceMutex == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
    return 0;
  }

  namespace win = qm::windows;
  const auto runLoop = win::makeRunLoop();
  const auto workspace = win::makeWorkspace();
  const auto accessibility = win::makeAccessibility(*workspace);
  const auto keyboardEvents = win::makeKeyboardEvents();
  const auto userActivity = win::makeUserActivity();
  const auto applicationWindows = win::makeApplicationWindows();
  const auto applicationMenus = win::makeApplicationMenus();
  const auto preferences = win::makePreferences(win::kPreferencesKey);
  // The tray window hears of the session and the machine; the delegate made
  // below acts on it.
  qm::AppDelegate* app = nullptr;
  win::SessionEvents sessionEvents;
  sessionEvents.lockChanged = [&app](bool locked) {
    if (app != nullptr) {
      app->sessionLockChanged(locked);
    }
  };
  sessionEvents.ending = [&app] {
    if (app != nullptr) {
      app->sessionWillEnd();
    }
  };
  sessionEvents.willSleep = [&app] {
    if (app != nullptr) {
      app->systemWillSleep();
    }
  };
  sessionEvents.didWake = [&app] {
    if (app != nullptr) {
      app->systemDidWake();
    }
  };
  sessionEvents.clockChanged = [&app] {
    if (app != nullptr) {
      app->systemClockChanged();
    }
  };
  const auto statusBar = win::makeStatusBar(*runLoop, std::move(sessionEvents));
  const auto notifications = win::makeNotifications(*statusBar);
  const auto alerts = win::makeAlerts(*runLoop);
  const auto graphics = win::makeGraphics();
  const auto system = win::makeSystem();
  const auto desktop = win::makeDesktop();
  qm::Platform platform{*runLoop,          *workspace,     *accessibility,
                        *keyboardEvents,   *userActivity,  *applicationWindows,
                        *applicationMenus, *notifications, *preferences,
                        *statusBar,        *alerts,        *graphics,
                        *system,           *desktop};

  // Lives for the whole run: the tray icon, the menu and every timer call
  // back into it.
  const auto delegate = std::make_unique<qm::AppDelegate>(platform);
  app = delegate.get();
  // Launched from inside the loop, as AppKit does it.
  runLoop->performAfterDelay(0, [&delegate] { delegate->applicationDidFinishLaunching(); });
  return runLoop->run();
}
