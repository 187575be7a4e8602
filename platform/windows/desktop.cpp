// Windows' words and habits: keys go to the window in front, there is no
// permission to ask for, and the log lives under the local application data.
// windows.h comes first: the other Win32 headers build on it.
#include <windows.h>

#include <shlobj.h>

#include <memory>
#include <optional>
#include <string>

#include "watcher_agent.h"
#include "windows_platform.h"

namespace qm::windows {
namespace {

// Windows blocks input only to a program that runs with more rights, so the
// texts speak of keyboard access and Live run as administrator.
constexpr DesktopWords kWindowsWords{
    .permissionGranted = "Keyboard access granted",
    .permissionMissing = "Keyboard access blocked",
    .grantPermission = "Start Live without administrator rights",
    .openPermissionSettings = "About Keyboard Access",
    .permissionSettingsURL =
        "https://github.com/vellum/quillmark/blob/main/docs/windows.md#keyboard-access",
    .permissionRequiredError = "Keyboard access is blocked: Ableton Live runs as administrator",
    .noKeyEventsError = "Could not build Ctrl+S events",
    .keysNotSentError = "Could not send all of the Ctrl+S keys",
    .autosaveNotStartedMessage =
        "Autosave timer not started: app is disabled, Ableton is missing, or keyboard access is "
        "blocked.",
};

constexpr const char* kWatcherSwitchedOffMessage =
    "Watcher not started: you switched \"Quillmark Watcher\" off in Startup apps (Task "
    "Manager, or Settings > Apps > Startup). Switch it on there to have Quillmark start with "
    "Live again.";

class Win32Desktop final : public Desktop {
 public:
  explicit Win32Desktop(std::optional<std::string> logPath) : logPath_(std::move(logPath)) {}

  const DesktopWords& words() const override { return kWindowsWords; }
  bool keysReachOnlyTheFrontWindow() const override { return true; }
  bool asksForPermissionAtFirstLaunch() const override { return false; }
  std::optional<std::string> applicationLogPath() override { return logPath_; }
  // The Run value instead of a launchd agent; the watcher's restart runs on
  // its own thread, so start-up never waits on it.
  bool installWatcherAgent(std::string* logLine) override {
    WatcherRunValueStart start = installWatcherRunValue(currentExecutablePath());
    if (start.restart.joinable()) {
      start.restart.detach();
    }
    if (start.outcome == WatcherRunValueOutcome::switchedOff && logLine != nullptr) {
      *logLine = kWatcherSwitchedOffMessage;
    }
    return true;
  }

 private:
  std::optional<std::string> logPath_;
};

}  // namespace

std::optional<std::string> shellFolder(int csidl) {
  wchar_t path[MAX_PATH] = L"";
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) {
    return std::nullopt;
  }
  return narrow(path);
}

std::optional<std::string> localApplicationDataFolder() {
  const std::optional<std::string> folder = shellFolder(CSIDL_LOCAL_APPDATA);
  return folder ? std::optional<std::string>(*folder + "\\Quillmark") : std::nullopt;
}

std::unique_ptr<Desktop> makeDesktop() {
  const std::optional<std::string> folder = localApplicationDataFolder();
  std::optional<std::string> logPath;
  if (folder) {
    // Windows programs make their own folders; the log would otherwise
    // never appear.
    const std::wstring logs = widen(*folder + "\\Logs");
    CreateDirectoryW(widen(*folder).c_str(), nullptr);
    CreateDirectoryW(logs.c_str(), nullptr);
    logPath = *folder + "\\Logs\\Quillmark.log";
  }
  return std::make_unique<Win32Desktop>(std::move(logPath));
}

}  // namespace qm::windows
