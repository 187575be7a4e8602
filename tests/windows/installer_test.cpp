// The installer made by cpack, run silently in the private Wine prefix:
// what it leaves behind after installing and after uninstalling.
#include <windows.h>

#include <knownfolders.h>
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "windows_test_support.h"

namespace qm::test {
namespace {

using namespace std::chrono_literals;

constexpr wchar_t kUninstallKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmark";
constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kSettingsKey[] = L"Software\\Vellum\\Quillmark";

std::wstring registryString(const wchar_t* key, const wchar_t* name) {
  wchar_t data[2048] = L"";
  DWORD size = sizeof data;
  if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, data, &size) !=
      ERROR_SUCCESS) {
    return L"<none>";
  }
  return data;
}

bool keyExists(const wchar_t* key) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &opened) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(opened);
  return true;
}

// The user's own Start menu programs folder.
std::wstring startMenu() {
  PWSTR path = nullptr;
  std::wstring folder;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Programs, 0, nullptr, &path))) {
    folder = path;
  }
  CoTaskMemFree(path);
  return folder;
}

// The FileVersion text of an executable's version resource.
std::wstring fileVersion(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  std::wstring block(size / sizeof(wchar_t) + 1, L'\0');
  wchar_t* text = nullptr;
  UINT length = 0;
  if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, block.data()) ||
      !VerQueryValueW(block.data(), L"\\StringFileInfo\\040904b0\\FileVersion",
                      reinterpret_cast<void**>(&text), &length)) {
    return L"<none>";
  }
  return text;
}

constexpr wchar_t kApprovedKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";

bool exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class Installer : public ::testing::Test {
 protected:
  Installer()
      : folder_(environment(L"LOCALAPPDATA") + L"\\Programs\\Quillmark"),
        watcher_(folder_ + L"\\QuillmarkWatcher.exe"),
        data_(environment(L"LOCALAPPDATA") + L"\\Quillmark") {}

  void install(const std::wstring& options = L"/S") {
    HANDLE setup = startProcess(windowsPath(QM_INSTALLER_EXE), options);
    ASSERT_EQ(waitForExit(setup, 60000), 0);
    CloseHandle(setup);
  }

  // The uninstaller runs on from a copy of itself: wait for its work.
  void uninstall(const std::wstring& options, const std::wstring& folder = {}) {
    const std::wstring from = folder.empty() ? folder_ : folder;
    HANDLE uninstaller = startProcess(from + L"\\Uninstall.exe", options);
    EXPECT_EQ(waitForExit(uninstaller, 60000), 0);
    CloseHandle(uninstaller);
    ASSERT_TRUE(waitUntil([&] { return !exists(from) && !keyExists(kUninstallKey); }, 30s));
  }

  std::wstring folder_;
  std::wstring watcher_;
  std::wstring data_;
};

TEST_F(Installer, InstallsForThisUserAndUninstallsWithoutATrace) {
  install();
  EXPECT_TRUE(exists(watcher_));
  EXPECT_TRUE(exists(folder_ + L"\\Uninstall.exe"));
  EXPECT_EQ(registryString(kUninstallKey, L"DisplayName"), L"Quillmark");
  EXPECT_EQ(registryString(kUninstallKey, L"UninstallString"),
            L"\"" + folder_ + L"\\Uninstall.exe\"");
  EXPECT_EQ(registryString(kUninstallKey, L"InstallLocation"), folder_);
  EXPECT_EQ(registryString(kRunKey, L"Quillmark Watcher"), L"\"" + watcher_ + L"\"");
  if (exists(folder_ + L"\\Quillmark.exe")) {
    EXPECT_EQ(registryString(kUninstallKey, L"DisplayIcon"), folder_ + L"\\Quillmark.exe");
  }
  // Both programs carry one icon, which the Start menu link, "Installed
  // apps" and Task Manager show.
  for (const std::wstring& program : {folder_ + L"\\Quillmark.exe", watcher_}) {
    if (exists(program)) {
      EXPECT_EQ(ExtractIconExW(program.c_str(), -1, nullptr, nullptr, 0), 1u);
    }
  }
  // The watcher runs at once, not only from the next logon.
  EXPECT_TRUE(waitUntil([&] { return !processesAt(watcher_).empty(); }, 5s));

  // One version, the project's, in "Installed apps" and the files.
  const std::wstring version = L"" QM_PROJECT_VERSION;
  EXPECT_EQ(registryString(kUninstallKey, L"DisplayVersion"), version);
  EXPECT_EQ(fileVersion(watcher_), version);
  if (exists(folder_ + L"\\Quillmark.exe")) {
    EXPECT_EQ(fileVersion(folder_ + L"\\Quillmark.exe"), version);
  }

  // Installing again over the running watcher replaces it: one new one runs
  // after, from the files just installed.
  const std::vector<DWORD> before = processesAt(watcher_);
  install();
  const std::wstring shortcut = startMenu() + L"\\Quillmark.lnk";
  EXPECT_TRUE(waitUntil([&] { return processesAt(watcher_).size() == 1; }, 5s));
  EXPECT_NE(processesAt(watcher_), before);
  EXPECT_EQ(exists(shortcut), exists(folder_ + L"\\Quillmark.exe"));
  ASSERT_TRUE(waitUntil([&] { return exists(data_ + L"\\Logs\\QuillmarkWatcher.log"); }, 5s));

  HKEY settings = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            &settings, nullptr),
            ERROR_SUCCESS);
  const DWORD seconds = 180;
  RegSetValueExW(settings, L"autosave.interval.seconds", 0, REG_DWORD,
                 reinterpret_cast<const BYTE*>(&seconds), sizeof seconds);
  RegCloseKey(settings);

  uninstall(L"/S");
  EXPECT_TRUE(processesAt(watcher_).empty());
  EXPECT_EQ(registryString(kRunKey, L"Quillmark Watcher"), L"<none>");
  EXPECT_FALSE(keyExists(kUninstallKey));
  EXPECT_FALSE(exists(shortcut));
  // Settings and logs stay for a later install.
  EXPECT_TRUE(keyExists(kSettingsKey));
  EXPECT_TRUE(exists(data_ + L"\\Logs\\QuillmarkWatcher.log"));

  // An upgrade keeps the user's switch in Startup apps: no watcher starts.
  HKEY approved = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kApprovedKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            &approved, nullptr),
            ERROR_SUCCESS);
  const BYTE off[12] = {3, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
  RegSetValueExW(approved, L"Quillmark Watcher", 0, REG_BINARY, off, sizeof off);
  install();
  Sleep(2000);
  EXPECT_TRUE(processesAt(watcher_).empty());
  BYTE kept[12] = {};
  DWORD keptSize = sizeof kept;
  EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, kApprovedKey, L"Quillmark Watcher", RRF_RT_REG_BINARY,
                         nullptr, kept, &keptSize),
            ERROR_SUCCESS);
  EXPECT_EQ(kept[0], 3);
  RegCloseKey(approved);
  // Uninstalled, the switch goes with the value it was for.
  uninstall(L"/S");
  EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, kApprovedKey, L"Quillmark Watcher", RRF_RT_ANY, nullptr,
                         nullptr, nullptr),
            ERROR_FILE_NOT_FOUND);

  // Asked to, it takes them too.
  install();
  EXPECT_TRUE(waitUntil([&] { return !processesAt(watcher_).empty(); }, 5s));
  uninstall(L"/S /PURGE");
  EXPECT_TRUE(processesAt(watcher_).empty());
  EXPECT_EQ(registryString(kRunKey, L"Quillmark Watcher"), L"<none>");
  EXPECT_FALSE(keyExists(kSettingsKey));
  EXPECT_FALSE(exists(data_));
}

// Installed into the temporary folder, as Quillmark run from there, it gets
// no start at logon: the folder may be emptied by then.
TEST_F(Installer, WritesNoRunValueForATemporaryFolder) {
  const std::wstring temporary = environment(L"TEMP") + L"\\Quillmark Unpacked";
  install(L"/S /D=" + temporary);
  ASSERT_TRUE(exists(temporary + L"\\QuillmarkWatcher.exe"));
  EXPECT_EQ(registryString(kRunKey, L"Quillmark Watcher"), L"<none>");
  EXPECT_EQ(registryString(kUninstallKey, L"InstallLocation"), temporary);
  uninstall(L"/S", temporary);
}

// The folder chosen at the first install holds every upgrade, and an
// install into another folder leaves no watcher running from the old one.
TEST_F(Installer, UpgradesWhereTheUserInstalledAndStopsTheWatcherWhereverItRuns) {
  const std::wstring chosen = environment(L"LOCALAPPDATA") + L"\\Programs\\Chosen Place";
  const std::wstring moved = environment(L"LOCALAPPDATA") + L"\\Programs\\Moved Place";
  const std::wstring chosenWatcher = chosen + L"\\QuillmarkWatcher.exe";
  const std::wstring movedWatcher = moved + L"\\QuillmarkWatcher.exe";
  install(L"/S /D=" + chosen);
  ASSERT_TRUE(exists(chosenWatcher));
  ASSERT_TRUE(waitUntil([&] { return processesAt(chosenWatcher).size() == 1; }, 5s));
  const std::vector<DWORD> before = processesAt(chosenWatcher);

  install();
  EXPECT_FALSE(exists(folder_));
  EXPECT_EQ(registryString(kUninstallKey, L"InstallLocation"), chosen);
  EXPECT_EQ(registryString(kRunKey, L"Quillmark Watcher"), L"\"" + chosenWatcher + L"\"");
  EXPECT_TRUE(waitUntil([&] { return processesAt(chosenWatcher).size() == 1; }, 5s));
  EXPECT_NE(processesAt(chosenWatcher), before);  // the new files' watcher

  install(L"/S /D=" + moved);
  EXPECT_TRUE(waitUntil([&] { return processesAt(movedWatcher).size() == 1; }, 5s));
  EXPECT_TRUE(processesAt(chosenWatcher).empty());

  uninstall(L"/S", moved);
  install(L"/S /D=" + chosen);  // an uninstall entry again, to remove the first folder
  uninstall(L"/S", chosen);
  EXPECT_TRUE(processesAt(chosenWatcher).empty());
}

}  // namespace
}  // namespace qm::test
