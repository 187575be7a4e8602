// The status menu: building it, refreshing it from the state, the waiting
// animation, "Report a Problem" and "Quit".
#include "app_delegate.h"

namespace qm {

namespace {

constexpr std::string_view kCheck = "✓ ";
constexpr std::string_view kCross = "✕ ";
constexpr std::string_view kDot = " · ";

std::string concat(std::initializer_list<std::string_view> parts) {
  std::size_t size = 0;
  for (std::string_view part : parts) {
    size += part.size();
  }
  std::string text;
  text.reserve(size);
  for (std::string_view part : parts) {
    text.append(part);
  }
  return text;
}

}  // namespace

void AppDelegate::buildMenuBar() {
  StatusBar& bar = platform_.statusBar;
  const DesktopWords& words = platform_.desktop.words();
  setStatusItem(bar.statusItemWithLength(kVariableStatusItemLength));
  statusItem()->setImage(menuBarIconImage());
  statusItem()->setToolTip("Quillmark");

  MenuRef menu = bar.createMenu("Quillmark");
  // Items may outlive the delegate; a late click then does nothing.
  const std::weak_ptr<AppDelegate*> alive = lifetime_;
  const auto action = [alive](void (AppDelegate::*method)()) -> MenuAction {
    return [alive, method](MenuItem&) {
      if (auto self = alive.lock()) {
        ((*self)->*method)();
      }
    };
  };
  const auto disabledLine = [&bar](const std::string& title) {
    MenuItemRef item = bar.createMenuItem(title, nullptr, "");
    item->setEnabled(false);
    return item;
  };

  menu->addItem(disabledLine("Quillmark"));
  setStatusLineItem(disabledLine(""));
  menu->addItem(statusLineItem());
  setAbletonStatusItem(disabledLine(""));
  menu->addItem(abletonStatusItem());
  setAccessibilityStatusItem(disabledLine(""));
  menu->addItem(accessibilityStatusItem());
  setAutosaveStatusItem(disabledLine(""));
  menu->addItem(autosaveStatusItem());
  menu->addItem(bar.separatorItem());

  MenuItemRef intervalItem = bar.createMenuItem("Interval", nullptr, "");
  MenuRef intervalMenu = bar.createMenu("Interval");
  for (std::int64_t seconds : kIntervalChoices) {
    MenuItemRef item = bar.createMenuItem(
        intervalMenuTitleForSeconds(seconds),
        [alive](MenuItem& sender) {
          if (auto self = alive.lock()) {
            (*self)->selectInterval(sender);
          }
        },
        "");
    item->setTag(seconds);
    intervalItems_[seconds] = item;
    intervalMenu->addItem(item);
  }
  intervalItem->setSubmenu(intervalMenu);
  menu->addItem(intervalItem);

  setToggleAutosaveItem(bar.createMenuItem("", action(&AppDelegate::toggleAutosave), ""));
  menu->addItem(toggleAutosaveItem());
  setSaveNowItem(bar.createMenuItem("Save Now", action(&AppDelegate::saveNow), ""));
  menu->addItem(saveNowItem());
  setAccessibilityItem(bar.createMenuItem(std::string(words.openPermissionSettings),
                                          action(&AppDelegate::openAccessibilitySettings), ""));
  menu->addItem(accessibilityItem());
  menu->addItem(bar.separatorItem());
  menu->addItem(bar.createMenuItem("Report a Problem", action(&AppDelegate::reportProblem), ""));
  menu->addItem(bar.separatorItem());
  menu->addItem(bar.createMenuItem("Quit", action(&AppDelegate::quitApp), "q"));

  statusItem()->setMenu(menu);
}

void AppDelegate::refreshMenu() {
  const DesktopWords& words = platform_.desktop.words();
  const bool running = isAbletonRunning();
  const bool trusted = hasAccessibilityAccess();
  // Read before the animation may be stopped below.
  const std::string symbol = waitingAnimationSymbol();

  const bool countdownActive = running && trusted && autosaveEnabled() && nextAutosaveAt();
  const bool closing = hasSeenAbletonRunning() && abletonStoppedAt() && !running;

  if (running || closing) {
    stopWaitingAnimation();
  } else {
    startWaitingAnimationIfNeeded();
  }

  const std::string countdown = countdownActive ? formattedCountdownText() : std::string();
  statusLine_ = statusLineText(running, trusted, closing, symbol, countdown);
  statusLineItem()->setTitle(statusLine_);

  abletonStatusItem()->setTitle(running ? concat({kCheck, "Ableton connected"})
                                        : concat({symbol, " Ableton waiting"}));
  accessibilityStatusItem()->setTitle(trusted ? concat({kCheck, words.permissionGranted})
                                              : concat({kCross, words.permissionMissing}));
  autosaveStatusItem()->setTitle(
      autosaveEnabled() ? concat({kCheck, "Autosave on", kDot, "every ", intervalStatusText()})
                        : concat({kCross, "Autosave off"}));
  toggleAutosaveItem()->setTitle(autosaveEnabled() ? "Pause Autosave" : "Start Autosave");
  saveNowItem()->setEnabled(true);
  accessibilityItem()->setHidden(trusted);

  statusItem()->setToolTip(concat({
      running ? "Ableton connected" : "Ableton not connected",
      " | ",
      trusted ? words.permissionGranted : words.permissionMissing,
      " | ",
      autosaveEnabled() ? "Autosave on" : "Autosave off",
      countdownActive && liveSet_->onHold() ? " | Autosave on hold"
      : countdownActive                     ? " | Next save "
                                            : "",
      countdownActive && !liveSet_->onHold() ? countdown : std::string(),
  }));

  for (const auto& [seconds, item] : intervalItems()) {
    item->setState(seconds == intervalSeconds() ? kControlStateValueOn : kControlStateValueOff);
  }
}

std::string AppDelegate::statusLineText(bool running, bool trusted, bool closing,
                                        const std::string& symbol, const std::string& countdown) {
  const bool countdownActive = !countdown.empty();
  const std::string& message = lastStatusMessage();
  if (closing) {
    return std::string(kAbletonClosedStatusMessage);
  }
  if (!running) {
    return concat({symbol, " Waiting for Ableton Live"});
  }
  // A save waiting for Live's answer to the last keys has no line of its own.
  if (pauseCheckTimer() && saveWait_ == SaveWait::live) {
    return std::string(kWaitingForLiveStatusLine);
  }
  if (pauseCheckTimer() && saveWait_ == SaveWait::dialog) {
    return std::string(kWaitingForDialogStatusLine);
  }
  if (pauseCheckTimer() && saveWait_ == SaveWait::pause) {
    return std::string(kWaitingForPauseStatusLine);
  }
  // A failure never stands behind the check mark, and no countdown promises
  // a save that the hold after Live's dialog will not make.
  const std::string_view mark = lastStatusIsFailure() ? kCross : kCheck;
  if (countdownActive && !message.empty() && liveSet_->onHold()) {
    return concat({mark, message});
  }
  if (countdownActive && !message.empty()) {
    return concat({mark, message, kDot, "next ", countdown});
  }
  if (countdownActive) {
    return concat({kCheck, "Next save in ", countdown});
  }
  if (!message.empty()) {
    return lastStatusIsFailure() ? concat({kCross, message}) : message;
  }
  if (!trusted) {
    return concat({kCross, platform_.desktop.words().grantPermission});
  }
  if (autosaveEnabled()) {
    return concat({kCheck, "Autosave every ", intervalStatusText()});
  }
  return concat({kCross, "Autosave paused"});
}

void AppDelegate::startWaitingAnimationIfNeeded() {
  if (waitingAnimationTimer()) {
    return;
  }
  setWaitingAnimationFrame(0);
  setWaitingAnimationTimer(
      makeRepeatingTimer(kWaitingAnimationInterval, &AppDelegate::handleWaitingAnimationTimer));
}

void AppDelegate::stopWaitingAnimation() {
  stopTimer(waitingAnimationTimer_);
  setWaitingAnimationFrame(0);
}

void AppDelegate::handleWaitingAnimationTimer() {
  setWaitingAnimationFrame(waitingAnimationFrame() + 1);
  refreshMenu();
}

std::string AppDelegate::waitingAnimationSymbol() const {
  const auto frame = static_cast<std::uint64_t>(waitingAnimationFrame());
  return std::string(kWaitingSymbols[frame % kWaitingSymbols.size()]);
}

void AppDelegate::reportProblem() {
  platform_.workspace.openURL(std::string(kSupportURL));
}

void AppDelegate::quitApp() {
  stopWaitingAnimation();
  platform_.system.terminate();
}

}  // namespace qm
