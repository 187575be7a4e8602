// The AppKit side of the ports against the real frameworks: what the core
// relies on of NSUserDefaults, NSTimer and the run loop's modes,
// NSPropertyListSerialization, NSDateFormatter, NSImage, CGEvent, statfs,
// NSURL's volume keys, posix_spawn, the keyboard layouts, the Accessibility
// server and the event-source state. Built and run on macOS only; elsewhere
// the type-check parses it. Nothing here touches the application's own
// defaults domain. Only the focus check activates an application (Finder,
// then the one that was in front), and only the user-activity check posts
// keys, to this test process. Only the screen-lock check posts the
// distributed notifications of the lock, which every program of the session
// hears: locked, then at once unlocked. The window checks read the windows of this
// program started again as a window host, as Quillmark reads Live's, and
// press the host's Save command as Quillmark presses Live's.

#import <AppKit/AppKit.h>
#import <Carbon/Carbon.h>
#import <CoreGraphics/CoreGraphics.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "app_delegate.h"
#include "appkit_objects.h"
#include "icon_drawing.h"
#include "launch_agent.h"
#include "macos_platform.h"

extern char** environ;

// The window host's Save commands (see serveWindows below): each says on the
// host's standard output that it was chosen.
@interface QMHostCommands : NSObject
- (void)save:(id)sender;
- (void)saveAs:(id)sender;
@end

@implementation QMHostCommands
- (void)save:(id)sender {
  (void)sender;
  std::printf("host: saved\n");
  std::fflush(stdout);
}
- (void)saveAs:(id)sender {
  (void)sender;
  std::printf("host: saved as\n");
  std::fflush(stdout);
}
@end

namespace qm::macos {
namespace {

// Runs the current run loop in `mode` for about `seconds`.
void spin(NSString* mode, double seconds) {
  NSDate* until = [NSDate dateWithTimeIntervalSinceNow:seconds];
  while ([until timeIntervalSinceNow] > 0) {
    [[NSRunLoop currentRunLoop] runMode:mode beforeDate:until];
  }
}

class AppKitPortsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // AppKit adds its modal and tracking modes to the common modes.
    [NSApplication sharedApplication];
    suiteName = "local.vellum.Quillmark.tests." + std::to_string(getpid());
    [[NSUserDefaults standardUserDefaults] removePersistentDomainForName:toNSString(suiteName)];
  }
  void TearDown() override {
    [[NSUserDefaults standardUserDefaults] removePersistentDomainForName:toNSString(suiteName)];
  }

  NSUserDefaults* suite() const {
    return [[NSUserDefaults alloc] initWithSuiteName:toNSString(suiteName)];
  }

  // Every port over AppKit, with the preferences in the private suite.
  struct Ports {
    std::unique_ptr<RunLoop> runLoop = makeRunLoop();
    std::unique_ptr<Workspace> workspace = makeWorkspace();
    std::unique_ptr<Accessibility> accessibility = makeAccessibility();
    std::unique_ptr<KeyboardEvents> keyboardEvents = makeKeyboardEvents();
    std::unique_ptr<UserActivity> userActivity = makeUserActivity();
    std::unique_ptr<ApplicationWindows> applicationWindows = makeApplicationWindows();
    std::unique_ptr<ApplicationMenus> applicationMenus = makeApplicationMenus();
    std::unique_ptr<Notifications> notifications = makeNotifications({});
    std::unique_ptr<Preferences> preferences;
    std::unique_ptr<StatusBar> statusBar = makeStatusBar();
    std::unique_ptr<Alerts> alerts = makeAlerts();
    std::unique_ptr<Graphics> graphics = makeGraphics();
    std::unique_ptr<System> system = makeSystem();
    Desktop desktop;
    Platform platform() {
      return Platform{*runLoop,          *workspace,     *accessibility,
                      *keyboardEvents,   *userActivity,  *applicationWindows,
                      *applicationMenus, *notifications, *preferences,
                      *statusBar,        *alerts,        *graphics,
                      *system,           desktop};
    }
  };

  std::string suiteName;
};

TEST_F(AppKitPortsTest, PreferencesReadAndWriteTheirSuite) {
  const std::unique_ptr<Preferences> preferences = makePreferences(suiteName);
  const std::string key = "autosave.interval.seconds";
  EXPECT_EQ(preferences->integerForKey(key), 0);
  EXPECT_FALSE(preferences->boolForKey("autosave.enabled"));
  EXPECT_FALSE(preferences->hasObjectForKey(key));

  preferences->setInteger(1800, key);
  preferences->setBool(false, "autosave.enabled");
  EXPECT_EQ(preferences->integerForKey(key), 1800);
  EXPECT_TRUE(preferences->hasObjectForKey("autosave.enabled"));
  EXPECT_FALSE(preferences->boolForKey("autosave.enabled"));
  // Another reader of the suite sees the numbers as numbers.
  EXPECT_EQ([suite() integerForKey:toNSString(key)], 1800);
  EXPECT_TRUE([[suite() objectForKey:@"autosave.enabled"] isKindOfClass:[NSNumber class]]);

  // Hand-edited values: text that is not a number reads as 0.
  [suite() setObject:@"ten minutes" forKey:toNSString(key)];
  EXPECT_EQ(preferences->integerForKey(key), 0);
  EXPECT_TRUE(preferences->hasObjectForKey(key));
  preferences->removeObjectForKey(key);
  EXPECT_FALSE(preferences->hasObjectForKey(key));

  // The settings load writes the default back through the port.
  Ports ports;
  ports.preferences = makePreferences(suiteName);
  Platform platform = ports.platform();
  const AppDelegate app(platform);
  EXPECT_EQ(app.intervalSeconds(), 600);
  // autosave.enabled is still stored as NO.
  EXPECT_FALSE(app.autosaveEnabled());
  EXPECT_EQ([suite() integerForKey:toNSString(key)], 600);
}

// A loaded CI machine runs timers late by tens of milliseconds at times, so
// a fire is placed on the grid by the half period it falls in, never to the
// millisecond.
TEST_F(AppKitPortsTest, RepeatingTimerKeepsItsGridAndFiresOnceWhenLate) {
  constexpr double kPeriod = 0.25;
  const std::unique_ptr<RunLoop> runLoop = makeRunLoop();
  std::vector<Date> fired;
  const Date start = runLoop->now();
  TimerRef timer =
      runLoop->scheduleRepeatingTimer(kPeriod, [&] { fired.push_back(runLoop->now()); });
  // Something else holds the main thread past several due dates, as a save's
  // sleeps do, and lets go in the middle of a period: a timer that took a
  // new grid from its late fire would from then on fire half a period off.
  Date released = 0;
  runLoop->performAfterDelay(0.05, [&] {
    const double middle = (std::floor((runLoop->now() - start) / kPeriod) + 3.5) * kPeriod;
    usleep(static_cast<useconds_t>(std::max(0.0, start + middle - runLoop->now()) * 1e6));
    released = runLoop->now();
  });
  while ((released == 0 || runLoop->now() < released + 3.25 * kPeriod) &&
         runLoop->now() < start + 10) {
    spin(NSDefaultRunLoopMode, 0.05);
  }
  const Date end = runLoop->now();
  timer->invalidate();
  EXPECT_FALSE(timer->isValid());
  ASSERT_GT(released, 0);

  std::vector<double> after;
  for (const Date fire : fired) {
    if (fire >= released) {
      after.push_back(fire - start);
    }
  }
  ASSERT_GE(after.size(), 2u);
  // One fire for all the due dates it missed, then at most one per period.
  const auto slot = [&](double seconds) { return static_cast<std::size_t>(seconds / kPeriod); };
  EXPECT_LE(after.size(), slot(end - start) - slot(released - start) + 1);
  // The fires after the late one keep to the original grid, start + k *
  // period: the most punctual of them lies early in a period, where a new
  // grid from the late fire would put every one of them half a period off.
  // Only the most punctual: a loaded machine may run any one of them late.
  double earliestInPeriod = kPeriod;
  for (std::size_t i = 1; i < after.size(); ++i) {
    earliestInPeriod = std::min(earliestInPeriod, std::fmod(after[i], kPeriod));
  }
  EXPECT_LT(earliestInPeriod, kPeriod / 2) << "fires after the late one at " << after[1] << "...";

  const std::size_t count = fired.size();
  spin(NSDefaultRunLoopMode, 2 * kPeriod);
  EXPECT_EQ(fired.size(), count);
}

TEST_F(AppKitPortsTest, ModalSessionRunsTimersAndHoldsDelayedCalls) {
  const std::unique_ptr<RunLoop> runLoop = makeRunLoop();
  int ticks = 0;
  int performs = 0;
  TimerRef timer = runLoop->scheduleRepeatingTimer(0.05, [&] { ++ticks; });
  runLoop->performAfterDelay(0.05, [&] { ++performs; });

  // What a modal alert runs: the timer fires, the delayed call waits.
  spin(NSModalPanelRunLoopMode, 0.3);
  EXPECT_GE(ticks, 3);
  EXPECT_EQ(performs, 0);

  spin(NSDefaultRunLoopMode, 0.1);
  EXPECT_EQ(performs, 1);
  timer->invalidate();
}

TEST_F(AppKitPortsTest, PropertyListSerializationReadsTheAgentBack) {
  const std::string home = "/Users/d&mo <x> \"q\" it's";
  const std::string watcher = "/Apps/A&B/Quillmark.app/Contents/MacOS/QuillmarkWatcher";
  const std::string text = launchAgentPropertyList(watcher, home);
  NSData* data = [NSData dataWithBytes:text.data() length:text.size()];

  NSPropertyListFormat format = NSPropertyListBinaryFormat_v1_0;
  NSError* error = nil;
  id plist = [NSPropertyListSerialization propertyListWithData:data
                                                       options:NSPropertyListImmutable
                                                        format:&format
                                                         error:&error];
  ASSERT_TRUE(plist != nil) << toStdString([error description]);
  EXPECT_EQ(format, NSPropertyListXMLFormat_v1_0);
  ASSERT_TRUE([plist isKindOfClass:[NSDictionary class]]);
  NSDictionary* agent = plist;
  NSString* log = toNSString(home + "/Library/Logs/QuillmarkWatcher.log");
  NSDictionary* expected = @{
    @"Label" : @"local.vellum.quillmark-watcher",
    @"ProgramArguments" : @[ toNSString(watcher) ],
    @"RunAtLoad" : @(true),
    @"KeepAlive" : @(true),
    @"StandardOutPath" : log,
    @"StandardErrorPath" : log,
  };
  EXPECT_TRUE([agent isEqualToDictionary:expected]) << toStdString([agent description]);
}

TEST_F(AppKitPortsTest, ShortTimeIsTheTimeOfDayAlone) {
  const std::unique_ptr<System> system = makeSystem();
  // 2025-03-02 09:05:03 in the local time zone.
  NSDateComponents* parts = [[NSDateComponents alloc] init];
  [parts setYear:2025];
  [parts setMonth:3];
  [parts setDay:2];
  [parts setHour:9];
  [parts setMinute:5];
  [parts setSecond:3];
  NSDate* date = [[NSCalendar currentCalendar] dateFromComponents:parts];

  const std::string text = system->shortTimeString([date timeIntervalSince1970]);
  EXPECT_EQ(text, toStdString([NSDateFormatter localizedStringFromDate:date
                                                             dateStyle:NSDateFormatterNoStyle
                                                             timeStyle:NSDateFormatterShortStyle]));
  EXPECT_EQ(text.find("2025"), std::string::npos);
  EXPECT_NE(text.find("05"), std::string::npos);
}

TEST_F(AppKitPortsTest, MenuBarIconIsATemplateOfTwentyTwoPoints) {
  Ports ports;
  ports.preferences = makePreferences(suiteName);
  Platform platform = ports.platform();
  AppDelegate app(platform);
  const ImageRef image = app.menuBarIconImage();
  ASSERT_TRUE(image);
  EXPECT_EQ(image->size().width, 22.0);
  EXPECT_EQ(image->size().height, 22.0);
  EXPECT_TRUE(image->isTemplate());

  NSImage* nsImage = static_cast<MacImage&>(*image).nsImage();
  EXPECT_TRUE([nsImage isTemplate]);
  NSBitmapImageRep* bitmap = [[NSBitmapImageRep alloc] initWithData:[nsImage TIFFRepresentation]];
  ASSERT_TRUE(bitmap != nil);
  int inked = 0;
  for (NSInteger y = 0; y < [bitmap pixelsHigh]; ++y) {
    for (NSInteger x = 0; x < [bitmap pixelsWide]; ++x) {
      inked += [[bitmap colorAtX:x y:y] alphaComponent] > 0.5 ? 1 : 0;
    }
  }
  // The waveform and the letters, on a clear ground.
  EXPECT_GT(inked, 20);
  EXPECT_EQ([[bitmap colorAtX:0 y:0] alphaComponent], 0.0);
}

TEST_F(AppKitPortsTest, ApplicationIconIsTheWaveformOnATileOfQuillmarksColour) {
  const std::unique_ptr<Graphics> graphics = makeGraphics();
  const ImageRef image = applicationIconImage(*graphics, 64, IconMargin::narrow);
  ASSERT_TRUE(image);
  NSImage* nsImage = static_cast<MacImage&>(*image).nsImage();
  EXPECT_FALSE([nsImage isTemplate]);
  NSBitmapImageRep* bitmap = [[NSBitmapImageRep alloc] initWithData:[nsImage TIFFRepresentation]];
  ASSERT_TRUE(bitmap != nil);
  // One pixel or two per point, as the screen's backing scale makes it.
  const auto at = [&](double x, double yFromTop) {
    return [[bitmap colorAtX:static_cast<NSInteger>(x * [bitmap pixelsWide] / 64)
                           y:static_cast<NSInteger>(yFromTop * [bitmap pixelsHigh] / 64)]
        colorUsingColorSpace:[NSColorSpace sRGBColorSpace]];
  };
  EXPECT_EQ([at(0, 0) alphaComponent], 0.0);
  // Left of the waveform, halfway down: the tile.
  NSColor* tile = at(6, 32);
  EXPECT_NEAR([tile redComponent], kQuillmarkColor.red / 255.0, 0.03);
  EXPECT_NEAR([tile greenComponent], kQuillmarkColor.green / 255.0, 0.03);
  EXPECT_NEAR([tile blueComponent], kQuillmarkColor.blue / 255.0, 0.03);
  EXPECT_NEAR([tile alphaComponent], 1.0, 0.01);
  int white = 0;
  for (int y = 8; y < 56; ++y) {
    for (int x = 8; x < 56; ++x) {
      white += [at(x, y) greenComponent] > 0.9 ? 1 : 0;
    }
  }
  // The waveform and the letters.
  EXPECT_GT(white, 200);
}

TEST_F(AppKitPortsTest, SaveKeyEventsCarryTheirKeyCodesAndCommandOnly) {
  const std::unique_ptr<KeyboardEvents> keyboardEvents = makeKeyboardEvents();
  const std::unique_ptr<EventSource> source =
      keyboardEvents->createEventSource(kEventSourceStateCombinedSessionState);
  ASSERT_TRUE(source);
  const struct {
    std::uint16_t key;
    bool down;
  } strokes[] = {{55, true}, {1, true}, {1, false}, {55, false}};
  for (const auto& stroke : strokes) {
    SCOPED_TRACE(std::to_string(stroke.key) + (stroke.down ? " down" : " up"));
    const std::unique_ptr<KeyboardEvent> event =
        source->createKeyboardEvent(stroke.key, stroke.down);
    ASSERT_TRUE(event);
    event->setFlags(kEventFlagMaskCommand);
    // A plain C pointer: CoreGraphics types are not Objective-C objects.
    CGEventRef made = static_cast<CGEventRef>(const_cast<void*>(cgEventOf(*event)));
    const CGEventType type = CGEventGetType(made);
    if (stroke.key == 55) {
      // Apple documents a modifier key's press and release as one
      // flags-changed event each; a keyboard event made for one may also
      // carry the key's own type.
      EXPECT_TRUE(type == kCGEventFlagsChanged ||
                  type == (stroke.down ? kCGEventKeyDown : kCGEventKeyUp))
          << "type " << type;
    } else {
      EXPECT_EQ(type, stroke.down ? kCGEventKeyDown : kCGEventKeyUp);
    }
    EXPECT_EQ(CGEventGetIntegerValueField(made, kCGKeyboardEventKeycode), stroke.key);
    EXPECT_EQ(CGEventGetFlags(made), kEventFlagMaskCommand);
  }
}

// The save key is the layout's own key for Command-S, asked of installed
// layouts without selecting them.
TEST_F(AppKitPortsTest, SaveKeyIsTheLayoutsCommandS) {
  const struct {
    const char* layout;
    std::uint16_t key;
  } layouts[] = {
      {"com.apple.keylayout.US", 1},
      // Dvorak's S lies on QWERTY's semicolon key.
      {"com.apple.keylayout.Dvorak", 41},
      // Dvorak for typing, QWERTY while Command is held.
      {"com.apple.keylayout.DVORAK-QWERTYCMD", 1},
  };
  for (const auto& expected : layouts) {
    SCOPED_TRACE(expected.layout);
    NSDictionary* filter =
        @{(__bridge NSString*)kTISPropertyInputSourceID : toNSString(expected.layout)};
    NSArray* sources =
        CFBridgingRelease(TISCreateInputSourceList((__bridge CFDictionaryRef)filter, true));
    ASSERT_EQ([sources count], 1u);
    EXPECT_EQ(
        virtualKeyTypingWithCommandInLayout((__bridge const void*)[sources firstObject], U's'),
        expected.key);
  }
}

TEST_F(AppKitPortsTest, SaveKeyOfTheCurrentLayoutTypesSWithCommand) {
  const std::optional<std::uint16_t> key = makeKeyboardEvents()->virtualKeyTypingWithCommand(U's');
  if (!key) {
    GTEST_SKIP() << "no key of the current keyboard layout types s with Command";
  }
  // The layout data lives as long as its input source.
  id layout NS_VALID_UNTIL_END_OF_SCOPE =
      CFBridgingRelease(TISCopyCurrentKeyboardLayoutInputSource());
  CFDataRef data = static_cast<CFDataRef>(TISGetInputSourceProperty(
      (__bridge TISInputSourceRef)layout, kTISPropertyUnicodeKeyLayoutData));
  ASSERT_TRUE(data != nullptr);
  UInt32 deadKeyState = 0;
  UniChar text[4] = {};
  UniCharCount length = 0;
  ASSERT_EQ(
      UCKeyTranslate(reinterpret_cast<const UCKeyboardLayout*>(CFDataGetBytePtr(data)), *key,
                     kUCKeyActionDown, (cmdKey >> 8) & 0xFF, LMGetKbdType(),
                     kUCKeyTranslateNoDeadKeysMask, &deadKeyState, std::size(text), &length, text),
      noErr);
  ASSERT_EQ(length, 1u);
  EXPECT_EQ(text[0], u's');
}

// A save checks that Live came forward before the run loop turns again.
TEST_F(AppKitPortsTest, FrontmostNowSeesAnActivationWithinTheTurn) {
  if (!makeAccessibility()->isProcessTrustedWithOptions(false)) {
    GTEST_SKIP() << "not trusted for Accessibility, so the focused application cannot be read";
  }
  const std::unique_ptr<Workspace> workspace = makeWorkspace();
  const std::unique_ptr<System> system = makeSystem();
  const auto finders = workspace->runningApplicationsWithBundleIdentifier("com.apple.finder");
  ASSERT_FALSE(finders.empty());
  const int finder = finders.front()->processIdentifier();
  NSRunningApplication* previous = [[NSWorkspace sharedWorkspace] frontmostApplication];
  if ([previous processIdentifier] == finder) {
    GTEST_SKIP() << "Finder is in front already; run the tests from another application";
  }

  // open(1) brings Finder forward while this thread waits and sleeps: the
  // run loop does not turn.
  ASSERT_EQ(system->runTask("/usr/bin/open", {"-a", "Finder"}, 10).status, 0);
  std::optional<int> now;
  for (int wait = 0; wait < 40 && now != finder; ++wait) {
    usleep(50000);
    now = workspace->frontmostProcessIdentifierNow();
  }
  EXPECT_EQ(now, finder);

  // Once it turns, NSWorkspace agrees.
  RunningApplicationRef front;
  for (int turn = 0; turn < 20 && !(front && front->processIdentifier() == finder); ++turn) {
    spin(NSDefaultRunLoopMode, 0.1);
    front = workspace->frontmostApplication();
  }
  ASSERT_TRUE(front);
  EXPECT_EQ(front->processIdentifier(), finder);
  EXPECT_EQ(workspace->frontmostProcessIdentifierNow(), finder);

  if ([previous bundleURL] != nil) {
    system->runTask("/usr/bin/open", {toStdString([[previous bundleURL] path])}, 10);
  }
}

// Takes this process's own events from its queue for up to `seconds`,
// until one is a key event of `key` of the given type.
bool receivedKeyEvent(std::uint16_t key, NSEventType type, double seconds) {
  NSDate* until = [NSDate dateWithTimeIntervalSinceNow:seconds];
  while ([until timeIntervalSinceNow] > 0) {
    NSEvent* event = [NSApp nextEventMatchingMask:NSEventMaskAny
                                        untilDate:until
                                           inMode:NSDefaultRunLoopMode
                                          dequeue:YES];
    if (event != nil && [event type] == type && [event keyCode] == key) {
      return true;
    }
  }
  return false;
}

// Only the devices count: keys posted to a process are neither held nor
// a press. An untrusted process's posted keys are dropped, which would prove
// nothing, so the check runs only once the keys are seen to arrive: on a Mac
// whose Terminal (or whichever runs the tests) has the Accessibility
// permission.
TEST_F(AppKitPortsTest, UserActivityReadsTheDevicesAlone) {
  const std::unique_ptr<UserActivity> activity = makeUserActivity();
  const double idle = activity->secondsSinceLastUserInput();
  EXPECT_TRUE(std::isfinite(idle));
  EXPECT_GE(idle, 0.0);
  if (!makeAccessibility()->isProcessTrustedWithOptions(false)) {
    GTEST_SKIP() << "not trusted for Accessibility, so keys posted to this process are dropped";
  }
  if (activity->isUserInputHeld()) {
    GTEST_SKIP() << "a key or button is held on the devices; run the tests hands off";
  }

  const std::unique_ptr<EventSource> source =
      makeKeyboardEvents()->createEventSource(kEventSourceStateCombinedSessionState);
  ASSERT_TRUE(source);
  const auto post = [&](bool down) {
    std::unique_ptr<KeyboardEvent> events[] = {source->createKeyboardEvent(55, down),
                                               source->createKeyboardEvent(1, down)};
    ASSERT_TRUE(events[0] && events[1]);
    // As a save sends them.
    events[0]->setFlags(kEventFlagMaskCommand);
    events[1]->setFlags(kEventFlagMaskCommand);
    if (!down) {
      std::swap(events[0], events[1]);
    }
    source->postEventsToPid(events, getpid());
  };
  // Command and S are down for this process, as a save holds them for Live.
  post(true);
  ASSERT_TRUE(receivedKeyEvent(1, NSEventTypeKeyDown, 2.0)) << "the posted S never arrived";
  EXPECT_FALSE(activity->isUserInputHeld());
  EXPECT_GE(activity->secondsSinceLastUserInput(), idle);
  post(false);
  EXPECT_TRUE(receivedKeyEvent(1, NSEventTypeKeyUp, 2.0)) << "the posted S was never let up";
  EXPECT_FALSE(activity->isUserInputHeld());
}

TEST_F(AppKitPortsTest, SystemFactsAndVolumes) {
  const std::unique_ptr<System> system = makeSystem();
  EXPECT_EQ(system->homeDirectory(), toStdString(NSHomeDirectory()));
  const std::optional<std::string> library = system->userLibraryDirectory();
  ASSERT_TRUE(library);
  EXPECT_EQ(*library, system->homeDirectory() + "/Library");
  EXPECT_EQ(system->userId(), getuid());
  EXPECT_EQ(system->processIdentifier(), getpid());

  // The system volume is a sealed, read-only snapshot; temporary files live
  // on the writable data volume of the internal disk. A path that is not
  // there cannot be examined.
  EXPECT_EQ(system->volumeKind("/System/Library"), System::VolumeKind::readOnly);
  const System::VolumeKind root = system->volumeKind("/");
  EXPECT_TRUE(root == System::VolumeKind::fixed || root == System::VolumeKind::readOnly);
  EXPECT_EQ(system->volumeKind(toStdString(NSTemporaryDirectory())), System::VolumeKind::fixed);
  EXPECT_EQ(system->volumeKind("/no/such/path"), System::VolumeKind::unknown);
}

// The tests run in the session at the screen, unlocked: a reading the wrong
// way round would hold every save back.
TEST_F(AppKitPortsTest, SessionReadsUnlockedWhileTheTestsRun) {
  const std::optional<bool> locked = makeSystem()->sessionIsLocked();
  if (!locked) {
    GTEST_SKIP() << "no window server session to ask";
  }
  EXPECT_FALSE(*locked);
}

TEST_F(AppKitPortsTest, TaskReportsStatusAndStandardError) {
  const std::unique_ptr<System> system = makeSystem();
  System::TaskResult result = system->runTask("/usr/bin/true", {}, 10);
  EXPECT_EQ(result.status, 0);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.errorOutput, "");

  result = system->runTask("/bin/sh", {"-c", "echo words >&2; exit 5"}, 10);
  EXPECT_EQ(result.status, 5);
  EXPECT_EQ(result.errorOutput, "words\n");

  // A death by signal reads as the shell has it.
  EXPECT_EQ(system->runTask("/bin/sh", {"-c", "kill -KILL $$"}, 10).status, 128 + SIGKILL);

  EXPECT_THROW(system->runTask("/no/such/launchctl", {"bootout"}, 10), std::runtime_error);

  // Waiting for a task runs nothing else: a call that comes due meanwhile
  // waits for the run loop.
  const std::unique_ptr<RunLoop> runLoop = makeRunLoop();
  int performs = 0;
  runLoop->performAfterDelay(0, [&] { ++performs; });
  EXPECT_EQ(system->runTask("/bin/sleep", {"0.2"}, 10).status, 0);
  EXPECT_EQ(performs, 0);
  spin(NSDefaultRunLoopMode, 0.05);
  EXPECT_EQ(performs, 1);
}

TEST_F(AppKitPortsTest, TaskGetsNoDescriptorOfThisProcess) {
  const std::unique_ptr<System> system = makeSystem();
  // Inheritable (no close-on-exec) and far above what the shell opens.
  const int inheritable = fcntl(STDERR_FILENO, F_DUPFD, 50);
  ASSERT_GE(inheritable, 50);
  const std::string probe = "test -e /dev/fd/" + std::to_string(inheritable);
  // The probe sees a descriptor this process lends on purpose...
  EXPECT_EQ(system->runTask("/bin/sh", {"-c", "test -e /dev/fd/2"}, 10).status, 0);
  // ...and none other.
  EXPECT_EQ(system->runTask("/bin/sh", {"-c", probe}, 10).status, 1);
  close(inheritable);
  // Standard input is the null device: a read ends at once.
  EXPECT_EQ(system->runTask("/bin/sh", {"-c", "read line"}, 10).status, 1);
}

TEST_F(AppKitPortsTest, TaskErrorOutputStopsAtTheLimitAndTheChildStillEnds) {
  const std::unique_ptr<System> system = makeSystem();
  // A megabyte, far more than a pipe holds.
  const System::TaskResult result =
      system->runTask("/bin/sh", {"-c", "head -c 1048576 /dev/zero | tr '\\0' x >&2; exit 3"}, 10);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.errorOutput, std::string(System::kTaskErrorOutputLimit, 'x'));
}

TEST_F(AppKitPortsTest, HungTaskIsEndedAtItsBound) {
  const std::unique_ptr<System> system = makeSystem();
  for (const char* command : {"exec /bin/sleep 30",
                              // Deaf to SIGTERM: SIGKILL follows.
                              "trap '' TERM; while :; do :; done"}) {
    SCOPED_TRACE(command);
    const auto start = std::chrono::steady_clock::now();
    const System::TaskResult result = system->runTask("/bin/sh", {"-c", command}, 0.5);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(result.timedOut);
    EXPECT_EQ(result.status, -1);
    EXPECT_GE(took.count(), 0.5);
    // The bound, the grace before SIGKILL and a loaded machine's delays.
    EXPECT_LT(took.count(), 5.0);
  }
}

// ---------------------------------------------------------------------------
// Another process's windows, read through Accessibility as Quillmark reads
// Live's. This program, started again with kWindowHostVariable set, runs only
// the WindowHost test below: it shows a titled window and a File menu with
// Save As (Shift-Command-S) above Save (Command-S), and does what each line
// of its standard input says, answering "host: done".
//   title TEXT | sheet | end-sheet | modal | end-modal | disable-save

constexpr const char* kWindowHostVariable = "QM_TEST_WINDOW_HOST";
constexpr const char* kWindowHostTest = "AppKitWindowHost.ServesWindows";

NSWindow* makeWindow(NSRect frame, NSString* title) {
  NSWindow* window =
      [[NSWindow alloc] initWithContentRect:frame
                                  styleMask:NSWindowStyleMaskTitled | NSWindowStyleMaskClosable
                                    backing:NSBackingStoreBuffered
                                      defer:NO];
  [window setReleasedWhenClosed:NO];
  [window setTitle:title];
  return window;
}

void serveWindows() {
  [NSApplication sharedApplication];
  [NSApp setActivationPolicy:NSApplicationActivationPolicyAccessory];
  [NSApp finishLaunching];
  NSWindow* window = makeWindow(NSMakeRect(160, 160, 480, 240), @"Window host");
  NSWindow* sheet = makeWindow(NSMakeRect(0, 0, 240, 120), @"");
  NSWindow* panel = makeWindow(NSMakeRect(220, 220, 240, 120), @"Modal panel");
  [window orderFrontRegardless];
  QMHostCommands* commands = [[QMHostCommands alloc] init];
  NSMenu* file = [[NSMenu alloc] initWithTitle:@"File"];
  [file setAutoenablesItems:NO];
  // An upper-case key equivalent adds Shift. The titles are swapped: the
  // Save command is told by its shortcut alone.
  NSMenuItem* saveAs = [[NSMenuItem alloc] initWithTitle:@"Save"
                                                  action:@selector(saveAs:)
                                           keyEquivalent:@"S"];
  NSMenuItem* save = [[NSMenuItem alloc] initWithTitle:@"Save As"
                                                action:@selector(save:)
                                         keyEquivalent:@"s"];
  for (NSMenuItem* item : {saveAs, save}) {
    [item setTarget:commands];
    [file addItem:item];
  }
  NSMenuItem* fileItem = [[NSMenuItem alloc] initWithTitle:@"File"
                                                    action:nullptr
                                             keyEquivalent:@""];
  [fileItem setSubmenu:file];
  NSMenu* bar = [[NSMenu alloc] initWithTitle:@""];
  [bar addItem:fileItem];
  [NSApp setMainMenu:bar];
  NSModalSession modal = nullptr;
  std::printf("host: ready\n");
  std::fflush(stdout);
  std::string input;
  for (;;) {
    if (modal != nullptr) {
      [NSApp runModalSession:modal];
    }
    spin(modal != nullptr ? NSModalPanelRunLoopMode : NSDefaultRunLoopMode, 0.02);
    pollfd in{STDIN_FILENO, POLLIN, 0};
    if (poll(&in, 1, 0) <= 0) {
      continue;
    }
    char buffer[512];
    const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
    if (got <= 0) {
      break;
    }
    input.append(buffer, static_cast<std::size_t>(got));
    for (std::size_t end; (end = input.find('\n')) != std::string::npos;) {
      const std::string line = input.substr(0, end);
      input.erase(0, end + 1);
      if (line.rfind("title ", 0) == 0) {
        [window setTitle:toNSString(line.substr(6))];
      } else if (line == "sheet") {
        [window beginSheet:sheet completionHandler:nil];
      } else if (line == "end-sheet") {
        [window endSheet:sheet];
      } else if (line == "modal" && modal == nullptr) {
        modal = [NSApp beginModalSessionForWindow:panel];
      } else if (line == "end-modal" && modal != nullptr) {
        [NSApp endModalSession:modal];
        modal = nullptr;
        [panel orderOut:nil];
      } else if (line == "disable-save") {
        [save setEnabled:NO];
      }
      std::printf("host: done\n");
      std::fflush(stdout);
    }
  }
  if (modal != nullptr) {
    [NSApp endModalSession:modal];
  }
}

TEST(AppKitWindowHost, ServesWindows) {
  if (std::getenv(kWindowHostVariable) == nullptr) {
    GTEST_SKIP() << "only the window host of the Accessibility tests runs this";
  }
  serveWindows();
}

// The test's side: the host process, ended (and reaped) when this goes.
class WindowHost {
 public:
  WindowHost() {
    // A host that died must fail a write, not end this process.
    signal(SIGPIPE, SIG_IGN);
    int toHost[2];
    int fromHost[2];
    if (pipe(toHost) != 0 || pipe(fromHost) != 0) {
      return;
    }
    posix_spawn_file_actions_t actions{};
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toHost[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromHost[1], STDOUT_FILENO);
    for (const int descriptor : {toHost[0], toHost[1], fromHost[0], fromHost[1]}) {
      posix_spawn_file_actions_addclose(&actions, descriptor);
    }
    const std::string program = toStdString([[NSBundle mainBundle] executablePath]);
    std::string filter = std::string("--gtest_filter=") + kWindowHostTest;
    std::string variable = std::string(kWindowHostVariable) + "=1";
    std::vector<char*> arguments = {const_cast<char*>(program.c_str()), filter.data(), nullptr};
    std::vector<char*> environment = {variable.data()};
    for (char** entry = environ; *entry != nullptr; ++entry) {
      environment.push_back(*entry);
    }
    environment.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, arguments.data(),
                    environment.data()) == 0) {
      pid_ = pid;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(toHost[0]);
    close(fromHost[1]);
    toHost_ = toHost[1];
    fromHost_ = fromHost[0];
    ready_ = pid_ > 0 && awaitLine("host: ready");
  }

  WindowHost(const WindowHost&) = delete;
  WindowHost& operator=(const WindowHost&) = delete;

  ~WindowHost() { end(); }

  // Ends the host: its input closes, and it is killed if it lingers.
  void end() {
    if (toHost_ >= 0) {
      close(toHost_);
      toHost_ = -1;
    }
    if (pid_ > 0) {
      int status = 0;
      for (int wait = 0; wait < 40 && waitpid(pid_, &status, WNOHANG) == 0; ++wait) {
        usleep(50000);
      }
      if (kill(pid_, 0) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
      }
      pid_ = -1;
    }
    if (fromHost_ >= 0) {
      close(fromHost_);
      fromHost_ = -1;
    }
  }

  bool ready() const { return ready_; }
  // Waits up to 10 s for the host to write `line`.
  bool said(const std::string& line) { return awaitLine(line); }
  int pid() const { return pid_; }

  bool command(const std::string& line) {
    const std::string text = line + "\n";
    return write(toHost_, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
           awaitLine("host: done");
  }

 private:
  // The host's other output (the test framework's) passes by.
  bool awaitLine(const std::string& expected) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      for (std::size_t end; (end = output_.find('\n')) != std::string::npos;) {
        const std::string line = output_.substr(0, end);
        output_.erase(0, end + 1);
        if (line == expected) {
          return true;
        }
      }
      pollfd out{fromHost_, POLLIN, 0};
      if (poll(&out, 1, 100) > 0) {
        char buffer[512];
        const ssize_t got = read(fromHost_, buffer, sizeof buffer);
        if (got <= 0) {
          return false;
        }
        output_.append(buffer, static_cast<std::size_t>(got));
      }
    }
    return false;
  }

  pid_t pid_ = -1;
  int toHost_ = -1;
  int fromHost_ = -1;
  bool ready_ = false;
  std::string output_;
};

// Asks `holds` every 50 ms for up to 3 s: the Accessibility server learns of
// a window's changes a moment after the window server does.
bool eventually(const std::function<bool()>& holds) {
  for (int look = 0; look < 60; ++look) {
    if (holds()) {
      return true;
    }
    usleep(50000);
  }
  return holds();
}

// Brackets and non-ASCII text, as in a set's name, arrive as UTF-8.
const std::string kHostTitle =
    "Beat [v2]* [Beats] \xE2\x80\x93 \xC3\xA9t\xC3\xA9 - Ableton Live 12 Suite";

TEST_F(AppKitPortsTest, WindowTitleAndModalStateOfAnotherProcess) {
  if (!makeAccessibility()->isProcessTrustedWithOptions(false)) {
    GTEST_SKIP() << "not trusted for Accessibility, so no other process's window can be read";
  }
  const std::unique_ptr<ApplicationWindows> windows = makeApplicationWindows();
  WindowHost host;
  ASSERT_TRUE(host.ready());
  const int pid = host.pid();
  ASSERT_TRUE(host.command("title " + kHostTitle));
  EXPECT_TRUE(eventually([&] { return windows->mainWindowTitle(pid) == kHostTitle; })) << [&] {
    const auto title = windows->mainWindowTitle(pid);
    return title.answered() ? title->value_or("(none)") : "(no answer)";
  }();
  EXPECT_EQ(windows->showsModalDialog(pid), false);

  // A sheet on the window: a dialog, and the window's title stays what it
  // was, as a Save sheet over a set leaves the set's title.
  ASSERT_TRUE(host.command("sheet"));
  EXPECT_TRUE(eventually([&] { return windows->showsModalDialog(pid) == true; }));
  EXPECT_EQ(windows->mainWindowTitle(pid), kHostTitle);
  ASSERT_TRUE(host.command("end-sheet"));
  EXPECT_TRUE(eventually([&] { return windows->showsModalDialog(pid) == false; }));

  // An application-modal panel, in front of the window whose title counts.
  ASSERT_TRUE(host.command("modal"));
  EXPECT_TRUE(eventually([&] { return windows->showsModalDialog(pid) == true; }));
  EXPECT_EQ(windows->mainWindowTitle(pid), kHostTitle);
  ASSERT_TRUE(host.command("end-modal"));
  EXPECT_TRUE(eventually([&] { return windows->showsModalDialog(pid) == false; }));

  // A process that has ended shows nothing, and says so at once.
  host.end();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(windows->mainWindowTitle(pid), std::nullopt);
  EXPECT_EQ(windows->showsModalDialog(pid), false);
  EXPECT_EQ(windows->observeTitleChanges(pid, [](const std::optional<std::string>&) {}), nullptr);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took.count(), 1.0);
}

TEST_F(AppKitPortsTest, TitleChangesAreAnnouncedUntilTheObservationEnds) {
  if (!makeAccessibility()->isProcessTrustedWithOptions(false)) {
    GTEST_SKIP() << "not trusted for Accessibility, so no title change is announced";
  }
  const std::unique_ptr<ApplicationWindows> windows = makeApplicationWindows();
  WindowHost host;
  ASSERT_TRUE(host.ready());
  const int pid = host.pid();
  ASSERT_TRUE(host.command("title Mix - Ableton Live 12 Suite"));
  ASSERT_TRUE(
      eventually([&] { return windows->mainWindowTitle(pid) == "Mix - Ableton Live 12 Suite"; }));

  std::vector<std::optional<std::string>> announced;
  ObservationRef observation = windows->observeTitleChanges(
      pid, [&](const std::optional<std::string>& title) { announced.push_back(title); });
  ASSERT_TRUE(observation);
  const auto awaitAnnounced = [&](const std::string& title, NSString* mode) {
    for (int turn = 0; turn < 60; ++turn) {
      if (std::find(announced.begin(), announced.end(), title) != announced.end()) {
        return true;
      }
      spin(mode, 0.05);
    }
    return false;
  };
  // Each change arrives with the title read at that instant, also while a
  // modal mode runs the loop (an alert or menu of Quillmark's).
  ASSERT_TRUE(host.command("title Mix* - Ableton Live 12 Suite"));
  EXPECT_TRUE(awaitAnnounced("Mix* - Ableton Live 12 Suite", NSDefaultRunLoopMode));
  ASSERT_TRUE(host.command("title Mix - Ableton Live 12 Suite"));
  EXPECT_TRUE(awaitAnnounced("Mix - Ableton Live 12 Suite", NSModalPanelRunLoopMode));

  observation.reset();
  const std::size_t count = announced.size();
  ASSERT_TRUE(host.command("title Mix* - Ableton Live 12 Suite"));
  spin(NSDefaultRunLoopMode, 0.5);
  EXPECT_EQ(announced.size(), count);
}

// Untrusted, as on a hosted runner: nothing is read, and no observation is
// made, rather than a wait or a wrong answer.
TEST_F(AppKitPortsTest, UntrustedReadsNoWindow) {
  if (makeAccessibility()->isProcessTrustedWithOptions(false)) {
    GTEST_SKIP() << "trusted for Accessibility";
  }
  const std::unique_ptr<ApplicationWindows> windows = makeApplicationWindows();
  WindowHost host;
  ASSERT_TRUE(host.ready());
  ASSERT_TRUE(host.command("title " + kHostTitle));
  EXPECT_EQ(windows->mainWindowTitle(host.pid()), std::nullopt);
  EXPECT_EQ(windows->showsModalDialog(host.pid()), false);
  EXPECT_EQ(windows->observeTitleChanges(host.pid(), [](const std::optional<std::string>&) {}),
            nullptr);
  EXPECT_EQ(makeApplicationMenus()->pressSaveCommand(host.pid()), ApplicationMenus::Press::missing);
}

// Pressed through the menu in the background, as Live's Save Live Set is:
// the host stays behind, and no key reaches it.
TEST_F(AppKitPortsTest, SaveCommandIsPressedByItsShortcut) {
  if (!makeAccessibility()->isProcessTrustedWithOptions(false)) {
    GTEST_SKIP() << "not trusted for Accessibility, so no other process's menu can be read";
  }
  const std::unique_ptr<ApplicationMenus> menus = makeApplicationMenus();
  WindowHost host;
  ASSERT_TRUE(host.ready());
  EXPECT_EQ(menus->pressSaveCommand(host.pid()), ApplicationMenus::Press::pressed);
  EXPECT_TRUE(host.said("host: saved"));

  ASSERT_TRUE(host.command("disable-save"));
  EXPECT_EQ(menus->pressSaveCommand(host.pid()), ApplicationMenus::Press::disabled);

  host.end();
  EXPECT_EQ(menus->pressSaveCommand(host.pid()), ApplicationMenus::Press::missing);
}

// The notification center serves bundled applications alone; in this
// unbundled program a notification shows nothing and raises nothing.
TEST_F(AppKitPortsTest, NotificationOutsideABundleIsDropped) {
  if ([[NSBundle mainBundle] bundleIdentifier] != nil) {
    GTEST_SKIP() << "run from a bundle";
  }
  std::vector<std::string> logged;
  const std::unique_ptr<Notifications> notifications =
      makeNotifications([&logged](std::string_view line) { logged.emplace_back(line); });
  notifications->postNotification("Quillmark has not saved your set for 20 minutes",
                                  "Live did not save");
  spin(NSDefaultRunLoopMode, 0.1);
  EXPECT_TRUE(logged.empty());
}

// Each system event as a word, in the order heard.
SystemEventCallbacks recordingInto(std::vector<std::string>& heard) {
  return {
      .willSleep = [&heard] { heard.push_back("sleep"); },
      .didWake = [&heard] { heard.push_back("wake"); },
      .lockChanged = [&heard](bool locked) { heard.push_back(locked ? "locked" : "unlocked"); },
      .clockChanged = [&heard] { heard.push_back("clock"); },
      .sessionWillEnd = [&heard] { heard.push_back("session ends"); },
  };
}

// Runs the main run loop until `count` events were heard, for 3 s at most.
bool awaitHeard(const std::vector<std::string>& heard, std::size_t count) {
  for (int turn = 0; turn < 60 && heard.size() < count; ++turn) {
    spin(NSDefaultRunLoopMode, 0.05);
  }
  return heard.size() >= count;
}

void postWorkspaceEvents() {
  NSWorkspace* workspace = [NSWorkspace sharedWorkspace];
  for (NSString* name :
       {NSWorkspaceWillSleepNotification, NSWorkspaceDidWakeNotification,
        NSWorkspaceSessionDidResignActiveNotification,
        NSWorkspaceSessionDidBecomeActiveNotification, NSWorkspaceWillPowerOffNotification}) {
    [[workspace notificationCenter] postNotificationName:name object:workspace];
  }
  [[NSNotificationCenter defaultCenter] postNotificationName:NSSystemClockDidChangeNotification
                                                      object:nil];
}

TEST_F(AppKitPortsTest, SleepUserSwitchingClockAndLogoutReachTheirCallbacks) {
  std::vector<std::string> heard;
  ObservationRef observation = observeSystemEvents(recordingInto(heard));
  postWorkspaceEvents();
  EXPECT_EQ(heard, (std::vector<std::string>{"sleep", "wake", "locked", "unlocked", "session ends",
                                             "clock"}));

  observation.reset();
  heard.clear();
  postWorkspaceEvents();
  spin(NSDefaultRunLoopMode, 0.1);
  EXPECT_TRUE(heard.empty());
}

// AppKit suspends distributed notifications while the application is not
// active, as an accessory application almost always is: the lock must come
// through all the same, when posted as the system posts it.
TEST_F(AppKitPortsTest, ScreenLockArrivesWhileDeliveryIsSuspended) {
  NSDistributedNotificationCenter* distributed = [NSDistributedNotificationCenter defaultCenter];
  const BOOL wasSuspended = [distributed suspended];
  [distributed setSuspended:YES];
  std::vector<std::string> heard;
  ObservationRef observation = observeSystemEvents(recordingInto(heard));

  [distributed postNotificationName:@"com.apple.screenIsLocked"
                             object:nil
                           userInfo:nil
                 deliverImmediately:NO];
  EXPECT_TRUE(awaitHeard(heard, 1));
  [distributed postNotificationName:@"com.apple.screenIsUnlocked"
                             object:nil
                           userInfo:nil
                 deliverImmediately:NO];
  EXPECT_TRUE(awaitHeard(heard, 2));
  EXPECT_EQ(heard, (std::vector<std::string>{"locked", "unlocked"}));

  // Ended, the observer is gone from the distributed center too.
  observation.reset();
  [distributed postNotificationName:@"com.apple.screenIsUnlocked"
                             object:nil
                           userInfo:nil
                 deliverImmediately:YES];
  spin(NSDefaultRunLoopMode, 0.3);
  EXPECT_EQ(heard.size(), 2u);
  [distributed setSuspended:wasSuspended];
}

// The clock's notification may be posted on any thread; the delegate is
// called on the main thread alone, and not at all once the observation ends.
TEST_F(AppKitPortsTest, ClockChangeFromAnotherThreadIsHandledOnTheMainThread) {
  std::vector<bool> onMainThread;
  SystemEventCallbacks callbacks;
  callbacks.clockChanged = [&] { onMainThread.push_back([NSThread isMainThread]); };
  ObservationRef observation = observeSystemEvents(callbacks);
  const auto postFromAnotherThread = [] {
    std::thread([] {
      @autoreleasepool {
        [[NSNotificationCenter defaultCenter]
            postNotificationName:NSSystemClockDidChangeNotification
                          object:nil];
      }
    }).join();
  };

  postFromAnotherThread();
  EXPECT_TRUE(onMainThread.empty());
  spin(NSDefaultRunLoopMode, 0.1);
  EXPECT_EQ(onMainThread, std::vector<bool>{true});

  // Handed over, then ended before the main thread got to it.
  postFromAnotherThread();
  observation.reset();
  spin(NSDefaultRunLoopMode, 0.1);
  EXPECT_EQ(onMainThread.size(), 1u);
}

}  // namespace
}  // namespace qm::macos
