// QuillmarkWatcher.exe [<app-folder> <executable-path>]
// QuillmarkWatcher.exe --stop
//
// Started at logon from the Run value. Every 3 seconds: if Ableton Live runs
// in this user's session and no Quillmark does (beside the watcher or from
// any other folder), start the one beside it; starts that end at once back
// off. Runs until its process is ended. --stop ends this user's watcher and
// asks Quillmark to quit, wherever they live, for the installer and the
// uninstaller. --check-installer
// exits 3 when this process runs as another user than the shell's or above
// its integrity ("Run as administrator"), for the installer.
#include <stdio.h>
#include <wchar.h>

#include "watcher_win.h"

namespace {

// Long enough for the stopped programs to let go of their files.
constexpr DWORD kStopWaitMilliseconds = 5000;
// Quillmark takes its tray icon away when it quits; one ended instead leaves
// a dead icon behind until the mouse passes over it.
constexpr DWORD kQuitWaitMilliseconds = 3000;
constexpr DWORD kPassMilliseconds = 3000;

const char* state_name(int state) {
  return state == 1 ? "running" : "not running";
}

int full_path(const wchar_t* path, wchar_t* out, size_t capacity) {
  DWORD length = GetFullPathNameW(path, static_cast<DWORD>(capacity), out, nullptr);
  return length > 0 && length < capacity;
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
  wchar_t own_path[kPathCapacity];
  wchar_t app_path[kPathCapacity];
  wchar_t executable_path[kPathCapacity];
  const wchar_t* program = argc > 0 && argv[0] != nullptr ? argv[0] : kWatcherExecutableName;

  DWORD own_length = GetModuleFileNameW(nullptr, own_path, kPathCapacity);
  int derived =
      own_length > 0 && own_length < kPathCapacity &&
      derive_paths_from_helper(own_path, app_path, kPathCapacity, executable_path, kPathCapacity);
  if (argc == 2 && wcscmp(argv[1], L"--stop") == 0) {
    if (!derived) {
      return kUsageExitStatus;
    }
    // The watcher first: it would start Quillmark again in between. Any of
    // this user's, wherever it lives: an upgrade into another folder must
    // not leave the old pair running.
    end_user_processes(kWatcherExecutableName, nullptr, kStopWaitMilliseconds);
    quit_user_processes(kQuillmarkExecutableName, kQuillmarkTrayWindowClass, kQuitWaitMilliseconds,
                        kStopWaitMilliseconds);
    return 0;
  }
  if (argc == 2 && wcscmp(argv[1], L"--check-installer") == 0) {
    return installer_context_allowed() ? 0 : kInstallerRefusedExitStatus;
  }

  int settled = argc >= 3 ? full_path(argv[1], app_path, kPathCapacity) &&
                                full_path(argv[2], executable_path, kPathCapacity)
                          : derived;
  if (!settled) {
    fwprintf(stderr, L"usage: %ls <app-path> <executable-path>\n", program);
    return kUsageExitStatus;
  }
  // A newline in a path would split a log line in two.
  if (has_control_characters(app_path) || has_control_characters(executable_path)) {
    fwprintf(stderr, L"%ls: the app path and executable path must not hold control characters\n",
             program);
    return kUsageExitStatus;
  }

  char app_text[kPathCapacity * 3];
  char executable_text[kPathCapacity * 3];
  to_utf8(app_path, app_text, sizeof app_text);
  to_utf8(executable_path, executable_text, sizeof executable_text);

  // One watcher per user and session; the handle is held until the end.
  wchar_t mutex_name[kMutexNameCapacity];
  HANDLE mutex = watcher_mutex_name(mutex_name, kMutexNameCapacity)
                     ? CreateMutexW(nullptr, FALSE, mutex_name)
                     : nullptr;
  if (mutex == nullptr) {
    // Without its own user's identity the watcher could not tell whose Live
    // it sees.
    log_message("Watcher cannot tell this user's programs apart. Exiting.");
    return 1;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    log_message("Another watcher is already running for this user. Exiting.");
    return 0;
  }

  // Started by the installer or by hand although the user switched it off
  // at logon: the user's word holds.
  if (startup_entry_switched_off(kWatcherRunValueName)) {
    log_message("Watcher is switched off in Startup apps. Exiting.");
    return 0;
  }

  log_message("Watcher started. App: %s", app_text);
  log_message("Main executable: %s", executable_text);

  int previous_live = -1;
  int previous_app = -1;
  LaunchBackoff backoff;
  launch_backoff_init(&backoff, kLaunchBackoffTimes);
  for (;;) {
    int live = 0;
    int app = 0;
    probe_processes(executable_path, &live, &app);
    // A Quillmark from another folder holds the mutex: a second would leave.
    app = app || quillmark_instance_running();
    if (live != previous_live) {
      log_message("Ableton state changed: %s", state_name(live));
      previous_live = live;
    }
    if (app != previous_app) {
      log_message("Quillmark state changed: %s", state_name(app));
      previous_app = app;
    }
    const ULONGLONG now = GetTickCount64();
    const ULONGLONG wait = launch_backoff_observe(&backoff, now, app);
    if (wait > 0) {
      log_message("Quillmark ended within %u s of its start. Next start in %u s.",
                  static_cast<unsigned>(kLaunchBackoffTimes.quick_end_ms / 1000),
                  static_cast<unsigned>(wait / 1000));
    }
    if (live == 1 && app == 0 && launch_backoff_may_start(&backoff, now)) {
      log_message("Ableton is running but Quillmark is not. Launching app...");
      if (launch_autosave(app_path, executable_path)) {
        launch_backoff_started(&backoff, now);
        log_message("Launch command sent successfully.");
      } else {
        log_message("Launch command failed.");
      }
    }
    Sleep(kPassMilliseconds);
  }
}
