// Quillmark's application delegate: all of the menu-bar application's state
// and behaviour, spread over one source file per concern.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "live_set.h"
#include "platform.h"
#include "quiet_save.h"

namespace qm {

inline constexpr std::string_view kAbletonBundleIdentifier = "com.ableton.live";
inline constexpr std::string_view kIntervalDefaultsKey = "autosave.interval.seconds";
inline constexpr std::string_view kLegacyIntervalMinutesDefaultsKey = "autosave.interval.minutes";
inline constexpr std::string_view kEnabledDefaultsKey = "autosave.enabled";
inline constexpr std::string_view kAccessibilityPromptShownDefaultsKey =
    "accessibility.prompt.shown";
inline constexpr std::string_view kLaunchAgentIdentifier = "local.vellum.quillmark-watcher";
inline constexpr std::string_view kLaunchAgentFileName = "local.vellum.quillmark-watcher.plist";
inline constexpr std::string_view kAbletonClosedStatusMessage = "Ableton closed, quitting...";
// The application log, relative to the home folder.
inline constexpr std::string_view kLogPathInHome = "Library/Logs/Quillmark.log";

// Where "Report a Problem" takes the user.
inline constexpr std::string_view kSupportURL = "https://github.com/vellum/quillmark/issues/new";
// System Settings at its Accessibility pane.
inline constexpr std::string_view kAccessibilitySettingsURL = DesktopWords{}.permissionSettingsURL;

inline constexpr std::int64_t kDefaultIntervalSeconds = 600;
inline constexpr std::array<std::int64_t, 6> kIntervalChoices = {10, 180, 300, 600, 900, 1800};
inline constexpr std::array<std::string_view, 4> kWaitingSymbols = {"◐", "◓", "◑", "◒"};

inline constexpr double kLiveMonitorInterval = 2.0;
inline constexpr double kCountdownInterval = 1.0;
inline constexpr double kWaitingAnimationInterval = 0.25;
inline constexpr double kAutomaticQuitDelay = 6.0;
inline constexpr double kFirstLaunchRequestDelay = 1.0;
inline constexpr std::uint32_t kActivationSettleMicroseconds = 500000;
inline constexpr std::uint32_t kFocusRestoreDelayMicroseconds = 150000;
// An automatic save waits until the user has pressed nothing for this long
// and holds nothing, checking again at the shorter period.
inline constexpr double kUserPauseSeconds = 2.0;
inline constexpr double kPauseCheckInterval = 0.25;
inline constexpr std::string_view kWaitingForPauseStatusLine = "◐ Waiting for a pause in typing";
inline constexpr std::string_view kWaitingForPauseLogMessage =
    "Autosave waiting for a pause in typing.";
inline constexpr std::string_view kInputHeldError =
    "Nothing was sent: a key or mouse button was held down";
// An automatic save also waits while Live shows a dialog of its own.
inline constexpr std::string_view kWaitingForDialogStatusLine =
    "◐ Waiting for Live's dialog to close";
inline constexpr std::string_view kWaitingForDialogLogMessage =
    "Autosave waiting: Live is showing a dialog.";
inline constexpr std::string_view kLiveDialogError = "Live is showing a dialog: nothing was sent";
// An automatic save also waits while Live does not answer.
inline constexpr std::string_view kWaitingForLiveStatusLine = "◐ Waiting for Live to respond";
inline constexpr std::string_view kWaitingForLiveLogMessage =
    "Autosave waiting: Live is not responding.";
inline constexpr std::string_view kLiveNotRespondingError =
    "Live is not responding: nothing was sent";

// The save command: these key strokes in order, each flagged with exactly
// kEventFlagMaskCommand, posted to Live's process. The S stroke uses the key
// that types "s" with Command in the current layout; kVirtualKeyS is that key
// on a US keyboard and the answer when the layout cannot tell.
struct KeyStroke {
  std::uint16_t virtualKey;
  bool keyDown;
};
inline constexpr std::uint16_t kVirtualKeyCommand = 55;
inline constexpr std::uint16_t kVirtualKeyS = 1;
constexpr std::array<KeyStroke, 4> saveKeyStrokes(std::uint16_t sKey) {
  return {{{kVirtualKeyCommand, true}, {sKey, true}, {sKey, false}, {kVirtualKeyCommand, false}}};
}
inline constexpr std::array<KeyStroke, 4> kSaveKeyStrokes = saveKeyStrokes(kVirtualKeyS);

class AppDelegate {
 public:
  // Loads the settings; nothing else touches the system until launch.
  explicit AppDelegate(Platform& platform);
  // Invalidates every timer, so the run loop never calls a gone delegate.
  ~AppDelegate();
  AppDelegate(const AppDelegate&) = delete;
  AppDelegate& operator=(const AppDelegate&) = delete;

  // The launch sequence: agent, menu, Live, schedule, monitor, first refresh,
  // and the permission request one second later.
  void applicationDidFinishLaunching();

  // The desktop's session was locked or unlocked (or disconnected and
  // reconnected): no save runs while it is locked; one that fell due then
  // runs at unlock, after the user's pause. Each way is logged.
  void sessionLockChanged(bool locked);
  // The user logs off or the system shuts down: logged, then quits.
  void sessionWillEnd();
  // The system goes to sleep, or has woken: like a lock, no save runs while
  // it sleeps, and one that fell due meanwhile runs after the wake (after
  // the unlock when the session is locked), through the user's pause.
  void systemWillSleep();
  void systemDidWake();
  // The wall clock was set: durations run on the monotonic clock and are
  // not moved; a jump of a second or more is logged. Also checked at every
  // Live monitor tick, for systems that announce nothing.
  void systemClockChanged();

  // Writes the watcher's property list when the watcher lies beside the
  // executable, then boots the agent out and bootstraps it again; a failed
  // bootstrap is retried from the run loop. An executable on a read-only
  // volume or translocated gets no agent, only a log line. Never reports
  // failure.
  void installLaunchAgentIfNeeded();

  // Makes the status item with icon, tooltip and menu; refreshMenu() fills
  // in the lines.
  void buildMenuBar();
  // The menu-bar icon, drawn afresh: a 22x22-point template image.
  ImageRef menuBarIconImage();
  // Turns the state into every menu line, the tooltip and the interval checks.
  void refreshMenu();
  // Starts the 0.25 s animation unless it runs already.
  void startWaitingAnimationIfNeeded();
  // Stops the animation and rewinds it to its first symbol.
  void stopWaitingAnimation();
  // The animation's symbol for the current frame.
  std::string waitingAnimationSymbol() const;

  // Rebuilds the schedule from now: the autosave timer and the countdown run
  // when autosave's three conditions hold, and are stopped otherwise.
  void configureAutosaveTimer();
  // The interval as a double, for timer and date arithmetic.
  double autosaveIntervalSeconds() const;
  // The interval submenu's title for a choice ("10 seconds (test)", "3 minutes").
  std::string intervalMenuTitleForSeconds(std::int64_t seconds) const;
  // The interval as the menu lines show it ("10 sec", "5 min").
  std::string intervalStatusText() const;
  // Seconds to the next automatic save, never negative; 0 when none is set.
  double secondsUntilNextAutosave() const;
  // The time to the next save as minutes:seconds ("09:59"); "00:00" when
  // none is set.
  std::string formattedCountdownText() const;

  // Unless granted or asked before: the system prompt, then the alert that
  // offers System Settings. Runs once per user.
  void requestAccessibilityOnFirstLaunchIfNeeded();
  // Asks the system afresh whether the permission is granted, without prompt.
  bool hasAccessibilityAccess();

  // One save attempt: sets the status message, logs the outcome, refreshes
  // the menu; a successful manual save restarts the schedule.
  void performSaveIsManual(bool manual);
  // Brings Live forward, posts Cmd+S to it and gives the focus back. False
  // with the reason in `error` (may be null) when nothing could be sent.
  bool sendSaveCommandReturningError(std::string* error);

  // Appends "[date time] message" to the application log; a lost line is
  // dropped silently.
  void logMessage(std::string_view message);

  // The state, read by the platform glue and the tests. Menu items are null
  // before buildMenuBar(), timers null while stopped.
  const MenuItemRef& statusLineItem() const { return statusLineItem_; }
  const MenuItemRef& abletonStatusItem() const { return abletonStatusItem_; }
  const MenuItemRef& accessibilityStatusItem() const { return accessibilityStatusItem_; }
  const MenuItemRef& autosaveStatusItem() const { return autosaveStatusItem_; }
  const MenuItemRef& toggleAutosaveItem() const { return toggleAutosaveItem_; }
  const MenuItemRef& saveNowItem() const { return saveNowItem_; }
  const MenuItemRef& accessibilityItem() const { return accessibilityItem_; }
  // Interval choice in seconds to its menu item.
  const std::map<std::int64_t, MenuItemRef>& intervalItems() const { return intervalItems_; }
  const TimerRef& autosaveTimer() const { return autosaveTimer_; }
  const TimerRef& liveMonitorTimer() const { return liveMonitorTimer_; }
  const TimerRef& waitingAnimationTimer() const { return waitingAnimationTimer_; }
  const TimerRef& countdownTimer() const { return countdownTimer_; }
  // Runs while an automatic save waits: for the user to pause, for Live's
  // dialog to close, or for Live's answer to the last keys.
  const TimerRef& pauseCheckTimer() const { return pauseCheckTimer_; }
  std::int64_t waitingAnimationFrame() const { return waitingAnimationFrame_; }
  bool didAskForAccessibility() const { return didAskForAccessibility_; }
  bool hasSeenAbletonRunning() const { return hasSeenAbletonRunning_; }
  // Kept on the monotonic clock; read and set as wall-clock dates of now.
  std::optional<Date> abletonStoppedAt() const { return wallDate(abletonStoppedAt_); }

  // The state that tests also set, to reach a situation directly.
  std::optional<Date> nextAutosaveAt() const { return wallDate(nextAutosaveAt_); }
  void setNextAutosaveAt(std::optional<Date> value) { nextAutosaveAt_ = monotonicTime(value); }
  std::int64_t intervalSeconds() const { return intervalSeconds_; }
  void setIntervalSeconds(std::int64_t value) { intervalSeconds_ = value; }
  bool autosaveEnabled() const { return autosaveEnabled_; }
  void setAutosaveEnabled(bool value) { autosaveEnabled_ = value; }
  // Empty stands for no message.
  const std::string& lastStatusMessage() const { return lastStatusMessage_; }
  // A message that reports no failure.
  void setLastStatusMessage(std::string value) {
    lastStatusMessage_ = std::move(value);
    lastStatusIsFailure_ = false;
  }
  // Whether the status message tells of a failure (shown behind "✕ ").
  bool lastStatusIsFailure() const { return lastStatusIsFailure_; }

 private:
  // Settings
  void loadSettings();

  // Launch agent
  std::string xmlEscapedString(const std::string& text) const;
  // Exit status of launchctl, or -1 when it could not be started or was
  // ended at its time limit (logged, and told through `timedOut`); what it
  // wrote to standard error goes to `errorOutput`. Both may be null.
  int runLaunchctlWithArguments(const std::vector<std::string>& arguments,
                                std::string* errorOutput = nullptr, bool* timedOut = nullptr);

  // Scheduler and Live monitor
  void startLiveMonitor();
  void handleAutosaveTimer();
  void handleLiveMonitorTimer();
  void updateAutomaticQuitStateWithAbletonRunning(bool abletonRunning);
  void startCountdownTimerIfNeeded();
  void stopCountdownTimer();
  void handleCountdownTimer();
  void handleWaitingAnimationTimer();
  // An automatic save that falls due: skipped, held back or sent, by the
  // rules in their order. `restartSchedule` makes the next one come a full
  // interval after it, as for a save that waited.
  void runDueSave(bool restartSchedule);
  // The next automatic save one interval on, as after a save.
  void moveScheduleOn(bool restartSchedule);
  // Waiting: whether the user pressed something lately or holds something
  // now; the start of a wait (each kind logged once per waiting save); its
  // checks; and its end.
  enum class SaveWait { none, watch, dialog, pause, live };
  bool userIsBusy();
  void waitForSave(SaveWait why);
  void handlePauseCheckTimer();
  void stopWaitingForSave();
  // Live's process, the one that gets the keys, for the set's watch.
  void followLive(const RunningApplicationRef& live);
  // The status line for the state read by refreshMenu(); `countdown` is
  // empty unless the countdown shows.
  std::string statusLineText(bool running, bool trusted, bool closing, const std::string& symbol,
                             const std::string& countdown);

  // Save command
  // Live's own Save command pressed in the background, where the title
  // shows a named set with changes; `unavailable` leaves it to the keys.
  enum class QuietOutcome { pressed, unavailable, noAnswer };
  bool quietSaveApplies();
  // After a save went out, by the keys or Live's menu: the status, the log
  // line, a manual save's new schedule and the menu. Returns the time of day
  // the status shows.
  std::string noteSaveSent(bool manual, std::string_view logLine);
  QuietOutcome saveQuietlyIsManual(bool manual);
  void quietSaveEnded(bool taken, bool manual);
  enum class SaveOutcome { sent, failed, heldBack };
  // performSaveIsManual with its outcome. An automatic save that found a key
  // held is held back: it reports nothing and does not refresh, its caller
  // makes it wait.
  SaveOutcome attemptSaveIsManual(bool manual);
  void restoreFocusToUnlessSameAs(const RunningApplicationRef& application,
                                  const RunningApplicationRef& other);
  RunningApplicationRef runningAbleton();
  bool isAbletonRunning();
  // Whether the application has the focus now.
  bool isFrontmost(const RunningApplicationRef& application);

  // Accessibility permission
  void promptForAccessibilityAccess();

  // Menu actions
  void openAccessibilitySettings();
  void toggleAutosave();
  void saveNow();
  void selectInterval(MenuItem& sender);
  void reportProblem();
  void quitApp();

  // Property setters used only inside the core.
  const StatusItemRef& statusItem() const { return statusItem_; }
  void setStatusItem(StatusItemRef value) { statusItem_ = std::move(value); }
  void setStatusLineItem(MenuItemRef value) { statusLineItem_ = std::move(value); }
  void setAbletonStatusItem(MenuItemRef value) { abletonStatusItem_ = std::move(value); }
  void setAccessibilityStatusItem(MenuItemRef value) {
    accessibilityStatusItem_ = std::move(value);
  }
  void setAutosaveStatusItem(MenuItemRef value) { autosaveStatusItem_ = std::move(value); }
  void setToggleAutosaveItem(MenuItemRef value) { toggleAutosaveItem_ = std::move(value); }
  void setSaveNowItem(MenuItemRef value) { saveNowItem_ = std::move(value); }
  void setAccessibilityItem(MenuItemRef value) { accessibilityItem_ = std::move(value); }
  void setAutosaveTimer(TimerRef value) { autosaveTimer_ = std::move(value); }
  void setLiveMonitorTimer(TimerRef value) { liveMonitorTimer_ = std::move(value); }
  void setWaitingAnimationTimer(TimerRef value) { waitingAnimationTimer_ = std::move(value); }
  void setCountdownTimer(TimerRef value) { countdownTimer_ = std::move(value); }
  void setDidAskForAccessibility(bool value) { didAskForAccessibility_ = value; }
  void setWaitingAnimationFrame(std::int64_t value) { waitingAnimationFrame_ = value; }
  void setHasSeenAbletonRunning(bool value) { hasSeenAbletonRunning_ = value; }
  void setAbletonStoppedAt(std::optional<Date> value) { abletonStoppedAt_ = monotonicTime(value); }
  // Between the two clocks, as they read now.
  std::optional<Date> wallDate(std::optional<double> monotonic) const;
  std::optional<double> monotonicTime(std::optional<Date> date) const;
  // A status message that tells of a failure.
  void setFailureStatusMessage(std::string value) {
    lastStatusMessage_ = std::move(value);
    lastStatusIsFailure_ = true;
  }
  // The system's own answer on the session's lock, where it gives one,
  // catches a lock or unlock that was never announced.
  void readBackSessionLock();
  // Asks the system to keep the timers prompt while Live runs.
  void keepTimersPrompt(bool prompt);
  // Whether nobody can be at the keyboard: the session locked or the
  // system asleep. Saves that fall due then run once it is over.
  bool away() const { return sessionLocked_ || asleep_; }
  void awayChanged(bool wasAway);
  void runSaveDueWhileAway();

  // Invalidates a timer property and clears it.
  static void stopTimer(TimerRef& timer);
  // A repeating timer whose callback is dropped once this delegate is gone.
  TimerRef makeRepeatingTimer(double interval, void (AppDelegate::*handler)());
  // Autosave's three conditions, in their fixed order.
  bool autosaveConditionsHold();
  // activateWithOptions, and when the system declines, once more as handed
  // over by the frontmost application. True when either was granted.
  bool requestActivation(const RunningApplicationRef& application, unsigned options);
  // Launch agent: whether the executable lies where launchd would lose it
  // (logged), and the run-loop retries of a failed bootstrap.
  bool executableLocationIsTransient(const std::string& executablePath);
  void scheduleBootstrapRetries(std::vector<std::string> bootstrapArguments);
  void handleBootstrapRetryTimer();

  Platform& platform_;
  // Expires with the delegate, so late callbacks find it gone.
  std::shared_ptr<AppDelegate*> lifetime_;

  StatusItemRef statusItem_;
  MenuItemRef statusLineItem_;
  MenuItemRef abletonStatusItem_;
  MenuItemRef accessibilityStatusItem_;
  MenuItemRef autosaveStatusItem_;
  MenuItemRef toggleAutosaveItem_;
  MenuItemRef saveNowItem_;
  MenuItemRef accessibilityItem_;
  std::map<std::int64_t, MenuItemRef> intervalItems_;
  TimerRef autosaveTimer_;
  TimerRef liveMonitorTimer_;
  TimerRef waitingAnimationTimer_;
  TimerRef countdownTimer_;
  TimerRef pauseCheckTimer_;
  SaveWait saveWait_ = SaveWait::none;
  unsigned loggedWaits_ = 0;
  std::string statusLine_;
  std::unique_ptr<LiveReader> liveReader_;
  std::unique_ptr<LiveSetWatch> liveSet_;
  std::unique_ptr<QuietSave> quietSave_;
  // The save now due goes by the keys: Live's menu was no way for it.
  bool quietSaveRefused_ = false;
  bool timersKeptPrompt_ = false;
  bool sessionLocked_ = false;
  bool asleep_ = false;
  bool saveDueWhileAway_ = false;
  // Wall clock minus monotonic clock when last looked at.
  std::optional<double> clockOffset_;
  TimerRef bootstrapRetryTimer_;
  std::vector<std::string> bootstrapArguments_;
  int bootstrapRetriesMade_ = 0;
  // On the monotonic clock.
  std::optional<double> nextAutosaveAt_;
  std::int64_t intervalSeconds_ = 0;
  bool autosaveEnabled_ = false;
  std::string lastStatusMessage_;
  bool lastStatusIsFailure_ = false;
  bool didAskForAccessibility_ = false;
  std::int64_t waitingAnimationFrame_ = 0;
  bool hasSeenAbletonRunning_ = false;
  // On the monotonic clock.
  std::optional<double> abletonStoppedAt_;
};

}  // namespace qm
