// The autosave scheduler: the repeating save timer, the next-save time and
// its countdown, the interval choices and the two menu actions that change
// the schedule.
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <limits>

#include "app_delegate.h"

namespace qm {

std::string AppDelegate::intervalMenuTitleForSeconds(std::int64_t seconds) const {
  if (seconds == 10) {
    return "10 seconds (test)";
  }
  if (seconds < 60) {
    return std::to_string(seconds) + " seconds";
  }
  return std::to_string(seconds / 60) + " minutes";
}

std::string AppDelegate::intervalStatusText() const {
  const std::int64_t seconds = intervalSeconds();
  if (seconds < 60) {
    return std::to_string(seconds) + " sec";
  }
  return std::to_string(seconds / 60) + " min";
}

void AppDelegate::configureAutosaveTimer() {
  stopTimer(autosaveTimer_);
  setNextAutosaveAt(std::nullopt);
  // A waiting save belongs to the schedule being replaced.
  stopWaitingForSave();
  saveDueWhileAway_ = false;

  if (!autosaveConditionsHold()) {
    logMessage(platform_.desktop.words().autosaveNotStartedMessage);
    stopCountdownTimer();
    return;
  }

  const double interval = autosaveIntervalSeconds();
  nextAutosaveAt_ = platform_.runLoop.monotonicNow() + interval;
  setAutosaveTimer(makeRepeatingTimer(interval, &AppDelegate::handleAutosaveTimer));
  startCountdownTimerIfNeeded();
  logMessage("Autosave timer started: every " + intervalStatusText() + ".");
}

void AppDelegate::handleAutosaveTimer() {
  // Every firing counts towards work at risk, also one that finds a save
  // still waiting.
  followLive(runningAbleton());
  liveSet_->automaticSaveFellDue();
  // A save already waits, or waits for the user to be back: this fire adds
  // nothing to it.
  if (pauseCheckTimer() || saveDueWhileAway_) {
    return;
  }
  if (away()) {
    saveDueWhileAway_ = true;
    return;
  }
  logMessage("Autosave timer fired.");
  runDueSave(false);
}

void AppDelegate::runDueSave(bool restartSchedule) {
  switch (liveSet_->dueSave()) {
    case LiveSetWatch::DueSave::skipUnchanged:
    case LiveSetWatch::DueSave::skipAfterDialog:
      // Live is not brought forward; the status keeps the last save's text.
      stopWaitingForSave();
      moveScheduleOn(restartSchedule);
      refreshMenu();
      return;
    case LiveSetWatch::DueSave::waitForWatch:
      waitForSave(SaveWait::watch);
      return;
    case LiveSetWatch::DueSave::waitForDialog:
      waitForSave(SaveWait::dialog);
      return;
    case LiveSetWatch::DueSave::waitForLive:
      waitForSave(SaveWait::live);
      return;
    case LiveSetWatch::DueSave::send:
      break;
  }
  if (quietSaveApplies()) {
    // Nothing comes forward and no key goes: only typing into Live itself
    // is in the way.
    const RunningApplicationRef live = runningAbleton();
    if (live && isFrontmost(live) && userIsBusy()) {
      waitForSave(SaveWait::pause);
      return;
    }
    switch (saveQuietlyIsManual(false)) {
      case QuietOutcome::pressed:
        stopWaitingForSave();
        moveScheduleOn(restartSchedule);
        if (restartSchedule) {
          refreshMenu();
        }
        return;
      case QuietOutcome::noAnswer:
        waitForSave(SaveWait::live);
        return;
      case QuietOutcome::unavailable:
        quietSaveRefused_ = true;
        break;
    }
  }
  // Bringing Live forward now would take the user's next keys with it.
  if (userIsBusy()) {
    waitForSave(SaveWait::pause);
    return;
  }
  stopTimer(pauseCheckTimer_);
  if (attemptSaveIsManual(false) == SaveOutcome::heldBack) {
    waitForSave(liveReader_->responding() ? SaveWait::pause : SaveWait::live);
    return;
  }
  stopWaitingForSave();
  moveScheduleOn(restartSchedule);
  if (restartSchedule) {
    refreshMenu();
  }
}

void AppDelegate::moveScheduleOn(bool restartSchedule) {
  // When a condition has gone, the Live monitor stops the schedule at its
  // next tick instead.
  if (!autosaveConditionsHold()) {
    return;
  }
  if (restartSchedule) {
    configureAutosaveTimer();
    return;
  }
  // Measured from the end of the attempt.
  nextAutosaveAt_ = platform_.runLoop.monotonicNow() + autosaveIntervalSeconds();
  startCountdownTimerIfNeeded();
}

bool AppDelegate::userIsBusy() {
  UserActivity& user = platform_.userActivity;
  // A reading that is no number does not hold saves back for good.
  return user.secondsSinceLastUserInput() < kUserPauseSeconds || user.isUserInputHeld();
}

void AppDelegate::waitForSave(SaveWait why) {
  const unsigned kind = 1u << static_cast<unsigned>(why);
  if ((loggedWaits_ & kind) == 0) {
    loggedWaits_ |= kind;
    if (why == SaveWait::dialog) {
      logMessage(kWaitingForDialogLogMessage);
    } else if (why == SaveWait::pause) {
      logMessage(kWaitingForPauseLogMessage);
    } else if (why == SaveWait::live) {
      logMessage(kWaitingForLiveLogMessage);
    }
  }
  if (!pauseCheckTimer_) {
    pauseCheckTimer_ = makeRepeatingTimer(kPauseCheckInterval, &AppDelegate::handlePauseCheckTimer);
  }
  if (why != saveWait_) {
    saveWait_ = why;
    refreshMenu();
  }
}

void AppDelegate::stopWaitingForSave() {
  stopTimer(pauseCheckTimer_);
  saveWait_ = SaveWait::none;
  loggedWaits_ = 0;
  quietSaveRefused_ = false;
}

void AppDelegate::handlePauseCheckTimer() {
  // Live quit or the permission went before the monitor's next tick.
  if (!autosaveConditionsHold()) {
    stopWaitingForSave();
    refreshMenu();
    return;
  }
  followLive(runningAbleton());
  runDueSave(true);
}

void AppDelegate::sessionLockChanged(bool locked) {
  if (locked == sessionLocked_) {
    return;
  }
  const bool wasAway = away();
  sessionLocked_ = locked;
  if (locked) {
    logMessage("Session locked: no saves until it is unlocked.");
  } else {
    const bool due = saveDueWhileAway_ && !asleep_ && autosaveConditionsHold();
    logMessage(due ? "Session unlocked: the save that fell due meanwhile runs now."
                   : "Session unlocked.");
  }
  awayChanged(wasAway);
}

void AppDelegate::readBackSessionLock() {
  const std::optional<bool> locked = platform_.system.sessionIsLocked();
  if (locked) {
    sessionLockChanged(*locked);
  }
}

void AppDelegate::systemWillSleep() {
  if (asleep_) {
    return;
  }
  const bool wasAway = away();
  asleep_ = true;
  logMessage("System going to sleep: no saves until it wakes.");
  // Whatever Live answers meanwhile cannot be told apart from the sleep.
  liveSet_->interrupt();
  awayChanged(wasAway);
}

void AppDelegate::systemDidWake() {
  if (!asleep_) {
    return;
  }
  // A lock or unlock may have gone unannounced while the machine slept.
  readBackSessionLock();
  const bool wasAway = away();
  asleep_ = false;
  // The timer that fell due asleep may fire only after this.
  const bool fellDue = saveDueWhileAway_ || (autosaveTimer() && nextAutosaveAt_ &&
                                             *nextAutosaveAt_ <= platform_.runLoop.monotonicNow());
  if (fellDue) {
    saveDueWhileAway_ = true;
  }
  logMessage(fellDue ? "System woke: the save that fell due meanwhile runs after your pause."
                     : "System woke.");
  awayChanged(wasAway);
}

void AppDelegate::awayChanged(bool wasAway) {
  if (away() == wasAway) {
    // Still away, or back already: the menu shows the truth again.
    refreshMenu();
    return;
  }
  liveSet_->awayChanged(away());
  if (away()) {
    // Keys sent now would reach nobody; a waiting save waits for the user's
    // return instead.
    if (pauseCheckTimer()) {
      stopWaitingForSave();
      saveDueWhileAway_ = true;
    }
    refreshMenu();
    return;
  }
  runSaveDueWhileAway();
  refreshMenu();
}

void AppDelegate::runSaveDueWhileAway() {
  const bool due = saveDueWhileAway_ && autosaveConditionsHold();
  saveDueWhileAway_ = false;
  if (due) {
    // The user is back at the keyboard: the rules hold as ever.
    followLive(runningAbleton());
    runDueSave(true);
  }
}

void AppDelegate::systemClockChanged() {
  const double offset = platform_.runLoop.now() - platform_.runLoop.monotonicNow();
  const std::optional<double> previous = clockOffset_;
  clockOffset_ = offset;
  if (!previous) {
    return;
  }
  const double jump = std::trunc(offset - *previous);
  // A NaN fails the comparison: nothing to say.
  if (!(std::fabs(jump) >= 1)) {
    return;
  }
  const auto seconds = static_cast<long long>(jump);
  logMessage("System clock changed by " + std::string(seconds > 0 ? "+" : "") +
             std::to_string(seconds) + " s.");
}

void AppDelegate::sessionWillEnd() {
  logMessage("Session ending: Quillmark quits.");
  quitApp();
}

void AppDelegate::startCountdownTimerIfNeeded() {
  if (countdownTimer()) {
    return;
  }
  if (!nextAutosaveAt()) {
    return;
  }
  setCountdownTimer(makeRepeatingTimer(kCountdownInterval, &AppDelegate::handleCountdownTimer));
}

void AppDelegate::stopCountdownTimer() {
  stopTimer(countdownTimer_);
}

void AppDelegate::handleCountdownTimer() {
  if (nextAutosaveAt()) {
    refreshMenu();
  } else {
    stopCountdownTimer();
  }
}

double AppDelegate::secondsUntilNextAutosave() const {
  if (!nextAutosaveAt_) {
    return 0.0;
  }
  // On the monotonic clock: setting the wall clock does not move it.
  const double remaining = *nextAutosaveAt_ - platform_.runLoop.monotonicNow();
  // A NaN fails the comparison and reads as nothing left.
  return remaining > 0 ? remaining : 0.0;
}

std::string AppDelegate::formattedCountdownText() const {
  // A hand-edited interval can exceed what a 64-bit count holds; 2^63 is the
  // first double past its end, so everything below it converts exactly.
  constexpr double kBeyondLargest = 0x1p63;
  const double seconds = std::ceil(secondsUntilNextAutosave());
  const std::int64_t n = seconds >= kBeyondLargest ? std::numeric_limits<std::int64_t>::max()
                                                   : static_cast<std::int64_t>(seconds);
  char text[48];
  std::snprintf(text, sizeof text, "%02" PRId64 ":%02" PRId64, n / 60, n % 60);
  return text;
}

void AppDelegate::toggleAutosave() {
  setLastStatusMessage({});
  setAutosaveEnabled(!autosaveEnabled());
  if (!autosaveEnabled()) {
    liveSet_->endStretch();
  }
  platform_.preferences.setBool(autosaveEnabled(), std::string(kEnabledDefaultsKey));
  configureAutosaveTimer();
  refreshMenu();
}

void AppDelegate::selectInterval(MenuItem& sender) {
  setLastStatusMessage({});
  setIntervalSeconds(sender.tag());
  liveSet_->endStretch();
  platform_.preferences.setInteger(intervalSeconds(), std::string(kIntervalDefaultsKey));
  platform_.preferences.removeObjectForKey(std::string(kLegacyIntervalMinutesDefaultsKey));
  configureAutosaveTimer();
  refreshMenu();
}

}  // namespace qm
