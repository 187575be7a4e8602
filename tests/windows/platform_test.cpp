// The Win32 ports one by one: registry preferences, Live among the running
// processes and its window, keys sent only to the window in front and never
// left down, the integrity rule of the permission, and the Windows
// desktop's facts and folders. What the calls cost, platform_bench.cpp
// measures.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app_delegate.h"
#include "tray_test_support.h"

namespace qm::windows::test {
namespace {

constexpr wchar_t kTestPreferencesKey[] = L"Software\\Vellum\\QuillmarkPreferencesTest";

class RegistryPreferencesTest : public ::testing::Test {
 protected:
  RegistryPreferencesTest() { RegDeleteTreeW(HKEY_CURRENT_USER, kTestPreferencesKey); }
  ~RegistryPreferencesTest() override { RegDeleteTreeW(HKEY_CURRENT_USER, kTestPreferencesKey); }

  void setRaw(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kTestPreferencesKey, name, type, data, size),
              ERROR_SUCCESS);
  }
  void setText(const wchar_t* name, const std::wstring& text) {
    setRaw(name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }

  std::unique_ptr<Preferences> preferences = makePreferences(kTestPreferencesKey);
};

TEST_F(RegistryPreferencesTest, WrittenValuesReadBackAndAbsentOnesReadAsNothing) {
  EXPECT_FALSE(preferences->hasObjectForKey("autosave.interval.seconds"));
  EXPECT_EQ(preferences->integerForKey("autosave.interval.seconds"), 0);
  EXPECT_FALSE(preferences->boolForKey("autosave.enabled"));

  preferences->setInteger(std::numeric_limits<std::int64_t>::min(), "autosave.interval.seconds");
  EXPECT_EQ(preferences->integerForKey("autosave.interval.seconds"),
            std::numeric_limits<std::int64_t>::min());
  preferences->setBool(true, "autosave.enabled");
  EXPECT_TRUE(preferences->hasObjectForKey("autosave.enabled"));
  EXPECT_TRUE(preferences->boolForKey("autosave.enabled"));
  preferences->setBool(false, "autosave.enabled");
  EXPECT_TRUE(preferences->hasObjectForKey("autosave.enabled"));
  EXPECT_FALSE(preferences->boolForKey("autosave.enabled"));

  preferences->removeObjectForKey("autosave.enabled");
  EXPECT_FALSE(preferences->hasObjectForKey("autosave.enabled"));
  preferences->removeObjectForKey("autosave.enabled");  // absent: nothing happens
}

TEST_F(RegistryPreferencesTest, HandEditedValuesReadLikeMacOSDefaults) {
  const DWORD dword = 900;
  setRaw(L"dword", REG_DWORD, &dword, sizeof dword);
  EXPECT_EQ(preferences->integerForKey("dword"), 900);
  EXPECT_TRUE(preferences->boolForKey("dword"));

  const std::uint64_t qword = 0xFFFFFFFFFFFFFFF6ULL;  // -10 in two's complement
  setRaw(L"qword", REG_QWORD, &qword, sizeof qword);
  EXPECT_EQ(preferences->integerForKey("qword"), -10);

  const struct {
    const wchar_t* text;
    std::int64_t integer;
    bool flag;
  } texts[] = {
      {L"  42 minutes", 42, true},
      {L"-7", -7, true},
      {L"YES", 0, true},
      {L"true", 0, true},
      {L"no", 0, false},
      {L"0", 0, false},
      {L"", 0, false},
      {L"99999999999999999999", std::numeric_limits<std::int64_t>::max(), true},
      {L"-99999999999999999999", std::numeric_limits<std::int64_t>::min(), true},
  };
  for (const auto& entry : texts) {
    setText(L"text", entry.text);
    EXPECT_EQ(preferences->integerForKey("text"), entry.integer) << narrow(entry.text);
    EXPECT_EQ(preferences->boolForKey("text"), entry.flag) << narrow(entry.text);
    EXPECT_TRUE(preferences->hasObjectForKey("text"));
  }

  // A binary value is there but reads as nothing.
  const unsigned char bytes[] = {1, 2, 3};
  setRaw(L"binary", REG_BINARY, bytes, sizeof bytes);
  EXPECT_TRUE(preferences->hasObjectForKey("binary"));
  EXPECT_EQ(preferences->integerForKey("binary"), 0);
  EXPECT_FALSE(preferences->boolForKey("binary"));
}

TEST(LiveLookupTest, LiveIsAnyAbletonLiveExecutableInAnyCase) {
  EXPECT_TRUE(isLiveExecutableName(L"Ableton Live 12 Suite.exe"));
  EXPECT_TRUE(isLiveExecutableName(L"Ableton Live 11 Lite.exe"));
  EXPECT_TRUE(isLiveExecutableName(L"ABLETON LIVE 10 STANDARD.EXE"));
  EXPECT_FALSE(isLiveExecutableName(L"Ableton Live .exe"));
  EXPECT_FALSE(isLiveExecutableName(L"Ableton Live 12 Suite.exe.bak"));
  EXPECT_FALSE(isLiveExecutableName(L"Ableton Index.exe"));
  EXPECT_FALSE(isLiveExecutableName(L"My Ableton Live 12.exe"));
}

TEST(IntegrityTest, KeysReachOnlyAProcessAtTheSameOrALowerLevel) {
  EXPECT_TRUE(
      inputReachesIntegrityLevel(SECURITY_MANDATORY_MEDIUM_RID, SECURITY_MANDATORY_MEDIUM_RID));
  EXPECT_TRUE(
      inputReachesIntegrityLevel(SECURITY_MANDATORY_HIGH_RID, SECURITY_MANDATORY_MEDIUM_RID));
  EXPECT_TRUE(
      inputReachesIntegrityLevel(SECURITY_MANDATORY_MEDIUM_RID, SECURITY_MANDATORY_LOW_RID));
  // Live run as administrator while Quillmark is not.
  EXPECT_FALSE(
      inputReachesIntegrityLevel(SECURITY_MANDATORY_MEDIUM_RID, SECURITY_MANDATORY_HIGH_RID));
  EXPECT_FALSE(
      inputReachesIntegrityLevel(SECURITY_MANDATORY_HIGH_RID, SECURITY_MANDATORY_SYSTEM_RID));
  // A level that cannot be read is taken for a higher one.
  EXPECT_FALSE(inputReachesIntegrityLevel(SECURITY_MANDATORY_SYSTEM_RID, std::nullopt));
}

class StandInLiveTest : public ::testing::Test {
 protected:
  TempFolder folder;
  std::unique_ptr<Workspace> workspace = makeWorkspace();
};

TEST_F(StandInLiveTest, LiveIsFoundRestoredBroughtForwardAndGrantedAtTheSameLevel) {
  const auto accessibility = makeAccessibility(*workspace);
  EXPECT_TRUE(workspace->runningApplicationsWithBundleIdentifier("com.ableton.live").empty());
  EXPECT_TRUE(accessibility->isProcessTrustedWithOptions(false));  // no Live: nothing blocks

  ChildProcess live(widen(QM_STAND_IN_LIVE_EXE),
                    {(folder.path() / "live.txt").wstring(), L"--minimized"});
  const HWND window = live.waitForWindow();
  ASSERT_NE(window, nullptr);
  // The empty list read above may answer for 1.5 s more.
  std::vector<RunningApplicationRef> found;
  ASSERT_TRUE(waitUntil(
      [&] {
        found = workspace->runningApplicationsWithBundleIdentifier("com.ableton.live");
        return !found.empty();
      },
      3));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0]->processIdentifier(), static_cast<int>(live.pid()));
  EXPECT_TRUE(workspace->runningApplicationsWithBundleIdentifier("com.example.other").empty());
  EXPECT_TRUE(accessibility->isProcessTrustedWithOptions(false));

  ASSERT_TRUE(waitUntil([&] { return IsIconic(window) != FALSE; }, 5));
  // Restored by a posted ShowWindowAsync: a busy Live never holds Quillmark up.
  EXPECT_TRUE(found[0]->unhide());
  EXPECT_TRUE(waitUntil([&] { return IsIconic(window) == FALSE; }, 5));
  EXPECT_TRUE(found[0]->activateWithOptions(kApplicationActivateAllWindows));
  EXPECT_EQ(GetForegroundWindow(), window);
  const RunningApplicationRef front = workspace->frontmostApplication();
  ASSERT_TRUE(front);
  EXPECT_EQ(front->processIdentifier(), static_cast<int>(live.pid()));
}

// A list read less than 1.5 s ago answers, but never with a Live that has
// quit: no keys go to a process that is gone.
TEST_F(StandInLiveTest, ALiveThatQuitsIsGoneAtOnceAndOneThatStartsIsFoundWithinTheListsLife) {
  const auto accessibility = makeAccessibility(*workspace);
  const auto live = [&] {
    return workspace->runningApplicationsWithBundleIdentifier("com.ableton.live");
  };
  auto first = std::make_unique<ChildProcess>(
      widen(QM_STAND_IN_LIVE_EXE),
      std::vector<std::wstring>{(folder.path() / "first.txt").wstring(), L"--hidden"});
  ASSERT_TRUE(waitUntil([&] { return live().size() == 1; }, 10));
  EXPECT_TRUE(accessibility->isProcessTrustedWithOptions(false));
  first.reset();  // ended, and waited for
  EXPECT_TRUE(live().empty());

  ChildProcess second(widen(QM_STAND_IN_LIVE_EXE), {(folder.path() / "live.txt").wstring()});
  ASSERT_NE(second.waitForWindow(), nullptr);
  // Within two of the list's lives: a list that never ages fails.
  ASSERT_TRUE(waitUntil([&] { return live().size() == 1; }, 3));
  EXPECT_EQ(live().front()->processIdentifier(), static_cast<int>(second.pid()));
  EXPECT_TRUE(accessibility->isProcessTrustedWithOptions(false));
}

TEST_F(StandInLiveTest, KeysGoOnlyToTheProcessWhoseWindowIsInFront) {
  const auto status = folder.path() / "behind.txt";
  const auto frontStatus = folder.path() / "front.txt";
  ChildProcess behind(widen(QM_STAND_IN_LIVE_EXE), {status.wstring()});
  const HWND behindWindow = behind.waitForWindow();
  ChildProcess front(widen(QM_STAND_IN_LIVE_EXE), {frontStatus.wstring()});
  const HWND frontWindow = front.waitForWindow();
  ASSERT_NE(behindWindow, nullptr);
  ASSERT_NE(frontWindow, nullptr);
  SetForegroundWindow(frontWindow);
  ASSERT_TRUE(waitUntil([&] { return GetForegroundWindow() == frontWindow; }, 5));
  // The window system settles the activation as the save path lets it.
  Sleep(500);

  const auto keyboard = makeKeyboardEvents();
  const auto post = [&](DWORD pid) {
    auto source = keyboard->createEventSource(kEventSourceStateCombinedSessionState);
    ASSERT_TRUE(source);
    for (const KeyStroke& stroke : kSaveKeyStrokes) {
      auto event = source->createKeyboardEvent(stroke.virtualKey, stroke.keyDown);
      ASSERT_TRUE(event);
      event->setFlags(kEventFlagMaskCommand);
      event->postToPid(static_cast<int>(pid));
    }
  };
  // Unknown keys cannot be made.
  EXPECT_FALSE(keyboard->createEventSource(0)->createKeyboardEvent(36, true));

  post(behind.pid());
  Sleep(300);
  EXPECT_EQ(readCounts(status).saves, 0);
  EXPECT_EQ(readCounts(frontStatus).keys, 0);

  post(front.pid());
  EXPECT_TRUE(waitUntil([&] { return readCounts(frontStatus).saves == 1; }, 5))
      << "keys " << readCounts(frontStatus).keys << ", front "
      << (GetForegroundWindow() == frontWindow);
  EXPECT_EQ(readCounts(status).saves, 0);

  // The four strokes in one delivery: refused for a process behind, and
  // no key of it is left down.
  const auto postAll = [&](DWORD pid) {
    auto source = keyboard->createEventSource(kEventSourceStateCombinedSessionState);
    std::vector<std::unique_ptr<KeyboardEvent>> events;
    for (const KeyStroke& stroke : kSaveKeyStrokes) {
      events.push_back(source->createKeyboardEvent(stroke.virtualKey, stroke.keyDown));
    }
    return source->postEventsToPid(events, static_cast<int>(pid));
  };
  EXPECT_FALSE(postAll(behind.pid()));
  EXPECT_TRUE(postAll(front.pid()));
  EXPECT_TRUE(waitUntil([&] { return readCounts(frontStatus).saves == 2; }, 5));
  EXPECT_EQ(readCounts(status).saves, 0);
  EXPECT_FALSE(makeUserActivity()->isUserInputHeld());
}

INPUT stroke(WORD key, bool down) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = key;
  input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
  return input;
}

TEST(KeyUpsOwedTest, EveryKeyThatWentDownIsLetUpLastFirst) {
  const INPUT sent[] = {stroke(VK_CONTROL, true), stroke('S', true), stroke('S', false),
                        stroke(VK_CONTROL, false)};
  const std::vector<std::vector<WORD>> owed = {
      {}, {VK_CONTROL}, {'S', VK_CONTROL}, {VK_CONTROL}, {}};
  for (std::size_t inserted = 0; inserted < owed.size(); ++inserted) {
    std::vector<WORD> keys;
    for (const INPUT& up : keyUpsOwed(sent, inserted)) {
      EXPECT_EQ(up.type, static_cast<DWORD>(INPUT_KEYBOARD));
      EXPECT_NE(up.ki.dwFlags & KEYEVENTF_KEYUP, 0u);
      keys.push_back(up.ki.wVk);
    }
    EXPECT_EQ(keys, owed[inserted]) << inserted << " inserted";
  }
}

TEST(UserActivityTest, TimeSinceInputIsRightAcrossTheTickWrap) {
  EXPECT_EQ(millisecondsSinceInput(5000, 2000), 3000u);
  EXPECT_EQ(millisecondsSinceInput(1000, 0xFFFFFC18), 2000u);  // 1 s before the wrap
  EXPECT_EQ(millisecondsSinceInput(0x7FFFFFFF, 0), 0x7FFFFFFFu);
}

// Injected input may carry a tick ahead of now: no input time, not 49 days.
TEST(UserActivityTest, AnInputTickAheadOfNowCountsAsInputNow) {
  EXPECT_EQ(millisecondsSinceInput(1000, 1500), 0u);
  EXPECT_EQ(millisecondsSinceInput(0x80000000, 0), 0u);
  EXPECT_EQ(millisecondsSinceInput(0xFFFFFC18, 1000), 0u);  // across the wrap
  EXPECT_GE(makeUserActivity()->secondsSinceLastUserInput(), 0.0);
}

TEST(WindowsDesktopTest, WordsFactsAndTheLogUnderLocalApplicationData) {
  const auto desktop = makeDesktop();
  EXPECT_TRUE(desktop->keysReachOnlyTheFrontWindow());
  EXPECT_FALSE(desktop->asksForPermissionAtFirstLaunch());
  EXPECT_EQ(desktop->words().noKeyEventsError, "Could not build Ctrl+S events");
  EXPECT_EQ(desktop->words().permissionGranted, "Keyboard access granted");
  const std::optional<std::string> log = desktop->applicationLogPath();
  ASSERT_TRUE(log);
  EXPECT_TRUE(log->ends_with("\\Quillmark\\Logs\\Quillmark.log")) << *log;
  EXPECT_EQ(*log, localApplicationDataFolder().value() + "\\Logs\\Quillmark.log");
  EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(widen(*log)).parent_path()));
  // The watcher's agent step is the desktop's own and does nothing yet.
  EXPECT_TRUE(desktop->installWatcherAgent());
}

TEST(WindowsDesktopTest, ShellFoldersAreTheOnesTheEnvironmentNames) {
  const auto variable = [](const wchar_t* name) -> std::optional<std::string> {
    wchar_t value[MAX_PATH] = L"";
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::optional(narrow(value)) : std::nullopt;
  };
  ASSERT_TRUE(variable(L"LOCALAPPDATA"));
  EXPECT_EQ(shellFolder(CSIDL_LOCAL_APPDATA), variable(L"LOCALAPPDATA"));
  EXPECT_EQ(localApplicationDataFolder(), *variable(L"LOCALAPPDATA") + "\\Quillmark");
  EXPECT_EQ(makeSystem()->homeDirectory(), variable(L"USERPROFILE").value_or("?"));
  EXPECT_EQ(shellFolder(0xFF), std::nullopt);  // no such folder
}

TEST(WindowsSystemTest, ProcessFactsAndTasks) {
  const auto system = makeSystem();
  EXPECT_TRUE(system->mainExecutablePath().ends_with("windows_platform_tests.exe"))
      << system->mainExecutablePath();
  EXPECT_EQ(system->userLibraryDirectory(), localApplicationDataFolder());
  EXPECT_FALSE(system->homeDirectory().empty());
  // 2025-03-02 09:05:03 UTC, in the user's short style: hours and minutes.
  const std::string time = system->shortTimeString(1740906303.0);
  EXPECT_NE(time.find_first_of("0123456789"), std::string::npos) << time;
  EXPECT_EQ(time.find("03", time.rfind(':') + 1), std::string::npos) << "no seconds: " << time;

  wchar_t folder[MAX_PATH] = L"";
  GetSystemDirectoryW(folder, MAX_PATH);
  const std::string cmd = narrow(folder) + "\\cmd.exe";
  EXPECT_EQ(system->runTask(cmd, {"/c", "exit 3"}, 10).status, 3);
  EXPECT_THROW(system->runTask(cmd + ".missing", {}, 10), std::runtime_error);
  // A program past its limit is ended: the stand-in window runs until closed.
  wchar_t temporary[MAX_PATH + 1] = L"";
  GetTempPathW(MAX_PATH + 1, temporary);
  const std::string status = narrow(temporary) + "qm-task-status.txt";
  const System::TaskResult hung = system->runTask(QM_STAND_IN_LIVE_EXE, {status, "--hidden"}, 0.5);
  DeleteFileW(widen(status).c_str());
  EXPECT_TRUE(hung.timedOut);
  EXPECT_EQ(hung.status, -1);
  EXPECT_EQ(system->volumeKind(cmd), System::VolumeKind::fixed);
  EXPECT_EQ(system->volumeKind("Q:\\no\\such\\drive"), System::VolumeKind::unknown);
}

}  // namespace
}  // namespace qm::windows::test
