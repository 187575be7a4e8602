// The watcher as launchd runs it: a copy inside a temporary bundle, a stand-in
// Quillmark beside it, a stand-in Live started and stopped by the test, the
// real pgrep and shell. Waits poll the log with deadlines derived from the
// watcher's 3-second pass; every process started here is killed on the way
// out, failed assertion or not.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support.h"

namespace {

using qmtest::Bundle;
using qmtest::Process;
using qmtest::fs::path;
using namespace std::chrono_literals;
using Messages = std::vector<std::string>;
using Env = std::map<std::string, std::optional<std::string>>;

constexpr auto kPass = 3000ms;
// Room for a pass's own commands and a busy machine.
constexpr auto kSlack = 1500ms;
constexpr auto kWithinOnePass = kPass + kSlack;

const std::string kLaunching = "Ableton is running but Quillmark is not. Launching app...";
const std::string kLaunched = "Launch command sent successfully.";
const std::string kLiveRunning = "Ableton state changed: running";
const std::string kLiveNotRunning = "Ableton state changed: not running";
const std::string kAppRunning = "Quillmark state changed: running";
const std::string kAppNotRunning = "Quillmark state changed: not running";

Messages start_lines(const path& app, const path& executable) {
  return {"Watcher started. App: " + app.string(), "Main executable: " + executable.string()};
}

Messages operator+(Messages a, const Messages& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

bool wait_for_count(const path& log, const std::string& message, size_t count,
                    std::chrono::milliseconds timeout) {
  return qmtest::wait_until(
      [&] { return qmtest::count_of(qmtest::log_messages(log), message) >= count; }, timeout);
}

class WatcherEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(qmtest::processes_named("Live").empty())
        << "a process named Live already runs on this machine";
  }
  // Runs after the test's watchers are gone, so none can start another.
  void TearDown() override {
    for (const Bundle& b : bundles_) {
      b.kill_standins();
    }
  }

  Bundle bundle(const path& root, const std::string& name) {
    bundles_.push_back(qmtest::make_bundle(root, name));
    return bundles_.back();
  }

  // Starts `program` (by default the bundle's own watcher copy) with HOME at
  // the bundle's temporary home, or without HOME.
  std::unique_ptr<Process> start_watcher(const Bundle& b, std::vector<std::string> argv = {},
                                         bool with_home = true, path program = {}, Env env = {},
                                         path cwd = {}) {
    if (program.empty()) {
      program = b.watcher;
    }
    if (argv.empty()) {
      argv = {program.string()};
    }
    if (cwd.empty()) {
      cwd = b.root / "cwd";
    }
    qmtest::fs::create_directories(cwd);
    std::optional<std::string> home;
    if (with_home) {
      home = b.home.string();
    }
    env["HOME"] = home;
    return std::make_unique<Process>(
        Process::Options{program.string(), argv, env, cwd, b.root / "stdout", b.root / "stderr"});
  }

  // A process named exactly Live, as the first Live probe looks for.
  std::unique_ptr<Process> start_live() {
    path live = tmp_.path() / "Live";
    if (!qmtest::fs::exists(live)) {
      qmtest::fs::copy_file(qmtest::system_program("sleep"), live);
    }
    auto p = std::make_unique<Process>(
        Process::Options{live.string(), {live.string(), "600"}, {}, {}, {}, {}});
    pid_t pid = p->pid();
    EXPECT_TRUE(qmtest::wait_until([&] { return qmtest::name_of(pid) == "Live"; }, 2s));
    return p;
  }

  qmtest::TempDir tmp_;
  std::vector<Bundle> bundles_;
};

TEST_F(WatcherEndToEnd, WithoutLiveNothingIsEverLaunched) {
  Bundle a = bundle(tmp_.path() / "a", "Some Name.app");
  auto watcher = start_watcher(a);

  // The first pass runs at once and logs both states. "not running" for
  // Quillmark also shows the watcher does not see itself: its own path
  // begins with Quillmark's.
  const Messages first_pass =
      start_lines(a.app, a.executable) + Messages{kLiveNotRunning, kAppNotRunning};
  ASSERT_TRUE(wait_for_count(a.log, kAppNotRunning, 1, kSlack));
  EXPECT_EQ(qmtest::log_messages(a.log), first_pass);

  // Quillmark comes and goes while Live stays away: each change is logged
  // once at the next pass, and nothing is ever launched.
  {
    Process standin({a.executable.string(), {a.executable.string()}, {}, {}, {}, {}});
    ASSERT_TRUE(wait_for_count(a.log, kAppRunning, 1, kWithinOnePass));
  }
  ASSERT_TRUE(wait_for_count(a.log, kAppNotRunning, 2, kWithinOnePass));

  const Messages expected = first_pass + Messages{kAppRunning, kAppNotRunning};
  EXPECT_EQ(qmtest::log_messages(a.log), expected);
  EXPECT_EQ(a.start_count(), 1u) << "only the test's own start of the stand-in";
  EXPECT_TRUE(watcher->running());
}

TEST_F(WatcherEndToEnd, LiveBringsQuillmarkUpOnceAndBackWhenItDies) {
  // A: installed bundle, running before Live appears.
  Bundle a = bundle(tmp_.path() / "a", "Some Name.app");
  auto watcher_a = start_watcher(a);
  ASSERT_TRUE(wait_for_count(a.log, kAppNotRunning, 1, kSlack));

  auto live = start_live();
  // Watchers that meet Live at their first pass:
  // B: a bundle name full of shell and pattern characters.
  Bundle b = bundle(tmp_.path() / "b", "Quill (1) $x's.app");
  auto watcher_b = start_watcher(b);
  // C: HOME unset; it must work the same and write nothing anywhere.
  Bundle c = bundle(tmp_.path() / "c", "Some Name.app");
  auto watcher_c = start_watcher(c, {}, false);
  // D: paths given on the command line (three arguments, the third ignored),
  // run from outside any bundle, naming a bundle with every ERE metacharacter.
  Bundle d = bundle(tmp_.path() / "d", "Q.[v2](b){2}*+?^$|\\ 'x'.app");
  path outside = d.root / "bin" / "QuillmarkWatcher";
  qmtest::fs::create_directories(outside.parent_path());
  qmtest::fs::copy_file(qmtest::watcher_binary(), outside);
  auto watcher_d = start_watcher(
      d, {outside.string(), d.app.string(), d.executable.string(), "ignored"}, true, outside);
  // E: a single argument, which is ignored in favour of the own path.
  Bundle e = bundle(tmp_.path() / "e", "Some Name.app");
  auto watcher_e = start_watcher(e, {e.watcher.string(), (e.root / "Other.app").string()});

  // A launches at its next pass, then sees Quillmark at the one after.
  ASSERT_TRUE(wait_for_count(a.log, kLaunched, 1, kWithinOnePass)) << "no launch within one pass";
  ASSERT_TRUE(wait_for_count(a.log, kAppRunning, 1, kWithinOnePass));
  for (const Bundle* x : {&b, &d, &e}) {
    ASSERT_TRUE(wait_for_count(x->log, kAppRunning, 1, kSlack)) << x->app;
  }
  // One more pass for A (the others are ahead of it): still one launch each.
  std::this_thread::sleep_for(kPass + 500ms);
  for (const Bundle* x : {&a, &b, &c, &d, &e}) {
    EXPECT_EQ(x->start_count(), 1u) << x->app;
  }

  // Quillmark dies while Live runs: started again at the next pass.
  std::vector<pid_t> first = a.standin_pids();
  ASSERT_EQ(first.size(), 1u);
  ASSERT_EQ(kill(first[0], SIGKILL), 0);
  ASSERT_TRUE(qmtest::wait_until([&] { return a.start_count() == 2; }, kWithinOnePass));
  ASSERT_TRUE(wait_for_count(a.log, kLaunched, 2, kSlack));

  const Messages launch = {kLaunching, kLaunched};
  const Messages expected_a = start_lines(a.app, a.executable) +
                              Messages{kLiveNotRunning, kAppNotRunning, kLiveRunning} + launch +
                              Messages{kAppRunning, kAppNotRunning} + launch;
  EXPECT_EQ(qmtest::log_messages(a.log), expected_a);
  const Messages met_live_at_start =
      Messages{kLiveRunning, kAppNotRunning} + launch + Messages{kAppRunning};
  EXPECT_EQ(qmtest::log_messages(b.log), start_lines(b.app, b.executable) + met_live_at_start);
  EXPECT_EQ(qmtest::log_messages(d.log), start_lines(d.app, d.executable) + met_live_at_start);
  EXPECT_EQ(qmtest::log_messages(e.log), start_lines(e.app, e.executable) + met_live_at_start);

  EXPECT_TRUE(watcher_c->running());
  EXPECT_TRUE(qmtest::fs::is_empty(c.log.parent_path()));
  EXPECT_TRUE(qmtest::fs::is_empty(c.root / "cwd"));
  for (const Bundle* x : {&a, &b, &c, &d, &e}) {
    EXPECT_EQ(qmtest::read_file(x->root / "stdout"), "") << x->app;
    EXPECT_EQ(qmtest::read_file(x->root / "stderr"), "") << x->app;
  }
}

TEST_F(WatcherEndToEnd, HostileSurroundingsStillLaunchExactlyOnce) {
  auto live = start_live();

  // An empty PATH, and a folder of impostors to be found through it: a shell
  // that searched the current folder would run them.
  Bundle p = bundle(tmp_.path() / "p", "Some Name.app");
  path impostors = p.root / "impostors";
  qmtest::fs::create_directories(impostors);
  for (const char* name : {"pgrep", "nohup", "setsid", "open", "sh"}) {
    qmtest::write_file(impostors / name,
                       "#!/bin/sh\necho " + std::string(name) + " >> '" +
                           (p.root / "impostors-ran").string() + "'\n",
                       true);
  }
  auto watcher_p = start_watcher(p, {}, true, {}, {{"PATH", ""}}, impostors);

  // An app path that begins with "-", given relative to the watcher's folder.
  Bundle m = bundle(tmp_.path() / "m", "-dash.app");
  auto watcher_m =
      start_watcher(m, {m.watcher.string(), "-dash.app", "-dash.app/Contents/MacOS/Quillmark"},
                    true, {}, {}, m.root);

  // A FIFO where the log should be, with nobody reading it.
  Bundle f = bundle(tmp_.path() / "f", "Some Name.app");
  ASSERT_EQ(mkfifo(f.log.c_str(), 0600), 0);
  auto watcher_f = start_watcher(f);

  // A path that is not ASCII, the watcher in the C locale.
  Bundle u = bundle(tmp_.path() / "u", "Quillmärk ü.app");
  auto watcher_u = start_watcher(u, {}, true, {}, {{"LC_ALL", "C"}});

  // A plain watcher whose process group is signalled below.
  Bundle a = bundle(tmp_.path() / "a", "Some Name.app");
  auto watcher_a = start_watcher(a);

  // Each launches at its first pass and sees its app at the next. A watcher
  // that could not find its app would launch again at that pass instead, so
  // the deadline can be generous: five first passes at once on a busy machine
  // have taken 3 s.
  for (const Bundle* x : {&p, &m, &u, &a}) {
    EXPECT_TRUE(wait_for_count(x->log, kAppRunning, 1, kWithinOnePass + kPass))
        << x->app << "\n"
        << qmtest::read_file(x->log);
    EXPECT_EQ(x->start_count(), 1u) << x->app;
    EXPECT_EQ(qmtest::count_of(qmtest::log_messages(x->log), kLaunched), 1u) << x->app;
  }
  EXPECT_FALSE(qmtest::fs::exists(p.root / "impostors-ran"))
      << qmtest::read_file(p.root / "impostors-ran");
  // The FIFO watcher dropped its lines and went on.
  EXPECT_EQ(f.start_count(), 1u);
  EXPECT_TRUE(watcher_f->running());
  struct stat info;
  ASSERT_EQ(stat(f.log.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));

  // A signal to the watcher's process group (a terminal's ^C, a supervisor
  // stopping the job) ends the watcher but not the app it started.
  std::vector<pid_t> started = a.standin_pids();
  ASSERT_EQ(started.size(), 1u);
  ASSERT_EQ(kill(-watcher_a->pid(), SIGTERM), 0);
  EXPECT_TRUE(qmtest::wait_until([&] { return !watcher_a->running(); }, 2s));
  std::this_thread::sleep_for(200ms);  // time for a wrongly reached app to die
  EXPECT_TRUE(qmtest::alive(started[0]));
  EXPECT_EQ(qmtest::session_of(started[0]), started[0]) << "a session of its own";

  for (const Bundle* x : {&p, &m, &f, &u, &a}) {
    EXPECT_EQ(qmtest::read_file(x->root / "stdout"), "") << x->app;
    EXPECT_EQ(qmtest::read_file(x->root / "stderr"), "") << x->app;
  }
}

}  // namespace
