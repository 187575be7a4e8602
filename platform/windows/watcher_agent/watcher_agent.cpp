// windows.h comes first: the other Win32 headers build on it.
#include <windows.h>

#include "watcher_agent.h"

#include <cwctype>
#include <vector>

#include "watcher_win.h"

namespace qm::windows {
namespace {

// How long the restart waits for the old watcher to let go of its mutex.
constexpr DWORD kWatcherEndWaitMilliseconds = 5000;

std::wstring folderOf(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// The long form of a path, without 8.3 names, lower-cased and ending in a
// backslash, so one folder can be tested to hold another.
std::wstring comparable(const std::wstring& path) {
  std::wstring full(MAX_PATH, L'\0');
  DWORD length =
      GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (length >= full.size()) {
    full.resize(length);
    length = GetFullPathNameW(path.c_str(), length, full.data(), nullptr);
  }
  full.resize(length < full.size() ? length : 0);
  std::wstring longForm(32768, L'\0');
  const DWORD longLength =
      GetLongPathNameW(full.c_str(), longForm.data(), static_cast<DWORD>(longForm.size()));
  if (longLength > 0 && longLength < longForm.size()) {
    full.assign(longForm.data(), longLength);
  }
  for (wchar_t& c : full) {
    c = static_cast<wchar_t>(std::towlower(c));
  }
  if (!full.empty() && full.back() != L'\\') {
    full += L'\\';
  }
  return full;
}

bool isInside(const std::wstring& path, const std::wstring& folder) {
  const std::wstring inner = comparable(path);
  const std::wstring outer = comparable(folder);
  return !outer.empty() && inner.starts_with(outer);
}

std::wstring environment(const wchar_t* name) {
  std::wstring value(32768, L'\0');
  const DWORD length =
      GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
  value.resize(length < value.size() ? length : 0);
  return value;
}

bool writeRunValueIfChanged(const std::wstring& data) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const DWORD size = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
  std::vector<wchar_t> current(data.size() + 2, L'\0');
  DWORD currentType = 0;
  DWORD currentSize = static_cast<DWORD>(current.size() * sizeof(wchar_t));
  const bool same =
      RegQueryValueExW(key, kWatcherRunValueName, nullptr, &currentType,
                       reinterpret_cast<BYTE*>(current.data()), &currentSize) == ERROR_SUCCESS &&
      currentType == REG_SZ && currentSize == size && data == current.data();
  bool written = false;
  if (!same) {
    written = RegSetValueExW(key, kWatcherRunValueName, 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(data.c_str()), size) == ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return written;
}

}  // namespace

std::wstring currentExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      return {};
    }
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

bool isVanishingPlace(const std::wstring& path) {
  for (const std::wstring& temporary : {environment(L"TEMP"), environment(L"TMP")}) {
    if (!temporary.empty() && isInside(path, temporary)) {
      return true;
    }
  }
  wchar_t temporary[MAX_PATH + 1] = L"";
  const DWORD length = GetTempPathW(MAX_PATH + 1, temporary);
  if (length > 0 && length <= MAX_PATH && isInside(path, temporary)) {
    return true;
  }

  wchar_t volume[MAX_PATH + 1] = L"";
  if (!GetVolumePathNameW(path.c_str(), volume, MAX_PATH + 1)) {
    return false;
  }
  switch (GetDriveTypeW(volume)) {
    case DRIVE_REMOVABLE:
    case DRIVE_CDROM:
    case DRIVE_RAMDISK:
      return true;
    default:
      break;
  }
  DWORD flags = 0;
  return GetVolumeInformationW(volume, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
         (flags & FILE_READ_ONLY_VOLUME) != 0;
}

std::wstring watcherRunValueData(const std::wstring& watcherPath) {
  return L"\"" + watcherPath + L"\"";
}

WatcherRunValueStart installWatcherRunValue(const std::wstring& quillmarkPath) {
  WatcherRunValueStart start;
  const std::wstring folder = folderOf(quillmarkPath);
  if (folder.empty()) {
    return start;
  }
  const std::wstring watcher = folder + L"\\" + kWatcherExecutableName;
  const DWORD attributes = GetFileAttributesW(watcher.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return start;
  }
  // A value left pointing at a drive that was pulled out, or at a folder the
  // system empties, would start nothing at the next logon.
  if (isVanishingPlace(watcher)) {
    start.outcome = WatcherRunValueOutcome::vanishingPlace;
    return start;
  }
  // The user's word: neither the value nor a watcher comes back.
  if (startup_entry_switched_off(kWatcherRunValueName)) {
    start.outcome = WatcherRunValueOutcome::switchedOff;
    return start;
  }
  start.outcome = writeRunValueIfChanged(watcherRunValueData(watcher))
                      ? WatcherRunValueOutcome::written
                      : WatcherRunValueOutcome::unchanged;
  // The watcher from this folder keeps running, and with it its back-off:
  // a fresh one would start a Quillmark that ends at once every 3 s. One
  // from another folder holds the per-user mutex, so it must be gone
  // before this folder's starts.
  start.restart = std::thread([folder, watcher] {
    if (image_running(watcher.c_str())) {
      return;
    }
    end_user_processes(kWatcherExecutableName, nullptr, kWatcherEndWaitMilliseconds);
    launch_autosave(folder.c_str(), watcher.c_str());
  });
  return start;
}

}  // namespace qm::windows
