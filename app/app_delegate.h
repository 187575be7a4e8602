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

#include "platform.h"

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

// Where "Report a Problem" takes the user.
inline constexpr std::string_view kSupportURL = "https://github.com/vellum/quillmark/issues/new";
inline constexpr std::string_view kAccessibilitySettingsURL =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";

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

class AppDelegate {
 public:
  // init: loads the settings.
  explicit AppDelegate(Platform& platform);
  ~AppDelegate();
  AppDelegate(const AppDelegate&) = delete;
  AppDelegate& operator=(const AppDelegate&) = delete;

  void applicationDidFinishLaunching();

  // Launch agent
  void installLaunchAgentIfNeeded();
  std::string xmlEscapedString(const std::string& text) const;
  // Exit status of launchctl, or -1 when it could not be started.
  int runLaunchctlWithArguments(const std::vector<std::string>& arguments);

  // Status menu and icon
  void buildMenuBar();
  ImageRef menuBarIconImage();

  // Scheduler and Live monitor
  void configureAutosaveTimer();
  void startLiveMonitor();
  void handleAutosaveTimer();
  void handleLiveMonitorTimer();
  void updateAutomaticQuitStateWithAbletonRunning(bool abletonRunning);
  double autosaveIntervalSeconds() const;
  std::string intervalMenuTitleForSeconds(std::int64_t seconds) const;
  std::string intervalStatusText() const;
  void startCountdownTimerIfNeeded();
  void stopCountdownTimer();
  void handleCountdownTimer();
  double secondsUntilNextAutosave() const;
  std::string formattedCountdownText() const;

  // Waiting animation
  void startWaitingAnimationIfNeeded();
  void stopWaitingAnimation();
  void handleWaitingAnimationTimer();
  std::string waitingAnimationSymbol() const;

  void requestAccessibilityOnFirstLaunchIfNeeded();
  void refreshMenu();

  // Save command
  void performSaveIsManual(bool manual);
  bool sendSaveCommandReturningError(std::string* error);
  void restoreFocusToUnlessSameAs(const RunningApplicationRef& application,
                                  const RunningApplicationRef& other);

  void logMessage(std::string_view message);

  RunningApplicationRef runningAbleton();
  bool isAbletonRunning();

  // Accessibility permission
  bool hasAccessibilityAccess();
  void promptForAccessibilityAccess();
  void openAccessibilitySettings();

  // Menu actions
  void toggleAutosave();
  void saveNow();
  void selectInterval(MenuItem& sender);
  void reportProblem();
  void quitApp();

  // Properties
  const StatusItemRef& statusItem() const { return statusItem_; }
  void setStatusItem(StatusItemRef value) { statusItem_ = std::move(value); }
  const MenuItemRef& statusLineItem() const { return statusLineItem_; }
  void setStatusLineItem(MenuItemRef value) { statusLineItem_ = std::move(value); }
  const MenuItemRef& abletonStatusItem() const { return abletonStatusItem_; }
  void setAbletonStatusItem(MenuItemRef value) { abletonStatusItem_ = std::move(value); }
  const MenuItemRef& accessibilityStatusItem() const { return accessibilityStatusItem_; }
  void setAccessibilityStatusItem(MenuItemRef value) {
    accessibilityStatusItem_ = std::move(value);
  }
  const MenuItemRef& autosaveStatusItem() const { return autosaveStatusItem_; }
  void setAutosaveStatusItem(MenuItemRef value) { autosaveStatusItem_ = std::move(value); }
  const MenuItemRef& toggleAutosaveItem() const { return toggleAutosaveItem_; }
  void setToggleAutosaveItem(MenuItemRef value) { toggleAutosaveItem_ = std::move(value); }
  const MenuItemRef& saveNowItem() const { return saveNowItem_; }
  void setSaveNowItem(MenuItemRef value) { saveNowItem_ = std::move(value); }
  const MenuItemRef& accessibilityItem() const { return accessibilityItem_; }
  void setAccessibilityItem(MenuItemRef value) { accessibilityItem_ = std::move(value); }
  // Interval choice in seconds to its menu item.
  std::map<std::int64_t, MenuItemRef>& intervalItems() { return intervalItems_; }
  const std::map<std::int64_t, MenuItemRef>& intervalItems() const { return intervalItems_; }
  const TimerRef& autosaveTimer() const { return autosaveTimer_; }
  void setAutosaveTimer(TimerRef value) { autosaveTimer_ = std::move(value); }
  const TimerRef& liveMonitorTimer() const { return liveMonitorTimer_; }
  void setLiveMonitorTimer(TimerRef value) { liveMonitorTimer_ = std::move(value); }
  const TimerRef& waitingAnimationTimer() const { return waitingAnimationTimer_; }
  void setWaitingAnimationTimer(TimerRef value) { waitingAnimationTimer_ = std::move(value); }
  const TimerRef& countdownTimer() const { return countdownTimer_; }
  void setCountdownTimer(TimerRef value) { countdownTimer_ = std::move(value); }
  std::optional<Date> nextAutosaveAt() const { return nextAutosaveAt_; }
  void setNextAutosaveAt(std::optional<Date> value) { nextAutosaveAt_ = value; }
  std::int64_t intervalSeconds() const { return intervalSeconds_; }
  void setIntervalSeconds(std::int64_t value) { intervalSeconds_ = value; }
  bool autosaveEnabled() const { return autosaveEnabled_; }
  void setAutosaveEnabled(bool value) { autosaveEnabled_ = value; }
  // Empty stands for no message.
  const std::string& lastStatusMessage() const { return lastStatusMessage_; }
  void setLastStatusMessage(std::string value) { lastStatusMessage_ = std::move(value); }
  bool didAskForAccessibility() const { return didAskForAccessibility_; }
  void setDidAskForAccessibility(bool value) { didAskForAccessibility_ = value; }
  std::int64_t waitingAnimationFrame() const { return waitingAnimationFrame_; }
  void setWaitingAnimationFrame(std::int64_t value) { waitingAnimationFrame_ = value; }
  bool hasSeenAbletonRunning() const { return hasSeenAbletonRunning_; }
  void setHasSeenAbletonRunning(bool value) { hasSeenAbletonRunning_ = value; }
  std::optional<Date> abletonStoppedAt() const { return abletonStoppedAt_; }
  void setAbletonStoppedAt(std::optional<Date> value) { abletonStoppedAt_ = value; }

 private:
  void loadSettings();
  // Invalidates a timer property and clears it.
  static void stopTimer(TimerRef& timer);
  // A repeating timer whose callback is dropped once this delegate is gone.
  TimerRef makeRepeatingTimer(double interval, void (AppDelegate::*handler)());
  // Autosave's three conditions, in their fixed order.
  bool autosaveConditionsHold();

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
  std::optional<Date> nextAutosaveAt_;
  std::int64_t intervalSeconds_ = 0;
  bool autosaveEnabled_ = false;
  std::string lastStatusMessage_;
  bool didAskForAccessibility_ = false;
  std::int64_t waitingAnimationFrame_ = 0;
  bool hasSeenAbletonRunning_ = false;
  std::optional<Date> abletonStoppedAt_;
};

}  // namespace qm
