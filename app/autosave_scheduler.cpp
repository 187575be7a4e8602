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
  saveDueAtUnlock_ = false;

  if (!autosaveConditionsHold()) {
    logMessage(platform_.desktop.words().autosaveNotStartedMessage);
    stopCountdownTimer();
    return;
  }

  const double interval = autosaveIntervalSeconds();
  setNextAutosaveAt(platform_.runLoop.now() + interval);
  setAutosaveTimer(makeRepeatingTimer(interval, &AppDelegate::handleAutosaveTimer));
  startCountdownTimerIfNeeded();
  logMessage("Autosave timer started: every " + intervalStatusText() + ".");
}

void AppDelegate::handleAutosaveTimer() {
  // Every firing counts towards work at risk, also one that finds a save
  // still waiting.
  followLive(runningAbleton());
  liveSet_->automaticSaveFellDue(platform_.runLoop.now());
  // A save already waits, or waits for the session to be unlocked: this
  // fire adds nothing to it.
  if (pauseCheckTimer() || saveDueAtUnlock_) {
    return;
  }
  if (sessionLocked_) {
    saveDueAtUnlock_ = true;
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
    case LiveSetWatch::DueSave::send:
      break;
  }
  // Bringing Live forward now would take the user's next keys with it.
  if (userIsBusy()) {
    waitForSave(SaveWait::pause);
    return;
  }
  stopTimer(pauseCheckTimer_);
  if (attemptSaveIsManual(false) == SaveOutcome::heldBack) {
    waitForSave(SaveWait::pause);
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
  setNextAutosaveAt(platform_.runLoop.now() + autosaveIntervalSeconds());
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
  sessionLocked_ = locked;
  if (locked) {
    // Keys sent now would go to a locked desktop; a waiting save waits for
    // the unlock instead.
    if (pauseCheckTimer()) {
      stopWaitingForSave();
      saveDueAtUnlock_ = true;
      refreshMenu();
    }
    logMessage("Session locked: no saves until it is unlocked.");
    return;
  }
  const bool due = saveDueAtUnlock_ && autosaveConditionsHold();
  saveDueAtUnlock_ = false;
  logMessage(due ? "Session unlocked: the save that fell due meanwhile runs now."
                 : "Session unlocked.");
  if (due) {
    // The user is back at the keyboard: the rules hold as ever.
    followLive(runningAbleton());
    runDueSave(true);
  }
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
  if (!nextAutosaveAt()) {
    return 0.0;
  }
  const double remaining = *nextAutosaveAt() - platform_.runLoop.now();
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
