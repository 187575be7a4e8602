// The two process probes and the launch, against real processes and the real
// pgrep. The Live probe looks at the whole machine, so these tests run under
// the same CTest lock as every other test that starts a Live stand-in.
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <optional>
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

// A shell that loops forever with `text` as its $0, so its argument string
// carries the text: "/bin/sh -c <loop> <text>". `prefix` runs it through
// another program (setpriv) first.
std::unique_ptr<Process> start_carrier(const std::string& text,
                                       std::vector<std::string> prefix = {}) {
  std::vector<std::string> argv = prefix;
  for (const std::string& a : {std::string("/bin/sh"), std::string("-c"),
                               std::string("while :; do sleep 1; done"), text}) {
    argv.push_back(a);
  }
  auto p = std::make_unique<Process>(Process::Options{argv[0], argv, {}, {}, {}, {}});
  pid_t pid = p->pid();
  // After the exec of the shell: before it, a setpriv carries the text too.
  const std::string expected = "/bin/sh -c while :; do sleep 1; done " + text;
  EXPECT_TRUE(qmtest::wait_until([&] { return qmtest::command_line_of(pid) == expected; }, 2s))
      << text;
  return p;
}

uid_t real_uid_of(pid_t pid) {
  std::string status = qmtest::read_file("/proc/" + std::to_string(pid) + "/status");
  size_t at = status.find("\nUid:");
  return at == std::string::npos ? static_cast<uid_t>(-1)
                                 : static_cast<uid_t>(std::stoul(status.substr(at + 5)));
}

TEST_F(Probes, OtherUsersProcessesDoNotCount) {
  // Two users logged in at once: the other's Live must not start our
  // Quillmark, and the other's Quillmark (or watcher) must not stop it.
  if (geteuid() != 0) {
    GTEST_SKIP() << "needs root to run processes as the user nobody";
  }
  const passwd* nobody = getpwnam("nobody");
  if (nobody == nullptr || access("/usr/bin/setpriv", X_OK) != 0) {
    GTEST_SKIP() << "needs the user nobody and /usr/bin/setpriv";
  }
  const std::vector<std::string> as_nobody = {
      "/usr/bin/setpriv", "--reuid=" + std::to_string(nobody->pw_uid),
      "--regid=" + std::to_string(nobody->pw_gid), "--clear-groups", "--"};
  const std::string live_path = "/Applications/Ableton Live 12 Suite.app/Contents/MacOS/Live";
  const std::string own = (tmp_.path() / "Q.app/Contents/MacOS/Quillmark").string();

  // nobody must reach the copy named Live.
  path shared = tmp_.path() / "shared";
  qmtest::fs::create_directories(shared);
  for (const path& dir : {tmp_.path(), shared}) {
    chmod(dir.c_str(), 0755);
  }
  path live_file = copy_of_sleep(shared, "Live");
  std::vector<std::string> live_argv = as_nobody;
  live_argv.insert(live_argv.end(), {live_file.string(), "600"});
  Process named_live({live_argv[0], live_argv, {}, {}, {}, {}});
  ASSERT_TRUE(qmtest::wait_until([&] { return qmtest::name_of(named_live.pid()) == "Live"; }, 2s));
  auto live_by_path = start_carrier(live_path, as_nobody);
  auto quillmark = start_carrier(own, as_nobody);
  for (pid_t pid : {named_live.pid(), live_by_path->pid(), quillmark->pid()}) {
    ASSERT_EQ(real_uid_of(pid), nobody->pw_uid);
  }
  EXPECT_EQ(ableton_running(), 0);
  EXPECT_EQ(autosave_running(own.c_str()), 0);

  // The same processes as our own user are seen.
  auto own_live = start_carrier(live_path);
  auto own_quillmark = start_carrier(own);
  EXPECT_EQ(ableton_running(), 1);
  EXPECT_EQ(autosave_running(own.c_str()), 1);
}

TEST_F(Probes, AProcessCarryingAProbesTextIsNotTakenForTheProgram) {
  // Another watcher's probe shell holds the probe's whole command line; so may
  // any process (an editor, a grep) that merely carries the text.
  char live_probe[kCommandCapacity];
  ASSERT_TRUE(build_live_probe_command(getuid(), live_probe, sizeof live_probe));
  auto carrier = start_carrier(live_probe);
  EXPECT_EQ(ableton_running(), 0);

  // A path given on the command line may hold nothing that escaping changes.
  const std::string plain = (tmp_.path() / "opt/quillmark/Quillmark").string();
  char app_probe[kCommandCapacity];
  ASSERT_TRUE(build_probe_command(plain.c_str(), getuid(), app_probe, sizeof app_probe));
  auto app_carrier = start_carrier(app_probe);
  EXPECT_EQ(autosave_running(plain.c_str()), 0);
}

#ifndef __APPLE__
// Sets one environment variable for a test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) {
      old_ = old;
    }
    setenv(name, value, 1);
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST_F(Probes, NonAsciiPathIsFoundWhateverTheWatchersLocale) {
  // In the C locale procps-ng's pgrep shows "ä" as "??": the app would never
  // be found and a copy would start at every pass.
  ScopedEnv c_locale("LC_ALL", "C");
  const std::string own = (tmp_.path() / "Quillmärk (ü).app/Contents/MacOS/Quillmark").string();
  auto standin = start_sleeper(qmtest::system_program("sleep"), own);
  EXPECT_EQ(autosave_running(own.c_str()), 1);
}
#endif

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
