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
  // A save waiting for the user belongs to the schedule being replaced.
  stopWaitingForUserPause();
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
  // A save already waits for the user, or for the session to be unlocked:
  // this fire adds nothing to it.
  if (pauseCheckTimer() || saveDueAtUnlock_) {
    return;
  }
  if (sessionLocked_) {
    saveDueAtUnlock_ = true;
    return;
  }
  logMessage("Autosave timer fired.");
  // Bringing Live forward now would take the user's next keys with it.
  if (userIsBusy() || attemptSaveIsManual(false) == SaveOutcome::heldBack) {
    waitForUserPause();
    refreshMenu();
    return;
  }
  // Measured from the end of the attempt; when a condition has gone, the
  // Live monitor stops the schedule at its next tick instead.
  if (autosaveConditionsHold()) {
    setNextAutosaveAt(platform_.runLoop.now() + autosaveIntervalSeconds());
    startCountdownTimerIfNeeded();
  }
}

bool AppDelegate::userIsBusy() {
  UserActivity& user = platform_.userActivity;
  // A reading that is no number does not hold saves back for good.
  return user.secondsSinceLastUserInput() < kUserPauseSeconds || user.isUserInputHeld();
}

void AppDelegate::waitForUserPause() {
  if (pauseCheckTimer()) {
    return;
  }
  logMessage(kWaitingForPauseLogMessage);
  startPauseChecks();
}

void AppDelegate::startPauseChecks() {
  pauseCheckTimer_ = makeRepeatingTimer(kPauseCheckInterval, &AppDelegate::handlePauseCheckTimer);
}

void AppDelegate::stopWaitingForUserPause() {
  stopTimer(pauseCheckTimer_);
}

void AppDelegate::handlePauseCheckTimer() {
  // Live quit or the permission went before the monitor's next tick.
  if (!autosaveConditionsHold()) {
    stopWaitingForUserPause();
    refreshMenu();
    return;
  }
  if (userIsBusy()) {
    return;
  }
  stopWaitingForUserPause();
  saveAndRestartSchedule();
}

void AppDelegate::saveAndRestartSchedule() {
  if (attemptSaveIsManual(false) == SaveOutcome::heldBack) {
    // Still the same waiting save: no second log line.
    startPauseChecks();
    refreshMenu();
    return;
  }
  // As after a manual save, the next automatic save comes one full interval
  // after this one.
  if (autosaveConditionsHold()) {
    configureAutosaveTimer();
    refreshMenu();
  }
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
      stopWaitingForUserPause();
      saveDueAtUnlock_ = true;
    }
    logMessage("Session locked: no saves until it is unlocked.");
    return;
  }
  const bool due = saveDueAtUnlock_ && autosaveConditionsHold();
  saveDueAtUnlock_ = false;
  logMessage(due ? "Session unlocked: the save that fell due meanwhile runs now."
                 : "Session unlocked.");
  if (due) {
    // The user is back at the keyboard: the pause rule holds as ever.
    if (userIsBusy()) {
      waitForUserPause();
      refreshMenu();
    } else {
      saveAndRestartSchedule();
    }
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
  platform_.preferences.setBool(autosaveEnabled(), std::string(kEnabledDefaultsKey));
  configureAutosaveTimer();
  refreshMenu();
}

void AppDelegate::selectInterval(MenuItem& sender) {
  setLastStatusMessage({});
  setIntervalSeconds(sender.tag());
  platform_.preferences.setInteger(intervalSeconds(), std::string(kIntervalDefaultsKey));
  platform_.preferences.removeObjectForKey(std::string(kLegacyIntervalMinutesDefaultsKey));
  configureAutosaveTimer();
  refreshMenu();
}

}  // namespace qm
