// The watcher's work: deriving its paths, the two process probes, the launch
// and the log.
//
// Why the probes look the way they do:
//  - pgrep must not count the process asking. Apple's pgrep leaves out itself
//    and all its ancestors, so neither the watcher (whose path
//    .../MacOS/QuillmarkWatcher begins with Quillmark's .../MacOS/Quillmark)
//    nor the shell carrying the pattern in its own arguments is seen.
//    procps-ng's pgrep leaves out only itself; there every probe would find its
//    own shell or the watcher and read "running" forever. -A (procps-ng 4)
//    restores the ancestor rule.
//  - The executable path is matched as a literal: pgrep -f takes an extended
//    regular expression, and a bundle such as "Quillmark (1).app" would never
//    match its own running app, making the watcher relaunch it every pass.
//  - Paths go to /bin/sh single-quoted with ' written as '\'', so no byte of a
//    path can end the quoting or inject a command. Commands are built only when
//    they fit their buffer; a cut command is never run (main refuses paths
//    whose commands would not fit).
#include "watcher.h"

#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#ifdef __APPLE__
const char* const kLiveProbeCommand =
    "/usr/bin/pgrep -x 'Live' >/dev/null 2>&1 || "
    "/usr/bin/pgrep -f '/Ableton Live.*\\.app/Contents/MacOS/Live' >/dev/null 2>&1";
static const char kProbeFormat[] = "pgrep -f %s >/dev/null 2>&1";
#else
const char* const kLiveProbeCommand =
    "/usr/bin/pgrep -A -x 'Live' >/dev/null 2>&1 || "
    "/usr/bin/pgrep -A -f '/Ableton Live.*\\.app/Contents/MacOS/Live' >/dev/null 2>&1";
static const char kProbeFormat[] = "pgrep -A -f %s >/dev/null 2>&1";
#endif

namespace {

constexpr char kBundleMarker[] = ".app/Contents/MacOS/";
constexpr size_t kAppSuffixLength = 4;  // ".app"

// realpath() writes up to PATH_MAX bytes (4096 on Linux, 1024 on macOS), so
// its buffer must be at least that large whatever limit the paths have.
constexpr size_t kResolvedCapacity = PATH_MAX > 1024 ? PATH_MAX : 1024;

// Appends text to out, counting every byte even when it no longer fits.
void append(char* out, size_t capacity, size_t* length, const char* text) {
  for (; *text != '\0'; ++text, ++*length) {
    if (*length + 1 < capacity) {
      out[*length] = *text;
    }
  }
}

void terminate(char* out, size_t capacity, size_t length) {
  if (capacity > 0) {
    out[length < capacity ? length : capacity - 1] = '\0';
  }
}

// 1 when an snprintf result fits; otherwise clears out so no cut text is used.
int fits(int length, char* out, size_t capacity) {
  if (length < 0 || static_cast<size_t>(length) >= capacity) {
    if (capacity > 0) {
      out[0] = '\0';
    }
    return 0;
  }
  return 1;
}

}  // namespace

size_t shell_quote(const char* text, char* out, size_t capacity) {
  size_t length = 0;
  append(out, capacity, &length, "'");
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '\'') {
      append(out, capacity, &length, "'\\''");
    } else {
      const char one[2] = {*p, '\0'};
      append(out, capacity, &length, one);
    }
  }
  append(out, capacity, &length, "'");
  terminate(out, capacity, length);
  return length;
}

size_t ere_escape(const char* text, char* out, size_t capacity) {
  size_t length = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (strchr(".[](){}*+?^$|\\", *p) != nullptr) {
      append(out, capacity, &length, "\\");
    }
    const char one[2] = {*p, '\0'};
    append(out, capacity, &length, one);
  }
  terminate(out, capacity, length);
  return length;
}

int derive_paths_from_helper(const char* helper_path, char* app_path, size_t app_capacity,
                             char* executable_path, size_t executable_capacity) {
  char resolved[kResolvedCapacity];
  const char* own_path = realpath(helper_path, resolved) != nullptr ? resolved : helper_path;

  const char* marker = strstr(own_path, kBundleMarker);
  if (marker == nullptr) {
    return 0;
  }
  size_t app_length = static_cast<size_t>(marker - own_path) + kAppSuffixLength;
  if (app_length + 1 > app_capacity) {
    return 0;
  }
  memcpy(app_path, own_path, app_length);
  app_path[app_length] = '\0';

  int n = snprintf(executable_path, executable_capacity, "%s/Contents/MacOS/Quillmark", app_path);
  return n > 0 && static_cast<size_t>(n) < executable_capacity;
}

int build_log_path(const char* home, char* out, size_t capacity) {
  return fits(snprintf(out, capacity, "%s/Library/Logs/QuillmarkWatcher.log", home), out, capacity);
}

void log_message(const char* format, ...) {
  const char* home = getenv("HOME");
  if (home == nullptr) {
    return;
  }
  char log_path[kLogPathCapacity];
  if (!build_log_path(home, log_path, sizeof log_path)) {
    return;  // a cut path could name some other file
  }
  FILE* file = fopen(log_path, "a");
  if (file == nullptr) {
    return;
  }

  char timestamp[kTimestampCapacity] = "";
  time_t now = time(nullptr);
  struct tm local;
  if (localtime_r(&now, &local) != nullptr) {
    strftime(timestamp, sizeof timestamp, "%Y-%m-%d %H:%M:%S", &local);
  }
  fprintf(file, "[%s] ", timestamp);
  va_list arguments;
  va_start(arguments, format);
  vfprintf(file, format, arguments);
  va_end(arguments);
  fprintf(file, "\n");
  fclose(file);
}

int command_succeeds(const char* command) {
  return system(command) == 0;
}

int ableton_running() {
  return command_succeeds(kLiveProbeCommand);
}

int build_probe_command(const char* executable_path, char* out, size_t capacity) {
  char pattern[kCommandCapacity];
  char quoted[kCommandCapacity];
  if (ere_escape(executable_path, pattern, sizeof pattern) >= sizeof pattern ||
      shell_quote(pattern, quoted, sizeof quoted) >= sizeof quoted) {
    return fits(-1, out, capacity);
  }
  return fits(snprintf(out, capacity, kProbeFormat, quoted), out, capacity);
}

int autosave_running(const char* executable_path) {
  char command[kCommandCapacity];
  if (!build_probe_command(executable_path, command, sizeof command)) {
    return 0;  // main refuses such paths; a failed probe reads "not running"
  }
  return command_succeeds(command);
}

int build_launch_command(const char* app_path, char* out, size_t capacity) {
  char quoted[kCommandCapacity];
#ifdef __APPLE__
  if (shell_quote(app_path, quoted, sizeof quoted) >= sizeof quoted) {
    return fits(-1, out, capacity);
  }
  return fits(snprintf(out, capacity, "/usr/bin/open -g %s >/dev/null 2>&1", quoted), out,
              capacity);
#else
  // No LaunchServices here: start the bundle's executable in the background,
  // detached from the shell, which then exits 0 at once. The -x test keeps a
  // missing executable a failure, as it is for open.
  char executable[kCommandCapacity];
  int n = snprintf(executable, sizeof executable, "%s/Contents/MacOS/Quillmark", app_path);
  if (!fits(n, executable, sizeof executable) ||
      shell_quote(executable, quoted, sizeof quoted) >= sizeof quoted) {
    return fits(-1, out, capacity);
  }
  return fits(
      snprintf(out, capacity, "[ -x %s ] && { nohup %s >/dev/null 2>&1 & }", quoted, quoted), out,
      capacity);
#endif
}

int launch_autosave(const char* app_path) {
  char command[kCommandCapacity];
  if (!build_launch_command(app_path, command, sizeof command)) {
    return 0;
  }
  return command_succeeds(command);
}

int commands_fit(const char* app_path, const char* executable_path) {
  char command[kCommandCapacity];
  return build_probe_command(executable_path, command, sizeof command) &&
         build_launch_command(app_path, command, sizeof command);
}

int select_paths(int argc, char* const argv[], char* app_buffer, size_t app_capacity,
                 char* executable_buffer, size_t executable_capacity, const char** app_path,
                 const char** executable_path) {
  if (argc >= 3) {
    *app_path = argv[1];
    *executable_path = argv[2];
    return 1;
  }
  if (argc < 1 || argv[0] == nullptr ||
      !derive_paths_from_helper(argv[0], app_buffer, app_capacity, executable_buffer,
                                executable_capacity)) {
    return 0;
  }
  *app_path = app_buffer;
  *executable_path = executable_buffer;
  return 1;
}
