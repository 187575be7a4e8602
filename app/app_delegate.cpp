// The delegate's spine: settings load, launch sequence and application log.
#include "app_delegate.h"

#include <cmath>
#include <ctime>
#include <limits>

#include "files.h"

namespace qm {

AppDelegate::AppDelegate(Platform& platform)
    : platform_(platform), lifetime_(std::make_shared<AppDelegate*>(this)) {
  loadSettings();
  clockOffset_ = platform_.runLoop.now() - platform_.runLoop.monotonicNow();
  // Owned here, so its calls never outlive the delegate.
  liveReader_ = std::make_unique<LiveReader>(platform_.runLoop, platform_.applicationWindows,
                                             platform_.applicationMenus);
  quietSave_ = std::make_unique<QuietSave>(*liveReader_,
                                           [this](std::string_view line) { logMessage(line); });
  liveSet_ = std::make_unique<LiveSetWatch>(
      platform_.runLoop, *liveReader_, platform_.notifications, platform_.preferences,
      [this] { return platform_.system.shortTimeString(platform_.runLoop.now()); },
      [this](std::string_view line) { logMessage(line); },
      [this](const LiveSetWatch::Report& report) {
        if (report.failure) {
          setFailureStatusMessage(report.statusMessage);
        } else {
          setLastStatusMessage(report.statusMessage);
        }
        logMessage(report.logLine);
        refreshMenu();
        // Watches that run back to back leave the monitor no moment between
        // them: a watch's end is one too.
        liveSet_->checkWorkAtRisk(autosaveIntervalSeconds(), lastStatusMessage());
      });
}

AppDelegate::~AppDelegate() {
  // The run loop would otherwise keep calling into a destroyed delegate.
  stopTimer(autosaveTimer_);
  stopTimer(liveMonitorTimer_);
  stopTimer(waitingAnimationTimer_);
  stopTimer(countdownTimer_);
  stopTimer(pauseCheckTimer_);
  stopTimer(bootstrapRetryTimer_);
}

void AppDelegate::loadSettings() {
  Preferences& defaults = platform_.preferences;
  const std::string intervalKey(kIntervalDefaultsKey);
  const std::int64_t storedSeconds = defaults.integerForKey(intervalKey);
  if (storedSeconds >= 1) {
    intervalSeconds_ = storedSeconds;
  } else {
    // Only a positive legacy value is taken: a negative one would make a
    // timer with a negative period, which fires without pause.
    const std::int64_t legacyMinutes =
        defaults.integerForKey(std::string(kLegacyIntervalMinutesDefaultsKey));
    std::int64_t interval = kDefaultIntervalSeconds;
    if (legacyMinutes > 0) {
      constexpr std::int64_t kMaxMinutes = std::numeric_limits<std::int64_t>::max() / 60;
      interval = (legacyMinutes > kMaxMinutes ? kMaxMinutes : legacyMinutes) * 60;
    }
    intervalSeconds_ = interval;
    defaults.setInteger(interval, intervalKey);
  }

  const std::string enabledKey(kEnabledDefaultsKey);
  autosaveEnabled_ = defaults.hasObjectForKey(enabledKey) ? defaults.boolForKey(enabledKey) : true;
  intervalItems_.clear();
}

void AppDelegate::applicationDidFinishLaunching() {
  // The desktop's own way to start the watcher at login, or the launchd agent.
  std::string agentNote;
  if (!platform_.desktop.installWatcherAgent(&agentNote)) {
    installLaunchAgentIfNeeded();
  } else if (!agentNote.empty()) {
    logMessage(agentNote);
  }
  buildMenuBar();
  setHasSeenAbletonRunning(isAbletonRunning());
  keepTimersPrompt(hasSeenAbletonRunning());
  followLive(runningAbleton());
  configureAutosaveTimer();
  startLiveMonitor();
  refreshMenu();

  std::weak_ptr<AppDelegate*> alive = lifetime_;
  platform_.runLoop.performAfterDelay(kFirstLaunchRequestDelay, [alive] {
    if (auto self = alive.lock()) {
      (*self)->requestAccessibilityOnFirstLaunchIfNeeded();
    }
  });
}

std::optional<Date> AppDelegate::wallDate(std::optional<double> monotonic) const {
  if (!monotonic) {
    return std::nullopt;
  }
  return platform_.runLoop.now() + (*monotonic - platform_.runLoop.monotonicNow());
}

std::optional<double> AppDelegate::monotonicTime(std::optional<Date> date) const {
  if (!date) {
    return std::nullopt;
  }
  return platform_.runLoop.monotonicNow() + (*date - platform_.runLoop.now());
}

double AppDelegate::autosaveIntervalSeconds() const {
  return static_cast<double>(intervalSeconds_);
}

void AppDelegate::logMessage(std::string_view message) {
  const std::time_t seconds = static_cast<std::time_t>(std::floor(platform_.runLoop.now()));
  std::tm local{};
  char timestamp[32] = "";
  if (localtime_r(&seconds, &local) != nullptr) {
    std::strftime(timestamp, sizeof timestamp, "%Y-%m-%d %H:%M:%S", &local);
  }

  std::string line;
  line.reserve(message.size() + 24);
  line.append("[").append(timestamp).append("] ").append(message).append("\n");

  // The home folder only when the desktop names no log: asking for it may
  // load more of the system than a log line is worth.
  const std::optional<std::string> desktopPath = platform_.desktop.applicationLogPath();
  const std::string path =
      desktopPath ? *desktopPath
                  : platform_.system.homeDirectory() + "/" + std::string(kLogPathInHome);
  // A lost line is accepted: the log must never disturb the caller.
  if (files::exists(path)) {
    files::appendToExisting(path, line);
  } else {
    files::writeAtomically(path, line);
  }
}

void AppDelegate::stopTimer(TimerRef& timer) {
  if (timer) {
    timer->invalidate();
  }
  timer.reset();
}

TimerRef AppDelegate::makeRepeatingTimer(double interval, void (AppDelegate::*handler)()) {
  std::weak_ptr<AppDelegate*> alive = lifetime_;
  return platform_.runLoop.scheduleRepeatingTimer(interval, [alive, handler] {
    if (auto self = alive.lock()) {
      ((*self)->*handler)();
    }
  });
}

bool AppDelegate::autosaveConditionsHold() {
  return autosaveEnabled() && isAbletonRunning() && hasAccessibilityAccess();
}

}  // namespace qm
