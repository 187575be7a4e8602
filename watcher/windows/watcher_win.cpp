// The watcher's probes, launch and log over Win32. Nothing here allocates:
// the snapshot, the token and every text use fixed buffers on the stack or
// in static storage.
#include "watcher_win.h"

#include <tlhelp32.h>

#include <stdarg.h>
#include <stdio.h>
#include <wchar.h>
#include <wctype.h>

namespace {

// Enough for a TOKEN_USER and the largest SID.
constexpr size_t kTokenUserCapacity = sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE;
constexpr size_t kMaxEndedProcesses = MAXIMUM_WAIT_OBJECTS;
constexpr wchar_t kLogFolder[] = L"\\Quillmark";
constexpr wchar_t kLogSubfolder[] = L"\\Logs";
constexpr wchar_t kLogFileName[] = L"\\QuillmarkWatcher.log";

// Copies text into out; 1 when it fit with its terminator.
int copy_text(wchar_t* out, size_t capacity, const wchar_t* text) {
  size_t length = wcslen(text);
  if (length + 1 > capacity) {
    return 0;
  }
  wmemcpy(out, text, length + 1);
  return 1;
}

int append_text(wchar_t* out, size_t capacity, const wchar_t* text) {
  size_t used = wcslen(out);
  return used < capacity && copy_text(out + used, capacity - used, text);
}

int equal_ignoring_case(const wchar_t* a, const wchar_t* b) {
  for (; *a != L'\0' && *b != L'\0'; ++a, ++b) {
    if (towlower(*a) != towlower(*b)) {
      return 0;
    }
  }
  return *a == *b;
}

int token_user_of(HANDLE process, unsigned char* buffer, DWORD capacity) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) {
    return 0;
  }
  DWORD length = 0;
  BOOL ok = GetTokenInformation(token, TokenUser, buffer, capacity, &length);
  CloseHandle(token);
  return ok ? 1 : 0;
}

// This process's user and session, read once.
struct Identity {
  int known;
  DWORD session;
  alignas(TOKEN_USER) unsigned char user[kTokenUserCapacity];
};

const Identity& own_identity() {
  static Identity identity;
  if (!identity.known) {
    identity.known = ProcessIdToSessionId(GetCurrentProcessId(), &identity.session) &&
                             token_user_of(GetCurrentProcess(), identity.user, sizeof identity.user)
                         ? 1
                         : -1;
  }
  return identity;
}

PSID own_sid() {
  const Identity& identity = own_identity();
  return identity.known == 1 ? reinterpret_cast<const TOKEN_USER*>(identity.user)->User.Sid
                             : nullptr;
}

// Opens pid when it is ours, with the rights asked for besides querying.
HANDLE open_our_process(DWORD pid, DWORD rights) {
  const Identity& identity = own_identity();
  DWORD session = 0;
  if (identity.known != 1 || !ProcessIdToSessionId(pid, &session) || session != identity.session) {
    return nullptr;
  }
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | rights, FALSE, pid);
  if (process == nullptr) {
    return nullptr;
  }
  alignas(TOKEN_USER) unsigned char user[kTokenUserCapacity];
  if (!token_user_of(process, user, sizeof user) ||
      !EqualSid(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, own_sid())) {
    CloseHandle(process);
    return nullptr;
  }
  return process;
}

int image_path_is(HANDLE process, const wchar_t* path) {
  wchar_t image[kPathCapacity];
  DWORD length = kPathCapacity;
  return QueryFullProcessImageNameW(process, 0, image, &length) && equal_ignoring_case(image, path);
}

const wchar_t* file_name_of(const wchar_t* path) {
  const wchar_t* name = path;
  for (const wchar_t* c = path; *c != L'\0'; ++c) {
    if (*c == L'\\' || *c == L'/') {
      name = c + 1;
    }
  }
  return name;
}

// Calls visit for each process in a fresh snapshot until it returns 0.
template <typename Visit>
void for_each_process(Visit visit) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    return;
  }
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && visit(entry);
       more = Process32NextW(snapshot, &entry)) {
  }
  CloseHandle(snapshot);
}

}  // namespace

int derive_paths_from_helper(const wchar_t* helper_path, wchar_t* app_path, size_t app_capacity,
                             wchar_t* executable_path, size_t executable_capacity) {
  const wchar_t* name = file_name_of(helper_path);
  if (name == helper_path) {
    return 0;
  }
  size_t folder_length = static_cast<size_t>(name - helper_path) - 1;
  if (folder_length == 0 || folder_length + 1 > app_capacity) {
    return 0;
  }
  wmemcpy(app_path, helper_path, folder_length);
  app_path[folder_length] = L'\0';
  return copy_text(executable_path, executable_capacity, app_path) &&
         append_text(executable_path, executable_capacity, L"\\") &&
         append_text(executable_path, executable_capacity, kQuillmarkExecutableName);
}

void to_utf8(const wchar_t* text, char* out, size_t capacity) {
  int written =
      WideCharToMultiByte(CP_UTF8, 0, text, -1, out, static_cast<int>(capacity), nullptr, nullptr);
  if (written <= 0 && capacity > 0) {
    out[0] = '\0';
  }
}

void log_message(const char* format, ...) {
  wchar_t path[kLogPathCapacity];
  DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", path, kLogPathCapacity);
  if (length == 0 || length >= kLogPathCapacity) {
    return;
  }
  // Quillmark makes these too; whichever program runs first must not lose
  // its lines.
  if (!append_text(path, kLogPathCapacity, kLogFolder)) {
    return;
  }
  CreateDirectoryW(path, nullptr);
  if (!append_text(path, kLogPathCapacity, kLogSubfolder)) {
    return;
  }
  CreateDirectoryW(path, nullptr);
  if (!append_text(path, kLogPathCapacity, kLogFileName)) {
    return;
  }

  HANDLE file =
      CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return;
  }
  // Only a file on disk: a device or pipe could block or swallow the line.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return;
  }

  SYSTEMTIME now;
  GetLocalTime(&now);
  char line[kLogLineCapacity];
  int prefix = snprintf(line, sizeof line, "[%04u-%02u-%02u %02u:%02u:%02u] ", now.wYear,
                        now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
  va_list arguments;
  va_start(arguments, format);
  int message =
      vsnprintf(line + prefix, sizeof line - static_cast<size_t>(prefix) - 1, format, arguments);
  va_end(arguments);
  size_t used = static_cast<size_t>(prefix);
  if (message > 0) {
    size_t room = sizeof line - used - 2;
    used += static_cast<size_t>(message) < room ? static_cast<size_t>(message) : room;
  }
  line[used++] = '\n';
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(used), &written, nullptr);
  CloseHandle(file);
}

int is_live_executable_name(const wchar_t* name) {
  static constexpr wchar_t kPrefix[] = L"ableton live ";
  static constexpr wchar_t kSuffix[] = L".exe";
  const size_t prefix_length = sizeof kPrefix / sizeof kPrefix[0] - 1;
  const size_t suffix_length = sizeof kSuffix / sizeof kSuffix[0] - 1;
  size_t length = wcslen(name);
  if (length <= prefix_length + suffix_length) {
    return 0;
  }
  for (size_t i = 0; i < prefix_length; ++i) {
    if (static_cast<wchar_t>(towlower(name[i])) != kPrefix[i]) {
      return 0;
    }
  }
  return equal_ignoring_case(name + length - suffix_length, kSuffix);
}

int process_is_ours(DWORD pid) {
  HANDLE process = open_our_process(pid, 0);
  if (process == nullptr) {
    return 0;
  }
  CloseHandle(process);
  return 1;
}

void probe_processes(const wchar_t* executable_path, int* live, int* app) {
  const wchar_t* name = executable_path != nullptr ? file_name_of(executable_path) : nullptr;
  int found_live = live == nullptr;
  int found_app = app == nullptr;
  for_each_process([&](const PROCESSENTRY32W& entry) {
    // The names first: they cost nothing and rule out almost every process.
    if (!found_live && is_live_executable_name(entry.szExeFile)) {
      found_live = process_is_ours(entry.th32ProcessID);
    }
    if (!found_app && equal_ignoring_case(entry.szExeFile, name)) {
      HANDLE process = open_our_process(entry.th32ProcessID, 0);
      if (process != nullptr) {
        found_app = image_path_is(process, executable_path);
        CloseHandle(process);
      }
    }
    return !(found_live && found_app);
  });
  if (live != nullptr) {
    *live = found_live;
  }
  if (app != nullptr) {
    *app = found_app;
  }
}

int ableton_running() {
  int live = 0;
  probe_processes(nullptr, &live, nullptr);
  return live;
}

int autosave_running(const wchar_t* executable_path) {
  return image_running(executable_path);
}

int image_running(const wchar_t* image_path) {
  int found = 0;
  probe_processes(image_path, nullptr, &found);
  return found;
}

int launch_autosave(const wchar_t* app_path, const wchar_t* executable_path) {
  wchar_t command_line[kPathCapacity + 2];
  if (!copy_text(command_line, kPathCapacity + 2, L"\"") ||
      !append_text(command_line, kPathCapacity + 2, executable_path) ||
      !append_text(command_line, kPathCapacity + 2, L"\"")) {
    return 0;
  }
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  // A tray program shows no window: no busy cursor while it starts.
  startup.dwFlags = STARTF_FORCEOFFFEEDBACK;
  PROCESS_INFORMATION process;
  // Nothing inherited and a process group of its own: Quillmark outlives the
  // watcher and hears none of its console events.
  if (!CreateProcessW(executable_path, command_line, nullptr, nullptr, FALSE,
                      DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, nullptr, app_path, &startup,
                      &process)) {
    return 0;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 1;
}

int end_user_processes(const wchar_t* file_name, const wchar_t* image_path, DWORD wait_ms) {
  HANDLE ended[kMaxEndedProcesses];
  DWORD count = 0;
  const DWORD self = GetCurrentProcessId();
  const wchar_t* image_name = image_path != nullptr ? file_name_of(image_path) : nullptr;
  for_each_process([&](const PROCESSENTRY32W& entry) {
    if (entry.th32ProcessID == self) {
      return 1;
    }
    int by_name = file_name != nullptr && equal_ignoring_case(entry.szExeFile, file_name);
    int maybe_image = image_name != nullptr && equal_ignoring_case(entry.szExeFile, image_name);
    if (!by_name && !maybe_image) {
      return 1;
    }
    HANDLE process = open_our_process(entry.th32ProcessID, PROCESS_TERMINATE | SYNCHRONIZE);
    if (process == nullptr) {
      return 1;
    }
    if ((by_name || image_path_is(process, image_path)) && TerminateProcess(process, 1)) {
      ended[count++] = process;
    } else {
      CloseHandle(process);
    }
    return count < kMaxEndedProcesses ? 1 : 0;
  });
  if (count > 0) {
    WaitForMultipleObjects(count, ended, TRUE, wait_ms);
  }
  for (DWORD i = 0; i < count; ++i) {
    CloseHandle(ended[i]);
  }
  return static_cast<int>(count);
}

namespace {

// prefix and this user's SID as text.
int name_with_own_sid(const wchar_t* prefix, wchar_t* out, size_t capacity) {
  PSID sid = own_sid();
  if (sid == nullptr || !IsValidSid(sid)) {
    return 0;
  }
  // The SID's text by hand: ConvertSidToStringSidW would allocate.
  const SID_IDENTIFIER_AUTHORITY* authority = GetSidIdentifierAuthority(sid);
  unsigned long long value = 0;
  for (int i = 0; i < 6; ++i) {
    value = (value << 8) | authority->Value[i];
  }
  int used = _snwprintf(out, capacity, L"%lsS-1-%llu", prefix, value);
  if (used < 0 || static_cast<size_t>(used) >= capacity) {
    return 0;
  }
  UCHAR parts = *GetSidSubAuthorityCount(sid);
  for (UCHAR i = 0; i < parts; ++i) {
    size_t at = static_cast<size_t>(used);
    int more = _snwprintf(out + at, capacity - at, L"-%lu", *GetSidSubAuthority(sid, i));
    if (more < 0 || at + static_cast<size_t>(more) >= capacity) {
      return 0;
    }
    used += more;
  }
  out[used] = L'\0';
  return 1;
}

struct QuitRequest {
  const wchar_t* window_class;
  const DWORD* pids;
  DWORD count;
};

BOOL CALLBACK close_windows_of(HWND window, LPARAM context) {
  const auto* request = reinterpret_cast<const QuitRequest*>(context);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  for (DWORD i = 0; i < request->count; ++i) {
    wchar_t name[64];
    if (request->pids[i] == pid && GetClassNameW(window, name, 64) > 0 &&
        wcscmp(name, request->window_class) == 0) {
      PostMessageW(window, WM_CLOSE, 0, 0);
    }
  }
  return TRUE;
}

}  // namespace

int watcher_mutex_name(wchar_t* out, size_t capacity) {
  return name_with_own_sid(L"Local\\QuillmarkWatcher-", out, capacity);
}

int quillmark_mutex_name(wchar_t* out, size_t capacity) {
  return name_with_own_sid(L"Local\\Vellum.Quillmark.", out, capacity);
}

int quillmark_instance_running() {
  wchar_t name[kMutexNameCapacity];
  if (!quillmark_mutex_name(name, kMutexNameCapacity)) {
    return 0;
  }
  HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, name);
  const DWORD error = mutex == nullptr ? GetLastError() : ERROR_SUCCESS;
  if (mutex != nullptr) {
    CloseHandle(mutex);
  }
  return instance_mutex_tells_running(mutex != nullptr, error);
}

int instance_mutex_tells_running(int opened, DWORD open_error) {
  // No such mutex, or any other failure: none runs that the watcher can see.
  return opened || open_error == ERROR_ACCESS_DENIED ? 1 : 0;
}

int quit_user_processes(const wchar_t* file_name, const wchar_t* window_class, DWORD quit_wait_ms,
                        DWORD end_wait_ms) {
  HANDLE processes[kMaxEndedProcesses];
  DWORD pids[kMaxEndedProcesses];
  DWORD count = 0;
  const DWORD self = GetCurrentProcessId();
  for_each_process([&](const PROCESSENTRY32W& entry) {
    if (entry.th32ProcessID != self && equal_ignoring_case(entry.szExeFile, file_name)) {
      HANDLE process = open_our_process(entry.th32ProcessID, SYNCHRONIZE);
      if (process != nullptr) {
        processes[count] = process;
        pids[count++] = entry.th32ProcessID;
      }
    }
    return count < kMaxEndedProcesses ? 1 : 0;
  });
  if (count > 0) {
    QuitRequest request = {window_class, pids, count};
    EnumWindows(close_windows_of, reinterpret_cast<LPARAM>(&request));
    WaitForMultipleObjects(count, processes, TRUE, quit_wait_ms);
  }
  for (DWORD i = 0; i < count; ++i) {
    CloseHandle(processes[i]);
  }
  return end_user_processes(file_name, nullptr, end_wait_ms);
}

void launch_backoff_init(LaunchBackoff* backoff, LaunchBackoffTimes times) {
  ZeroMemory(backoff, sizeof *backoff);
  backoff->times = times;
}

ULONGLONG launch_backoff_observe(LaunchBackoff* backoff, ULONGLONG now, int quillmark_running) {
  if (quillmark_running) {
    if (!backoff->running) {
      backoff->running = 1;
      backoff->running_since = now;
    }
    if (now - backoff->running_since >= backoff->times.settled_ms) {
      backoff->wait_ms = 0;
    }
    return 0;
  }
  backoff->running = 0;
  if (!backoff->started) {
    return 0;
  }
  backoff->started = 0;
  if (now - backoff->started_at >= backoff->times.quick_end_ms) {
    return 0;
  }
  ULONGLONG wait = backoff->wait_ms == 0 ? backoff->times.first_wait_ms : backoff->wait_ms * 2;
  backoff->wait_ms = wait < backoff->times.longest_wait_ms ? wait : backoff->times.longest_wait_ms;
  backoff->next_start_at = now + backoff->wait_ms;
  return backoff->wait_ms;
}

int launch_backoff_may_start(const LaunchBackoff* backoff, ULONGLONG now) {
  return now >= backoff->next_start_at;
}

void launch_backoff_started(LaunchBackoff* backoff, ULONGLONG now) {
  backoff->started = 1;
  backoff->started_at = now;
}

int startup_entry_switched_off(const wchar_t* value_name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER,
                    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run",
                    0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return 0;
  }
  // Twelve bytes: the state, then when it was switched off.
  BYTE data[16];
  DWORD size = sizeof data;
  DWORD type = 0;
  LONG result = RegQueryValueExW(key, value_name, nullptr, &type, data, &size);
  RegCloseKey(key);
  return result == ERROR_SUCCESS && type == REG_BINARY && size >= 1 && (data[0] & 1) != 0;
}

int may_install_for_the_shell_user(DWORD own_level, DWORD shell_level, int same_user) {
  return same_user && own_level <= shell_level;
}

namespace {

int integrity_level_of(HANDLE process, DWORD* level) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) {
    return 0;
  }
  alignas(TOKEN_MANDATORY_LABEL) unsigned char
      buffer[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE];
  DWORD length = 0;
  int ok = GetTokenInformation(token, TokenIntegrityLevel, buffer, sizeof buffer, &length);
  CloseHandle(token);
  if (!ok) {
    return 0;
  }
  PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid;
  UCHAR count = *GetSidSubAuthorityCount(sid);
  if (count == 0) {
    return 0;
  }
  *level = *GetSidSubAuthority(sid, count - 1);
  return 1;
}

}  // namespace

int installer_context_allowed() {
  DWORD shell_pid = 0;
  HWND shell_window = GetShellWindow();
  if (shell_window == nullptr || GetWindowThreadProcessId(shell_window, &shell_pid) == 0) {
    return 1;
  }
  DWORD own_level = 0;
  DWORD shell_level = 0;
  if (!integrity_level_of(GetCurrentProcess(), &own_level)) {
    return 0;
  }
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shell_pid);
  if (process == nullptr) {
    // A shell this process may not even look at belongs to someone else.
    return 0;
  }
  alignas(TOKEN_USER) unsigned char user[kTokenUserCapacity];
  const int same_user = token_user_of(process, user, sizeof user) && own_sid() != nullptr &&
                        EqualSid(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, own_sid());
  const int known = integrity_level_of(process, &shell_level);
  CloseHandle(process);
  return known && may_install_for_the_shell_user(own_level, shell_level, same_user);
}

int has_control_characters(const wchar_t* text) {
  for (; *text != L'\0'; ++text) {
    if (*text < 0x20 || *text == 0x7f) {
      return 1;
    }
  }
  return 0;
}
