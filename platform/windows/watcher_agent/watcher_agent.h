// Starting the watcher at logon on Windows: the Run value, pointed at the
// QuillmarkWatcher.exe beside Quillmark.exe at every start of Quillmark, and
// that watcher started when none runs from there.
#pragma once

#include <string>
#include <thread>

#include "watcher_win.h"

namespace qm::windows {

// Under HKEY_CURRENT_USER.
inline constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

enum class WatcherRunValueOutcome {
  noWatcher,       // no QuillmarkWatcher.exe beside Quillmark.exe: nothing done
  vanishingPlace,  // a removable or read-only volume, or a temporary folder: nothing done
  switchedOff,     // the user switched the watcher off in Startup apps: nothing done
  unchanged,       // the Run value was already right; the watcher is seen to
  written,         // the Run value was written; the watcher is seen to
};

struct WatcherRunValueStart {
  WatcherRunValueOutcome outcome = WatcherRunValueOutcome::noWatcher;
  // Leaves a watcher running from beside Quillmark.exe as it is; else ends
  // this user's watcher from any other folder and starts the one beside
  // Quillmark.exe. Not joinable when nothing is seen to.
  std::thread restart;
};

// The whole step, for Quillmark.exe at quillmarkPath. Quick: the restart runs
// on the returned thread, which the caller detaches (start-up never waits on
// it) or joins (tests). Quillmark's start calls it as
//
//   start = windows::installWatcherRunValue(windows::currentExecutablePath());
//   if (start.restart.joinable()) start.restart.detach();
WatcherRunValueStart installWatcherRunValue(const std::wstring& quillmarkPath);

// Quillmark.exe's own path, for the call above.
std::wstring currentExecutablePath();

// True for a path that may be gone at the next logon: on a removable,
// optical, RAM or read-only volume, or inside the temporary folder.
bool isVanishingPlace(const std::wstring& path);

// The Run value's data for the watcher at watcherPath: the path in quotes.
std::wstring watcherRunValueData(const std::wstring& watcherPath);

}  // namespace qm::windows
