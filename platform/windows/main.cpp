// Quillmark's entry point on Windows: a tray application whose behaviour
// lives in qm::AppDelegate, driven by one message loop. It has no window in
// the taskbar, and one instance runs per user and desktop session.
// windows.h comes first: the other Win32 headers build on it.
#include <windows.h>

#include <sddl.h>

#include <memory>
#include <string>
#include <utility>

#include "app_delegate.h"
#include "windows_platform.h"

namespace {

// The user's security identifier as text, or "" when it cannot be read.
std::wstring currentUserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    return {};
  }
  std::wstring text;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::string buffer(size, '\0');
  if (size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
    PWSTR sid = nullptr;
    if (ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
      text = sid;
      LocalFree(sid);
    }
  }
  CloseHandle(token);
  return text;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int show) {
  (void)instance;
  (void)previous;
  (void)commandLine;
  (void)show;

  // Held until the process ends; a second Quillmark finds it and leaves.
  const std::wstring instanceName = L"Local\\Vellum.Quillmark." + currentUserSid();
  const HANDLE instanceMutex = CreateMutexW(nullptr, FALSE, instanceName.c_str());
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
  const auto preferences = win::makePreferences(win::kPreferencesKey);
  // The tray window hears of the session; the delegate made below acts on it.
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
  const auto statusBar = win::makeStatusBar(*runLoop, std::move(sessionEvents));
  const auto notifications = win::makeNotifications(*statusBar);
  const auto alerts = win::makeAlerts(*runLoop);
  const auto graphics = win::makeGraphics();
  const auto system = win::makeSystem();
  const auto desktop = win::makeDesktop();
  qm::Platform platform{*runLoop,        *workspace,    *accessibility,
                        *keyboardEvents, *userActivity, *applicationWindows,
                        *notifications,  *preferences,  *statusBar,
                        *alerts,         *graphics,     *system,
                        *desktop};

  // Lives for the whole run: the tray icon, the menu and every timer call
  // back into it.
  const auto delegate = std::make_unique<qm::AppDelegate>(platform);
  app = delegate.get();
  // Launched from inside the loop, as AppKit does it.
  runLoop->performAfterDelay(0, [&delegate] { delegate->applicationDidFinishLaunching(); });
  return runLoop->run();
}
