// The Live monitor: follows Live and the permission every two seconds,
// starts and stops the schedule, and quits once Live has been gone a while.
#include "app_delegate.h"

namespace qm {

void AppDelegate::startLiveMonitor() {
  stopTimer(liveMonitorTimer_);
  setLiveMonitorTimer(
      makeRepeatingTimer(kLiveMonitorInterval, &AppDelegate::handleLiveMonitorTimer));
}

void AppDelegate::handleLiveMonitorTimer() {
  // A clock set without a word still shows as a gap between the clocks, and
  // a lock as the system's answer.
  systemClockChanged();
  readBackSessionLock();
  // One sample serves the quit state and the schedule alike.
  const RunningApplicationRef live = runningAbleton();
  const bool running = live != nullptr;
  updateAutomaticQuitStateWithAbletonRunning(running);
  keepTimersPrompt(running);
  followLive(live);
  liveSet_->look();

  if (running && hasAccessibilityAccess()) {
    if (autosaveEnabled() && !autosaveTimer()) {
      configureAutosaveTimer();
    } else if (autosaveEnabled()) {
      startCountdownTimerIfNeeded();
    }
  } else {
    stopTimer(autosaveTimer_);
    setNextAutosaveAt(std::nullopt);
    stopCountdownTimer();
    stopWaitingForSave();
    saveDueWhileAway_ = false;
  }
  refreshMenu();
  const std::string& message = lastStatusMessage();
  liveSet_->checkWorkAtRisk(autosaveIntervalSeconds(), message.empty() ? statusLine_ : message);
}

void AppDelegate::keepTimersPrompt(bool prompt) {
  if (prompt != timersKeptPrompt_) {
    timersKeptPrompt_ = prompt;
    platform_.system.setTimersMustStayPrompt(prompt);
  }
}

void AppDelegate::followLive(const RunningApplicationRef& live) {
  const std::optional<int> pid =
      live ? std::optional<int>(live->processIdentifier()) : std::nullopt;
  liveSet_->follow(pid);
  quietSave_->follow(pid);
}

void AppDelegate::updateAutomaticQuitStateWithAbletonRunning(bool abletonRunning) {
  if (abletonRunning) {
    setHasSeenAbletonRunning(true);
    setAbletonStoppedAt(std::nullopt);
    if (lastStatusMessage() == kAbletonClosedStatusMessage) {
      setLastStatusMessage({});
    }
    return;
  }
  if (!hasSeenAbletonRunning()) {
    return;
  }
  if (!abletonStoppedAt_) {
    abletonStoppedAt_ = platform_.runLoop.monotonicNow();
    setLastStatusMessage(std::string(kAbletonClosedStatusMessage));
    return;
  }
  // Measured on the monotonic clock, not by ticks, which come late while a
  // save blocks the main thread. A NaN fails the comparison and keeps
  // waiting.
  const double elapsed = platform_.runLoop.monotonicNow() - *abletonStoppedAt_;
  if (elapsed >= kAutomaticQuitDelay) {
    stopTimer(autosaveTimer_);
    stopCountdownTimer();
    stopWaitingForSave();
    stopWaitingAnimation();
    platform_.system.terminate();
  }
}

}  // namespace qm
