// Helpers for the watcher tests: temporary folders, real child processes that
// are always killed, bundles with a stand-in Quillmark, and log reading.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qmtest {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A fresh folder under the system's temporary folder, removed with its
// contents on destruction. Its path is canonical and holds no single quote.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::string read_file(const fs::path& file);  // "" when missing
void write_file(const fs::path& file, const std::string& text, bool executable = false);
// A folder whose path is exactly `length` bytes long, made below `base`.
fs::path make_dir_of_length(const fs::path& base, size_t length);

// Polls `done` every 25 ms until it holds or `timeout` passes.
bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// The given program's path in /bin or /usr/bin.
std::string system_program(const std::string& name);

// Runs a shell command line and returns its standard output.
std::string shell_output(const std::string& command, int* exit_status = nullptr);

// A child process in a process group of its own. The destructor kills the
// whole group (so whatever the child started in the background dies too) and
// reaps the child, also when a test assertion failed.
class Process {
 public:
  struct Options {
    std::string program;                                    // file to execute
    std::vector<std::string> argv;                          // argv[0] included
    std::map<std::string, std::optional<std::string>> env;  // nullopt unsets
    fs::path cwd;                                           // empty: inherit
    fs::path stdout_file, stderr_file;                      // empty: /dev/null
  };
  explicit Process(const Options& options);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t pid() const { return pid_; }
  bool running();
  // Exit status once the process has exited by itself, nullopt on timeout or
  // when a signal ended it.
  std::optional<int> wait_exit(std::chrono::milliseconds timeout);
  void kill_group();

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = 0;
};

// The argument string of a process as pgrep -f sees it, "" when gone.
std::string command_line_of(pid_t pid);
std::string name_of(pid_t pid);  // /proc/<pid>/comm without the newline
pid_t session_of(pid_t pid);     // its session id, -1 when gone
bool alive(pid_t pid);           // exists and is not a zombie
// Processes named exactly "Live" on this machine, found without pgrep.
std::vector<pid_t> processes_named(const std::string& name);

// A bundle `<root>/<name>/Contents/MacOS/` holding a copy of the built watcher
// and a stand-in Quillmark: a shell script that appends its pid to `starts`
// and stays alive, keeping its own path in its argument string.
struct Bundle {
  fs::path root;
  fs::path app;         // <root>/<name>
  fs::path watcher;     // app/Contents/MacOS/QuillmarkWatcher
  fs::path executable;  // app/Contents/MacOS/Quillmark
  fs::path starts;      // one line per start of the stand-in
  fs::path home;        // HOME for the watcher, with Library/Logs
  fs::path log;         // home/Library/Logs/QuillmarkWatcher.log

  std::vector<pid_t> standin_pids() const;
  size_t start_count() const { return standin_pids().size(); }
  // The watcher starts the stand-ins in sessions of their own, out of reach of
  // a test's process group, so tests end them here.
  void kill_standins() const;
};
Bundle make_bundle(const fs::path& root, const std::string& name, bool with_standin = true);
void install_standin(const fs::path& executable, const fs::path& starts);

// The messages of a watcher log, "[YYYY-MM-DD HH:MM:SS] " stripped. A line not
// in that shape is returned whole, prefixed with "MALFORMED: ".
std::vector<std::string> log_messages(const fs::path& log);
size_t count_of(const std::vector<std::string>& messages, const std::string& message);

// The built watcher executable.
fs::path watcher_binary();

}  // namespace qmtest
