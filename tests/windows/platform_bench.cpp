// What the Win32 ports cost per call under the real window system, beside a
// stand-in Live: Live's lookup among the processes (the menu asks several
// times a second), the two checks of the user's input before every save
// (four times a second while a save waits), and one look at Live's window
// as the core takes it (its title, then whether it shows a dialog).
// Figures only: no limits, which a loaded machine would break. CTest runs it
// under the label "bench", which scripts/test leaves out.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "tray_test_support.h"

namespace qm::windows::test {
namespace {

struct Figure {
  double median = 0;
  double lowest = 0;
  double highest = 0;
};

// Microseconds per call over `rounds` rounds of `calls` calls each.
template <typename Call>
Figure microsecondsPerCall(int rounds, int calls, Call call) {
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  std::vector<double> perCall;
  for (int round = 0; round < rounds; ++round) {
    LARGE_INTEGER start{};
    LARGE_INTEGER end{};
    QueryPerformanceCounter(&start);
    for (int i = 0; i < calls; ++i) {
      (void)call();
    }
    QueryPerformanceCounter(&end);
    perCall.push_back(1e6 * static_cast<double>(end.QuadPart - start.QuadPart) /
                      static_cast<double>(frequency.QuadPart) / calls);
  }
  std::sort(perCall.begin(), perCall.end());
  return {perCall[perCall.size() / 2], perCall.front(), perCall.back()};
}

void print(const char* what, const Figure& figure, int rounds, int calls) {
  std::printf("%-40s %8.1f us per call (median of %d rounds of %d; %.1f to %.1f)\n", what,
              figure.median, rounds, calls, figure.lowest, figure.highest);
}

int run() {
  TempFolder folder;
  ChildProcess live(widen(QM_STAND_IN_LIVE_EXE),
                    {(folder.path() / "live.txt").wstring(), L"--untitled"});
  const auto workspace = makeWorkspace();
  const auto lookUp = [&] {
    return workspace->runningApplicationsWithBundleIdentifier("com.ableton.live");
  };
  if (live.waitForWindow() == nullptr || !waitUntil([&] { return lookUp().size() == 1; }, 10)) {
    std::fprintf(stderr, "the stand-in Live was not found\n");
    return 1;
  }
  print("Live lookup", microsecondsPerCall(15, 100, lookUp), 15, 100);

  const auto user = makeUserActivity();
  print("both input checks before a save",
        microsecondsPerCall(
            15, 300,
            [&] { return user->secondsSinceLastUserInput() < 0 || user->isUserInputHeld(); }),
        15, 300);

  const auto windows = makeApplicationWindows();
  const int pid = static_cast<int>(live.pid());
  print("one look at Live's window",
        microsecondsPerCall(51, 10,
                            [&] {
                              (void)windows->mainWindowTitle(pid);
                              return windows->showsModalDialog(pid);
                            }),
        51, 10);
  return 0;
}

}  // namespace
}  // namespace qm::windows::test

int main() {
  return qm::windows::test::run();
}
