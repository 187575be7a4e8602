// The AppKit side of the ports against the real frameworks: what the core
// relies on of NSUserDefaults, NSTimer and the run loop's modes,
// NSPropertyListSerialization, NSDateFormatter, NSImage, CGEvent, statfs and
// NSTask. Built and run on macOS only; elsewhere the type-check parses it.
// Nothing here posts an event, activates an application or touches the
// application's own defaults domain.

#import <AppKit/AppKit.h>
#import <CoreGraphics/CoreGraphics.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app_delegate.h"
#include "appkit_objects.h"
#include "launch_agent.h"
#include "macos_platform.h"

namespace qm::macos {
namespace {

// Runs the current run loop in `mode` for about `seconds`.
void spin(NSString* mode, double seconds) {
  NSDate* until = [NSDate dateWithTimeIntervalSinceNow:seconds];
  while ([until timeIntervalSinceNow] > 0) {
    [[NSRunLoop currentRunLoop] runMode:mode beforeDate:until];
  }
}

// Timers on a shared CI machine come late by a few milliseconds at times.
constexpr double kSlack = 0.08;

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
    std::unique_ptr<Preferences> preferences;
    std::unique_ptr<StatusBar> statusBar = makeStatusBar();
    std::unique_ptr<Alerts> alerts = makeAlerts();
    std::unique_ptr<Graphics> graphics = makeGraphics();
    std::unique_ptr<System> system = makeSystem();
    Desktop desktop;
    Platform platform() {
      return Platform{*runLoop,   *workspace, *accessibility, *keyboardEvents, *preferences,
                      *statusBar, *alerts,    *graphics,      *system,         desktop};
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

TEST_F(AppKitPortsTest, RepeatingTimerKeepsItsGridAndFiresOnceWhenLate) {
  const std::unique_ptr<RunLoop> runLoop = makeRunLoop();
  std::vector<Date> fired;
  const Date start = runLoop->now();
  TimerRef timer = runLoop->scheduleRepeatingTimer(0.1, [&] { fired.push_back(runLoop->now()); });
  // Something else holds the main thread past four due dates, as a save's
  // sleeps do.
  runLoop->performAfterDelay(0.05, [] { usleep(400000); });
  spin(NSDefaultRunLoopMode, 0.65);
  timer->invalidate();
  EXPECT_FALSE(timer->isValid());

  // Once, late, at about 0.45; then back on the grid at 0.5 and 0.6.
  ASSERT_EQ(fired.size(), 3u);
  EXPECT_GE(fired[0] - start, 0.45);
  EXPECT_LT(fired[0] - start, 0.5);
  EXPECT_NEAR(fired[1] - start, 0.5, kSlack);
  EXPECT_NEAR(fired[2] - start, 0.6, kSlack);

  const std::size_t count = fired.size();
  spin(NSDefaultRunLoopMode, 0.25);
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
    EXPECT_EQ(CGEventGetType(made), stroke.down ? kCGEventKeyDown : kCGEventKeyUp);
    EXPECT_EQ(CGEventGetIntegerValueField(made, kCGKeyboardEventKeycode), stroke.key);
    EXPECT_EQ(CGEventGetFlags(made), kEventFlagMaskCommand);
  }
}

TEST_F(AppKitPortsTest, SystemFactsAndTasks) {
  const std::unique_ptr<System> system = makeSystem();
  // The system volume is sealed and mounted read-only; temporary files are
  // not. A path that does not exist cannot be told, and reads as writable.
  EXPECT_TRUE(system->isVolumeReadOnly("/System/Library"));
  EXPECT_FALSE(system->isVolumeReadOnly(toStdString(NSTemporaryDirectory())));
  EXPECT_FALSE(system->isVolumeReadOnly("/no/such/path"));

  EXPECT_EQ(system->runTaskAndWait("/usr/bin/true", {}), 0);
  EXPECT_EQ(system->runTaskAndWait("/bin/sh", {"-c", "exit 5"}), 5);
  EXPECT_THROW(system->runTaskAndWait("/no/such/launchctl", {"bootout"}), std::runtime_error);

  // Waiting for a task runs nothing else: a call that comes due meanwhile
  // waits for the run loop.
  const std::unique_ptr<RunLoop> runLoop = makeRunLoop();
  int performs = 0;
  runLoop->performAfterDelay(0, [&] { ++performs; });
  EXPECT_EQ(system->runTaskAndWait("/bin/sleep", {"0.2"}), 0);
  EXPECT_EQ(performs, 0);
  spin(NSDefaultRunLoopMode, 0.05);
  EXPECT_EQ(performs, 1);

  EXPECT_EQ(system->homeDirectory(), toStdString(NSHomeDirectory()));
  const std::optional<std::string> library = system->userLibraryDirectory();
  ASSERT_TRUE(library);
  EXPECT_EQ(*library, system->homeDirectory() + "/Library");
  EXPECT_EQ(system->userId(), getuid());
}

}  // namespace
}  // namespace qm::macos
