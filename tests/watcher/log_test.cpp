// The watcher log: line shape, where it goes, and when a line is dropped.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <optional>
#include <string>

#include "support.h"
#include "watcher.h"

namespace {

using qmtest::fs::path;

// Sets HOME for one test and puts the old value back afterwards.
class ScopedHome {
 public:
  explicit ScopedHome(const std::optional<std::string>& home) {
    if (const char* old = getenv("HOME")) {
      old_ = old;
    }
    if (home) {
      setenv("HOME", home->c_str(), 1);
    } else {
      unsetenv("HOME");
    }
  }
  ~ScopedHome() {
    if (old_) {
      setenv("HOME", old_->c_str(), 1);
    } else {
      unsetenv("HOME");
    }
  }

 private:
  std::optional<std::string> old_;
};

path make_home(const path& home) {
  qmtest::fs::create_directories(home / "Library" / "Logs");
  return home / "Library" / "Logs" / "QuillmarkWatcher.log";
}

TEST(WatcherLog, AppendsOneStampedLinePerCall) {
  qmtest::TempDir tmp;
  path log = make_home(tmp.path());
  ScopedHome home(tmp.path().string());

  time_t before = time(nullptr);
  log_message("first %d %s", 42, "x");
  log_message("Launch command sent successfully.");
  time_t after = time(nullptr);

  std::string text = qmtest::read_file(log);
  EXPECT_EQ(qmtest::log_messages(log),
            (std::vector<std::string>{"first 42 x", "Launch command sent successfully."}));

  // The stamp is the local time of writing, to the second.
  struct tm stamp = {};
  ASSERT_NE(strptime(text.c_str(), "[%Y-%m-%d %H:%M:%S] ", &stamp), nullptr);
  stamp.tm_isdst = -1;
  time_t written = mktime(&stamp);
  EXPECT_GE(written, before - 1);
  EXPECT_LE(written, after + 1);
}

TEST(WatcherLog, KeepsEarlierContent) {
  qmtest::TempDir tmp;
  path log = make_home(tmp.path());
  qmtest::write_file(log, "launchd wrote this\n");
  ScopedHome home(tmp.path().string());
  log_message("next");
  EXPECT_EQ(qmtest::read_file(log).rfind("launchd wrote this\n[", 0), 0u);
}

TEST(WatcherLog, NeverCreatesTheLogsFolder) {
  qmtest::TempDir tmp;
  ScopedHome home(tmp.path().string());
  log_message("dropped");
  EXPECT_TRUE(qmtest::fs::is_empty(tmp.path()));
}

TEST(WatcherLog, UnsetHomeDropsTheLine) {
  qmtest::TempDir tmp;
  ScopedHome home(std::nullopt);
  log_message("dropped");  // must simply return
  EXPECT_TRUE(qmtest::fs::is_empty(tmp.path()));
}

TEST(WatcherLog, LogPathMayUseAllButTheTerminatorOfItsBuffer) {
  const size_t tail = std::string("/Library/Logs/QuillmarkWatcher.log").size();
  qmtest::TempDir tmp;

  path fitting_home = qmtest::make_dir_of_length(tmp.path() / "fits", kLogPathCapacity - 1 - tail);
  path fitting_log = make_home(fitting_home);
  ASSERT_EQ(fitting_log.string().size(), kLogPathCapacity - 1);
  {
    ScopedHome home(fitting_home.string());
    log_message("kept");
  }
  EXPECT_EQ(qmtest::log_messages(fitting_log), std::vector<std::string>{"kept"});

  // One byte more: the cut path would end in "QuillmarkWatcher.lo" inside the
  // very same folder, so a silent cut would write a stray file there.
  path long_home = qmtest::make_dir_of_length(tmp.path() / "long", kLogPathCapacity - tail);
  path long_log = make_home(long_home);
  {
    ScopedHome home(long_home.string());
    log_message("dropped");
  }
  EXPECT_TRUE(qmtest::fs::is_empty(long_log.parent_path()));
}

}  // namespace
