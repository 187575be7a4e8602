// quillmark-sim --quiet over a week without Live against a day of it: the
// week passes its expectations and peaks at the memory of the day, so
// nothing grows with the 2.4 million animation turns. Without
// QM_PEAK_MEMORY_CHECK (sanitizer builds) only the outcomes are checked.
// How long each took is printed, never judged: a loaded machine is no fault.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Outcome {
  int status = -1;
  double seconds = 0;
  long peakKilobytes = 0;
};

// posix_spawn lends the child this small process's memory until it execs,
// so the peak it reports is the tool's own (a Python driver would add its
// interpreter's ten-odd megabytes to every figure).
Outcome run(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), QM_SIM_EXECUTABLE);
  std::vector<char*> argv;
  for (std::string& argument : arguments) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);
  Outcome result;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  // The child inherits standard output: its failure reports show in the log.
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    return result;
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#ifdef __APPLE__
  // Apple counts it in bytes.
  result.peakKilobytes = usage.ru_maxrss / 1024;
#else
  result.peakKilobytes = usage.ru_maxrss;
#endif
  return result;
}

std::string scenario(const char* name) {
  return std::string(QM_PERFORMANCE_DIR) + "/" + name + ".scenario";
}

TEST(LongRun, AWeekWithoutLivePeaksAtTheMemoryOfADay) {
  const Outcome day = run({"--quiet", scenario("waiting_day")});
  const Outcome week = run({"--quiet", scenario("waiting_week")});
  std::printf("day: %.2f s, peak %ld KB; week: %.2f s, peak %ld KB\n", day.seconds,
              day.peakKilobytes, week.seconds, week.peakKilobytes);
  ASSERT_EQ(day.status, 0);
  ASSERT_EQ(week.status, 0);
#if QM_PEAK_MEMORY_CHECK
  // Allocator noise between two runs stays well below this.
  EXPECT_LE(week.peakKilobytes, day.peakKilobytes + 512);
#endif
}

}  // namespace
