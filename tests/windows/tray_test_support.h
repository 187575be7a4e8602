// Helpers for the Windows suites: child processes ended by their handle,
// bounded waits, status files of the stand-in programs and a temporary
// folder.
#pragma once

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "windows_platform.h"

namespace qm::windows::test {

// Polls `done` every 20 ms until it holds or `seconds` have passed; true
// when it held. Messages of this thread are dispatched meanwhile.
inline bool waitUntil(const std::function<bool()>& done, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    if (done()) {
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    Sleep(20);
  }
}

// A started program; ended (by its handle) when the object goes.
class ChildProcess {
 public:
  ChildProcess(const std::wstring& program, const std::vector<std::wstring>& arguments) {
    std::wstring commandLine = L"\"" + program + L"\"";
    for (const std::wstring& argument : arguments) {
      commandLine += L" \"" + argument + L"\"";
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       nullptr, &startup, &info)) {
      CloseHandle(info.hThread);
      process_ = info.hProcess;
      pid_ = info.dwProcessId;
    }
  }
  ~ChildProcess() {
    if (process_ != nullptr) {
      if (running()) {
        TerminateProcess(process_, 1);
        WaitForSingleObject(process_, 5000);
      }
      CloseHandle(process_);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return process_ != nullptr; }
  DWORD pid() const { return pid_; }
  HANDLE handle() const { return process_; }
  bool running() const { return WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }
  // Its main window, once it has one.
  HWND window() const { return mainWindowOfProcess(pid_); }
  // Waits for the window to appear.
  HWND waitForWindow(double seconds = 10) const {
    HWND found = nullptr;
    waitUntil([&] { return (found = window()) != nullptr; }, seconds);
    return found;
  }

 private:
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
};

// What a stand-in program has received, read from its status file.
struct StandInCounts {
  int saves = -1;
  int keys = -1;
  int activations = -1;
  int repeats = -1;
  int stored = -1;
  int dialogs = -1;
};

// Posted to the stand-in Live's window: its set gains unsaved changes.
inline constexpr UINT kStandInEditMessage = WM_APP + 1;
// Posted to it: it takes no message for wParam milliseconds.
inline constexpr UINT kStandInHangMessage = WM_APP + 2;

inline StandInCounts readCounts(const std::filesystem::path& statusFile) {
  StandInCounts counts;
  std::ifstream in(statusFile);
  std::string name;
  int value = 0;
  while (in >> name >> value) {
    if (name == "saves") {
      counts.saves = value;
    } else if (name == "keys") {
      counts.keys = value;
    } else if (name == "activations") {
      counts.activations = value;
    } else if (name == "repeats") {
      counts.repeats = value;
    } else if (name == "stored") {
      counts.stored = value;
    } else if (name == "dialogs") {
      counts.dialogs = value;
    }
  }
  return counts;
}

// A fresh folder under the temporary folder, removed at the end.
class TempFolder {
 public:
  TempFolder() {
    // The process id keeps runs apart: MinGW's random_device may repeat
    // its sequence from one process to the next.
    static int made = 0;
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("qm-win-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(made++) +
             "-" + std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::string readWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace qm::windows::test
