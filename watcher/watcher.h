// QuillmarkWatcher: polls for Ableton Live and starts Quillmark whenever Live
// runs without it. Plain functions over the C library; every text is built in
// a fixed buffer on the stack.
#pragma once

#include <stddef.h>
#include <sys/types.h>

// Buffer sizes shared by the watcher and its tests.
inline constexpr size_t kPathCapacity = 1024;     // derived app and executable paths
inline constexpr size_t kCommandCapacity = 4096;  // one shell command
inline constexpr size_t kLogPathCapacity = 1024;  // the log file's path
inline constexpr size_t kTimestampCapacity = 32;  // a log line's date and time

// Exit status after the usage line or an unusable pair of paths.
inline constexpr int kUsageExitStatus = 64;

// Derives the bundle path and Quillmark's executable path from the watcher's
// own path (symbolic links resolved when possible). Returns 1 when both fit
// their buffers, 0 otherwise; on 0 neither buffer is meaningful.
int derive_paths_from_helper(const char* helper_path, char* app_path, size_t app_capacity,
                             char* executable_path, size_t executable_capacity);

// Appends "[timestamp] message" to ~/Library/Logs/QuillmarkWatcher.log. Drops
// the line silently when HOME is unset or too long, or when the log cannot be
// opened at once as a regular file (a FIFO there must not stop the watcher).
void log_message(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The probes see only the processes of the watcher's own user.
int ableton_running();                              // 1 when Live runs
int autosave_running(const char* executable_path);  // 1 when Quillmark runs
int launch_autosave(const char* app_path);          // 1 when the launch shell exited 0
int command_succeeds(const char* command);          // 1 when system() returned 0

// Chooses the two paths from the command line: two or more arguments are taken
// verbatim, otherwise both are derived from argv[0] into the given buffers.
// Returns 1 and points *app_path / *executable_path at the chosen texts, or 0
// when the usage line is due.
int select_paths(int argc, char* const argv[], char* app_buffer, size_t app_capacity,
                 char* executable_buffer, size_t executable_capacity, const char** app_path,
                 const char** executable_path);

// snprintf-like: write at most capacity bytes (always terminated when capacity
// > 0) and return the full length the result needs, without its terminator.
size_t shell_quote(const char* text, char* out, size_t capacity);
size_t ere_escape(const char* text, char* out, size_t capacity);
// ere_escape with the last letter or digit written as a bracket expression
// ("Quillmar[k]"): the pattern matches the same texts but never its own, so a
// process carrying a probe's command line is not taken for the program.
size_t probe_pattern(const char* text, char* out, size_t capacity);

// Build the commands run for a path. Return 1 when the command fits in
// capacity bytes including the terminator, 0 otherwise (the buffer then holds
// an empty string, never a cut command).
int build_live_probe_command(uid_t uid, char* out, size_t capacity);
int build_probe_command(const char* executable_path, uid_t uid, char* out, size_t capacity);
int build_launch_command(const char* app_path, char* out, size_t capacity);
int build_log_path(const char* home, char* out, size_t capacity);

// 1 when every command built from the two paths fits in kCommandCapacity.
int commands_fit(const char* app_path, const char* executable_path);

// Why a path cannot be used, or nullptr when it can. A control character is
// refused everywhere: pgrep shows it as "?", so the app would never be found
// and a new copy would start at every pass, and a newline would split a log
// line. On Linux a path must also be valid UTF-8, for the same reason. When
// refused, *offset receives the offending byte's position.
const char* path_refusal(const char* path, size_t* offset);
