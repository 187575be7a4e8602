#include "support.h"

#include <ctype.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace qmtest {

TempDir::TempDir() {
  const char* base = getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/qm-watcher-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed for " + pattern);
  }
  path_ = fs::canonical(pattern);
  if (path_.string().find('\'') != std::string::npos) {
    throw std::runtime_error("temporary folder holds a single quote: " + path_.string());
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string read_file(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const fs::path& file, const std::string& text, bool executable) {
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
  }
  if (executable) {
    fs::permissions(file, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
  }
}

fs::path make_dir_of_length(const fs::path& base, size_t length) {
  std::string path = base.string();
  if (path.size() + 2 > length) {
    throw std::runtime_error("base folder too long for the requested length");
  }
  // Components of at most 200 bytes stay under NAME_MAX.
  while (path.size() < length) {
    size_t room = length - path.size() - 1;  // after the slash
    size_t part = std::min<size_t>(room, 200);
    if (room > 200 && room - 200 < 2) {
      part = room - 2;  // leave room for a slash and at least one byte
    }
    path += '/';
    path.append(part, 'h');
  }
  fs::create_directories(path);
  return path;
}

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (done()) {
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(25ms);
  }
}

std::string system_program(const std::string& name) {
  for (const char* dir : {"/bin/", "/usr/bin/"}) {
    std::string candidate = dir + name;
    if (access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  throw std::runtime_error("no " + name + " in /bin or /usr/bin");
}

std::string shell_output(const std::string& command, int* exit_status) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    throw std::runtime_error("popen failed");
  }
  std::string output;
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) {
    output.append(chunk, n);
  }
  int status = pclose(pipe);
  if (exit_status != nullptr) {
    *exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return output;
}

Process::Process(const Options& options) {
  // Everything the child needs is prepared before fork().
  std::vector<std::string> env_strings;
  std::map<std::string, std::optional<std::string>> pending = options.env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    std::string key = entry.substr(0, entry.find('='));
    auto it = pending.find(key);
    if (it == pending.end()) {
      env_strings.push_back(entry);
    }
  }
  for (const auto& [key, value] : pending) {
    if (value) {
      env_strings.push_back(key + "=" + *value);
    }
  }
  std::vector<char*> envp;
  for (auto& s : env_strings) {
    envp.push_back(s.data());
  }
  envp.push_back(nullptr);
  std::vector<std::string> args = options.argv;
  std::vector<char*> argv;
  for (auto& s : args) {
    argv.push_back(s.data());
  }
  argv.push_back(nullptr);
  std::string out = options.stdout_file.empty() ? "/dev/null" : options.stdout_file.string();
  std::string err = options.stderr_file.empty() ? "/dev/null" : options.stderr_file.string();
  std::string cwd = options.cwd.string();

  pid_ = fork();
  if (pid_ < 0) {
    throw std::runtime_error("fork failed");
  }
  if (pid_ == 0) {
    setpgid(0, 0);
    int in_fd = open("/dev/null", O_RDONLY);
    int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (in_fd < 0 || out_fd < 0 || err_fd < 0 || dup2(in_fd, 0) < 0 || dup2(out_fd, 1) < 0 ||
        dup2(err_fd, 2) < 0) {
      _exit(127);
    }
    // Nothing of the test runner (its pipes above all) may leak into processes
    // that outlive this one, or ctest would wait for them.
    for (int fd = 3; fd < 1024; ++fd) {
      close(fd);
    }
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) {
      _exit(127);
    }
    execve(options.program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  setpgid(pid_, pid_);  // also from here, so kill_group() cannot miss the group
}

Process::~Process() {
  kill_group();
}

bool Process::running() {
  if (reaped_) {
    return false;
  }
  pid_t r = waitpid(pid_, &status_, WNOHANG);
  if (r == pid_) {
    reaped_ = true;
    return false;
  }
  return true;
}

std::optional<int> Process::wait_exit(std::chrono::milliseconds timeout) {
  if (!wait_until([this] { return !running(); }, timeout)) {
    return std::nullopt;
  }
  if (WIFEXITED(status_)) {
    return WEXITSTATUS(status_);
  }
  return std::nullopt;
}

void Process::kill_group() {
  if (pid_ <= 0) {
    return;
  }
  // The group outlives its leader while background children live, so kill it
  // before reaping the leader (which frees the id for reuse).
  kill(-pid_, SIGKILL);
  if (!reaped_) {
    waitpid(pid_, &status_, 0);
    reaped_ = true;
  }
  pid_ = -1;
}

std::string command_line_of(pid_t pid) {
  std::string raw = read_file("/proc/" + std::to_string(pid) + "/cmdline");
  while (!raw.empty() && raw.back() == '\0') {
    raw.pop_back();
  }
  std::replace(raw.begin(), raw.end(), '\0', ' ');
  return raw;
}

std::string name_of(pid_t pid) {
  std::string name = read_file("/proc/" + std::to_string(pid) + "/comm");
  if (!name.empty() && name.back() == '\n') {
    name.pop_back();
  }
  return name;
}

namespace {

// The fields of /proc/<pid>/stat after the name, which may hold blanks.
std::vector<std::string> stat_fields(pid_t pid) {
  std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  std::vector<std::string> fields;
  size_t close = stat.rfind(')');
  if (close == std::string::npos) {
    return fields;
  }
  std::istringstream rest(stat.substr(close + 1));
  std::string field;
  while (rest >> field) {
    fields.push_back(field);
  }
  return fields;
}

}  // namespace

pid_t session_of(pid_t pid) {
  std::vector<std::string> f = stat_fields(pid);  // state ppid pgrp session ...
  return f.size() > 3 ? static_cast<pid_t>(std::stol(f[3])) : -1;
}

bool alive(pid_t pid) {
  std::vector<std::string> f = stat_fields(pid);
  return !f.empty() && f[0] != "Z";
}

std::vector<pid_t> processes_named(const std::string& name) {
  std::vector<pid_t> found;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) {
    return found;
  }
  while (dirent* entry = readdir(proc)) {
    char* end = nullptr;
    long pid = strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0') {
      continue;
    }
    std::string stat = read_file("/proc/" + std::string(entry->d_name) + "/stat");
    bool zombie = stat.find(") Z ") != std::string::npos;
    if (!zombie && name_of(static_cast<pid_t>(pid)) == name) {
      found.push_back(static_cast<pid_t>(pid));
    }
  }
  closedir(proc);
  return found;
}

std::vector<pid_t> Bundle::standin_pids() const {
  std::vector<pid_t> pids;
  std::istringstream lines(read_file(starts));
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty()) {
      pids.push_back(static_cast<pid_t>(std::stol(line)));
    }
  }
  return pids;
}

void Bundle::kill_standins() const {
  for (pid_t pid : standin_pids()) {
    // Only what still is this bundle's stand-in: the id may have been reused.
    if (command_line_of(pid).find(app.filename().string()) != std::string::npos) {
      kill(-pid, SIGKILL);  // its own group: the sleep it runs goes too
      kill(pid, SIGKILL);
    }
  }
}

void install_standin(const fs::path& executable, const fs::path& starts) {
  // Run directly, the script keeps its path in its argument string
  // ("/bin/sh - <path>"), which is what the Quillmark probe looks for. The "-"
  // keeps a path that begins with "-" from being read as the shell's options.
  write_file(executable,
             "#!/bin/sh -\n"
             "echo $$ >> '" +
                 starts.string() +
                 "'\n"
                 "while :; do " +
                 system_program("sleep") + " 1; done\n",  // also with an empty PATH
             true);
}

Bundle make_bundle(const fs::path& root, const std::string& name, bool with_standin) {
  Bundle b;
  b.root = root;
  b.app = root / name;
  fs::path macos = b.app / "Contents" / "MacOS";
  fs::create_directories(macos);
  b.watcher = macos / "QuillmarkWatcher";
  b.executable = macos / "Quillmark";
  b.starts = root / "standin-starts";
  b.home = root / "home";
  b.log = b.home / "Library" / "Logs" / "QuillmarkWatcher.log";
  fs::create_directories(b.log.parent_path());
  fs::copy_file(watcher_binary(), b.watcher, fs::copy_options::overwrite_existing);
  if (with_standin) {
    install_standin(b.executable, b.starts);
  }
  return b;
}

namespace {

// "[YYYY-MM-DD HH:MM:SS] " at the start of a line.
bool has_stamp(const std::string& line) {
  static const char shape[] = "[dddd-dd-dd dd:dd:dd] ";
  const size_t n = sizeof shape - 1;
  if (line.size() < n) {
    return false;
  }
  for (size_t i = 0; i < n; ++i) {
    bool ok =
        shape[i] == 'd' ? isdigit(static_cast<unsigned char>(line[i])) != 0 : line[i] == shape[i];
    if (!ok) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::vector<std::string> log_messages(const fs::path& log) {
  std::vector<std::string> messages;
  std::string text = read_file(log);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      break;  // a line still being written
    }
    std::string line = text.substr(start, end - start);
    messages.push_back(has_stamp(line) ? line.substr(22) : "MALFORMED: " + line);
    start = end + 1;
  }
  return messages;
}

size_t count_of(const std::vector<std::string>& messages, const std::string& message) {
  return static_cast<size_t>(std::count(messages.begin(), messages.end(), message));
}

fs::path watcher_binary() {
  return QM_WATCHER_BINARY;
}

}  // namespace qmtest
