// Save command delivery: find Live, bring it forward, post Cmd+S to its
// process and give the focus back.
#include <algorithm>
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
  // Keys would go to the dialog, not to the set; a Live that does not answer
  // may be writing the set, and would take them only once done.
  followLive(live);
  const Reply<bool> dialog = liveSet_->liveShowsDialog();
  if (!dialog.answered()) {
    return fail(kLiveNotRespondingError);
  }
  if (*dialog) {
    return fail(kLiveDialogError);
  }

  const RunningApplicationRef previous = platform_.workspace.frontmostApplication();
  // A Live the user had put away goes away again once the focus is back.
  const bool liveWasHidden = live->isHidden();
  const auto giveFocusBack = [&] {
    restoreFocusToUnlessSameAs(previous, live);
    if (liveWasHidden) {
      live->hide();
    }
  };
  live->unhide();
  requestActivation(live, kApplicationActivateAllWindows);
  // Give Live time to come forward before it receives the keys.
  platform_.runLoop.sleepMicroseconds(kActivationSettleMicroseconds);
  if (!isFrontmost(live)) {
    // Where keys go to the window in front, Live in the background would
    // hand Ctrl+S to another program: post nothing.
    if (platform_.desktop.keysReachOnlyTheFrontWindow()) {
      fail(kNotInFrontError);
      giveFocusBack();
      return false;
    }
    // The keys are addressed to Live's process, so they reach it even from
    // behind; the log tells why its window did not flash forward.
    logMessage(kLiveStayedBehindMessage);
  }
  // A held key would repeat into Live or join the shortcut (Shift makes it
  // Save As), and a held button may be dragging: send nothing.
  if (platform_.userActivity.isUserInputHeld()) {
    fail(kInputHeldError);
    giveFocusBack();
    return false;
  }

  std::unique_ptr<EventSource> source =
      platform_.keyboardEvents.createEventSource(kEventSourceStateCombinedSessionState);
  if (!source) {
    fail(kNoEventSourceError);
    giveFocusBack();
    return false;
  }

  // The key that types "s" with Command: not the same key on every layout.
  const auto strokes = saveKeyStrokes(
      platform_.keyboardEvents.virtualKeyTypingWithCommand(U's').value_or(kVirtualKeyS));
  std::array<std::unique_ptr<KeyboardEvent>, strokes.size()> events;
  for (std::size_t i = 0; i < events.size(); ++i) {
    events[i] = source->createKeyboardEvent(strokes[i].virtualKey, strokes[i].keyDown);
  }
  const bool allMade =
      std::all_of(events.begin(), events.end(), [](const auto& event) { return event != nullptr; });
  bool sent = false;
  if (allMade) {
    // Exactly Command on every event, whatever modifiers the source reported.
    for (const auto& event : events) {
      event->setFlags(kEventFlagMaskCommand);
    }
    // The title the keys act on: a save shows as its mark going.
    liveSet_->saveAboutToBeSent();
    sent = source->postEventsToPid(events, live->processIdentifier());
  }
  for (auto& event : events) {
    event.reset();
  }
  source.reset();
  if (!allMade || !sent) {
    fail(allMade ? words.keysNotSentError : words.noKeyEventsError);
    giveFocusBack();
    return false;
  }
  platform_.runLoop.sleepMicroseconds(kFocusRestoreDelayMicroseconds);

  giveFocusBack();
  return true;
}

bool AppDelegate::isFrontmost(const RunningApplicationRef& application) {
  // Asked within the run-loop turn that activated Live, so from a source
  // that does not wait for the turn to end.
  return platform_.workspace.frontmostProcessIdentifierNow() == application->processIdentifier();
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
  // The system declined (since macOS 14 an activation is a request). The
  // application in front may yield its activation to this one, so ask once
  // more as handed over by it.
  const RunningApplicationRef front = platform_.workspace.frontmostApplication();
  return front && application->activateFromApplicationOptions(*front, options);
}

std::string AppDelegate::noteSaveSent(bool manual, std::string_view logLine) {
  const std::string time = platform_.system.shortTimeString(platform_.runLoop.now());
  setLastStatusMessage((manual ? "Saved at " : "Autosaved at ") + time);
  logMessage(logLine);
  if (!manual) {
    liveSet_->automaticSaveSent();
  }
  // The next automatic save comes one full interval after this one.
  if (manual && autosaveConditionsHold()) {
    configureAutosaveTimer();
  }
  refreshMenu();
  return time;
}

bool AppDelegate::quietSaveApplies() {
  // An untitled set would open Live's Save dialog, which must come to the
  // front with Live: the keys do that.
  return !quietSaveRefused_ && quietSave_->allowed() && liveSet_->titleShowsUnsavedNamedSet();
}

AppDelegate::QuietOutcome AppDelegate::saveQuietlyIsManual(bool manual) {
  liveSet_->saveAboutToBeSent();
  const Reply<ApplicationMenus::Press> press = quietSave_->press();
  if (!press.answered()) {
    return QuietOutcome::noAnswer;
  }
  if (*press != ApplicationMenus::Press::pressed) {
    return QuietOutcome::unavailable;
  }
  const std::string time =
      noteSaveSent(manual, manual ? "Manual save command sent through Live's menu."
                                  : "Autosave command sent through Live's menu.");
  const std::weak_ptr<AppDelegate*> alive = lifetime_;
  liveSet_->menuSavePosted(manual, time, [alive, manual](bool taken) {
    if (auto self = alive.lock()) {
      (*self)->quietSaveEnded(taken, manual);
    }
  });
  return QuietOutcome::pressed;
}

void AppDelegate::quietSaveEnded(bool taken, bool manual) {
  if (taken) {
    quietSave_->taken();
    return;
  }
  quietSave_->missed();
  // The keys follow at once: the user's click at once, an automatic save
  // through the user's pause as ever.
  if (manual) {
    quietSaveRefused_ = true;
    attemptSaveIsManual(true);
    quietSaveRefused_ = false;
    return;
  }
  if (!autosaveConditionsHold() || away()) {
    return;
  }
  stopWaitingForSave();
  quietSaveRefused_ = true;
  runDueSave(true);
}

void AppDelegate::performSaveIsManual(bool manual) {
  attemptSaveIsManual(manual);
}

AppDelegate::SaveOutcome AppDelegate::attemptSaveIsManual(bool manual) {
  // The user's click presses Live's own command when it can: Live stays
  // where it is. Its dialog or its silence is reported by the keys' path.
  if (const RunningApplicationRef live = manual ? runningAbleton() : nullptr;
      live && hasAccessibilityAccess()) {
    followLive(live);
    liveSet_->look();
    if (quietSaveApplies() && liveSet_->liveShowsDialog() == false &&
        saveQuietlyIsManual(true) == QuietOutcome::pressed) {
      return SaveOutcome::sent;
    }
  }
  std::string error;
  if (sendSaveCommandReturningError(&error)) {
    const std::string time = noteSaveSent(manual, manual ? "Manual save command sent successfully."
                                                         : "Autosave command sent successfully.");
    // Live's answer may already show, and then replaces the status.
    liveSet_->keysPosted(manual, time);
    return SaveOutcome::sent;
  }
  // The user asked for a manual save and hears why it failed; an automatic
  // one simply waits for the keys to come up, or for Live to answer.
  if (!manual && (error == kInputHeldError || error == kLiveNotRespondingError)) {
    return SaveOutcome::heldBack;
  }
  if (!manual) {
    liveSet_->automaticSaveFailed();
  }
  setFailureStatusMessage(error.empty() ? std::string(kSaveFailedMessage) : error);
  logMessage(std::string(manual ? "Manual save" : "Autosave") + " failed: " + lastStatusMessage());
  refreshMenu();
  return SaveOutcome::failed;
}

void AppDelegate::saveNow() {
  performSaveIsManual(true);
}

}  // namespace qm
