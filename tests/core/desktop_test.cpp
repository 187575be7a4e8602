// What a desktop other than macOS changes in the core: its words for the
// permission and the shortcut, no first-launch request, its own agent step
// and log file, and keys sent only while Live is in front.
#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "menu_support.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;

// A desktop with words and habits of its own, as Windows has.
class OtherDesktop final : public Desktop {
 public:
  const DesktopWords& words() const override { return words_; }
  bool keysReachOnlyTheFrontWindow() const override { return true; }
  bool asksForPermissionAtFirstLaunch() const override { return false; }
  std::optional<std::string> applicationLogPath() override { return logPath; }
  bool installWatcherAgent(std::string* logLine) override {
    ++agentSteps;
    *logLine = agentNote;
    return true;
  }

  std::optional<std::string> logPath;
  int agentSteps = 0;
  std::string agentNote;

 private:
  DesktopWords words_{
      .permissionGranted = "Input allowed",
      .permissionMissing = "Input blocked",
      .grantPermission = "Unblock input",
      .openPermissionSettings = "About Input",
      .permissionSettingsURL = "https://example.com/input",
      .permissionRequiredError = "Input is blocked",
      .noKeyEventsError = "Could not build Ctrl+S events",
      .autosaveNotStartedMessage = "Not started: input blocked.",
  };
};

// The simulated workspace, except that Live may refuse to come forward.
class StubbornLiveWorkspace final : public Workspace {
 public:
  explicit StubbornLiveWorkspace(Workspace& inner) : inner_(inner) {}

  std::vector<RunningApplicationRef> runningApplicationsWithBundleIdentifier(
      const std::string& bundleIdentifier) override {
    std::vector<RunningApplicationRef> applications;
    for (RunningApplicationRef application :
         inner_.runningApplicationsWithBundleIdentifier(bundleIdentifier)) {
      applications.push_back(std::make_shared<Stubborn>(std::move(application), refuses));
    }
    return applications;
  }
  RunningApplicationRef frontmostApplication() override { return inner_.frontmostApplication(); }
  std::optional<int> frontmostProcessIdentifierNow() override {
    return inner_.frontmostProcessIdentifierNow();
  }
  bool openURL(const std::string& url) override { return inner_.openURL(url); }

  bool refuses = false;

 private:
  class Stubborn final : public RunningApplication {
   public:
    Stubborn(RunningApplicationRef inner, bool refuses)
        : inner_(std::move(inner)), refuses_(refuses) {}
    int processIdentifier() const override { return inner_->processIdentifier(); }
    bool isHidden() const override { return inner_->isHidden(); }
    bool unhide() override { return inner_->unhide(); }
    bool hide() override { return inner_->hide(); }
    bool activateWithOptions(unsigned options) override {
      return !refuses_ && inner_->activateWithOptions(options);
    }
    bool activateFromApplicationOptions(const RunningApplication& from, unsigned options) override {
      return !refuses_ && inner_->activateFromApplicationOptions(from, options);
    }

   private:
    RunningApplicationRef inner_;
    bool refuses_;
  };

  Workspace& inner_;
};

class DesktopTest : public MenuTest {
 protected:
  ~DesktopTest() override { delegate.reset(); }

  // The delegate on the simulated ports with `desktop` (the other one by
  // default) and the stubborn workspace.
  AppDelegate& appOn(Desktop& chosen) {
    Platform& sim = process->platform();
    platform = std::make_unique<Platform>(
        Platform{sim.runLoop, workspace, sim.accessibility, sim.keyboardEvents, sim.userActivity,
                 sim.applicationWindows, sim.applicationMenus, sim.notifications, sim.preferences,
                 sim.statusBar, sim.alerts, sim.graphics, sim.system, chosen});
    delegate = std::make_unique<AppDelegate>(*platform);
    return *delegate;
  }

  OtherDesktop desktop;
  StubbornLiveWorkspace workspace{process->platform().workspace};
  std::unique_ptr<Platform> platform;
};

TEST_F(DesktopTest, TheDesktopsWordsNameThePermissionInTheMenuTooltipLogAndFailures) {
  livePid = startLive();
  world.setTrusted(false);
  appOn(desktop);
  launch();

  EXPECT_EQ(statusLine(), "✕ Unblock input");
  EXPECT_EQ(permissionLine(), "✕ Input blocked");
  EXPECT_EQ(row(kOpenSettingsRow).title(), "About Input");
  EXPECT_NE(toolTip().find("| Input blocked |"), std::string::npos) << toolTip();
  EXPECT_EQ(logMessages(), (std::vector<std::string>{"Not started: input blocked."}));

  process->click({"About Input"});
  ASSERT_FALSE(world.openedURLs().empty());
  EXPECT_EQ(world.openedURLs().back().url, "https://example.com/input");

  process->click({"Save Now"});
  EXPECT_EQ(statusLine(), "✕ Input is blocked");
  EXPECT_EQ(logMessages().back(), "Manual save failed: Input is blocked");

  world.setTrusted(true);
  world.advanceBy(2.0);
  EXPECT_EQ(permissionLine(), "✓ Input allowed");
  EXPECT_NE(toolTip().find("| Input allowed |"), std::string::npos) << toolTip();
}

TEST_F(DesktopTest, NoFirstLaunchRequestNoLaunchAgentAndTheLogWhereTheDesktopKeepsIt) {
  installBundle();
  world.setTrusted(false);
  desktop.logPath = home() + "/Elsewhere.log";
  desktop.agentNote = "The watcher is off.";
  appOn(desktop);
  launch();
  world.advanceBy(5.0);

  EXPECT_TRUE(world.alerts().empty());
  EXPECT_EQ(world.promptRequestCount(), 0);
  EXPECT_FALSE(world.boolPreference(std::string(kAccessibilityPromptShownDefaultsKey)));
  // The desktop's own agent step ran instead of the launchd agent.
  EXPECT_EQ(desktop.agentSteps, 1);
  EXPECT_TRUE(world.taskRuns().empty());
  EXPECT_FALSE(fs::exists(home() + "/Library/LaunchAgents"));
  EXPECT_FALSE(fs::exists(logPath()));
  // The agent step's own word comes first.
  const auto lines = splitLines(readFile(home() + "/Elsewhere.log"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("] The watcher is off."), std::string::npos);
}

TEST_F(DesktopTest, LiveThatStaysBehindGetsNoKeysAndTheFocusGoesBack) {
  const int finder = world.startApplication("com.apple.finder", "Finder");
  world.setFrontmost(finder);
  livePid = startLive();
  world.setTrusted(true);
  workspace.refuses = true;
  appOn(desktop);
  launch();

  process->click({"Save Now"});
  EXPECT_TRUE(world.keyEvents().empty());
  EXPECT_TRUE(statusLine().starts_with("✕ Ableton Live could not be brought to the front · next "))
      << statusLine();
  EXPECT_EQ(logMessages().back(),
            "Manual save failed: Ableton Live could not be brought to the front");
  ASSERT_FALSE(world.activations().empty());
  EXPECT_EQ(world.activations().back().pid, finder);
  EXPECT_EQ(world.frontmost(), finder);

  // Once Live comes forward, the keys go to it.
  workspace.refuses = false;
  process->click({"Save Now"});
  EXPECT_EQ(world.keyEvents().size(), 4u);
  EXPECT_EQ(logMessages().end()[-2], "Manual save command sent successfully.");
  EXPECT_EQ(world.frontmost(), finder);
}

TEST_F(DesktopTest, OnMacOSKeysReachLiveEvenWhenItStaysBehind) {
  Desktop macOS;
  livePid = startLive();
  world.setTrusted(true);
  markAccessibilityAsked();
  workspace.refuses = true;
  appOn(macOS);
  launch();

  process->click({"Save Now"});
  ASSERT_EQ(world.keyEvents().size(), 4u);
  EXPECT_TRUE(std::all_of(world.keyEvents().begin(), world.keyEvents().end(),
                          [&](const sim::PostedKeyEvent& event) { return event.pid == livePid; }));
  // (The schedule restarts after a manual save, logging the last line.)
  EXPECT_EQ(logMessages().end()[-2], "Manual save command sent successfully.");
}

}  // namespace
}  // namespace qm::test
