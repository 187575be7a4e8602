// The two process probes and the launch, against real processes and the real
// pgrep. The Live probe looks at the whole machine, so these tests run under
// the same CTest lock as every other test that starts a Live stand-in.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support.h"
#include "watcher.h"

namespace {

using qmtest::Process;
using qmtest::fs::path;
using namespace std::chrono_literals;

// Starts /bin/sleep under the given file name and argv[0] and waits until the
// exec has happened, so the probe sees the final name and argument string.
std::unique_ptr<Process> start_sleeper(const path& program, const std::string& argv0) {
  auto p =
      std::make_unique<Process>(Process::Options{program.string(), {argv0, "600"}, {}, {}, {}, {}});
  pid_t pid = p->pid();
  bool ready =
      qmtest::wait_until([&] { return qmtest::command_line_of(pid) == argv0 + " 600"; }, 2s);
  EXPECT_TRUE(ready) << argv0;
  return p;
}

path copy_of_sleep(const path& dir, const std::string& name) {
  path copy = dir / name;
  qmtest::fs::copy_file(qmtest::system_program("sleep"), copy);
  return copy;
}

class Probes : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(qmtest::processes_named("Live").empty())
        << "a process named Live already runs on this machine";
  }
  qmtest::TempDir tmp_;
};

TEST_F(Probes, LiveAbsentReadsNotRunningDespiteTheProbesOwnShell) {
  // The probe's shell holds the -f pattern in its own arguments and matches
  // it; only leaving out pgrep's ancestors keeps it from being seen.
  EXPECT_EQ(ableton_running(), 0);
}

TEST_F(Probes, LiveIsFoundByExactName) {
  auto near_miss = start_sleeper(copy_of_sleep(tmp_.path(), "Live2"), "Live2");
  EXPECT_EQ(ableton_running(), 0) << "only the exact name counts";

  path live_file = copy_of_sleep(tmp_.path(), "Live");
  auto live = start_sleeper(live_file, live_file.string());
  ASSERT_EQ(qmtest::name_of(live->pid()), "Live");
  EXPECT_EQ(ableton_running(), 1);

  live->kill_group();  // killed and reaped: no zombie left named Live
  EXPECT_EQ(ableton_running(), 0);
}

TEST_F(Probes, LiveIsFoundByItsBundleExecutablePath) {
  path sleep = qmtest::system_program("sleep");
  {
    auto other = start_sleeper(sleep, "/Applications/Other Live.app/Contents/MacOS/Live");
    EXPECT_EQ(ableton_running(), 0);
  }
  auto live = start_sleeper(sleep, "/Applications/Ableton Live 12 Suite.app/Contents/MacOS/Live");
  EXPECT_EQ(ableton_running(), 1);
}

TEST_F(Probes, QuillmarkIsFoundByItsLiteralPath) {
  path sleep = qmtest::system_program("sleep");
  // A copy's usual name, then every ERE metacharacter, a quote, a blank and a
  // backslash in one path.
  for (const char* bundle : {"Quill (1) $x's.app", "Q.[v2](b){2}*+?^$|\\ 'x'.app"}) {
    const std::string own = (tmp_.path() / bundle / "Contents/MacOS/Quillmark").string();
    EXPECT_EQ(autosave_running(own.c_str()), 0) << bundle;
    {
      auto standin = start_sleeper(sleep, own);
      EXPECT_EQ(autosave_running(own.c_str()), 1) << bundle;
    }
    EXPECT_EQ(autosave_running(own.c_str()), 0) << bundle;
  }
}

TEST_F(Probes, QuillmarkLookAlikeIsNotMistakenForIt) {
  path sleep = qmtest::system_program("sleep");
  // Read as a pattern, "Quill.app" would match "Quill_app".
  auto look_alike =
      start_sleeper(sleep, (tmp_.path() / "Quill_app/Contents/MacOS/Quillmark").string());
  const std::string real = (tmp_.path() / "Quill.app/Contents/MacOS/Quillmark").string();
  EXPECT_EQ(autosave_running(real.c_str()), 0);
}

// --- Launch -------------------------------------------------------------

// A stand-in that records its start and exits at once.
void install_recorder(const path& app, const path& starts) {
  path macos = app / "Contents" / "MacOS";
  qmtest::fs::create_directories(macos);
  qmtest::write_file(macos / "Quillmark", "#!/bin/sh\necho $$ >> '" + starts.string() + "'\n",
                     true);
}

TEST_F(Probes, LaunchStartsTheBundleExecutable) {
  path starts = tmp_.path() / "starts";
  path app = tmp_.path() / "it's $(touch pwned) `touch pwned`; x.app";
  install_recorder(app, starts);

  EXPECT_EQ(launch_autosave(app.c_str()), 1);
  EXPECT_TRUE(qmtest::wait_until([&] { return !qmtest::read_file(starts).empty(); }, 3s));
  EXPECT_FALSE(qmtest::fs::exists(tmp_.path() / "pwned"));
  EXPECT_FALSE(qmtest::fs::exists("pwned"));
}

TEST_F(Probes, LaunchOfABundleWithoutItsExecutableFails) {
  path app = tmp_.path() / "Empty.app";
  qmtest::fs::create_directories(app / "Contents" / "MacOS");
  EXPECT_EQ(launch_autosave(app.c_str()), 0);

  qmtest::write_file(app / "Contents" / "MacOS" / "Quillmark", "not executable\n");
  EXPECT_EQ(launch_autosave(app.c_str()), 0);
}

}  // namespace
