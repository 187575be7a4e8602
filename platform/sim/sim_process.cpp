#include "sim_process.h"

#include <algorithm>
#include <cmath>
#include <ctime>

namespace qm::sim {
namespace {

// The run loop retains a scheduled timer: dropping this handle does not stop
// it, only invalidate() does.
class SimTimer final : public Timer {
 public:
  explicit SimTimer(detail::ScheduledCallPtr call) : call_(std::move(call)) {}
  void invalidate() override {
    call_->valid = false;
    if (call_->queue != nullptr) {
      call_->queue->remove(*call_);
    }
  }
  bool isValid() const override { return call_->valid; }

 private:
  detail::ScheduledCallPtr call_;
};

// Names a pid; once the application has quit, unhide and activate fail.
// Activation requests are the holder's, `requester`.
class SimRunningApplication final : public RunningApplication {
 public:
  SimRunningApplication(World& world, int pid, int requester)
      : world_(world), pid_(pid), requester_(requester) {}
  int processIdentifier() const override { return pid_; }
  bool isHidden() const override { return world_.isHidden(pid_); }
  bool unhide() override { return world_.unhideApplication(pid_); }
  bool hide() override { return world_.hideApplication(pid_); }
  bool activateWithOptions(unsigned options) override {
    return world_.activateApplication(pid_, options, requester_);
  }
  bool activateFromApplicationOptions(const RunningApplication& from, unsigned options) override {
    return world_.activateApplicationHandedOver(pid_, from.processIdentifier(), options,
                                                requester_);
  }

 private:
  World& world_;
  int pid_;
  int requester_;
};

class SimKeyboardEvent final : public KeyboardEvent {
 public:
  SimKeyboardEvent(World& world, std::uint16_t keyCode, bool keyDown, std::uint64_t flags)
      : world_(world), keyCode_(keyCode), keyDown_(keyDown), flags_(flags) {}
  void setFlags(std::uint64_t flags) override { flags_ = flags; }
  void postToPid(int pid) override { world_.postKeyEvent(pid, keyCode_, keyDown_, flags_); }

 private:
  World& world_;
  std::uint16_t keyCode_;
  bool keyDown_;
  std::uint64_t flags_;
};

class SimEventSource final : public EventSource {
 public:
  SimEventSource(World& world, int failingPosition)
      : world_(world), failingPosition_(failingPosition) {}
  // New events carry the modifiers the source reports at that moment.
  std::unique_ptr<KeyboardEvent> createKeyboardEvent(std::uint16_t virtualKey,
                                                     bool keyDown) override {
    if (++created_ == failingPosition_) {
      return nullptr;
    }
    return std::make_unique<SimKeyboardEvent>(world_, virtualKey, keyDown,
                                              world_.sourceModifierFlags());
  }

 private:
  World& world_;
  int failingPosition_;
  int created_ = 0;
};

class SimTitleObservation final : public Observation {
 public:
  SimTitleObservation(World& world, int id) : world_(world), id_(id) {}
  ~SimTitleObservation() override { world_.removeLiveTitleObserver(id_); }

 private:
  World& world_;
  int id_;
};

bool isLive(const World& world, int pid) {
  const std::vector<int> lives = world.runningApplications(World::kLiveBundleIdentifier);
  return std::find(lives.begin(), lives.end(), pid) != lives.end();
}

}  // namespace

Process::Process(World& world)
    : world_(world),
      platform_{*this, *this, *this, *this, *this, *this, *this,
                *this, *this, *this, *this, *this, *this, desktop_},
      pid_(world.startApplication(kBundleIdentifier, "Quillmark")) {}

Process::~Process() {
  world_.cancelCallsOf(*this);
  if (!terminated()) {
    world_.quitApplication(pid_);
  }
}

bool Process::run(const std::function<void()>& body) {
  return world_.runAsEvent(*this, body);
}

// ---------------------------------------------------------------------------
// Status menu, as the user sees it

SimStatusItemRef Process::statusItem() const {
  for (auto it = statusItems_.rbegin(); it != statusItems_.rend(); ++it) {
    if (SimStatusItemRef item = it->lock()) {
      return item;
    }
  }
  return nullptr;
}

SimMenuItemRef Process::findItem(const std::vector<std::string>& path) const {
  SimStatusItemRef status = statusItem();
  if (!status || path.empty()) {
    return nullptr;
  }
  const SimMenu* menu = status->menu().get();
  SimMenuItemRef item;
  for (const std::string& title : path) {
    if (menu == nullptr || !(item = menu->item(title))) {
      return nullptr;
    }
    menu = item->submenu().get();
  }
  return item;
}

ClickResult Process::click(const std::vector<std::string>& path, MissingItem* missing) {
  if (terminated()) {
    return ClickResult::processEnded;
  }
  SimStatusItemRef status = statusItem();
  if (!status || path.empty()) {
    return ClickResult::notFound;
  }
  const SimMenu* menu = status->menu().get();
  SimMenuItemRef item;
  for (const std::string& title : path) {
    const SimMenuItemRef parent = std::move(item);
    // An item without a submenu opens nothing to look in.
    static const std::vector<SimMenuItemRef> kNoItems;
    const std::vector<SimMenuItemRef>& items = menu ? menu->items() : kNoItems;
    // The user sees only visible items; a hidden one with the title counts
    // only when no visible one has it.
    bool sawHidden = false;
    for (const SimMenuItemRef& candidate : items) {
      if (candidate->isSeparator() || candidate->title() != title) {
        continue;
      }
      if (!candidate->hidden()) {
        item = candidate;
        break;
      }
      sawHidden = true;
    }
    if (sawHidden && !item) {
      return ClickResult::hidden;
    }
    if (!item) {
      if (missing != nullptr) {
        *missing = MissingItem{parent ? parent->title() : std::string(), {}};
        for (const SimMenuItemRef& seen : items) {
          if (!seen->isSeparator() && !seen->hidden()) {
            missing->titles.push_back(seen->title());
          }
        }
      }
      return ClickResult::notFound;
    }
    if (!item->enabled()) {
      return ClickResult::disabled;
    }
    menu = item->submenu().get();
  }
  return choose(item);
}

ClickResult Process::pressKeyEquivalent(const std::string& key) {
  if (terminated()) {
    return ClickResult::processEnded;
  }
  SimStatusItemRef status = statusItem();
  if (!status || !status->menu() || key.empty()) {
    return ClickResult::notFound;
  }
  // Hidden items do not take part in key matching; remember the best reason
  // for a miss.
  ClickResult miss = ClickResult::notFound;
  SimMenuItemRef hit;
  std::function<bool(const SimMenu&, bool)> search = [&](const SimMenu& menu, bool hiddenAbove) {
    for (const SimMenuItemRef& item : menu.items()) {
      const bool hidden = hiddenAbove || item->hidden();
      if (item->keyEquivalent() == key) {
        if (hidden) {
          if (miss == ClickResult::notFound) {
            miss = ClickResult::hidden;
          }
        } else if (item->enabled()) {
          hit = item;
          return true;
        } else {
          miss = ClickResult::disabled;
        }
      }
      if (item->submenu() && search(*item->submenu(), hidden)) {
        return true;
      }
    }
    return false;
  };
  if (!search(*status->menu(), false)) {
    return miss;
  }
  return choose(hit);
}

ClickResult Process::choose(const SimMenuItemRef& item) {
  if (!item->hasAction()) {
    return ClickResult::noAction;
  }
  // The action may rebuild the menu; keep what it needs alive.
  SimMenuItemRef sender = item;
  MenuAction action = sender->action();
  run([&] { action(*sender); });
  return ClickResult::ok;
}

// ---------------------------------------------------------------------------
// RunLoop

Date Process::now() const {
  return world_.wallNow();
}

double Process::monotonicNow() const {
  return world_.now();
}

TimerRef Process::scheduleRepeatingTimer(double interval, std::function<void()> callback) {
  return std::make_shared<SimTimer>(world_.scheduleTimer(*this, interval, std::move(callback)));
}

void Process::performAfterDelay(double delay, std::function<void()> callback) {
  world_.schedulePerform(*this, delay, std::move(callback));
}

void Process::sleepMicroseconds(std::uint32_t microseconds) {
  world_.sleepFor(static_cast<double>(microseconds) / 1e6);
}

// ---------------------------------------------------------------------------
// Workspace and accessibility

RunningApplicationRef Process::applicationRef(int pid) {
  return std::make_shared<SimRunningApplication>(world_, pid, pid_);
}

std::vector<RunningApplicationRef> Process::runningApplicationsWithBundleIdentifier(
    const std::string& bundleIdentifier) {
  std::vector<RunningApplicationRef> applications;
  for (int pid : world_.runningApplications(bundleIdentifier)) {
    applications.push_back(applicationRef(pid));
  }
  return applications;
}

RunningApplicationRef Process::frontmostApplication() {
  std::optional<int> pid = world_.frontmost();
  return pid ? applicationRef(*pid) : nullptr;
}

std::optional<int> Process::frontmostProcessIdentifierNow() {
  return world_.frontmost();
}

bool Process::openURL(const std::string& url) {
  return world_.openURL(*this, url);
}

bool Process::isProcessTrustedWithOptions(bool prompt) {
  return world_.checkTrust(*this, prompt);
}

std::unique_ptr<EventSource> Process::createEventSource(int stateId) {
  std::optional<int> failingPosition = world_.makeEventSource(stateId);
  if (!failingPosition) {
    return nullptr;
  }
  return std::make_unique<SimEventSource>(world_, *failingPosition);
}

std::optional<std::uint16_t> Process::virtualKeyTypingWithCommand(char32_t character) {
  if (character > 0x7f) {
    return std::nullopt;
  }
  return world_.keyCodeTyping(static_cast<char>(character));
}

// ---------------------------------------------------------------------------
// UserActivity

double Process::secondsSinceLastUserInput() {
  return world_.secondsSinceLastUserPress();
}

bool Process::isUserInputHeld() {
  return world_.userHoldsAnything();
}

// ---------------------------------------------------------------------------
// Preferences

std::int64_t Process::integerForKey(const std::string& key) {
  const PreferenceValue* value = world_.preference(key);
  return value ? integerValueOf(*value) : 0;
}

bool Process::boolForKey(const std::string& key) {
  const PreferenceValue* value = world_.preference(key);
  return value ? boolValueOf(*value) : false;
}

bool Process::hasObjectForKey(const std::string& key) {
  return world_.preference(key) != nullptr;
}

void Process::setInteger(std::int64_t value, const std::string& key) {
  world_.setIntegerPreference(key, value);
}

void Process::setBool(bool value, const std::string& key) {
  world_.setBoolPreference(key, value);
}

void Process::removeObjectForKey(const std::string& key) {
  world_.removePreference(key);
}

// ---------------------------------------------------------------------------
// Status bar, alerts, drawing

StatusItemRef Process::statusItemWithLength(double length) {
  auto item = std::make_shared<SimStatusItem>(length);
  statusItems_.push_back(item);
  return item;
}

MenuRef Process::createMenu(const std::string& title) {
  return std::make_shared<SimMenu>(title);
}

MenuItemRef Process::createMenuItem(const std::string& title, MenuAction action,
                                    const std::string& keyEquivalent) {
  return std::make_shared<SimMenuItem>(title, std::move(action), keyEquivalent, false);
}

MenuItemRef Process::separatorItem() {
  return std::make_shared<SimMenuItem>("", nullptr, "", true);
}

long Process::runModal(const AlertContent& alert) {
  return world_.runModal(*this, alert);
}

std::unique_ptr<ImageCanvas> Process::beginImage(Size size) {
  return std::make_unique<render::RecordingCanvas>(size);
}

// ---------------------------------------------------------------------------
// System

void Process::terminate() {
  if (!terminatedAt_) {
    terminatedAt_ = world_.now();
    world_.cancelCallsOf(*this);
    world_.quitApplication(pid_);
    world_.recordTermination(*this);
  }
  throw ProcessExit{this};
}

std::string Process::homeDirectory() {
  return world_.homeDirectory();
}

std::optional<std::string> Process::userLibraryDirectory() {
  return world_.userLibraryDirectory();
}

std::uint32_t Process::userId() {
  return world_.userId();
}

System::VolumeKind Process::volumeKind(const std::string& path) {
  return world_.volumeKind(path);
}

System::TaskResult Process::runTask(const std::string& launchPath,
                                    const std::vector<std::string>& arguments,
                                    double timeoutSeconds) {
  return world_.runTask(*this, launchPath, arguments, timeoutSeconds);
}

void Process::activate() {
  world_.activateApplication(pid_, 0, pid_);
}

std::optional<bool> Process::sessionIsLocked() {
  return world_.sessionLocked();
}

std::string Process::shortTimeString(Date date) {
  const auto seconds = static_cast<std::time_t>(std::floor(date));
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[16];
  std::strftime(text, sizeof text, "%H:%M", &local);
  return text;
}

}  // namespace qm::sim

namespace qm::sim {

// ---------------------------------------------------------------------------
// ApplicationWindows and Notifications

// Only Live can be busy; the others answer at once.

Reply<std::optional<std::string>> Process::mainWindowTitle(int pid) {
  if (!isLive(world_, pid)) {
    return std::optional<std::string>();
  }
  if (!world_.liveAnswers(*this, pid, LiveWait::Read::title)) {
    return Reply<std::optional<std::string>>::noAnswer();
  }
  return world_.liveTitle();
}

Reply<bool> Process::showsModalDialog(int pid) {
  if (!isLive(world_, pid)) {
    return false;
  }
  if (!world_.liveAnswers(*this, pid, LiveWait::Read::dialog)) {
    return Reply<bool>::noAnswer();
  }
  return world_.liveDialogOpen();
}

Reply<ApplicationMenus::Press> Process::pressSaveCommand(int pid) {
  if (!isLive(world_, pid)) {
    return Press::missing;
  }
  if (!world_.liveAnswers(*this, pid, LiveWait::Read::saveCommand)) {
    return Reply<Press>::noAnswer();
  }
  return world_.pressLiveSaveCommand(*this, pid);
}

ObservationRef Process::observeTitleChanges(
    int pid, std::function<void(const std::optional<std::string>&)> changed) {
  if (!isLive(world_, pid)) {
    return nullptr;
  }
  return std::make_unique<SimTitleObservation>(world_,
                                               world_.observeLiveTitle(*this, std::move(changed)));
}

void Process::postNotification(const std::string& title, const std::string& body) {
  world_.postNotification(*this, title, body);
}

}  // namespace qm::sim
