// The watcher's launch agent: the property list's exact text, its escaping,
// when it is (re)written under a real home, and the launchctl runs.
#include "launch_agent.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#ifdef QM_PYTHON3
#include <sys/wait.h>
#endif
#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;

const std::string kDemoPropertyList =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n"
    "<dict>\n"
    "  <key>Label</key>\n"
    "  <string>local.vellum.quillmark-watcher</string>\n"
    "  <key>ProgramArguments</key>\n"
    "  <array>\n"
    "    <string>/Applications/Quillmark.app/Contents/MacOS/QuillmarkWatcher</string>\n"
    "  </array>\n"
    "  <key>RunAtLoad</key>\n"
    "  <true/>\n"
    "  <key>KeepAlive</key>\n"
    "  <true/>\n"
    "  <key>StandardOutPath</key>\n"
    "  <string>/Users/demo/Library/Logs/QuillmarkWatcher.log</string>\n"
    "  <key>StandardErrorPath</key>\n"
    "  <string>/Users/demo/Library/Logs/QuillmarkWatcher.log</string>\n"
    "</dict>\n"
    "</plist>\n";

// Every character that XML gives a meaning, plus non-ASCII text.
const std::string kHostileName = "A&B <x> \"q\" it's é";
const std::string kHostileEscaped = "A&amp;B &lt;x&gt; &quot;q&quot; it&apos;s é";
#ifdef _WIN32
// A Windows file name may not hold < > or ".
const std::string kHostileFolderName = "A&B 'q' it's é";
const std::string kHostileFolderEscaped = "A&amp;B &apos;q&apos; it&apos;s é";
#else
const std::string kHostileFolderName = kHostileName;
const std::string kHostileFolderEscaped = kHostileEscaped;
#endif

TEST(PropertyListText, IsTheTwentyLinesForDemoUserAndBundle) {
  const std::string text = launchAgentPropertyList(
      "/Applications/Quillmark.app/Contents/MacOS/QuillmarkWatcher", "/Users/demo");
  EXPECT_EQ(text, kDemoPropertyList);
  EXPECT_EQ(splitLines(text).size(), 20u);
}

TEST(PropertyListText, EscapesBothPathsButNotTheLabel) {
  EXPECT_EQ(xmlEscaped("&<>\"'"), "&amp;&lt;&gt;&quot;&apos;");
  // Ampersands first: an entity already in the text is escaped once, and the
  // entities inserted for the other characters are not escaped again.
  EXPECT_EQ(xmlEscaped("&lt;"), "&amp;lt;");
  EXPECT_EQ(xmlEscaped("<&>"), "&lt;&amp;&gt;");
  EXPECT_EQ(xmlEscaped("&&"), "&amp;&amp;");
  EXPECT_EQ(xmlEscaped(""), "");
  EXPECT_EQ(xmlEscaped("/Users/demo é ✓"), "/Users/demo é ✓");
  EXPECT_EQ(xmlEscaped(kHostileName), kHostileEscaped);

  const std::string home = "/Users/" + kHostileName;
  const std::string watcher =
      "/Apps/" + kHostileName + "/Quillmark.app/Contents/MacOS/QuillmarkWatcher";
  const auto lines = splitLines(launchAgentPropertyList(watcher, home));
  ASSERT_EQ(lines.size(), 20u);
  EXPECT_EQ(lines[5], "  <string>local.vellum.quillmark-watcher</string>");
  EXPECT_EQ(lines[8], "    <string>/Apps/" + kHostileEscaped +
                          "/Quillmark.app/Contents/MacOS/QuillmarkWatcher</string>");
  const std::string logLine =
      "  <string>/Users/" + kHostileEscaped + "/Library/Logs/QuillmarkWatcher.log</string>";
  EXPECT_EQ(lines[15], logLine);
  EXPECT_EQ(lines[17], logLine);
}

// ---------------------------------------------------------------------------
// Installation under a real temporary home

class LaunchAgentTest : public CoreTest {
 protected:
  void SetUp() override {
    watcherPath = installBundle(bundleRoot.path());
    world.setUserId(4242);
  }

  std::string agentsFolder() const { return world.homeDirectory() + "/Library/LaunchAgents"; }
  std::string plistPath() const { return agentsFolder() + "/local.vellum.quillmark-watcher.plist"; }
  std::string expectedText() const {
    return launchAgentPropertyList(watcherPath, world.homeDirectory());
  }

  void install() {
    process->run([&] { app().installLaunchAgentIfNeeded(); });
  }

  // The arguments of every launchctl run, oldest first.
  std::vector<std::vector<std::string>> launchctlArguments() const {
    std::vector<std::vector<std::string>> runs;
    for (const sim::TaskRun& run : world.taskRuns()) {
      EXPECT_EQ(run.launchPath, "/bin/launchctl");
      runs.push_back(run.arguments);
    }
    return runs;
  }
  std::vector<std::string> bootout() const { return {"bootout", "gui/4242", plistPath()}; }
  std::vector<std::string> bootstrap() const { return {"bootstrap", "gui/4242", plistPath()}; }

  TempDir bundleRoot;
  std::string watcherPath;
};

struct FileStamp {
  std::uint64_t inode;
  timespec modified;
};

FileStamp stampOf(const std::string& path) {
#ifdef _WIN32
  // The file index stands for the inode; write times count 100 ns steps.
  FileStamp stamp{};
  const HANDLE file = CreateFileW(files::nativePath(path).c_str(), 0,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  BY_HANDLE_FILE_INFORMATION info{};
  EXPECT_TRUE(file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &info)) << path;
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
  }
  stamp.inode = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  const std::uint64_t ticks = (std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                              info.ftLastWriteTime.dwLowDateTime;
  stamp.modified = {static_cast<time_t>(ticks / 10000000), static_cast<long>(ticks % 10000000)};
  return stamp;
#else
  struct stat info {};
  EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
#ifdef __APPLE__
  return {info.st_ino, info.st_mtimespec};
#else
  return {info.st_ino, info.st_mtim};
#endif
#endif
}

TEST_F(LaunchAgentTest, WritesTheFileThenReloadsTheAgentAtEveryStart) {
  // LaunchAgents is missing: it is made.
  install();
  ASSERT_TRUE(fs::is_directory(agentsFolder()));
  EXPECT_EQ(readFile(plistPath()), expectedText());
  EXPECT_EQ(launchctlArguments(), (std::vector<std::vector<std::string>>{bootout(), bootstrap()}));
  // Only the property list is left in the folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(agentsFolder()), fs::directory_iterator()), 1);

  // An old modification time shows whether the file is written again.
  const auto old = fs::last_write_time(plistPath()) - std::chrono::hours(24);
  fs::last_write_time(plistPath(), old);
  const FileStamp before = stampOf(plistPath());

  restartProcess();
  install();
  const FileStamp after = stampOf(plistPath());
  EXPECT_EQ(after.inode, before.inode);
  EXPECT_EQ(after.modified.tv_sec, before.modified.tv_sec);
  EXPECT_EQ(after.modified.tv_nsec, before.modified.tv_nsec);
  // The agent is reloaded all the same.
  EXPECT_EQ(launchctlArguments(), (std::vector<std::vector<std::string>>{bootout(), bootstrap(),
                                                                         bootout(), bootstrap()}));
}

TEST_F(LaunchAgentTest, AnyDifferenceRewritesTheFile) {
  fs::create_directories(agentsFolder());
  std::string crlf;
  for (char c : expectedText()) {
    crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  }
  const std::vector<std::string> stale = {
      "something else",
      "",
      expectedText() + " ",
      expectedText() + "\n",
      crlf,
      expectedText().substr(0, expectedText().size() - 1),
      launchAgentPropertyList("/Old/Quillmark.app/Contents/MacOS/QuillmarkWatcher",
                              world.homeDirectory())};
  for (const std::string& text : stale) {
    SCOPED_TRACE(text);
    std::ofstream(plistPath(), std::ios::binary | std::ios::trunc) << text;
    const FileStamp before = stampOf(plistPath());
    restartProcess();
    install();
    EXPECT_EQ(readFile(plistPath()), expectedText());
    // Replaced atomically: a new file took the old one's place.
    EXPECT_NE(stampOf(plistPath()).inode, before.inode);
  }
  EXPECT_EQ(world.taskRuns().size(), 2 * stale.size());
}

TEST_F(LaunchAgentTest, HostileCharactersAreEscapedInTheWrittenFile) {
  const std::string home = bundleRoot.path() + "/home " + kHostileFolderName;
  fs::create_directories(files::nativePath(home + "/Library/Logs"));
  world.setHomeDirectory(home);
  watcherPath = installBundle(bundleRoot.path() + "/" + kHostileFolderName);

  install();
  const std::string text = readFile(plistPath());
  EXPECT_EQ(text, expectedText());
  const auto lines = splitLines(text);
  ASSERT_EQ(lines.size(), 20u);
  EXPECT_EQ(lines[5], "  <string>local.vellum.quillmark-watcher</string>");
  EXPECT_NE(lines[8].find(kHostileFolderEscaped), std::string::npos);
  EXPECT_NE(lines[15].find(kHostileFolderEscaped), std::string::npos);
  // The path goes to launchctl as it is, unescaped.
  ASSERT_EQ(world.taskRuns().size(), 2u);
  EXPECT_EQ(world.taskRuns()[1].arguments[2],
            home + "/Library/LaunchAgents/" + std::string(kLaunchAgentFileName));
}

TEST_F(LaunchAgentTest, NoWatcherMeansNothingAtAll) {
  fs::remove(watcherPath);
  install();
  EXPECT_FALSE(fs::exists(agentsFolder()));
  EXPECT_TRUE(world.taskRuns().empty());

  // An agent installed earlier stays untouched.
  fs::create_directories(agentsFolder());
  std::ofstream(plistPath()) << "earlier";
  restartProcess();
  install();
  EXPECT_EQ(readFile(plistPath()), "earlier");
  EXPECT_TRUE(world.taskRuns().empty());
}

TEST_F(LaunchAgentTest, UnknownOrRelativeExecutablePathFindsNoWatcher) {
  // A watcher in the current folder must not be taken for the bundle's.
  const fs::path previous = fs::current_path();
  fs::current_path(fs::path(watcherPath).parent_path());
  for (const char* path : {"", "Quillmark", "./Quillmark"}) {
    SCOPED_TRACE(path);
    process->setMainExecutablePath(path);
    install();
  }
  fs::current_path(previous);
  EXPECT_FALSE(fs::exists(agentsFolder()));
  EXPECT_TRUE(world.taskRuns().empty());
}

TEST_F(LaunchAgentTest, NoLaunchAgentsFolderMeansNoFileAndNoLaunchctl) {
  // A plain file where the folder should be.
  std::ofstream(agentsFolder()) << "not a folder";
  install();
  EXPECT_EQ(readFile(agentsFolder()), "not a folder");
  EXPECT_TRUE(world.taskRuns().empty());

  // No Library folder known to the system.
  fs::remove(agentsFolder());
  world.setLibraryAvailable(false);
  restartProcess();
  install();
  EXPECT_FALSE(fs::exists(agentsFolder()));
  EXPECT_TRUE(world.taskRuns().empty());

  // A Library that exists but lacks everything below it is filled in.
  world.setLibraryAvailable(true);
  fs::remove_all(world.homeDirectory() + "/Library");
  restartProcess();
  install();
  EXPECT_EQ(readFile(plistPath()), expectedText());
  EXPECT_EQ(world.taskRuns().size(), 2u);
}

TEST_F(LaunchAgentTest, MissingLaunchctlIsSwallowedAndTheLaunchGoesOn) {
  world.setLaunchctlPresent(false);
  launch();
  ASSERT_EQ(world.taskRuns().size(), 2u);
  EXPECT_EQ(world.taskRuns()[0].arguments, bootout());
  EXPECT_EQ(world.taskRuns()[1].arguments, bootstrap());
  EXPECT_FALSE(world.taskRuns()[0].status);
  EXPECT_FALSE(world.taskRuns()[1].status);
  EXPECT_EQ(readFile(plistPath()), expectedText());
  // The rest of the launch ran.
  EXPECT_TRUE(process->statusItem());
  EXPECT_TRUE(app().liveMonitorTimer());
  EXPECT_FALSE(process->terminated());
}

TEST_F(LaunchAgentTest, FailedBootstrapIsRetriedEveryHalfSecond) {
  world.failNextBootstraps(2);
  const Date t0 = world.now();
  install();
  // The retries come from the run loop.
  EXPECT_EQ(world.taskRuns().size(), 2u);
  EXPECT_EQ(world.now(), t0);
  world.advanceBy(10);
  const auto& runs = world.taskRuns();
  ASSERT_EQ(runs.size(), 4u);
  EXPECT_EQ(runs[0].arguments, bootout());
  const double waits[] = {0, 0, 0.5, 1.0};
  const int statuses[] = {0, 5, 5, 0};
  for (std::size_t i = 0; i < runs.size(); ++i) {
    SCOPED_TRACE(i);
    if (i > 0) {
      EXPECT_EQ(runs[i].arguments, bootstrap());
    }
    EXPECT_NEAR(runs[i].time - t0, waits[i], 1e-6);
    EXPECT_EQ(runs[i].status, statuses[i]);
  }
}

TEST_F(LaunchAgentTest, BootstrapThatAlwaysFailsIsGivenUpWithinFiveSeconds) {
  world.failNextBootstraps(1000);
  const Date t0 = world.now();
  launch();
  // Nothing waits for launchctl: the icon, the menu and its first refresh
  // are there at once, and the monitor starts on its own grid.
  EXPECT_EQ(world.now(), t0);
  ASSERT_TRUE(process->statusItem());
  EXPECT_EQ(process->statusItem()->toolTip(),
            "Ableton not connected | Accessibility missing | Autosave on");
  ASSERT_TRUE(process->findItem({"✕ Accessibility missing"}));
  EXPECT_EQ(world.taskRuns().size(), 2u);

  world.advanceBy(30);
  const auto& runs = world.taskRuns();
  ASSERT_EQ(runs.size(), 12u);
  EXPECT_EQ(runs[0].arguments, bootout());
  for (std::size_t i = 1; i < runs.size(); ++i) {
    EXPECT_EQ(runs[i].arguments, bootstrap());
    EXPECT_EQ(runs[i].status, 5);
    EXPECT_NEAR(runs[i].time - t0, 0.5 * static_cast<double>(i - 1), 1e-6);
  }
  EXPECT_LE(runs.back().time - t0, 5.0 + 1e-6);
  const auto messages = logMessages();
  EXPECT_EQ(std::count(messages.begin(), messages.end(),
                       "Watcher agent not loaded: launchctl bootstrap still exits with status 5 "
                       "after 10 retries."),
            1);
}

TEST_F(LaunchAgentTest, BootstrapThatRecoversStopsRetryingAndLogsNothing) {
  world.failNextBootstraps(10);
  launch();
  world.advanceBy(30);
  // The tenth retry succeeded: eleven bootstraps in all, no complaint.
  ASSERT_EQ(world.taskRuns().size(), 12u);
  EXPECT_EQ(world.taskRuns().back().status, 0);
  for (const std::string& message : logMessages()) {
    EXPECT_EQ(message.find("Watcher agent not loaded"), std::string::npos) << message;
  }

  // Quitting while retries are pending ends them with the process.
  restartProcess();
  world.failNextBootstraps(1000);
  launch();
  EXPECT_EQ(process->click({"Quit"}), sim::ClickResult::ok);
  world.advanceBy(30);
  EXPECT_EQ(world.taskRuns().size(), 14u);
}

// A bundle opened from its disk image, run translocated, or on a stick or a
// share lies on a path that may be gone after eject or restart: launchd
// would retry it forever. A volume that cannot be examined counts as such.
TEST_F(LaunchAgentTest, TransientLocationGetsNoAgentAndTheLogSaysWhatToDo) {
  using Kind = System::VolumeKind;
  struct Location {
    const char* name;
    std::string bundleRoot;
    Kind kind;
    const char* why;
  };
  const std::string root = bundleRoot.path();
  const Location locations[] = {
      {"disk image", root + "/Volumes/Quillmark", Kind::readOnly,
       "Quillmark runs from a read-only volume, such as its disk image."},
      {"translocated", root + "/private/var/folders/x1/qz7c/T/AppTranslocation/4E0F-9A1B/d",
       Kind::fixed, "macOS runs Quillmark from a temporary copy (App Translocation)."},
      {"stick", root + "/Volumes/Stick", Kind::removable,
       "Quillmark runs from a removable volume."},
      {"share", root + "/Volumes/Share", Kind::network, "Quillmark runs from a network volume."},
      {"vanished", root + "/Volumes/Gone", Kind::unknown,
       "the volume Quillmark runs from cannot be examined."},
  };
  for (const Location& location : locations) {
    SCOPED_TRACE(location.name);
    world.setVolume(location.bundleRoot, location.kind);
    installBundle(location.bundleRoot);
    restartProcess();
    launch();
    EXPECT_FALSE(fs::exists(agentsFolder()));
    EXPECT_TRUE(world.taskRuns().empty());
    EXPECT_EQ(logMessages().at(0), "Watcher not installed: " + std::string(location.why) +
                                       " Move Quillmark to the Applications folder and open it "
                                       "again.");
    EXPECT_TRUE(process->statusItem());
    fs::remove(logPath());
  }

  // Moved to a writable folder beside the volume, the same bundle installs.
  installBundle(root + "/Volumes/Quillmark Copy");
  restartProcess();
  launch();
  EXPECT_EQ(readFile(plistPath()),
            launchAgentPropertyList(
                executablePath.substr(0, executablePath.rfind('/')) + "/QuillmarkWatcher",
                world.homeDirectory()));
  EXPECT_EQ(world.taskRuns().size(), 2u);
}

// ---------------------------------------------------------------------------
// An independent reader: Python's plistlib.

#ifdef QM_PYTHON3
// Loads the property list and compares it with the expected dictionary;
// the values come through the environment, so no quoting is needed.
constexpr const char* kPlistCheck = R"(
import os, plistlib, sys
with open(os.environ['QM_PLIST'], 'rb') as f:
    p = plistlib.load(f)
log = os.environ['QM_LOG']
expected = {
    'Label': 'local.vellum.quillmark-watcher',
    'ProgramArguments': [os.environ['QM_WATCHER']],
    'RunAtLoad': True,
    'KeepAlive': True,
    'StandardOutPath': log,
    'StandardErrorPath': log,
}
if p != expected or type(p['RunAtLoad']) is not bool or type(p['KeepAlive']) is not bool:
    print(ascii(p))
    sys.exit(1)
print('ok')
)";

std::string readBackWithPlistlib(const std::string& plist, const std::string& watcher,
                                 const std::string& home, int* status) {
  setenv("QM_PLIST", plist.c_str(), 1);
  setenv("QM_WATCHER", watcher.c_str(), 1);
  setenv("QM_LOG", (home + "/Library/Logs/QuillmarkWatcher.log").c_str(), 1);
  setenv("QM_SCRIPT", kPlistCheck, 1);
  const std::string command = std::string("'") + QM_PYTHON3 + "' -c \"$QM_SCRIPT\" 2>&1";
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
      output += buffer;
    }
    const int raw = pclose(pipe);
    *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  } else {
    *status = -1;
  }
  return output;
}
#endif

TEST_F(LaunchAgentTest, PlistlibReadsTheWrittenFileBack) {
#ifndef QM_PYTHON3
  GTEST_SKIP() << "no Python 3 interpreter was found at configure time";
#else
  install();
  int status = 0;
  EXPECT_EQ(readBackWithPlistlib(plistPath(), watcherPath, world.homeDirectory(), &status), "ok\n");
  EXPECT_EQ(status, 0);

  const std::string home = bundleRoot.path() + "/home " + kHostileFolderName;
  fs::create_directories(files::nativePath(home + "/Library/Logs"));
  world.setHomeDirectory(home);
  watcherPath = installBundle(bundleRoot.path() + "/" + kHostileFolderName);
  restartProcess();
  install();
  EXPECT_EQ(readBackWithPlistlib(plistPath(), watcherPath, home, &status), "ok\n");
  EXPECT_EQ(status, 0);
#endif
}

}  // namespace
}  // namespace qm::test
