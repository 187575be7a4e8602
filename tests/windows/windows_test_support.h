// Real folders, files and processes for the Windows tests, which run under
// Wine here and natively on Windows.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace qm::test {

// An environment variable's value; throws when it is unset.
std::wstring environment(const wchar_t* name);

// A path this build knows in its host's form, as Windows sees it: a Linux
// path of the cross build becomes one on Wine's Z: drive.
std::wstring windowsPath(const char* buildPath);

// A fresh folder under %LOCALAPPDATA%\Programs (never the temporary folder,
// which the Run-value step refuses), removed with its contents at the end.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::wstring& name);
  ~ScratchFolder();
  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

void copyFile(const std::wstring& from, const std::wstring& to);
std::string readFile(const std::wstring& path);

// Starts a program with the given command-line arguments; returns its
// process handle (owned by the caller).
HANDLE startProcess(const std::wstring& program, const std::wstring& arguments = L"");
// Exit status once it ended within the wait, else -1.
int waitForExit(HANDLE process, DWORD milliseconds);

// Ids of the running processes started from the executable at imagePath.
std::vector<DWORD> processesAt(const std::wstring& imagePath);
// Ends each of them, by id, and waits for it to go.
void endProcessesAt(const std::wstring& imagePath);

// Polls until the condition holds or the time is up; returns how long it
// took, or nothing.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit,
               std::chrono::milliseconds* took = nullptr);

// Whether the process shows a top-level window of the class (Quillmark's
// tray window, say).
bool showsWindowOfClass(DWORD pid, const wchar_t* windowClass);

}  // namespace qm::test
