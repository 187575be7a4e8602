// The watcher's start: when it refuses to run (usage line, status 64) and
// that it then writes nothing to its log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support.h"

namespace {

using qmtest::Process;
using qmtest::fs::path;
using namespace std::chrono_literals;

struct Outcome {
  std::optional<int> status;
  std::string out;
  std::string err;
};

class WatcherCommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = tmp_.path() / "home";
    log_ = home_ / "Library" / "Logs" / "QuillmarkWatcher.log";
    qmtest::fs::create_directories(log_.parent_path());
    outside_ = tmp_.path() / "bin" / "QuillmarkWatcher";
    qmtest::fs::create_directories(outside_.parent_path());
    qmtest::fs::copy_file(qmtest::watcher_binary(), outside_);
  }

  // Runs the watcher binary `program` with the given argv and waits for it to
  // end by itself (it must, in every case here).
  Outcome run(const path& program, const std::vector<std::string>& argv) {
    path out = tmp_.path() / ("stdout" + std::to_string(runs_));
    path err = tmp_.path() / ("stderr" + std::to_string(runs_));
    ++runs_;
    Process p({program.string(), argv, {{"HOME", home_.string()}}, {}, out, err});
    Outcome o;
    o.status = p.wait_exit(5s);
    o.out = qmtest::read_file(out);
    o.err = qmtest::read_file(err);
    return o;
  }

  void expect_usage(const Outcome& o, const std::string& argv0) {
    EXPECT_EQ(o.status, 64);
    EXPECT_EQ(o.err, "usage: " + argv0 + " <app-path> <executable-path>\n");
    EXPECT_EQ(o.out, "");
    EXPECT_FALSE(qmtest::fs::exists(log_)) << "nothing is logged before the paths are settled";
  }

  qmtest::TempDir tmp_;
  path home_, log_, outside_;
  int runs_ = 0;
};

TEST_F(WatcherCommandLine, OutsideABundleGivesTheUsageLine) {
  expect_usage(run(outside_, {outside_.string()}), outside_.string());
  // argv[0] is printed as given, for instance when found through PATH.
  expect_usage(run(outside_, {"QuillmarkWatcher"}), "QuillmarkWatcher");
}

TEST_F(WatcherCommandLine, ASingleArgumentIsIgnored) {
  path app = tmp_.path() / "Given.app";
  expect_usage(run(outside_, {outside_.string(), app.string()}), outside_.string());
}

TEST_F(WatcherCommandLine, BundleTooLongForTheExecutablePathGivesTheUsageLine) {
  // Never resolvable, so searched as given; app path 999 bytes makes the
  // executable path 1024 bytes, one too many.
  std::string app = "/qm-no-such-dir-" + std::string(979, 'a') + ".app";
  ASSERT_EQ(app.size(), 999u);
  std::string own = app + "/Contents/MacOS/QuillmarkWatcher";
  expect_usage(run(outside_, {own}), own);
}

TEST_F(WatcherCommandLine, PathsWhoseCommandsWouldNotFitAreRefused) {
  // Derivable (930-byte executable path) but quoting quadruples each quote.
  std::string own = "/" + std::string(900, '\'') + ".app/Contents/MacOS/QuillmarkWatcher";
  Outcome derived = run(outside_, {own});
  EXPECT_EQ(derived.status, 64);
  EXPECT_NE(derived.err.find("too long"), std::string::npos) << derived.err;

  std::string app = "/" + std::string(4100, 'a') + ".app";
  Outcome given = run(outside_, {outside_.string(), app, app + "/Contents/MacOS/Quillmark"});
  EXPECT_EQ(given.status, 64);
  EXPECT_NE(given.err.find("too long"), std::string::npos) << given.err;

  EXPECT_EQ(derived.out + given.out, "");
  EXPECT_FALSE(qmtest::fs::exists(log_));
}

}  // namespace

namespace {

TEST_F(WatcherCommandLine, PathsWithControlCharactersAreRefused) {
  // Left running, such a watcher would never find the app it starts (pgrep
  // shows the byte as "?") and start another copy at every pass; a newline
  // would also forge a log line.
  for (const std::string name : {"Tab\there.app", "New\nline.app"}) {
    path macos = tmp_.path() / name / "Contents" / "MacOS";
    qmtest::fs::create_directories(macos);
    qmtest::fs::copy_file(qmtest::watcher_binary(), macos / "QuillmarkWatcher");
    Outcome derived = run(macos / "QuillmarkWatcher", {(macos / "QuillmarkWatcher").string()});
    EXPECT_EQ(derived.status, 64) << name;
    const std::string offset = std::to_string(tmp_.path().string().size() + 5);
    EXPECT_EQ(derived.err,
              "QuillmarkWatcher: app path holds a control character (byte " + offset + ")\n");
  }
  const std::string app = (tmp_.path() / "Fine.app").string();
  Outcome given = run(outside_, {outside_.string(), app, app + "/Contents/MacOS/Quill\x7f"});
  EXPECT_EQ(given.status, 64);
  EXPECT_NE(given.err.find("executable path holds a control character"), std::string::npos)
      << given.err;
#ifndef __APPLE__
  Outcome latin1 = run(outside_, {outside_.string(), app + "/J\xf6rg.app", app});
  EXPECT_EQ(latin1.status, 64);
  EXPECT_NE(latin1.err.find("app path is not valid UTF-8"), std::string::npos) << latin1.err;
#endif
  EXPECT_FALSE(qmtest::fs::exists(log_));
}

}  // namespace
