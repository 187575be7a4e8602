// QuillmarkWatcher.exe: polls for Ableton Live and starts Quillmark.exe
// whenever Live runs without it, for the user and session it runs in. Plain
// functions over Win32 and the C library; every text lives in a fixed buffer.
#pragma once

#include <windows.h>

#include <stddef.h>

// Buffer sizes, in UTF-16 units for paths and bytes for log text.
inline constexpr size_t kPathCapacity = 1024;     // app folder and executable path
inline constexpr size_t kLogPathCapacity = 1024;  // the log file's path
inline constexpr size_t kLogLineCapacity = 4096;  // one log line in UTF-8
inline constexpr size_t kMutexNameCapacity = 256;

// Exit status after the usage line or an unusable pair of paths.
inline constexpr int kUsageExitStatus = 64;

inline constexpr wchar_t kQuillmarkExecutableName[] = L"Quillmark.exe";
inline constexpr wchar_t kWatcherExecutableName[] = L"QuillmarkWatcher.exe";
// The watcher's entry under HKEY_CURRENT_USER\...\CurrentVersion\Run.
inline constexpr wchar_t kWatcherRunValueName[] = L"Quillmark Watcher";

// The folder of the watcher's own path and Quillmark.exe in it. Returns 1
// when both fit their buffers, 0 otherwise.
int derive_paths_from_helper(const wchar_t* helper_path, wchar_t* app_path, size_t app_capacity,
                             wchar_t* executable_path, size_t executable_capacity);

// Appends "[timestamp] message\n" in UTF-8 to
// %LOCALAPPDATA%\Quillmark\Logs\QuillmarkWatcher.log, making the two folders
// when missing. Drops the line when LOCALAPPDATA is unset or too long, or the
// path is not a regular file that can be opened at once.
void log_message(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The probes: 1 when a process of this user in this session runs Live (an
// executable named "Ableton Live <anything>.exe", any case), or runs the
// executable at executable_path.
int ableton_running();
int autosave_running(const wchar_t* executable_path);
// 1 when a process of this user in this session runs the executable at
// image_path (a watcher from a given folder, say).
int image_running(const wchar_t* image_path);
// Both probes over one process snapshot, as each pass asks them.
void probe_processes(const wchar_t* executable_path, int* live, int* app);

// Starts executable_path detached, in app_path; 1 when CreateProcessW did.
int launch_autosave(const wchar_t* app_path, const wchar_t* executable_path);

// "Ableton Live 12 Suite.exe" and its kin, in any case.
int is_live_executable_name(const wchar_t* name);

// 1 when the process runs as this process's user and in its session.
// Processes that cannot be asked (another user's, usually) are not ours.
int process_is_ours(DWORD pid);

// Ends every process of this user and session, other than this one, whose
// executable file is named file_name (when not null) or whose full image path
// is image_path (when not null), and waits up to wait_ms for them to go.
// Returns how many it ended.
int end_user_processes(const wchar_t* file_name, const wchar_t* image_path, DWORD wait_ms);

// Names the per-user mutex: "Local\QuillmarkWatcher-" and the user's SID.
int watcher_mutex_name(wchar_t* out, size_t capacity);
// Names the mutex each running Quillmark holds: "Local\Vellum.Quillmark."
// and the user's SID. One per user and session, from whichever folder.
int quillmark_mutex_name(wchar_t* out, size_t capacity);
// 1 when a Quillmark of this user and session runs, from any folder.
int quillmark_instance_running();
// What an attempt to open that mutex tells: 1 when it was opened, or when
// it exists but this process may not open it (ERROR_ACCESS_DENIED: a
// Quillmark run as administrator made it); 0 when there is none.
int instance_mutex_tells_running(int opened, DWORD open_error);

// Asks every process of this user and session named file_name to quit, by
// WM_CLOSE to its top-level windows of class window_class, waits up to
// quit_wait_ms for them, then ends those left (end_user_processes with
// end_wait_ms). Returns how many had to be ended.
int quit_user_processes(const wchar_t* file_name, const wchar_t* window_class, DWORD quit_wait_ms,
                        DWORD end_wait_ms);
// Quillmark's tray window, which closes Quillmark.
inline constexpr wchar_t kQuillmarkTrayWindowClass[] = L"QuillmarkTray";

// Starts that end at once (a crash, or a Quillmark that finds another
// running) back off, so that the watcher neither hammers nor fills the log:
// after a start that ended within quick_end_ms, no start for first_wait_ms,
// doubling at each such end up to longest_wait_ms. A Quillmark seen running
// for settled_ms clears the wait. Times in milliseconds of one clock.
struct LaunchBackoffTimes {
  ULONGLONG quick_end_ms;
  ULONGLONG first_wait_ms;
  ULONGLONG longest_wait_ms;
  ULONGLONG settled_ms;
};
inline constexpr LaunchBackoffTimes kLaunchBackoffTimes = {10000, 3000, 300000, 60000};

struct LaunchBackoff {
  LaunchBackoffTimes times;
  ULONGLONG wait_ms;        // the wait after the latest quick end; 0 for none
  ULONGLONG next_start_at;  // no start before this
  ULONGLONG started_at;     // the watcher's latest start of Quillmark
  int started;              // 1 from that start until Quillmark is seen gone
  ULONGLONG running_since;  // when Quillmark was first seen running
  int running;
};
void launch_backoff_init(LaunchBackoff* backoff, LaunchBackoffTimes times);
// One pass at `now`, where Quillmark runs or not. Returns the new wait when
// this pass found the watcher's start ended quickly (one log line), else 0.
ULONGLONG launch_backoff_observe(LaunchBackoff* backoff, ULONGLONG now, int quillmark_running);
int launch_backoff_may_start(const LaunchBackoff* backoff, ULONGLONG now);
void launch_backoff_started(LaunchBackoff* backoff, ULONGLONG now);

// 1 when the user switched the Run entry value_name off in Task Manager's
// Startup apps or Settings > Apps > Startup: Explorer then keeps a binary
// value of that name under StartupApproved\Run whose first byte is odd.
int startup_entry_switched_off(const wchar_t* value_name);

// Whether a process may install for the signed-in user: it must run as the
// user of the shell (Explorer) and at no higher integrity level. "Run as
// administrator" fails: another user's profile, or the same user at high
// integrity, whose watcher would then start Quillmark at high integrity too.
int may_install_for_the_shell_user(DWORD own_level, DWORD shell_level, int same_user);
// The same for this process against the running shell; without a shell
// there is nothing to compare, and it is allowed. Exit status 3 of
// "QuillmarkWatcher.exe --check-installer" when refused.
inline constexpr int kInstallerRefusedExitStatus = 3;
int installer_context_allowed();

// 1 when text holds a control character (a newline could forge a log line).
int has_control_characters(const wchar_t* text);

// UTF-16 to UTF-8 into a fixed buffer; "" when it does not fit.
void to_utf8(const wchar_t* text, char* out, size_t capacity);
