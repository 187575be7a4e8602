// QuillmarkWatcher.exe against real processes: a stand-in Live named as
// Live's executable is, and a stand-in Quillmark.exe beside a copy of the
// watcher.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "watcher_win.h"
#include "windows_test_support.h"

namespace qm::test {
namespace {

using namespace std::chrono_literals;

// One pass every 3 s; Wine adds its own start-up time to a launch.
constexpr auto kLaunchLimit = 4500ms;

TEST(WindowsWatcherPaths, QuillmarkIsTheExecutableBesideTheWatcher) {
  wchar_t app[kPathCapacity];
  wchar_t executable[kPathCapacity];
  ASSERT_EQ(derive_paths_from_helper(L"C:\\Users\\demo\\AppData\\Local\\Programs\\Quillmark\\"
                                     L"QuillmarkWatcher.exe",
                                     app, kPathCapacity, executable, kPathCapacity),
            1);
  EXPECT_STREQ(app, L"C:\\Users\\demo\\AppData\\Local\\Programs\\Quillmark");
  EXPECT_STREQ(executable, L"C:\\Users\\demo\\AppData\\Local\\Programs\\Quillmark\\Quillmark.exe");

  // No folder at all, and a folder whose Quillmark.exe would not fit.
  EXPECT_EQ(derive_paths_from_helper(L"QuillmarkWatcher.exe", app, kPathCapacity, executable,
                                     kPathCapacity),
            0);
  std::wstring deep = L"C:\\" + std::wstring(kPathCapacity - 16, L'a') + L"\\W.exe";
  EXPECT_EQ(derive_paths_from_helper(deep.c_str(), app, kPathCapacity, executable, kPathCapacity),
            0);
}

// "Run as administrator" is refused: another user, or more rights than the
// shell. Wine runs everything at one level, so the rule is checked here and
// the real process only in the context it can show (allowed).
TEST(WindowsWatcherInstaller, OnlyTheShellsUserAtItsRightsMayInstall) {
  const DWORD medium = SECURITY_MANDATORY_MEDIUM_RID;
  const DWORD high = SECURITY_MANDATORY_HIGH_RID;
  EXPECT_EQ(may_install_for_the_shell_user(medium, medium, 1), 1);
  EXPECT_EQ(may_install_for_the_shell_user(medium, high, 1), 1);
  EXPECT_EQ(may_install_for_the_shell_user(high, medium, 1), 0);
  EXPECT_EQ(may_install_for_the_shell_user(medium, medium, 0), 0);
}

TEST(WindowsWatcherPaths, LiveIsAnyVersionAndEditionInAnyCase) {
  EXPECT_TRUE(is_live_executable_name(L"Ableton Live 12 Suite.exe"));
  EXPECT_TRUE(is_live_executable_name(L"Ableton Live 11 Lite.exe"));
  EXPECT_TRUE(is_live_executable_name(L"ABLETON LIVE 10 intro.EXE"));
  EXPECT_FALSE(is_live_executable_name(L"Ableton Live .exe"));
  EXPECT_FALSE(is_live_executable_name(L"Ableton Live.exe"));
  EXPECT_FALSE(is_live_executable_name(L"Ableton Live 12 Suite.exe.bak"));
  EXPECT_FALSE(is_live_executable_name(L"Not Ableton Live 12.exe"));
  EXPECT_FALSE(is_live_executable_name(L"Ableton Index.exe"));
}

class WindowsWatcher : public ::testing::Test {
 protected:
  WindowsWatcher()
      : localAppData_(environment(L"LOCALAPPDATA")),
        root_(L"QuillmarkWatcherTest"),
        watcher_(root_ / L"Quillmark\\QuillmarkWatcher.exe"),
        quillmark_(root_ / L"Quillmark\\Quillmark.exe"),
        live_(root_ / L"Live\\Ableton Live 12 Suite.exe"),
        log_(root_ / L"AppData\\Quillmark\\Logs\\QuillmarkWatcher.log") {
    CreateDirectoryW((root_ / L"Quillmark").c_str(), nullptr);
    CreateDirectoryW((root_ / L"Live").c_str(), nullptr);
    CreateDirectoryW((root_ / L"AppData").c_str(), nullptr);
    copyFile(windowsPath(QM_WATCHER_EXE), watcher_);
    copyFile(windowsPath(QM_STAND_IN_EXE), quillmark_);
    copyFile(windowsPath(QM_STAND_IN_EXE), live_);
    // The watcher logs under the local application data it inherits.
    SetEnvironmentVariableW(L"LOCALAPPDATA", (root_ / L"AppData").c_str());
  }

  ~WindowsWatcher() override {
    SetEnvironmentVariableW(L"LOCALAPPDATA", localAppData_.c_str());
    for (const std::wstring& program : {watcher_, quillmark_, live_}) {
      endProcessesAt(program);
    }
  }

  bool quillmarkRuns() const { return !processesAt(quillmark_).empty(); }
  std::string log() const { return readFile(log_); }
  bool logHas(const std::string& text) const { return log().find(text) != std::string::npos; }

  std::wstring localAppData_;
  ScratchFolder root_;
  std::wstring watcher_;
  std::wstring quillmark_;
  std::wstring live_;
  std::wstring log_;
};

TEST_F(WindowsWatcher, StartsQuillmarkWhileLiveRunsAndOnlyThen) {
  HANDLE watcher = startProcess(watcher_);
  ASSERT_TRUE(waitUntil([&] { return logHas("Quillmark state changed: not running"); }, 5s));
  // Two more passes without Live: nothing is started.
  Sleep(3500);
  EXPECT_FALSE(quillmarkRuns());

  HANDLE live = startProcess(live_);
  std::chrono::milliseconds took{};
  ASSERT_TRUE(waitUntil([&] { return quillmarkRuns(); }, kLaunchLimit, &took));
  std::printf("Quillmark started %lld ms after Live\n", static_cast<long long>(took.count()));
  ASSERT_TRUE(waitUntil([&] { return logHas("Quillmark state changed: running"); }, 5s));

  // Killed while Live runs: started again at a later pass.
  endProcessesAt(quillmark_);
  ASSERT_FALSE(quillmarkRuns());
  ASSERT_TRUE(waitUntil([&] { return quillmarkRuns(); }, kLaunchLimit, &took));
  std::printf("Quillmark started again %lld ms after it was ended\n",
              static_cast<long long>(took.count()));

  // A second watcher of the same user leaves at once and says why.
  HANDLE second = startProcess(watcher_);
  EXPECT_EQ(waitForExit(second, 3000), 0);
  CloseHandle(second);
  EXPECT_TRUE(logHas("Another watcher is already running for this user. Exiting."));

  // The installer's check passes for the user at the shell's own rights.
  HANDLE check = startProcess(watcher_, L"--check-installer");
  EXPECT_EQ(waitForExit(check, 10000), 0);
  CloseHandle(check);

  // The uninstaller's stop ends this folder's two programs, and not Live;
  // nothing starts Quillmark again behind it.
  HANDLE stop = startProcess(watcher_, L"--stop");
  EXPECT_EQ(waitForExit(stop, 10000), 0);
  CloseHandle(stop);
  EXPECT_EQ(waitForExit(watcher, 1000), 1);
  EXPECT_FALSE(quillmarkRuns());
  Sleep(3500);
  EXPECT_FALSE(quillmarkRuns());
  EXPECT_EQ(waitForExit(live, 0), -1);
  CloseHandle(watcher);
  CloseHandle(live);

  const std::string text = log();
  std::size_t at = 0;
  for (const char* line :
       {"] Watcher started. App: ", "\\QuillmarkWatcherTest-", "] Main executable: ",
        "\\Quillmark\\Quillmark.exe\n", "] Ableton state changed: not running\n",
        "] Quillmark state changed: not running\n", "] Ableton state changed: running\n",
        "] Ableton is running but Quillmark is not. Launching app...\n",
        "] Launch command sent successfully.\n", "] Quillmark state changed: running\n",
        "] Quillmark state changed: not running\n",
        "] Ableton is running but Quillmark is not. Launching app...\n",
        "] Launch command sent successfully.\n"}) {
    const std::size_t found = text.find(line, at);
    ASSERT_NE(found, std::string::npos) << "missing in order: " << line << "\n" << text;
    at = found + 1;
  }
}

TEST_F(WindowsWatcher, RefusesPathsThatWouldForgeLogLines) {
  HANDLE watcher =
      startProcess(watcher_, L"\"C:\\Quill\nmark\" \"C:\\Quill\nmark\\Quillmark.exe\"");
  EXPECT_EQ(waitForExit(watcher, 5000), kUsageExitStatus);
  CloseHandle(watcher);
  EXPECT_FALSE(logHas("Watcher started"));
}

}  // namespace
}  // namespace qm::test
