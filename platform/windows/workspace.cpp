// Running applications and the shell over the system's process list,
// top-level windows and ShellExecuteW.
//
// Live has no bundle identifier on Windows: it is the process whose
// executable is named "Ableton Live <version and edition>.exe", run by this
// user in this session (another user's Live is not ours to save). The menu
// asks for it several times a second, so the list comes from one
// NtQuerySystemInformation call (what the Toolhelp snapshot reads too, at a
// fifteenth of the cost under Wine), a process's user is read once, and a
// list read less than 1.5 s ago answers as long as each Live in it still
// runs: as with AppKit's list, a Live that quits is gone at once, and one
// that starts is seen within 1.5 s, before the Live monitor's next tick.
// windows.h comes first: the other Win32 headers build on it.
#include <windows.h>

#include <objbase.h>
#include <shellapi.h>
#include <winternl.h>

#include <algorithm>
#include <cctype>
#include <cwctype>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "windows_platform.h"

namespace qm::windows {
namespace {

constexpr std::string_view kLiveBundleIdentifier = "com.ableton.live";
constexpr std::wstring_view kLiveExecutablePrefix = L"ableton live ";
constexpr std::wstring_view kLiveExecutableSuffix = L".exe";

// Whether `text` holds `lower` (lower case) at `at`, in any case.
bool holdsAt(std::wstring_view text, std::size_t at, std::wstring_view lower) {
  for (std::size_t i = 0; i < lower.size(); ++i) {
    if (static_cast<wchar_t>(std::towlower(text[at + i])) != lower[i]) {
      return false;
    }
  }
  return true;
}

constexpr ULONGLONG kListLifetimeMilliseconds = 1500;

// Opened with the rights to read its user and see it end.
HANDLE openProcess(DWORD pid) {
  return OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid);
}

bool stillRuns(HANDLE process) {
  return process != nullptr && WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
}

// ShowWindow on another process's window waits for that process's thread:
// a busy Live would freeze Quillmark's only thread. Posted instead.
void showWindow(HWND window, int command) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == GetCurrentProcessId()) {
    ShowWindow(window, command);
  } else {
    ShowWindowAsync(window, command);
  }
}

// How long the foreground fallback waits for each window to answer.
constexpr UINT kForegroundProbeMilliseconds = 100;

// Windows lets a process take the foreground only in some situations; a
// process attached to the input of the foreground thread may. Never to a
// thread that does not answer now: while attached, the two threads share
// one input queue, and a hung one would stall Quillmark's too. The window
// is raised by a request posted to its own thread, so a Live that stops
// answering in between holds nothing up.
void bringToForeground(HWND window) {
  if (SetForegroundWindow(window)) {
    return;
  }
  const HWND foreground = GetForegroundWindow();
  const DWORD foregroundThread = GetWindowThreadProcessId(foreground, nullptr);
  const DWORD ownThread = GetCurrentThreadId();
  if (foreground != nullptr && foregroundThread != ownThread &&
      windowAnswers(foreground, kForegroundProbeMilliseconds) &&
      windowAnswers(window, kForegroundProbeMilliseconds) &&
      AttachThreadInput(ownThread, foregroundThread, TRUE)) {
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_ASYNCWINDOWPOS);
    SetForegroundWindow(window);
    AttachThreadInput(ownThread, foregroundThread, FALSE);
  }
}

class Win32RunningApplication final : public RunningApplication {
 public:
  // `window` is the window that had the focus, when known; otherwise the
  // process's main window is looked up at each call.
  Win32RunningApplication(DWORD pid, HWND window) : pid_(pid), window_(window) {}

  int processIdentifier() const override { return static_cast<int>(pid_); }

  bool isHidden() const override {
    const HWND window = target();
    return window != nullptr && IsIconic(window);
  }

  // Minimised again without taking the focus from the window that has it.
  bool hide() override {
    const HWND window = target();
    if (window == nullptr) {
      return false;
    }
    showWindow(window, SW_SHOWMINNOACTIVE);
    return true;
  }

  bool unhide() override {
    const HWND window = target();
    if (window == nullptr) {
      return false;
    }
    if (IsIconic(window)) {
      showWindow(window, SW_RESTORE);
    }
    return true;
  }

  bool activateWithOptions(unsigned options) override {
    (void)options;  // A window comes forward with its owned windows anyway.
    const HWND window = target();
    if (window == nullptr) {
      return false;
    }
    bringToForeground(window);
    return GetForegroundWindow() == window;
  }

  // Windows has no hand-over between applications: one more pass of the
  // foreground-lock workaround is all there is to ask.
  bool activateFromApplicationOptions(const RunningApplication& from, unsigned options) override {
    (void)from;
    return activateWithOptions(options);
  }

 private:
  HWND target() const {
    if (window_ != nullptr && IsWindow(window_)) {
      return window_;
    }
    return mainWindowOfProcess(pid_);
  }

  DWORD pid_;
  HWND window_;
};

// This process's user (its SID); empty when its token cannot be read.
std::vector<unsigned char> ownUserSid() {
  alignas(TOKEN_USER) unsigned char buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  HANDLE token = nullptr;
  DWORD length = 0;
  std::vector<unsigned char> sid;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
      GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &length)) {
    const PSID user = reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid;
    sid.resize(GetLengthSid(user));
    CopySid(static_cast<DWORD>(sid.size()), sid.data(), user);
  }
  if (token != nullptr) {
    CloseHandle(token);
  }
  return sid;
}

// False as well when the process cannot be opened or its token read, as
// for another user's process.
bool runsAs(HANDLE process, PSID user) {
  if (process == nullptr) {
    return false;
  }
  alignas(TOKEN_USER) unsigned char buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  HANDLE token = nullptr;
  DWORD length = 0;
  const bool same = OpenProcessToken(process, TOKEN_QUERY, &token) &&
                    GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &length) &&
                    EqualSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, user);
  if (token != nullptr) {
    CloseHandle(token);
  }
  return same;
}

class Win32Workspace final : public Workspace {
 public:
  Win32Workspace() : ownUser_(ownUserSid()) {
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &ownSession_)) {
      ownSession_ = kNoSession;
    }
  }

  std::vector<RunningApplicationRef> runningApplicationsWithBundleIdentifier(
      const std::string& bundleIdentifier) override {
    std::vector<RunningApplicationRef> applications;
    if (bundleIdentifier != kLiveBundleIdentifier) {
      return applications;
    }
    if (!listStillTrue()) {
      readProcessList();
    }
    for (const KnownProcess& process : known_) {
      if (process.ours) {
        applications.push_back(std::make_shared<Win32RunningApplication>(process.pid, nullptr));
      }
    }
    return applications;
  }

  RunningApplicationRef frontmostApplication() override {
    HWND window = GetForegroundWindow();
    DWORD pid = 0;
    if (window == nullptr || GetWindowThreadProcessId(window, &pid) == 0) {
      return nullptr;
    }
    // Quillmark's tray menu took the foreground from the user's window.
    if (pid == GetCurrentProcessId()) {
      const HWND before = windowBeforeTrayMenu();
      DWORD beforePid = 0;
      if (before != nullptr && GetWindowThreadProcessId(before, &beforePid) != 0) {
        window = before;
        pid = beforePid;
      }
    }
    // The focus goes back to this very window, not just to its process.
    return std::make_shared<Win32RunningApplication>(pid, window);
  }

  std::optional<int> frontmostProcessIdentifierNow() override {
    DWORD pid = 0;
    const HWND window = GetForegroundWindow();
    if (window == nullptr || GetWindowThreadProcessId(window, &pid) == 0) {
      return std::nullopt;
    }
    return static_cast<int>(pid);
  }

  bool openURL(const std::string& url) override {
    // A URL has a scheme: a letter, then letters, digits, + - or ., then a colon.
    const std::size_t colon = url.find(':');
    if (colon == std::string::npos || colon == 0 ||
        !std::isalpha(static_cast<unsigned char>(url[0]))) {
      return false;
    }
    for (std::size_t i = 1; i < colon; ++i) {
      const auto c = static_cast<unsigned char>(url[i]);
      if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') {
        return false;
      }
    }
    const std::wstring wide = widen(url);
    if (wide.empty()) {
      return false;
    }
    // ShellExecuteW may hand the URL to a shell extension that uses COM;
    // once per thread, and never undone. COM is loaded only then.
    static thread_local const bool com = [] {
      const HMODULE ole32 = LoadLibraryW(L"ole32.dll");
      const FARPROC found = ole32 != nullptr ? GetProcAddress(ole32, "CoInitializeEx") : nullptr;
      if (found == nullptr) {
        return false;
      }
      using Initialize = HRESULT(WINAPI*)(LPVOID, DWORD);
      const auto initialize = reinterpret_cast<Initialize>(reinterpret_cast<void*>(found));
      return SUCCEEDED(initialize(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
    }();
    (void)com;
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;
  }

 private:
  static constexpr DWORD kNoSession = 0xFFFFFFFF;

  // A process id is reused only by another process, which starts later.
  struct KnownProcess {
    DWORD pid;
    LONGLONG createTime;
    bool ours;
    // Held while it is known: it tells when the process ends, and its id
    // goes to no other process meanwhile.
    std::shared_ptr<void> handle;
  };

  // Whether the list read last still holds: young enough, and every Live
  // of ours in it still running.
  bool listStillTrue() const {
    if (!listReadAt_ || GetTickCount64() - *listReadAt_ >= kListLifetimeMilliseconds) {
      return false;
    }
    return std::all_of(known_.begin(), known_.end(), [](const KnownProcess& process) {
      return !process.ours || stillRuns(process.handle.get());
    });
  }

  // The Live processes of this session, as the system's list has them now.
  void readProcessList() {
    constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);
    ULONG needed = 0;
    NTSTATUS status = 0;
    while ((status = NtQuerySystemInformation(SystemProcessInformation, buffer_.data(),
                                              static_cast<ULONG>(buffer_.size()), &needed)) ==
           kInfoLengthMismatch) {
      // Room for processes started meanwhile.
      buffer_.resize(std::max<std::size_t>(buffer_.size() * 2, needed + 4096));
    }
    if (!NT_SUCCESS(status)) {
      known_.clear();
      listReadAt_.reset();
      return;
    }
    std::vector<KnownProcess> seen;
    for (std::size_t offset = 0;;) {
      const auto* process =
          reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(buffer_.data() + offset);
      const std::wstring_view name(process->ImageName.Buffer,
                                   process->ImageName.Length / sizeof(wchar_t));
      if (process->ImageName.Buffer != nullptr && isLiveExecutableName(name) &&
          process->SessionId == ownSession_) {
        const auto pid = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(process->UniqueProcessId));
        remember(pid, process->CreateTime.QuadPart, seen);
      }
      if (process->NextEntryOffset == 0) {
        break;
      }
      offset += process->NextEntryOffset;
    }
    // Only the processes still running are remembered.
    known_ = std::move(seen);
    listReadAt_ = GetTickCount64();
  }

  void remember(DWORD pid, LONGLONG createTime, std::vector<KnownProcess>& seen) {
    const auto known = std::find_if(known_.begin(), known_.end(), [&](const KnownProcess& p) {
      return p.pid == pid && p.createTime == createTime;
    });
    if (known != known_.end()) {
      seen.push_back(*known);
      return;
    }
    const std::shared_ptr<void> handle(openProcess(pid), [](HANDLE process) {
      if (process != nullptr) {
        CloseHandle(process);
      }
    });
    // Without our own user to compare, the session alone decides.
    const bool ours = ownUser_.empty() || runsAs(handle.get(), ownUser_.data());
    seen.push_back({pid, createTime, ours, handle});
  }

  std::vector<unsigned char> ownUser_;
  DWORD ownSession_ = kNoSession;
  std::vector<KnownProcess> known_;
  std::optional<ULONGLONG> listReadAt_;
  // Kept between lookups: the list is about as long each time.
  std::vector<unsigned char> buffer_ = std::vector<unsigned char>(64 * 1024);
};

}  // namespace

bool isLiveExecutableName(std::wstring_view name) {
  // Called for every process at every read of the list: no copy of the name.
  return name.size() > kLiveExecutablePrefix.size() + kLiveExecutableSuffix.size() &&
         holdsAt(name, 0, kLiveExecutablePrefix) &&
         holdsAt(name, name.size() - kLiveExecutableSuffix.size(), kLiveExecutableSuffix);
}

std::unique_ptr<Workspace> makeWorkspace() {
  return std::make_unique<Win32Workspace>();
}

}  // namespace qm::windows
