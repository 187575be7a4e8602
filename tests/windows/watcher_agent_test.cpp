// The Run-value step of Quillmark's start, in the private Wine prefix's own
// HKEY_CURRENT_USER, with real copies of the watcher.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "watcher_agent.h"
#include "watcher_win.h"
#include "windows_test_support.h"

namespace qm::windows {
namespace {

using test::copyFile;
using test::processesAt;
using test::ScratchFolder;
using test::startProcess;
using test::waitUntil;
using test::windowsPath;

std::wstring runValue() {
  wchar_t data[2048] = L"";
  DWORD size = sizeof data;
  if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, kWatcherRunValueName, RRF_RT_REG_SZ, nullptr, data,
                   &size) != ERROR_SUCCESS) {
    return L"<none>";
  }
  return data;
}

// When the Run key was last written; a value set to what it holds already
// would move it.
FILETIME runKeyWrittenAt() {
  FILETIME written{};
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, &written);
    RegCloseKey(key);
  }
  return written;
}

void deleteRunValue() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
    RegDeleteValueW(key, kWatcherRunValueName);
    RegCloseKey(key);
  }
}

// What Task Manager's Startup apps writes when the user switches the entry
// off (3) or on again (2); nothing when never touched.
void setStartupApproved(std::optional<BYTE> state) {
  constexpr wchar_t kApprovedKey[] =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kApprovedKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  if (state) {
    BYTE data[12] = {*state, 0, 0, 0, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x01};
    RegSetValueExW(key, kWatcherRunValueName, 0, REG_BINARY, data, sizeof data);
  } else {
    RegDeleteValueW(key, kWatcherRunValueName);
  }
  RegCloseKey(key);
}

// A folder with Quillmark.exe (a stand-in: the step only needs its path)
// and a real watcher beside it.
struct Installation {
  explicit Installation(const std::wstring& name) : folder(name) {
    copyFile(windowsPath(QM_STAND_IN_EXE), quillmark());
    copyFile(windowsPath(QM_WATCHER_EXE), watcher());
  }
  std::wstring quillmark() const { return folder / L"Quillmark.exe"; }
  std::wstring watcher() const { return folder / L"QuillmarkWatcher.exe"; }
  ScratchFolder folder;
};

WatcherRunValueOutcome start(const std::wstring& quillmarkPath) {
  WatcherRunValueStart started = installWatcherRunValue(quillmarkPath);
  if (started.restart.joinable()) {
    started.restart.join();
  }
  return started.outcome;
}

class WatcherAgent : public ::testing::Test {
 protected:
  WatcherAgent() { deleteRunValue(); }
  ~WatcherAgent() override {
    end_user_processes(kWatcherExecutableName, nullptr, 5000);
    deleteRunValue();
    setStartupApproved(std::nullopt);
  }
};

// Switched off in Startup apps: Quillmark neither writes the value back nor
// starts a watcher, and a watcher started anyway (by the installer) leaves.
TEST_F(WatcherAgent, TheUsersSwitchInStartupAppsHolds) {
  Installation here(L"QuillmarkAgentOff");
  setStartupApproved(BYTE{3});
  EXPECT_EQ(start(here.quillmark()), WatcherRunValueOutcome::switchedOff);
  EXPECT_EQ(runValue(), L"<none>");
  EXPECT_TRUE(processesAt(here.watcher()).empty());
  HANDLE watcher = startProcess(here.watcher());
  EXPECT_EQ(test::waitForExit(watcher, 5000), 0);
  CloseHandle(watcher);

  // Switched on again: the next start of Quillmark puts everything back.
  setStartupApproved(BYTE{2});
  EXPECT_EQ(start(here.quillmark()), WatcherRunValueOutcome::written);
  EXPECT_EQ(processesAt(here.watcher()).size(), 1u);
}

TEST_F(WatcherAgent, EveryStartPointsTheRunValueHereAndAWatcherFromElsewhereGivesWay) {
  Installation first(L"QuillmarkAgentA");
  EXPECT_EQ(start(first.quillmark()), WatcherRunValueOutcome::written);
  EXPECT_EQ(runValue(), L"\"" + first.watcher() + L"\"");
  const std::vector<DWORD> running = processesAt(first.watcher());
  ASSERT_EQ(running.size(), 1u);

  // The same place again: the value stays as it is, and so does the
  // watcher, with its back-off.
  EXPECT_EQ(start(first.quillmark()), WatcherRunValueOutcome::unchanged);
  EXPECT_EQ(processesAt(first.watcher()), running);

  // Moved: the value follows, and the old folder's watcher gives way.
  Installation moved(L"QuillmarkAgentB");
  EXPECT_EQ(start(moved.quillmark()), WatcherRunValueOutcome::written);
  EXPECT_EQ(runValue(), L"\"" + moved.watcher() + L"\"");
  EXPECT_TRUE(processesAt(first.watcher()).empty());
  EXPECT_EQ(processesAt(moved.watcher()).size(), 1u);
}

TEST_F(WatcherAgent, NothingHappensWithoutAWatcherOrFromATemporaryFolder) {
  ScratchFolder bare(L"QuillmarkAgentBare");
  copyFile(windowsPath(QM_STAND_IN_EXE), bare / L"Quillmark.exe");
  EXPECT_EQ(start(bare / L"Quillmark.exe"), WatcherRunValueOutcome::noWatcher);
  EXPECT_EQ(runValue(), L"<none>");

  // Run from inside a downloaded archive, say: the folder is emptied later.
  wchar_t temporary[MAX_PATH + 1] = L"";
  ASSERT_GT(GetTempPathW(MAX_PATH + 1, temporary), 0u);
  const std::wstring folder = std::wstring(temporary) + L"QuillmarkAgentTemp";
  CreateDirectoryW(folder.c_str(), nullptr);
  copyFile(windowsPath(QM_STAND_IN_EXE), folder + L"\\Quillmark.exe");
  copyFile(windowsPath(QM_WATCHER_EXE), folder + L"\\QuillmarkWatcher.exe");
  EXPECT_EQ(start(folder + L"\\Quillmark.exe"), WatcherRunValueOutcome::vanishingPlace);
  EXPECT_EQ(runValue(), L"<none>");
  EXPECT_TRUE(processesAt(folder + L"\\QuillmarkWatcher.exe").empty());
  DeleteFileW((folder + L"\\Quillmark.exe").c_str());
  DeleteFileW((folder + L"\\QuillmarkWatcher.exe").c_str());
  RemoveDirectoryW(folder.c_str());

  EXPECT_FALSE(isVanishingPlace(bare / L"Quillmark.exe"));
}

TEST_F(WatcherAgent, QuillmarkWritesTheRunValueOnceAndLeavesItsFoldersWatcherRunning) {
  ScratchFolder folder(L"QuillmarkAgentApp");
  const std::wstring quillmark = folder / L"Quillmark.exe";
  const std::wstring watcher = folder / L"QuillmarkWatcher.exe";
  copyFile(windowsPath(QM_QUILLMARK_EXE), quillmark);
  copyFile(windowsPath(QM_WATCHER_EXE), watcher);
  const auto oneWatcher = [&] { return processesAt(watcher).size() == 1; };
  // The prefix's own log, shared with other tests: only what comes after.
  const std::wstring log =
      test::environment(L"LOCALAPPDATA") + L"\\Quillmark\\Logs\\" + L"QuillmarkWatcher.log";
  const std::size_t logBefore = test::readFile(log).size();
  const auto watcherStarts = [&] {
    const std::string text = test::readFile(log).substr(logBefore);
    std::size_t count = 0;
    for (std::size_t at = text.find("] Watcher started."); at != std::string::npos;
         at = text.find("] Watcher started.", at + 1)) {
      ++count;
    }
    return count;
  };

  HANDLE first = startProcess(quillmark);
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(waitUntil([&] { return runValue() == L"\"" + watcher + L"\"" && oneWatcher(); },
                        std::chrono::seconds(15)));
  const std::vector<DWORD> started = processesAt(watcher);
  const FILETIME written = runKeyWrittenAt();
  TerminateProcess(first, 0);
  WaitForSingleObject(first, 5000);
  CloseHandle(first);

  // The second start finds the value right and leaves it, and the watcher
  // too: nothing replaces it within three seconds of Quillmark's tray
  // window, which comes after the step.
  HANDLE second = startProcess(quillmark);
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(waitUntil(
      [&] { return test::showsWindowOfClass(GetProcessId(second), kQuillmarkTrayWindowClass); },
      std::chrono::seconds(15)));
  EXPECT_FALSE(waitUntil([&] { return processesAt(watcher) != started; }, std::chrono::seconds(3)));
  EXPECT_EQ(watcherStarts(), 1u) << test::readFile(log).substr(logBefore);
  const FILETIME rewritten = runKeyWrittenAt();
  EXPECT_EQ(CompareFileTime(&written, &rewritten), 0);
  EXPECT_EQ(runValue(), L"\"" + watcher + L"\"");
  TerminateProcess(second, 0);
  WaitForSingleObject(second, 5000);
  CloseHandle(second);
}

}  // namespace
}  // namespace qm::windows
