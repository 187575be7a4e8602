// Save command delivery: find Live, bring it forward, post Cmd+S to its
// process and give the focus back.
#include <array>

#include "app_delegate.h"

namespace qm {

namespace {

constexpr std::string_view kAbletonNotRunningError = "Ableton Live is not running";
constexpr std::string_view kNoEventSourceError = "Could not create keyboard event source";
constexpr std::string_view kNotInFrontError = "Ableton Live could not be brought to the front";
constexpr std::string_view kSaveFailedMessage = "Save failed";
constexpr std::string_view kLiveStayedBehindMessage =
    "Ableton Live did not come to the front; the keys were posted to it in the background.";

}  // namespace

RunningApplicationRef AppDelegate::runningAbleton() {
  auto applications = platform_.workspace.runningApplicationsWithBundleIdentifier(
      std::string(kAbletonBundleIdentifier));
  return applications.empty() ? nullptr : applications.front();
}

bool AppDelegate::isAbletonRunning() {
  return runningAbleton() != nullptr;
}

bool AppDelegate::sendSaveCommandReturningError(std::string* error) {
  const auto fail = [error](std::string_view text) {
    if (error != nullptr) {
      *error = text;
    }
    return false;
  };

  const DesktopWords& words = platform_.desktop.words();
  if (!hasAccessibilityAccess()) {
    return fail(words.permissionRequiredError);
  }
  const RunningApplicationRef live = runningAbleton();
  if (!live) {
    return fail(kAbletonNotRunningError);
  }

  const RunningApplicationRef previous = platform_.workspace.frontmostApplication();
  live->unhide();
  requestActivation(live, kApplicationActivateAllWindows);
  // Give Live time to come forward before it receives the keys.
  platform_.runLoop.sleepMicroseconds(kActivationSettleMicroseconds);
  if (!isFrontmost(live)) {
    // Where keys go to the window in front, Live in the background would
    // hand Ctrl+S to another program: post nothing.
    if (platform_.desktop.keysReachOnlyTheFrontWindow()) {
      fail(kNotInFrontError);
      restoreFocusToUnlessSameAs(previous, live);
      return false;
    }
    // The keys are addressed to Live's process, so they reach it even from
    // behind; the log tells why its window did not flash forward.
    logMessage(kLiveStayedBehindMessage);
  }

  std::unique_ptr<EventSource> source =
      platform_.keyboardEvents.createEventSource(kEventSourceStateCombinedSessionState);
  if (!source) {
    fail(kNoEventSourceError);
    restoreFocusToUnlessSameAs(previous, live);
    return false;
  }

  std::array<std::unique_ptr<KeyboardEvent>, kSaveKeyStrokes.size()> events;
  for (std::size_t i = 0; i < events.size(); ++i) {
    events[i] =
        source->createKeyboardEvent(kSaveKeyStrokes[i].virtualKey, kSaveKeyStrokes[i].keyDown);
  }
  for (const auto& event : events) {
    if (!event) {
      fail(words.noKeyEventsError);
      for (auto& made : events) {
        made.reset();
      }
      source.reset();
      restoreFocusToUnlessSameAs(previous, live);
      return false;
    }
  }

  // Exactly Command on every event, whatever modifiers the source reported.
  for (const auto& event : events) {
    event->setFlags(kEventFlagMaskCommand);
  }
  const int pid = live->processIdentifier();
  for (const auto& event : events) {
    event->postToPid(pid);
  }
  for (auto& event : events) {
    event.reset();
  }
  source.reset();
  platform_.runLoop.sleepMicroseconds(kFocusRestoreDelayMicroseconds);

  restoreFocusToUnlessSameAs(previous, live);
  return true;
}

bool AppDelegate::isFrontmost(const RunningApplicationRef& application) {
  const RunningApplicationRef frontmost = platform_.workspace.frontmostApplication();
  return frontmost && frontmost->processIdentifier() == application->processIdentifier();
}

void AppDelegate::restoreFocusToUnlessSameAs(const RunningApplicationRef& application,
                                             const RunningApplicationRef& other) {
  if (!application) {
    return;
  }
  // The user was already working in Live, which keeps the focus.
  if (other && application->processIdentifier() == other->processIdentifier()) {
    return;
  }
  requestActivation(application, 0);
}

bool AppDelegate::requestActivation(const RunningApplicationRef& application, unsigned options) {
  if (application->activateWithOptions(options)) {
    return true;
  }
  // The system declined (activation is cooperative since macOS 14). The
  // application in front may hand its activation over, which is honoured
  // whatever this accessory's own standing.
  const RunningApplicationRef front = platform_.workspace.frontmostApplication();
  return front && application->activateFromApplicationOptions(*front, options);
}

void AppDelegate::performSaveIsManual(bool manual) {
  std::string error;
  if (sendSaveCommandReturningError(&error)) {
    const std::string time = platform_.system.shortTimeString(platform_.runLoop.now());
    setLastStatusMessage((manual ? "Saved at " : "Autosaved at ") + time);
    logMessage(manual ? "Manual save command sent successfully."
                      : "Autosave command sent successfully.");
    // The next automatic save comes one full interval after this one.
    if (manual && autosaveConditionsHold()) {
      configureAutosaveTimer();
    }
  } else {
    setLastStatusMessage(error.empty() ? std::string(kSaveFailedMessage) : error);
    logMessage(std::string(manual ? "Manual save" : "Autosave") +
               " failed: " + lastStatusMessage());
  }
  refreshMenu();
}

void AppDelegate::saveNow() {
  performSaveIsManual(true);
}

}  // namespace qm
