// Shared fixture for the core suites: a real temporary home with
// Library/Logs, a simulated world on it, one Quillmark process and the
// application delegate, made on demand so a test can set preferences first.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app_delegate.h"
#include "files.h"
#include "save_sequences.h"
#include "sim_process.h"
#include "sim_world.h"

namespace qm::test {

using simtool::completedSaveSequences;

// A fresh folder under the system's temporary directory, removed with all
// its contents at the end.
class TempDir {
 public:
  TempDir() {
#ifdef _WIN32
    // No mkdtemp on Windows: a random name, taken only if nobody has it.
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const auto candidate =
          std::filesystem::temp_directory_path() / ("qm-core-" + std::to_string(random()));
      std::error_code error;
      if (std::filesystem::create_directory(candidate, error)) {
        const std::u8string text = candidate.generic_u8string();
        path_.assign(text.begin(), text.end());
      }
    }
    if (path_.empty()) {
      throw std::runtime_error("no temporary folder could be made");
    }
#else
    std::string pattern = (std::filesystem::temp_directory_path() / "qm-core-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
#endif
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const {
    return path_;
  }

 private:
  std::string path_;
};

// Whole file, or empty when it cannot be read.
inline std::string readFile(const std::string& path) {
  std::ifstream in(files::nativePath(path), std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string::size_type start = 0;
  while (start < text.size()) {
    const auto end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

class CoreTest : public ::testing::Test {
 protected:
  // The home starts with Library/Logs so the application log is written.
  CoreTest() : world(tempHome.path()) { std::filesystem::create_directories(logsDirectory()); }

  // The delegate, made (settings loaded) on first use.
  AppDelegate& app() {
    if (!delegate) {
      delegate = std::make_unique<AppDelegate>(process->platform());
    }
    return *delegate;
  }

  // Makes the delegate if needed and runs the launch sequence as one
  // main-thread event.
  void launch() {
    AppDelegate& delegateRef = app();
    process->run([&] { delegateRef.applicationDidFinishLaunching(); });
  }

  // Runs `body` as one main-thread event of the process.
  bool runOnMain(const std::function<void()>& body) { return process->run(body); }

  // Starts Live (not frontmost) and returns its pid.
  int startLive(bool hidden = false) {
    return world.startApplication(std::string(kAbletonBundleIdentifier), "Live", hidden);
  }

  // Puts a bundle with a watcher executable file under `root` (the home by
  // default) and makes it this process's bundle; returns the watcher path.
  std::string installBundle(std::string root = {}) {
    if (root.empty()) {
      root = home();
    }
    const std::string macos = root + "/Applications/Quillmark.app/Contents/MacOS";
    std::filesystem::create_directories(files::nativePath(macos));
    std::ofstream(files::nativePath(macos + "/Quillmark")) << "app";
    std::ofstream(files::nativePath(macos + "/QuillmarkWatcher")) << "watcher";
    executablePath = macos + "/Quillmark";
    process->setMainExecutablePath(executablePath);
    return macos + "/QuillmarkWatcher";
  }

  // The user quits and starts Quillmark again: a new process from the same
  // executable, on the same world; its delegate is made on demand again.
  void restartProcess() {
    delegate.reset();
    process.reset();
    process = std::make_unique<sim::Process>(world);
    if (!executablePath.empty()) {
      process->setMainExecutablePath(executablePath);
    }
  }

  const std::string& home() const { return tempHome.path(); }
  std::string logsDirectory() const { return home() + "/Library/Logs"; }
  std::string logPath() const { return logsDirectory() + "/Quillmark.log"; }

  // Lines of the application log, with their "[date time] " prefix.
  std::vector<std::string> logLines() const { return splitLines(readFile(logPath())); }

  // Lines of the application log without the timestamp prefix.
  std::vector<std::string> logMessages() const {
    std::vector<std::string> messages;
    for (const std::string& line : logLines()) {
      const auto close = line.find("] ");
      messages.push_back(line.size() > 0 && line[0] == '[' && close != std::string::npos
                             ? line.substr(close + 2)
                             : line);
    }
    return messages;
  }

  // Declaration order is destruction order reversed: the delegate goes
  // before its process, the process before the world, the world before
  // the folder.
  TempDir tempHome;
  std::string executablePath;
  sim::World world;
  std::unique_ptr<sim::Process> process = std::make_unique<sim::Process>(world);
  std::unique_ptr<AppDelegate> delegate;
};

}  // namespace qm::test
