// Process facts and actions over the Win32 process, shell folder and
// locale functions.
// windows.h comes first: the other Win32 headers build on it.
#include <windows.h>

#include <shlobj.h>
#include <versionhelpers.h>
#include <wtsapi32.h>

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "windows_platform.h"

namespace qm::windows {
namespace {

// WTSINFOEXW as Windows 7 and later define it; MinGW's headers lack it.
struct SessionInfoExLevel1 {
  ULONG sessionId;
  WTS_CONNECTSTATE_CLASS sessionState;
  LONG sessionFlags;
  WCHAR winStationName[WINSTATIONNAME_LENGTH + 1];
  WCHAR userName[USERNAME_LENGTH + 1];
  WCHAR domainName[DOMAIN_LENGTH + 1];
  LARGE_INTEGER logonTime;
  LARGE_INTEGER connectTime;
  LARGE_INTEGER disconnectTime;
  LARGE_INTEGER lastInputTime;
  LARGE_INTEGER currentTime;
  DWORD incomingBytes;
  DWORD outgoingBytes;
  DWORD incomingFrames;
  DWORD outgoingFrames;
  DWORD incomingCompressedBytes;
  DWORD outgoingCompressedBytes;
};
struct SessionInfoEx {
  DWORD level;
  union {
    SessionInfoExLevel1 level1;
  } data;
};
constexpr auto kSessionInfoEx = static_cast<WTS_INFO_CLASS>(25);  // WTSSessionInfoEx
constexpr LONG kSessionStateLock = 0;                             // WTS_SESSIONSTATE_LOCK
constexpr LONG kSessionStateUnlock = 1;                           // WTS_SESSIONSTATE_UNLOCK

// Windows 7 and Server 2008 R2 (6.1) give the lock and unlock flags the
// wrong way round. VerifyVersionInfoW may claim 6.2 for a later Windows
// that the manifest does not name, never 6.1.
bool sessionFlagsReversed() {
  static const bool reversed = IsWindows7OrGreater() && !IsWindows8OrGreater();
  return reversed;
}

// One argument as CommandLineToArgvW reads it back: quoted when it holds
// blanks or quotes, with the backslashes before a quote doubled.
std::wstring quotedArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  quoted += L'"';
  return quoted;
}

class Win32System final : public System {
 public:
  [[noreturn]] void terminate() override {
    // The exit handlers take the tray icon away.
    std::exit(EXIT_SUCCESS);
  }

  std::string mainExecutablePath() override {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
      const DWORD length =
          GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
      if (length == 0) {
        return {};
      }
      if (length < path.size()) {
        path.resize(length);
        return narrow(path);
      }
      path.resize(path.size() * 2);
    }
  }

  std::string homeDirectory() override { return shellFolder(CSIDL_PROFILE).value_or(""); }

  // Quillmark's own folder under the local application data, the Windows
  // counterpart of ~/Library.
  std::optional<std::string> userLibraryDirectory() override {
    return localApplicationDataFolder();
  }

  // Windows has no numeric user id; the desktop session's number serves
  // where one is needed.
  std::uint32_t userId() override {
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return session;
  }

  int processIdentifier() override { return static_cast<int>(GetCurrentProcessId()); }

  VolumeKind volumeKind(const std::string& path) override {
    wchar_t volume[MAX_PATH + 1] = L"";
    DWORD flags = 0;
    if (!GetVolumePathNameW(widen(path).c_str(), volume, MAX_PATH + 1) ||
        !GetVolumeInformationW(volume, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) {
      return VolumeKind::unknown;
    }
    if ((flags & FILE_READ_ONLY_VOLUME) != 0) {
      return VolumeKind::readOnly;
    }
    switch (GetDriveTypeW(volume)) {
      case DRIVE_REMOVABLE:
      case DRIVE_CDROM:
        return VolumeKind::removable;
      case DRIVE_REMOTE:
        return VolumeKind::network;
      default:
        return VolumeKind::fixed;
    }
  }

  // Standard error goes to the null device: no program run here has words
  // that Quillmark reads on Windows.
  TaskResult runTask(const std::string& launchPath, const std::vector<std::string>& arguments,
                     double timeoutSeconds) override {
    const std::wstring program = widen(launchPath);
    std::wstring commandLine = quotedArgument(program);
    for (const std::string& argument : arguments) {
      commandLine += L' ';
      commandLine += quotedArgument(widen(argument));
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // No handle is inherited.
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process)) {
      throw std::runtime_error("cannot run " + launchPath + ": error " +
                               std::to_string(GetLastError()));
    }
    TaskResult result;
    const double milliseconds = timeoutSeconds * 1000.0;
    const DWORD wait =
        milliseconds >= 0 && milliseconds < 4.0e9 ? static_cast<DWORD>(milliseconds) : INFINITE;
    if (WaitForSingleObject(process.hProcess, wait) == WAIT_TIMEOUT) {
      TerminateProcess(process.hProcess, 1);
      WaitForSingleObject(process.hProcess, INFINITE);
      result.status = -1;
      result.timedOut = true;
    } else {
      DWORD status = 0;
      GetExitCodeProcess(process.hProcess, &status);
      result.status = static_cast<int>(status);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
  }

  // Windows shows no first-launch alert; nothing asks to come forward.
  void activate() override {}

  std::optional<bool> sessionIsLocked() override { return sessionLockedNow(WTS_CURRENT_SESSION); }

  std::string shortTimeString(Date date) override {
    // Seconds since 1970 to the 100 ns steps since 1601 of a FILETIME.
    const auto ticks = static_cast<std::uint64_t>(date * 1e7) + 116444736000000000ULL;
    const FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME universal{};
    SYSTEMTIME local{};
    if (!FileTimeToSystemTime(&utc, &universal) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) {
      return {};
    }
    wchar_t text[64] = L"";
    if (GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, TIME_NOSECONDS, &local, nullptr, text, 64) == 0) {
      return {};
    }
    return narrow(text);
  }
};

}  // namespace

std::optional<bool> lockedFromSessionFlags(LONG sessionFlags, bool reversed) {
  // Anything else, WTS_SESSIONSTATE_UNKNOWN included, tells nothing.
  switch (sessionFlags) {
    case kSessionStateLock:
      return !reversed;
    case kSessionStateUnlock:
      return reversed;
    default:
      return std::nullopt;
  }
}

std::optional<bool> lockedFromSessionInfo(const void* buffer, DWORD size, bool flagsReversed) {
  // The lock flag is 0: only a whole level-1 record may say "locked".
  if (buffer == nullptr || size < sizeof(SessionInfoEx)) {
    return std::nullopt;
  }
  const auto* info = static_cast<const SessionInfoEx*>(buffer);
  if (info->level != 1) {
    return std::nullopt;
  }
  return lockedFromSessionFlags(info->data.level1.sessionFlags, flagsReversed);
}

std::optional<bool> sessionLockedNow(DWORD sessionId) {
  LPWSTR buffer = nullptr;
  DWORD size = 0;
  if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, sessionId, kSessionInfoEx, &buffer,
                                   &size)) {
    return std::nullopt;
  }
  const std::optional<bool> locked = lockedFromSessionInfo(buffer, size, sessionFlagsReversed());
  WTSFreeMemory(buffer);
  return locked;
}

std::unique_ptr<System> makeSystem() {
  return std::make_unique<Win32System>();
}

}  // namespace qm::windows
