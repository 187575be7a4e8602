#include "windows_test_support.h"

#include <tlhelp32.h>

#include <cwctype>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace qm::test {
namespace {

std::wstring lowered(std::wstring text) {
  for (wchar_t& c : text) {
    c = static_cast<wchar_t>(std::towlower(c));
  }
  return text;
}

void removeTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") {
        continue;
      }
      const std::wstring path = folder + L"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        removeTree(path);
      } else {
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

}  // namespace

std::wstring environment(const wchar_t* name) {
  wchar_t value[1024] = L"";
  const DWORD length = GetEnvironmentVariableW(name, value, 1024);
  if (length == 0 || length >= 1024) {
    throw std::runtime_error("environment variable missing");
  }
  return value;
}

std::wstring windowsPath(const char* buildPath) {
  std::wstring path(buildPath, buildPath + std::char_traits<char>::length(buildPath));
  if (!path.empty() && path.front() == L'/') {
    path = L"Z:" + path;
  }
  for (wchar_t& c : path) {
    if (c == L'/') {
      c = L'\\';
    }
  }
  return path;
}

ScratchFolder::ScratchFolder(const std::wstring& name) {
  const std::wstring programs = environment(L"LOCALAPPDATA") + L"\\Programs";
  CreateDirectoryW(programs.c_str(), nullptr);
  path_ = programs + L"\\" + name + L"-" + std::to_wstring(GetCurrentProcessId());
  removeTree(path_);
  if (!CreateDirectoryW(path_.c_str(), nullptr)) {
    throw std::runtime_error("cannot make the scratch folder");
  }
}

ScratchFolder::~ScratchFolder() {
  removeTree(path_);
}

void copyFile(const std::wstring& from, const std::wstring& to) {
  if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) {
    throw std::runtime_error("cannot copy a test program");
  }
}

std::string readFile(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

HANDLE startProcess(const std::wstring& program, const std::wstring& arguments) {
  std::wstring commandLine = L"\"" + program + L"\"";
  if (!arguments.empty()) {
    commandLine += L" " + arguments;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process)) {
    throw std::runtime_error("cannot start " + std::string(program.begin(), program.end()) +
                             ": error " + std::to_string(GetLastError()));
  }
  CloseHandle(process.hThread);
  return process.hProcess;
}

int waitForExit(HANDLE process, DWORD milliseconds) {
  if (WaitForSingleObject(process, milliseconds) != WAIT_OBJECT_0) {
    return -1;
  }
  DWORD status = 0;
  GetExitCodeProcess(process, &status);
  return static_cast<int>(status);
}

std::vector<DWORD> processesAt(const std::wstring& imagePath) {
  std::vector<DWORD> ids;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    return ids;
  }
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  const std::wstring wanted = lowered(imagePath);
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    const HANDLE process =
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
    if (process == nullptr) {
      continue;
    }
    wchar_t image[1024];
    DWORD length = 1024;
    if (QueryFullProcessImageNameW(process, 0, image, &length) && lowered(image) == wanted) {
      ids.push_back(entry.th32ProcessID);
    }
    CloseHandle(process);
  }
  CloseHandle(snapshot);
  return ids;
}

void endProcessesAt(const std::wstring& imagePath) {
  for (const DWORD id : processesAt(imagePath)) {
    if (const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id)) {
      TerminateProcess(process, 1);
      WaitForSingleObject(process, 5000);
      CloseHandle(process);
    }
  }
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit,
               std::chrono::milliseconds* took) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    if (condition()) {
      if (took != nullptr) {
        *took = elapsed;
      }
      return true;
    }
    if (elapsed > limit) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

bool showsWindowOfClass(DWORD pid, const wchar_t* windowClass) {
  for (HWND window = FindWindowW(windowClass, nullptr); window != nullptr;
       window = FindWindowExW(nullptr, window, windowClass, nullptr)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == pid) {
      return true;
    }
  }
  return false;
}

}  // namespace qm::test
