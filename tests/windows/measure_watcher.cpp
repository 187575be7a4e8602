// Measures by hand what the watcher costs under Wine or on Windows:
//
//   wine_harness.sh run STATE windows_watcher_measure.exe [passes]
//
// CPU per pass of the two probes (one snapshot), next to the bare process
// snapshot done in the same loop, then the real watcher's CPU per pass and peak memory over
// a few of its 3-second passes.
#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "watcher_win.h"
#include "windows_test_support.h"

namespace {

double cpuSeconds(HANDLE process) {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(process, &created, &exited, &kernel, &user);
  const auto ticks = [](FILETIME t) {
    return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                               t.dwLowDateTime);
  };
  return (ticks(kernel) + ticks(user)) / 1e7;
}

template <typename Work>
double cpuPerRun(int runs, Work work) {
  const double before = cpuSeconds(GetCurrentProcess());
  for (int i = 0; i < runs; ++i) {
    work();
  }
  return (cpuSeconds(GetCurrentProcess()) - before) / runs;
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
  const int passes = argc > 1 ? _wtoi(argv[1]) : 200;
  const std::wstring quillmark = qm::test::windowsPath(QM_STAND_IN_EXE);

  const double snapshot = cpuPerRun(passes, [] {
    HANDLE s = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(s, &entry); more; more = Process32NextW(s, &entry)) {
    }
    CloseHandle(s);
  });
  const double probes = cpuPerRun(passes, [&] {
    int live = 0;
    int app = 0;
    probe_processes(quillmark.c_str(), &live, &app);
  });
  std::printf("bare snapshot: %.3f ms CPU\n", snapshot * 1e3);
  std::printf("one pass (both probes): %.3f ms CPU, %.2f snapshots\n", probes * 1e3,
              probes / snapshot);

  // The real program, idle: Live absent, so each pass is the two probes.
  HANDLE watcher = qm::test::startProcess(qm::test::windowsPath(QM_WATCHER_EXE));
  Sleep(1000);
  const double started = cpuSeconds(watcher);
  const int watched = 5;
  Sleep(watched * 3000);
  const double perPass = (cpuSeconds(watcher) - started) / watched;
  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof memory;
  GetProcessMemoryInfo(watcher, &memory, sizeof memory);
  TerminateProcess(watcher, 0);
  CloseHandle(watcher);
  std::printf(
      "QuillmarkWatcher.exe: %.3f ms CPU per pass, peak working set %zu KiB, peak "
      "private bytes %zu KiB\n",
      perPass * 1e3, memory.PeakWorkingSetSize / 1024, memory.PeakPagefileUsage / 1024);
  return 0;
}
