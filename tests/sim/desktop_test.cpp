// The desktop around the process: applications and focus, key events, trust,
// URLs, programs, and the faults a test can inject into them.
#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "save_sequences.h"
#include "sim_process.h"
#include "sim_world.h"

namespace qm::sim {
namespace {

using simtool::completedSaveSequences;

constexpr std::uint16_t kCommand = 55;
constexpr std::uint16_t kS = 1;

class DesktopTest : public ::testing::Test {
 protected:
  Platform& ports() { return process.platform(); }

  // Posts one key event through the ports, as the save path does.
  bool post(EventSource& source, std::uint16_t key, bool down, int pid,
            std::uint64_t flags = kEventFlagMaskCommand) {
    std::unique_ptr<KeyboardEvent> event = source.createKeyboardEvent(key, down);
    if (!event) {
      return false;
    }
    event->setFlags(flags);
    event->postToPid(pid);
    return true;
  }
  void postSave(int pid, std::uint64_t flags = kEventFlagMaskCommand) {
    auto source = ports().keyboardEvents.createEventSource(kEventSourceStateCombinedSessionState);
    ASSERT_TRUE(source);
    post(*source, kCommand, true, pid, flags);
    post(*source, kS, true, pid, flags);
    post(*source, kS, false, pid, flags);
    post(*source, kCommand, false, pid, flags);
  }

  World world{"/Users/tester"};
  Process process{world};
  const Date t0 = world.now();
};

TEST_F(DesktopTest, ApplicationsAreListedInLaunchOrderAndQuitLeavesNoFocus) {
  const int live = world.startApplication("com.ableton.live", "Live");
  const int finder = world.startApplication("com.apple.finder", "Finder");
  const int second = world.startApplication("com.ableton.live", "Live", true);
  EXPECT_LT(process.pid(), live);
  EXPECT_TRUE(world.isHidden(second));

  auto found = ports().workspace.runningApplicationsWithBundleIdentifier("com.ableton.live");
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0]->processIdentifier(), live);
  EXPECT_EQ(found[1]->processIdentifier(), second);
  EXPECT_EQ(ports().workspace.frontmostApplication(), nullptr);

  world.setFrontmost(finder);
  EXPECT_EQ(ports().workspace.frontmostApplication()->processIdentifier(), finder);
  world.quitApplication(finder);
  EXPECT_EQ(ports().workspace.frontmostApplication(), nullptr);
  EXPECT_THROW(world.setFrontmost(finder), std::invalid_argument);

  world.quitApplications("com.ableton.live");
  EXPECT_TRUE(
      ports().workspace.runningApplicationsWithBundleIdentifier("com.ableton.live").empty());
  // A handle outlives its application but can no longer act on it.
  EXPECT_FALSE(found[0]->unhide());
  EXPECT_FALSE(found[0]->activateWithOptions(kApplicationActivateAllWindows));
  EXPECT_TRUE(world.activations().empty());
  EXPECT_TRUE(world.unhidings().empty());
}

TEST_F(DesktopTest, ActivationTakesTheFocusButOnlyUnhideShowsAHiddenApplication) {
  const int live = world.startApplication("com.ableton.live", "Live", true);
  RunningApplicationRef app =
      ports().workspace.runningApplicationsWithBundleIdentifier("com.ableton.live")[0];
  world.advanceBy(1);
  EXPECT_TRUE(app->activateWithOptions(kApplicationActivateAllWindows));
  EXPECT_EQ(world.frontmost(), live);
  EXPECT_TRUE(world.isHidden(live));
  EXPECT_TRUE(app->unhide());
  EXPECT_FALSE(world.isHidden(live));

  ASSERT_EQ(world.activations().size(), 1u);
  EXPECT_EQ(world.activations()[0].time, t0 + 1);
  EXPECT_EQ(world.activations()[0].options, kApplicationActivateAllWindows);
  ASSERT_EQ(world.unhidings().size(), 1u);
  EXPECT_EQ(world.unhidings()[0].pid, live);
}

TEST_F(DesktopTest, DeclinedActivationIsRecordedAndOnlyTheFrontCanHandOver) {
  const int live = world.startApplication("com.ableton.live", "Live");
  const int finder = world.startApplication("com.apple.finder", "Finder");
  const int editor = world.startApplication("com.example.editor", "Editor");
  world.setFrontmost(finder);
  auto& workspace = ports().workspace;
  RunningApplicationRef liveApp =
      workspace.runningApplicationsWithBundleIdentifier("com.ableton.live")[0];
  RunningApplicationRef editorApp =
      workspace.runningApplicationsWithBundleIdentifier("com.example.editor")[0];
  int focusEvents = 0;
  world.setObserver(
      [&](const Event& event) { focusEvents += event.kind == Event::Kind::activation ? 1 : 0; });

  world.declineActivations(World::ActivationDecline::plain);
  EXPECT_FALSE(liveApp->activateWithOptions(1));
  EXPECT_EQ(world.frontmost(), finder);
  // Only the application in front can hand its activation over.
  EXPECT_FALSE(liveApp->activateFromApplicationOptions(*editorApp, 1));
  EXPECT_TRUE(liveApp->activateFromApplicationOptions(*workspace.frontmostApplication(), 1));
  EXPECT_EQ(world.frontmost(), live);

  world.declineActivations(World::ActivationDecline::all);
  EXPECT_FALSE(editorApp->activateFromApplicationOptions(*liveApp, 0));
  EXPECT_EQ(world.frontmost(), live);
  world.declineActivations(World::ActivationDecline::none);
  EXPECT_TRUE(editorApp->activateWithOptions(0));
  EXPECT_EQ(world.frontmost(), editor);

  const auto& requests = world.activations();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_FALSE(requests[0].granted);
  EXPECT_EQ(requests[0].handedOverBy, std::nullopt);
  EXPECT_EQ(requests[1].handedOverBy, editor);
  EXPECT_FALSE(requests[1].granted);
  EXPECT_EQ(requests[2].handedOverBy, finder);
  EXPECT_TRUE(requests[2].granted);
  EXPECT_FALSE(requests[3].granted);
  EXPECT_TRUE(requests[4].granted);
  // The observer hears only what moved the focus.
  EXPECT_EQ(focusEvents, 2);
}

// Quillmark's requests of Live count, granted or declined; the user's own
// focus changes and the world's requests do not.
TEST_F(DesktopTest, ActivationRequestsAreCountedByWhoAsked) {
  const int live = world.startApplication("com.ableton.live", "Live");
  const int finder = world.startApplication("com.apple.finder", "Finder");
  world.setFrontmost(finder);
  world.setFrontmost(live);
  world.activateApplication(live, 0);
  EXPECT_EQ(world.activationRequestsOf("com.ableton.live"), 0u);

  auto& workspace = ports().workspace;
  RunningApplicationRef liveApp =
      workspace.runningApplicationsWithBundleIdentifier("com.ableton.live")[0];
  world.declineActivations(World::ActivationDecline::all);
  EXPECT_FALSE(liveApp->activateWithOptions(kApplicationActivateAllWindows));
  EXPECT_FALSE(liveApp->activateFromApplicationOptions(*workspace.frontmostApplication(), 0));
  world.declineActivations(World::ActivationDecline::none);
  EXPECT_TRUE(
      workspace.runningApplicationsWithBundleIdentifier("com.apple.finder")[0]->activateWithOptions(
          0));
  ports().system.activate();
  EXPECT_EQ(world.activationRequestsOf("com.ableton.live"), 2u);
  EXPECT_EQ(world.activationRequestsOf("com.apple.finder"), 1u);
  EXPECT_EQ(world.activations().back().requester, process.pid());
}

// The system answers the lock as it stands, whether or not Quillmark was
// told of it.
TEST_F(DesktopTest, TheSessionsLockIsAnsweredAsItStands) {
  EXPECT_EQ(ports().system.sessionIsLocked(), false);
  world.setSessionLocked(true);
  EXPECT_EQ(ports().system.sessionIsLocked(), true);
}

TEST_F(DesktopTest, EventsStartWithTheSourceFlagsUntilSetFlagsReplacesThem) {
  const int live = world.startApplication("com.ableton.live", "Live");
  world.setSourceModifierFlags(0x20000);  // Shift held
  auto source = ports().keyboardEvents.createEventSource(kEventSourceStateCombinedSessionState);
  source->createKeyboardEvent(kS, true)->postToPid(live);
  post(*source, kS, false, live);
  post(*source, kS, false, 4242);
  ASSERT_EQ(world.keyEvents().size(), 3u);
  EXPECT_EQ(world.keyEvents()[0].flags, 0x20000u);
  EXPECT_EQ(world.keyEvents()[1].flags, kEventFlagMaskCommand);
  EXPECT_FALSE(world.keyEvents()[1].keyDown);
  EXPECT_TRUE(world.keyEvents()[1].delivered);
  EXPECT_FALSE(world.keyEvents()[2].delivered);
  EXPECT_EQ(world.eventSourceStates(), (std::vector<int>{0}));
}

TEST_F(DesktopTest, OnlyExactCommandSSequencesCountAsSaves) {
  const int live = world.startApplication("com.ableton.live", "Live");
  postSave(live);
  postSave(live, kEventFlagMaskCommand | 0x20000);  // extra modifier: not a save
  {
    // Interrupted by a repeated Command down: the count restarts from there.
    auto source = ports().keyboardEvents.createEventSource(0);
    post(*source, kCommand, true, live);
    post(*source, kS, true, live);
    post(*source, kCommand, true, live);
  }
  postSave(live);
  postSave(live + 1);
  EXPECT_EQ(completedSaveSequences(world.keyEvents(), live), 2);
  EXPECT_EQ(completedSaveSequences(world.keyEvents(), live + 1), 1);
  EXPECT_EQ(completedSaveSequences(world.keyEvents(), 999), 0);
}

// What the key code types follows the layout, and a save counts only when
// it types Command-S with no other modifier held by the user.
TEST_F(DesktopTest, LayoutsAndHeldModifiersDecideWhatAKeyTypes) {
  const int live = world.startApplication("com.ableton.live", "Live");
  const struct {
    World::KeyboardLayout layout;
    const char* keyOne;
    std::uint16_t sKey;
  } layouts[] = {{World::KeyboardLayout::us, "s", 1},
                 {World::KeyboardLayout::dvorak, "o", 41},
                 {World::KeyboardLayout::colemak, "r", 2}};
  for (const auto& layout : layouts) {
    world.setKeyboardLayout(layout.layout);
    EXPECT_EQ(world.typedCharacter(kS), layout.keyOne);
    EXPECT_EQ(ports().keyboardEvents.virtualKeyTypingWithCommand(U's'), layout.sKey);
  }
  // Key code 1 on Colemak types Command-R: no save.
  postSave(live);
  EXPECT_EQ(completedSaveSequences(world.keyEvents(), live), 0);
  world.setKeyboardLayout(World::KeyboardLayout::us);
  world.userHolds(World::Held::shift);
  postSave(live);
  EXPECT_EQ(completedSaveSequences(world.keyEvents(), live), 0);
  world.userReleasesAll();
  postSave(live);
  EXPECT_EQ(completedSaveSequences(world.keyEvents(), live), 1);
}

// The user does not wait for Quillmark: keys typed while its main thread
// sleeps land in whatever is in front at that moment.
TEST_F(DesktopTest, TheUserTypesIntoTheFrontmostApplicationAlsoDuringASleep) {
  const int live = world.startApplication("com.ableton.live", "Live");
  const int editor = world.startApplication("com.example.editor", "Editor");
  world.setFrontmost(editor);
  EXPECT_EQ(ports().userActivity.secondsSinceLastUserInput(),
            std::numeric_limits<double>::infinity());
  world.userTypesFor(1.0);  // keys at 0, 0.2, ..., 1.0
  process.run([&] {
    ports().runLoop.sleepMicroseconds(100000);
    world.activateApplication(live, 0);
    ports().runLoop.sleepMicroseconds(500000);
  });
  world.advanceBy(2);  // the clock at 2.6 s
  EXPECT_EQ(world.userKeyPresses().size(), 6u);
  EXPECT_EQ(world.userKeysReceivedBy("com.example.editor"), 1u);
  EXPECT_EQ(world.userKeysReceivedBy("com.ableton.live"), 5u);
  EXPECT_NEAR(ports().userActivity.secondsSinceLastUserInput(), 1.6, 1e-6);

  // Holding is a press; releasing is not.
  world.userHolds(World::Held::mouse);
  EXPECT_TRUE(ports().userActivity.isUserInputHeld());
  world.advanceBy(3);
  world.userReleases(World::Held::mouse);
  EXPECT_FALSE(ports().userActivity.isUserInputHeld());
  EXPECT_NEAR(ports().userActivity.secondsSinceLastUserInput(), 3.0, 1e-6);
}

TEST_F(DesktopTest, AHidingApplicationPassesTheFocusBack) {
  const int live = world.startApplication("com.ableton.live", "Live");
  const int editor = world.startApplication("com.example.editor", "Editor");
  world.setFrontmost(editor);
  world.setFrontmost(live);
  auto found = ports().workspace.runningApplicationsWithBundleIdentifier("com.ableton.live");
  ASSERT_TRUE(found.front()->hide());
  EXPECT_TRUE(found.front()->isHidden());
  EXPECT_EQ(ports().workspace.frontmostProcessIdentifierNow(), editor);
  // Chosen by the user, it shows again.
  world.setFrontmost(live);
  EXPECT_FALSE(found.front()->isHidden());
}

TEST_F(DesktopTest, KeyEventFaultsHitOnlyTheNextSave) {
  const int live = world.startApplication("com.ableton.live", "Live");
  KeyboardEvents& keyboard = ports().keyboardEvents;
  world.failNextEventSource();
  world.failKeyEventOfNextSave(3);
  EXPECT_EQ(keyboard.createEventSource(0), nullptr);

  auto source = keyboard.createEventSource(0);
  ASSERT_TRUE(source);
  EXPECT_TRUE(post(*source, kCommand, true, live));
  EXPECT_TRUE(post(*source, kS, true, live));
  EXPECT_FALSE(post(*source, kS, false, live));
  EXPECT_TRUE(post(*source, kCommand, false, live));

  postSave(live);
  EXPECT_EQ(completedSaveSequences(world.keyEvents(), live), 1);
  EXPECT_EQ(world.eventSourceStates().size(), 3u);
  EXPECT_THROW(world.failKeyEventOfNextSave(0), std::invalid_argument);
}

TEST_F(DesktopTest, TrustIsAskedAfreshAndThePromptNeverGrantsIt) {
  Accessibility& accessibility = ports().accessibility;
  EXPECT_FALSE(accessibility.isProcessTrustedWithOptions(true));
  EXPECT_FALSE(accessibility.isProcessTrustedWithOptions(false));
  world.setTrusted(true);
  EXPECT_TRUE(accessibility.isProcessTrustedWithOptions(false));
  EXPECT_TRUE(accessibility.isProcessTrustedWithOptions(true));  // no prompt when trusted
  world.setTrusted(false);
  EXPECT_FALSE(accessibility.isProcessTrustedWithOptions(false));
  EXPECT_EQ(world.trustCheckCount(), 5u);
  EXPECT_EQ(world.promptRequestCount(), 2);
  EXPECT_EQ(world.promptShownCount(), 1);
}

TEST_F(DesktopTest, OnlyTextsThatParseAsURLsAreOpened) {
  Workspace& workspace = ports().workspace;
  EXPECT_TRUE(workspace.openURL("https://example.com/issues/new"));
  EXPECT_TRUE(workspace.openURL(
      "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility"));
  for (const char* bad :
       {"", "example.com", "1http://x", "-x:y", "https://a b", "http://a\tb", ":nothing"}) {
    EXPECT_FALSE(workspace.openURL(bad)) << bad;
  }
  ASSERT_EQ(world.openedURLs().size(), 2u);
  EXPECT_EQ(world.openedURLs()[0].url, "https://example.com/issues/new");
}

TEST_F(DesktopTest, LaunchctlRunsFailAsScripted) {
  System& system = ports().system;
  const auto run = [&](std::vector<std::string> arguments) {
    return system.runTask("/bin/launchctl", arguments, 10);
  };
  world.failNextBootstraps(1);
  EXPECT_EQ(run({"bootout", "gui/501/x"}).status, 0);
  const System::TaskResult failed = run({"bootstrap", "gui/501", "p"});
  EXPECT_EQ(failed.status, 5);
  EXPECT_EQ(failed.errorOutput, "Bootstrap failed: 5: Input/output error\n");
  EXPECT_EQ(run({"bootstrap", "gui/501", "p"}).status, 0);
  world.setAgentDisabled(true);
  EXPECT_EQ(run({"bootstrap", "gui/501", "p"}).errorOutput,
            "Bootstrap failed: 119: Service is disabled\n");
  EXPECT_THROW(system.runTask("/usr/bin/launchctl", {}, 10), std::runtime_error);
  world.setLaunchctlPresent(false);
  EXPECT_THROW(run({"bootout"}), std::runtime_error);
  // A hung launchctl takes the caller's whole limit.
  world.setLaunchctlPresent(true);
  world.setLaunchctlHangs(true);
  const Date before = world.now();
  EXPECT_TRUE(run({"bootout"}).timedOut);
  EXPECT_EQ(world.now() - before, 10);

  const auto& runs = world.taskRuns();
  ASSERT_EQ(runs.size(), 7u);
  EXPECT_EQ(runs[1].arguments, (std::vector<std::string>{"bootstrap", "gui/501", "p"}));
  EXPECT_EQ(runs[1].status, 5);
  EXPECT_EQ(runs[2].status, 0);
  EXPECT_EQ(runs[3].status, 119);
  EXPECT_FALSE(runs[4].status.has_value());
  EXPECT_FALSE(runs[5].status.has_value());
  EXPECT_TRUE(runs[6].timedOut);
}

TEST_F(DesktopTest, AccountFactsAndTheirFaults) {
  System& system = ports().system;
  EXPECT_EQ(system.homeDirectory(), "/Users/tester");
  EXPECT_EQ(system.userLibraryDirectory(), "/Users/tester/Library");
  EXPECT_EQ(system.userId(), 501u);
  EXPECT_EQ(system.mainExecutablePath(), Process::kDefaultExecutablePath);
  world.setLibraryAvailable(false);
  EXPECT_EQ(system.userLibraryDirectory(), std::nullopt);
  process.setMainExecutablePath("/tmp/Q.app/Contents/MacOS/Quillmark");
  EXPECT_EQ(system.mainExecutablePath(), "/tmp/Q.app/Contents/MacOS/Quillmark");

  // Volumes hold their mount point and what lies below it.
  using Kind = System::VolumeKind;
  EXPECT_EQ(system.volumeKind("/Volumes/Quillmark/Quillmark.app"), Kind::fixed);
  world.setVolume("/Volumes/Quillmark", Kind::readOnly);
  world.setVolume("/Volumes/Share", Kind::network);
  EXPECT_EQ(system.volumeKind("/Volumes/Quillmark"), Kind::readOnly);
  EXPECT_EQ(system.volumeKind("/Volumes/Quillmark/Quillmark.app/Contents/MacOS/Q"), Kind::readOnly);
  EXPECT_EQ(system.volumeKind("/Volumes/Share/Q.app"), Kind::network);
  EXPECT_EQ(system.volumeKind("/Volumes/Quillmark 1/Quillmark.app"), Kind::fixed);
  EXPECT_EQ(system.volumeKind("/Volumes"), Kind::fixed);
  world.setVolume("/Volumes/Quillmark", Kind::fixed);
  EXPECT_EQ(system.volumeKind("/Volumes/Quillmark/Quillmark.app"), Kind::fixed);

  EXPECT_EQ(system.shortTimeString(t0), "09:00");
  EXPECT_EQ(system.shortTimeString(t0 + 5 * 3600 + 5 * 60 + 59.9), "14:05");
}

TEST_F(DesktopTest, ObserverHearsEachEffectAndEachDispatch) {
  std::vector<Event> events;
  world.setObserver([&](const Event& event) { events.push_back(event); });
  const int live = world.startApplication("com.ableton.live", "Live");
  TimerRef timer = ports().runLoop.scheduleRepeatingTimer(1.0, [] {});
  world.at(t0 + 1.5, [&] {
    ports().workspace.runningApplicationsWithBundleIdentifier("com.ableton.live")[0]->unhide();
    ports().workspace.openURL("https://example.com");
  });
  world.advanceBy(2);
  process.run([&] { ports().system.terminate(); });

  std::vector<Event::Kind> kinds;
  for (const Event& event : events) {
    kinds.push_back(event.kind);
  }
  using K = Event::Kind;
  EXPECT_EQ(kinds, (std::vector<K>{K::afterDispatch, K::unhiding, K::urlOpened, K::afterDispatch,
                                   K::afterDispatch, K::terminated, K::afterDispatch}));
  EXPECT_EQ(events[0].time, t0 + 1);
  EXPECT_EQ(events[0].pid, process.pid());
  EXPECT_EQ(events[1].pid, live);
  EXPECT_EQ(events[3].pid, 0);  // the scripted action belongs to the world
  EXPECT_EQ(events[5].index, 0u);
}

}  // namespace
}  // namespace qm::sim
