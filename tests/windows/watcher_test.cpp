// QuillmarkWatcher.exe against real processes: a stand-in Live named as
// Live's executable is, and a stand-in Quillmark.exe beside a copy of the
// watcher.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

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

// A Quillmark run as administrator holds a mutex that the watcher may not
// open: it runs all the same, and no second one is started beside it.
TEST(WindowsWatcherInstance, AMutexThatMayNotBeOpenedIsARunningQuillmark) {
  EXPECT_EQ(instance_mutex_tells_running(1, ERROR_SUCCESS), 1);
  EXPECT_EQ(instance_mutex_tells_running(0, ERROR_ACCESS_DENIED), 1);
  EXPECT_EQ(instance_mutex_tells_running(0, ERROR_FILE_NOT_FOUND), 0);
  EXPECT_EQ(instance_mutex_tells_running(0, ERROR_INVALID_NAME), 0);

  // A DACL without entries lets nobody open it, its maker's user included.
  wchar_t name[kMutexNameCapacity];
  ASSERT_EQ(quillmark_mutex_name(name, kMutexNameCapacity), 1);
  SECURITY_DESCRIPTOR descriptor;
  ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
  ACL empty;
  ASSERT_TRUE(InitializeAcl(&empty, sizeof empty, ACL_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, &empty, FALSE));
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
  const HANDLE mutex = CreateMutexW(&attributes, FALSE, name);
  ASSERT_NE(mutex, nullptr);
  ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  const HANDLE opened = OpenMutexW(SYNCHRONIZE, FALSE, name);
  const DWORD error = GetLastError();
  if (opened != nullptr) {
    // Some Wine prefixes let its maker open it all the same: the refusal
    // cannot be staged there, and a handle left open would read as a
    // running Quillmark to every later test.
    CloseHandle(opened);
    CloseHandle(mutex);
    GTEST_SKIP() << "this system opened a mutex whose DACL has no entries";
  }
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(quillmark_instance_running(), 1);
  CloseHandle(mutex);
  EXPECT_EQ(quillmark_instance_running(), 0);
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

// The watcher's passes over a virtual clock, every 3 s, with a Quillmark
// that runs for `runs` ms after each start (0: it ends at once). Returns
// the times of the starts within `span` ms and the waits the log tells.
struct Passes {
  std::vector<ULONGLONG> starts;
  std::vector<ULONGLONG> waits;
};
Passes passes(LaunchBackoff& backoff, ULONGLONG from, ULONGLONG span, ULONGLONG runs = 0) {
  Passes seen;
  for (ULONGLONG now = from; now < from + span; now += 3000) {
    const bool running = !seen.starts.empty() && now - seen.starts.back() < runs;
    if (const ULONGLONG wait = launch_backoff_observe(&backoff, now, running ? 1 : 0)) {
      seen.waits.push_back(wait);
    }
    if (!running && launch_backoff_may_start(&backoff, now)) {
      launch_backoff_started(&backoff, now);
      seen.starts.push_back(now);
    }
  }
  return seen;
}

TEST(WindowsWatcherBackoff, AQuillmarkThatEndsAtOnceStartsAtMostFiveTimesAMinute) {
  LaunchBackoff backoff;
  launch_backoff_init(&backoff, kLaunchBackoffTimes);
  const Passes minute = passes(backoff, 0, 60000);
  EXPECT_EQ(minute.starts, (std::vector<ULONGLONG>{0, 6000, 15000, 30000, 57000}));
  EXPECT_EQ(minute.waits, (std::vector<ULONGLONG>{3000, 6000, 12000, 24000}));

  // Doubling stops at five minutes.
  const Passes hour = passes(backoff, 60000, 3600000);
  ASSERT_GE(hour.waits.size(), 5u);
  EXPECT_EQ(hour.waits[0], 48000u);
  EXPECT_EQ(hour.waits[3], 300000u);
  EXPECT_EQ(hour.waits.back(), 300000u);
}

TEST(WindowsWatcherBackoff, AMinutesRunClearsTheWaitAndAShorterOneKeepsIt) {
  LaunchBackoff backoff;
  launch_backoff_init(&backoff, kLaunchBackoffTimes);
  EXPECT_EQ(passes(backoff, 0, 12000).waits, (std::vector<ULONGLONG>{3000, 6000}));
  // Ran 30 s: no quick end, started again at once, and the wait stands.
  Passes run = passes(backoff, 30000, 33000, 30000);
  EXPECT_TRUE(run.waits.empty());
  EXPECT_EQ(run.starts, (std::vector<ULONGLONG>{30000, 60000}));
  EXPECT_EQ(passes(backoff, 63000, 4000).waits, (std::vector<ULONGLONG>{12000}));
  // Ran a minute: the next quick end waits 3 s again.
  run = passes(backoff, 200000, 66000, 66000);
  EXPECT_EQ(run.starts, (std::vector<ULONGLONG>{200000}));
  EXPECT_EQ(passes(backoff, 266000, 7000).waits, (std::vector<ULONGLONG>{3000}));
}

TEST(WindowsWatcherBackoff, AQuillmarkTheWatcherDidNotStartNeverBacksOff) {
  LaunchBackoff backoff;
  launch_backoff_init(&backoff, kLaunchBackoffTimes);
  EXPECT_EQ(launch_backoff_observe(&backoff, 0, 1), 0u);
  EXPECT_EQ(launch_backoff_observe(&backoff, 3000, 0), 0u);
  EXPECT_TRUE(launch_backoff_may_start(&backoff, 3000));
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

  // Killed while Live runs, within 10 s of its start: started again after
  // the first step of the back-off.
  endProcessesAt(quillmark_);
  ASSERT_FALSE(quillmarkRuns());
  ASSERT_TRUE(waitUntil([&] { return quillmarkRuns(); }, kLaunchLimit + 3s, &took));
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
        "] Quillmark ended within 10 s of its start. Next start in 3 s.\n",
        "] Ableton is running but Quillmark is not. Launching app...\n",
        "] Launch command sent successfully.\n"}) {
    const std::size_t found = text.find(line, at);
    ASSERT_NE(found, std::string::npos) << "missing in order: " << line << "\n" << text;
    at = found + 1;
  }
}

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// Passes at 0, 3, 6 and 9 s: starts at 0 and 6 s only, each end logged once.
TEST_F(WindowsWatcher, AQuillmarkThatEndsAtOnceIsStartedLaterAndLater) {
  copyFile(windowsPath(QM_STAND_IN_EXITS_EXE), quillmark_);
  HANDLE live = startProcess(live_);
  HANDLE watcher = startProcess(watcher_);
  EXPECT_TRUE(waitUntil([&] { return logHas("Next start in 6 s."); }, 14s)) << log();
  const std::string text = log();
  EXPECT_EQ(occurrences(text, "Launch command sent successfully."), 2u) << text;
  EXPECT_EQ(occurrences(text, "] Quillmark ended within 10 s of its start. Next start in 3 s.\n"),
            1u);
  EXPECT_EQ(occurrences(text, "] Quillmark ended within 10 s of its start. Next start in 6 s.\n"),
            1u);
  CloseHandle(watcher);
  CloseHandle(live);
}

TEST_F(WindowsWatcher, AQuillmarkRunningFromAnotherFolderCountsAsRunning) {
  const ScratchFolder elsewhere(L"QuillmarkElsewhere");
  const std::wstring other = elsewhere / L"Quillmark.exe";
  copyFile(windowsPath(QM_STAND_IN_INSTANCE_EXE), other);
  HANDLE running = startProcess(other);
  ASSERT_TRUE(waitUntil([] { return quillmark_instance_running() == 1; }, 5s));
  HANDLE live = startProcess(live_);
  HANDLE watcher = startProcess(watcher_);
  ASSERT_TRUE(waitUntil([&] { return logHas("Quillmark state changed: running"); }, 5s));
  Sleep(3500);  // one more pass
  EXPECT_FALSE(logHas("Launching app")) << log();
  EXPECT_FALSE(quillmarkRuns());
  endProcessesAt(other);
  CloseHandle(running);
  CloseHandle(watcher);
  CloseHandle(live);
}

// The stop asks Quillmark to quit through its tray window: it leaves on its
// own (status 0, its icon gone with it) well before the stop would end it.
TEST_F(WindowsWatcher, StopAsksQuillmarkToQuit) {
  const std::wstring quillmark = windowsPath(QM_QUILLMARK_EXE);
  HANDLE app = startProcess(quillmark);
  const DWORD pid = GetProcessId(app);
  ASSERT_TRUE(waitUntil([&] { return showsWindowOfClass(pid, kQuillmarkTrayWindowClass); }, 10s));
  HANDLE stop = startProcess(watcher_, L"--stop");
  EXPECT_EQ(waitForExit(app, 2500), 0);
  EXPECT_EQ(waitForExit(stop, 10000), 0);
  CloseHandle(stop);
  if (waitForExit(app, 0) == -1) {
    TerminateProcess(app, 1);
  }
  CloseHandle(app);
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
