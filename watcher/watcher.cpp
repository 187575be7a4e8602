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
//  - -U with our own uid: with two users logged in, each user's watcher would
//    otherwise see the other's Live and start a Quillmark that can never see
//    it, or take the other's watcher for Quillmark and start none.
//  - Each -f pattern has its last letter in brackets, so it cannot match its
//    own text: another watcher's probe shell is not Live (or Quillmark).
//  - The executable path is matched as a literal: pgrep -f takes an extended
//    regular expression, and a bundle such as "Quillmark (1).app" would never
//    match its own running app, making the watcher relaunch it every pass.
//  - procps-ng's pgrep shows bytes that are not text in the current locale as
//    "?", so on Linux the probes run under C.UTF-8 (a path with "ä" is found)
//    and main refuses paths that are not UTF-8 or hold control characters.
//  - Every program is named by its absolute path (an empty PATH makes the
//    shell search the current folder) and "--" comes before every path
//    operand (a path beginning with "-" is not an option).
//  - Paths go to /bin/sh single-quoted with ' written as '\'', so no byte of a
//    path can end the quoting or inject a command. Commands are built only when
//    they fit their buffer; a cut command is never run (main refuses paths
//    whose commands would not fit).
#include "watcher.h"

#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#ifdef __APPLE__
static const char kLiveProbeFormat[] =
    "/usr/bin/pgrep -U %u -x 'Live' >/dev/null 2>&1 || "
    "/usr/bin/pgrep -U %u -f '/Ableton Live.*\\.app/Contents/MacOS/Liv[e]' >/dev/null 2>&1";
static const char kPgrepAsUser[] = "/usr/bin/pgrep -U ";
#else
static const char kLiveProbeFormat[] =
    "LC_ALL=C.UTF-8 /usr/bin/pgrep -A -U %u -x 'Live' >/dev/null 2>&1 || "
    "LC_ALL=C.UTF-8 /usr/bin/pgrep -A -U %u -f '/Ableton Live.*\\.app/Contents/MacOS/Liv[e]' "
    ">/dev/null 2>&1";
static const char kPgrepAsUser[] = "LC_ALL=C.UTF-8 /usr/bin/pgrep -A -U ";
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

// Appends text followed by tail as one single-quoted word for /bin/sh, each
// ' written as '\''. Commands are quoted straight into their own buffer: no
// second 4 KB buffer on the stack of the resident watcher.
void append_quoted(char* out, size_t capacity, size_t* length, const char* text,
                   const char* tail = "") {
  append(out, capacity, length, "'");
  const char* const parts[2] = {text, tail};
  for (const char* part : parts) {
    for (const char* p = part; *p != '\0'; ++p) {
      const char one[2] = {*p, '\0'};
      append(out, capacity, length, *p == '\'' ? "'\\''" : one);
    }
  }
  append(out, capacity, length, "'");
}

// Terminates a command built with append; 1 when it fit, else clears it.
int finish(char* out, size_t capacity, size_t length) {
  terminate(out, capacity, length);
  if (length >= capacity) {
    return fits(-1, out, capacity);
  }
  return 1;
}

}  // namespace

size_t shell_quote(const char* text, char* out, size_t capacity) {
  size_t length = 0;
  append_quoted(out, capacity, &length, text);
  terminate(out, capacity, length);
  return length;
}

namespace {

// Writes text escaped for an ERE, the byte at `bracket` (if any) as "[c]".
size_t escape_pattern(const char* text, size_t bracket, char* out, size_t capacity) {
  size_t length = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    const char one[2] = {*p, '\0'};
    if (static_cast<size_t>(p - text) == bracket) {
      append(out, capacity, &length, "[");
      append(out, capacity, &length, one);
      append(out, capacity, &length, "]");
      continue;
    }
    if (strchr(".[](){}*+?^$|\\", *p) != nullptr) {
      append(out, capacity, &length, "\\");
    }
    append(out, capacity, &length, one);
  }
  terminate(out, capacity, length);
  return length;
}

bool is_alphanumeric(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

}  // namespace

size_t ere_escape(const char* text, char* out, size_t capacity) {
  return escape_pattern(text, static_cast<size_t>(-1), out, capacity);
}

size_t probe_pattern(const char* text, char* out, size_t capacity) {
  // A letter or digit is never escaped, so in brackets it means itself alone.
  size_t bracket = static_cast<size_t>(-1);
  for (size_t i = 0; text[i] != '\0'; ++i) {
    if (is_alphanumeric(text[i])) {
      bracket = i;
    }
  }
  return escape_pattern(text, bracket, out, capacity);
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
  // Opened without blocking and kept only when it is a regular file: a FIFO
  // with no reader would stop the watcher for good at its first line.
  int fd = open(log_path, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) {
    return;
  }
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return;
  }
  FILE* file = fdopen(fd, "a");
  if (file == nullptr) {
    close(fd);
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

int build_live_probe_command(uid_t uid, char* out, size_t capacity) {
  const unsigned id = static_cast<unsigned>(uid);
  return fits(snprintf(out, capacity, kLiveProbeFormat, id, id), out, capacity);
}

int ableton_running() {
  char command[kCommandCapacity];
  if (!build_live_probe_command(getuid(), command, sizeof command)) {
    return 0;
  }
  return command_succeeds(command);
}

int build_probe_command(const char* executable_path, uid_t uid, char* out, size_t capacity) {
  char pattern[kCommandCapacity];
  if (probe_pattern(executable_path, pattern, sizeof pattern) >= sizeof pattern) {
    return fits(-1, out, capacity);
  }
  char uid_text[16];
  snprintf(uid_text, sizeof uid_text, "%u", static_cast<unsigned>(uid));
  size_t length = 0;
  append(out, capacity, &length, kPgrepAsUser);
  append(out, capacity, &length, uid_text);
  append(out, capacity, &length, " -f -- ");
  append_quoted(out, capacity, &length, pattern);
  append(out, capacity, &length, " >/dev/null 2>&1");
  return finish(out, capacity, length);
}

int autosave_running(const char* executable_path) {
  char command[kCommandCapacity];
  if (!build_probe_command(executable_path, getuid(), command, sizeof command)) {
    return 0;  // main refuses such paths; a failed probe reads "not running"
  }
  return command_succeeds(command);
}

int build_launch_command(const char* app_path, char* out, size_t capacity) {
  size_t length = 0;
#ifdef __APPLE__
  append(out, capacity, &length, "/usr/bin/open -g -- ");
  append_quoted(out, capacity, &length, app_path);
  append(out, capacity, &length, " >/dev/null 2>&1");
#else
  // No LaunchServices here: start the bundle's executable in a session of its
  // own (setsid -f forks, so the shell exits 0 at once), out of the watcher's
  // process group: a signal to that group must not take Quillmark with it.
  // The -x test keeps a missing executable a failure, as it is for open.
  const char executable[] = "/Contents/MacOS/Quillmark";
  append(out, capacity, &length, "[ -x ");
  append_quoted(out, capacity, &length, app_path, executable);
  append(out, capacity, &length, " ] && /usr/bin/setsid -f -- ");
  append_quoted(out, capacity, &length, app_path, executable);
  append(out, capacity, &length, " </dev/null >/dev/null 2>&1");
#endif
  return finish(out, capacity, length);
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
  return build_probe_command(executable_path, getuid(), command, sizeof command) &&
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

#ifndef __APPLE__
namespace {

// Length of the UTF-8 sequence starting at p, or 0 when it is not one
// (overlong forms, surrogates and code points past U+10FFFF included).
size_t utf8_sequence_length(const unsigned char* p) {
  const unsigned char c = p[0];
  size_t length;
  unsigned lowest_second = 0x80, highest_second = 0xBF;
  if (c < 0x80) {
    return 1;
  } else if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0)
      lowest_second = 0xA0;  // overlong
    if (c == 0xED)
      highest_second = 0x9F;  // surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0)
      lowest_second = 0x90;  // overlong
    if (c == 0xF4)
      highest_second = 0x8F;  // past U+10FFFF
  } else {
    return 0;
  }
  if (p[1] < lowest_second || p[1] > highest_second) {
    return 0;
  }
  for (size_t i = 2; i < length; ++i) {
    if (p[i] < 0x80 || p[i] > 0xBF) {
      return 0;  // also stops at the terminating zero
    }
  }
  return length;
}

}  // namespace
#endif

const char* path_refusal(const char* path, size_t* offset) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(path);
  for (size_t i = 0; bytes[i] != '\0';) {
    *offset = i;
    if (bytes[i] < 0x20 || bytes[i] == 0x7F) {
      return "holds a control character";
    }
#ifdef __APPLE__
    ++i;
#else
    size_t length = utf8_sequence_length(bytes + i);
    if (length == 0) {
      return "is not valid UTF-8";
    }
    i += length;
#endif
  }
  return nullptr;
}
