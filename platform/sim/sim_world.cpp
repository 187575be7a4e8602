#include "sim_world.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <limits>
#include <stdexcept>
#include <string_view>

#include "sim_process.h"

namespace qm::sim {
namespace {

constexpr Date kForever = std::numeric_limits<Date>::infinity();

bool isAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isAsciiDigit(char c) {
  return c >= '0' && c <= '9';
}

// A scheme ("letter (letter | digit | + | - | .)*:") and no blank or control
// character anywhere: what a URL parser accepts and a workspace can open.
bool parsesAsURL(std::string_view text) {
  if (text.empty() || !isAsciiLetter(text[0])) {
    return false;
  }
  std::size_t i = 1;
  while (i < text.size() && (isAsciiLetter(text[i]) || isAsciiDigit(text[i]) || text[i] == '+' ||
                             text[i] == '-' || text[i] == '.')) {
    ++i;
  }
  if (i == text.size() || text[i] != ':') {
    return false;
  }
  return std::none_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte <= 0x20 || byte == 0x7f;
  });
}

// The first time strictly after `now` on the grid `due + k * period`. Far
// from the epoch a tiny period can vanish in rounding; the timer then fires
// at the next representable instant rather than never.
Date nextGridTime(Date due, double period, Date now) {
  Date next = due + period;
  if (next > now) {
    return next;
  }
  const double k = std::floor((now - due) / period) + 1;
  next = due + k * period;
  if (!(next > now)) {
    next = due + (k + 1) * period;
  }
  if (!(next > now)) {
    next = std::nextafter(now, kForever);
  }
  return next;
}

void requireFinite(Date time, const char* what) {
  if (!std::isfinite(time)) {
    throw std::invalid_argument(std::string(what) + " needs a finite time");
  }
}

}  // namespace

Date World::startDate() {
  std::tm local{};
  local.tm_year = 2025 - 1900;
  local.tm_mon = 2;
  local.tm_mday = 2;
  local.tm_hour = 9;
  local.tm_isdst = -1;
  return static_cast<Date>(std::mktime(&local));
}

World::World(std::string homeDirectory)
    : now_(startDate()), homeDirectory_(std::move(homeDirectory)) {}

World::~World() = default;

// ---------------------------------------------------------------------------
// Clock and main thread

void World::advanceTo(Date time) {
  requireFinite(time, "advanceTo");
  if (callDepth_ > 0) {
    throw std::logic_error("advanceTo from inside a main-thread call");
  }
  runUntil(time, nullptr);
}

void World::at(Date time, std::function<void()> action) {
  requireFinite(time, "at");
  auto call = std::make_shared<detail::ScheduledCall>();
  call->due = time;
  call->callback = std::move(action);
  push(commonCalls_, std::move(call));
}

void World::push(detail::CallQueue& queue, detail::ScheduledCallPtr call) {
  call->seq = nextSeq_++;
  queue.push(std::move(call));
}

void World::runUntil(Date limit, const Process* modalOwner) {
  const bool commonOnly = modalOwner != nullptr;
  // What came due while a call blocked the thread is overdue: it runs as soon
  // as control is back here, even past `limit`.
  while (detail::ScheduledCallPtr call = nextDue(std::max(limit, now_), commonOnly)) {
    deliverUserKeysUntil(call->due);
    if (call->due > now_) {
      now_ = call->due;
    }
    fire(std::move(call), modalOwner);
  }
  deliverUserKeysUntil(limit);
  if (limit > now_) {
    now_ = limit;
  }
}

detail::ScheduledCallPtr World::nextDue(Date limit, bool commonOnly) {
  const detail::ScheduledCall* best = commonCalls_.top();
  detail::CallQueue* from = &commonCalls_;
  if (!commonOnly) {
    const detail::ScheduledCall* other = defaultModeCalls_.top();
    if (other && (!best || detail::CallQueue::before(*other, *best))) {
      best = other;
      from = &defaultModeCalls_;
    }
  }
  if (!best || !(best->due <= limit)) {
    return nullptr;
  }
  return from->pop();
}

void World::fire(detail::ScheduledCallPtr call, const Process* modalOwner) {
  const int pid = call->owner ? call->owner->pid() : 0;
  firing_.push_back(call.get());
  ++callDepth_;
  // Runs on every way out: a repeating timer goes back on its grid unless it
  // was invalidated or its process ended meanwhile.
  auto finish = [&] {
    --callDepth_;
    firing_.pop_back();
    if (call->period > 0) {
      if (call->valid) {
        call->due = nextGridTime(call->due, call->period, now_);
        push(commonCalls_, call);
      }
    } else {
      call->valid = false;
    }
  };
  try {
    call->callback();
  } catch (const ProcessExit& exit) {
    finish();
    // Inside an alert of the ending process, its whole stack must unwind.
    if (modalOwner != nullptr && exit.process == modalOwner) {
      throw;
    }
    notify(Event::Kind::afterDispatch, pid, 0);
    return;
  } catch (...) {
    finish();
    throw;
  }
  finish();
  notify(Event::Kind::afterDispatch, pid, 0);
}

detail::ScheduledCallPtr World::scheduleTimer(Process& owner, double interval,
                                              std::function<void()> callback) {
  auto call = std::make_shared<detail::ScheduledCall>();
  call->owner = &owner;
  call->period = interval > 0 ? interval : kMinimumTimerInterval;
  call->callback = std::move(callback);
  if (owner.terminated()) {
    call->valid = false;
    call->owner = nullptr;
    return call;
  }
  call->due = now_ + call->period;
  if (!(call->due > now_)) {
    call->due = std::nextafter(now_, kForever);
  }
  push(commonCalls_, call);
  return call;
}

void World::schedulePerform(Process& owner, double delay, std::function<void()> callback) {
  if (owner.terminated()) {
    return;
  }
  auto call = std::make_shared<detail::ScheduledCall>();
  call->owner = &owner;
  call->due = now_ + (delay > 0 ? delay : 0);
  call->callback = std::move(callback);
  push(defaultModeCalls_, std::move(call));
}

void World::sleepFor(double seconds) {
  if (seconds > 0) {
    blockMainThreadUntil(now_ + seconds);
  }
}

void World::blockMainThreadUntil(Date time) {
  // Live is another process: a busy spell ends on time, and what it held is
  // handled then, even while this thread is blocked.
  if (liveBusyEndPending_ && liveBusyUntil_ <= time) {
    deliverUserKeysUntil(liveBusyUntil_);
    now_ = std::max(now_, liveBusyUntil_);
    liveBusyEnds();
  }
  deliverUserKeysUntil(time);
  now_ = std::max(now_, time);
}

bool World::runAsEvent(const Process& owner, const std::function<void()>& body) {
  ++callDepth_;
  try {
    body();
  } catch (const ProcessExit& exit) {
    --callDepth_;
    if (exit.process != &owner) {
      throw;
    }
    notify(Event::Kind::afterDispatch, owner.pid(), 0);
    // An alert of the ended process must not go on running: unwind to it.
    if (std::find(modalOwners_.begin(), modalOwners_.end(), &owner) != modalOwners_.end()) {
      throw;
    }
    return false;
  } catch (...) {
    --callDepth_;
    throw;
  }
  --callDepth_;
  notify(Event::Kind::afterDispatch, owner.pid(), 0);
  return true;
}

void World::cancelCallsOf(const Process& owner) {
  auto owned = [&owner](const detail::ScheduledCall& call) { return call.owner == &owner; };
  commonCalls_.removeIf(owned);
  defaultModeCalls_.removeIf(owned);
  for (detail::ScheduledCall* call : firing_) {
    if (call->owner == &owner) {
      call->valid = false;
      call->owner = nullptr;
    }
  }
}

// ---------------------------------------------------------------------------
// Modal alerts

void World::setNextAlertResponse(int buttonIndex, double openSeconds) {
  if (buttonIndex < 0 || !std::isfinite(openSeconds) || openSeconds < 0) {
    throw std::invalid_argument("alert response needs a button index >= 0 and a span >= 0");
  }
  nextAlertButton_ = buttonIndex;
  nextAlertOpenSeconds_ = openSeconds;
}

long World::runModal(const Process& owner, const AlertContent& alert) {
  // An alert without buttons gets an "OK" button.
  const int buttonCount = std::max<int>(1, static_cast<int>(alert.buttonTitles.size()));
  const int button = nextAlertButton_.value_or(std::min(1, buttonCount - 1));
  const double openSeconds = nextAlertOpenSeconds_;
  nextAlertButton_.reset();
  nextAlertOpenSeconds_ = 0;
  if (button >= buttonCount) {
    throw std::logic_error("the scripted answer presses button " + std::to_string(button) +
                           " of an alert with " + std::to_string(buttonCount));
  }

  alerts_.push_back(AlertRecord{now_, owner.pid(), alert, std::nullopt, std::nullopt});
  const std::size_t index = alerts_.size() - 1;
  notify(Event::Kind::alertShown, owner.pid(), index);

  const Date closesAt = now_ + openSeconds;
  ++modalDepth_;
  modalOwners_.push_back(&owner);
  try {
    runUntil(closesAt, &owner);
  } catch (...) {
    --modalDepth_;
    modalOwners_.pop_back();
    throw;
  }
  --modalDepth_;
  modalOwners_.pop_back();

  alerts_[index].pressedButton = button;
  alerts_[index].answeredAt = now_;
  notify(Event::Kind::alertAnswered, owner.pid(), index);
  return kAlertFirstButtonReturn + button;
}

// ---------------------------------------------------------------------------
// Running applications

int World::startApplication(const std::string& bundleIdentifier, const std::string& name,
                            bool hidden) {
  const int pid = nextPid_++;
  applications_.push_back(Application{pid, bundleIdentifier, name, hidden, true});
  if (bundleIdentifier == kLiveBundleIdentifier) {
    announceLiveTitle();
  }
  return pid;
}

World::Application* World::application(int pid) {
  auto it = std::lower_bound(applications_.begin(), applications_.end(), pid,
                             [](const Application& app, int value) { return app.pid < value; });
  return it != applications_.end() && it->pid == pid ? &*it : nullptr;
}

const World::Application* World::application(int pid) const {
  return const_cast<World*>(this)->application(pid);
}

void World::quitApplication(int pid) {
  if (Application* app = application(pid)) {
    app->running = false;
    if (frontmost_ == pid) {
      frontmost_.reset();
    }
    if (app->bundleIdentifier == kLiveBundleIdentifier) {
      // Its dialogs, a busy spell and what that held go with it; the set
      // stays for the next start.
      liveBusyUntil_ = -kForever;
      liveBusyEndPending_ = false;
      liveHeld_.clear();
      setLiveDialogOpen(false);
      announceLiveTitle();
    }
  }
}

void World::quitApplications(const std::string& bundleIdentifier) {
  for (const Application& app : applications_) {
    if (app.running && app.bundleIdentifier == bundleIdentifier) {
      quitApplication(app.pid);
    }
  }
}

bool World::isRunning(int pid) const {
  const Application* app = application(pid);
  return app && app->running;
}

bool World::isHidden(int pid) const {
  const Application* app = application(pid);
  return app && app->hidden;
}

void World::setHidden(int pid, bool hidden) {
  Application* app = application(pid);
  if (!app) {
    throw std::invalid_argument("no application with pid " + std::to_string(pid));
  }
  app->hidden = hidden;
}

void World::setFrontmost(std::optional<int> pid) {
  if (pid && !isRunning(*pid)) {
    throw std::invalid_argument("pid " + std::to_string(*pid) + " does not run");
  }
  // Choosing an application shows it again, as clicking it in the Dock does.
  if (pid) {
    application(*pid)->hidden = false;
  }
  setFocus(pid);
}

void World::setFocus(std::optional<int> pid) {
  frontmost_ = pid;
  if (pid) {
    std::erase(focusHistory_, *pid);
    focusHistory_.push_back(*pid);
  }
}

std::vector<int> World::runningApplications(const std::string& bundleIdentifier) const {
  std::vector<int> pids;
  for (const Application& app : applications_) {
    if (app.running && app.bundleIdentifier == bundleIdentifier) {
      pids.push_back(app.pid);
    }
  }
  return pids;
}

// Activation brings the application forward but does not unhide it: the
// application under test has to ask for that itself.
bool World::activateApplication(int pid, unsigned options, int requester) {
  if (!isRunning(pid)) {
    return false;
  }
  const bool granted = activationDecline_ == ActivationDecline::none;
  activations_.push_back(Activation{now_, pid, options, std::nullopt, granted, requester});
  if (granted) {
    setFocus(pid);
    notify(Event::Kind::activation, pid, activations_.size() - 1);
  }
  return granted;
}

// Cooperative activation: only the application in front can hand over.
bool World::activateApplicationHandedOver(int pid, int fromPid, unsigned options, int requester) {
  if (!isRunning(pid)) {
    return false;
  }
  const bool granted = activationDecline_ != ActivationDecline::all && frontmost_ == fromPid;
  activations_.push_back(Activation{now_, pid, options, fromPid, granted, requester});
  if (granted) {
    setFocus(pid);
    notify(Event::Kind::activation, pid, activations_.size() - 1);
  }
  return granted;
}

std::size_t World::activationRequestsOf(const std::string& bundleIdentifier) const {
  return static_cast<std::size_t>(
      std::count_if(activations_.begin(), activations_.end(), [&](const Activation& request) {
        const Application* app = application(request.pid);
        return request.requester != 0 && app && app->bundleIdentifier == bundleIdentifier;
      }));
}

bool World::unhideApplication(int pid) {
  Application* app = application(pid);
  if (!app || !app->running) {
    return false;
  }
  app->hidden = false;
  unhidings_.push_back(Unhiding{now_, pid});
  notify(Event::Kind::unhiding, pid, unhidings_.size() - 1);
  return true;
}

bool World::hideApplication(int pid) {
  Application* app = application(pid);
  if (!app || !app->running) {
    return false;
  }
  app->hidden = true;
  hidings_.push_back(Hiding{now_, pid});
  if (frontmost_ == pid) {
    std::optional<int> next;
    for (auto it = focusHistory_.rbegin(); it != focusHistory_.rend() && !next; ++it) {
      if (*it != pid && isRunning(*it) && !isHidden(*it)) {
        next = *it;
      }
    }
    frontmost_ = next;
  }
  notify(Event::Kind::hiding, pid, hidings_.size() - 1);
  return true;
}

// ---------------------------------------------------------------------------
// The person at the keyboard

namespace {

// The Mac's key codes of the letter keys, and what each types in a layout,
// in the same order.
constexpr std::uint16_t kLetterKeyCodes[] = {
    12, 13, 14, 15, 17, 16, 32, 34, 31, 35,  // top row, Q to P on a US keyboard
    0,  1,  2,  3,  5,  4,  38, 40, 37, 41,  // home row, A to ;
    6,  7,  8,  9,  11, 45, 46, 43, 47, 44,  // bottom row, Z to /
};
constexpr std::string_view kUSLetters = "qwertyuiopasdfghjkl;zxcvbnm,./";
constexpr std::string_view kDvorakLetters = "',.pyfgcrlaoeuidhtns;qjkxbmwvz";
constexpr std::string_view kColemakLetters = "qwfpgjluy;arstdhneiozxcvbkm,./";

std::string_view lettersOf(World::KeyboardLayout layout) {
  switch (layout) {
    case World::KeyboardLayout::dvorak:
      return kDvorakLetters;
    case World::KeyboardLayout::colemak:
      return kColemakLetters;
    case World::KeyboardLayout::us:
      break;
  }
  return kUSLetters;
}

}  // namespace

std::string World::typedCharacter(std::uint16_t keyCode) const {
  const std::string_view letters = lettersOf(layout_);
  for (std::size_t i = 0; i < std::size(kLetterKeyCodes); ++i) {
    if (kLetterKeyCodes[i] == keyCode) {
      return std::string(1, letters[i]);
    }
  }
  return {};
}

std::optional<std::uint16_t> World::keyCodeTyping(char character) const {
  const std::size_t i = lettersOf(layout_).find(character);
  if (i == std::string_view::npos) {
    return std::nullopt;
  }
  return kLetterKeyCodes[i];
}

void World::userTypes() {
  userKeyAt(now_);
}

void World::userTypesFor(double seconds, double period) {
  if (!std::isfinite(seconds) || seconds < 0 || !std::isfinite(period) || period <= 0) {
    throw std::invalid_argument("typing needs a span >= 0 and a period > 0");
  }
  // The last key exactly at the end, whatever the rounding of the division.
  const auto count = static_cast<std::int64_t>(std::floor(seconds / period + 1e-9)) + 1;
  typing_.push_back(TypingSpan{now_, period, count, 0});
  deliverUserKeysUntil(now_);
}

void World::deliverUserKeysUntil(Date time) {
  const auto nextKey = [](const TypingSpan& span) {
    return span.start + static_cast<double>(span.next) * span.period;
  };
  for (;;) {
    TypingSpan* earliest = nullptr;
    for (TypingSpan& span : typing_) {
      if (span.next < span.count && nextKey(span) <= time &&
          (!earliest || nextKey(span) < nextKey(*earliest))) {
        earliest = &span;
      }
    }
    if (!earliest) {
      break;
    }
    userKeyAt(nextKey(*earliest));
    ++earliest->next;
  }
  std::erase_if(typing_, [](const TypingSpan& span) { return span.next >= span.count; });
}

void World::sleepSystem(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) {
    throw std::invalid_argument("a sleep lasts a finite time >= 0");
  }
  if (callDepth_ > 0) {
    throw std::logic_error("sleep from inside a main-thread call");
  }
  // Keys typed up to now arrive; those the user would have typed while the
  // machine slept never do.
  deliverUserKeysUntil(now_);
  typing_.clear();
  now_ += seconds;
  lastUserPressAt_ = now_;
}

void World::userKeyAt(Date time) {
  lastUserPressAt_ = time;
  userKeyPresses_.push_back(UserKeyPress{time, frontmost_});
}

void World::userHolds(Held input) {
  lastUserPressAt_ = now_;
  held_ |= static_cast<unsigned>(input);
}

void World::userReleases(Held input) {
  held_ &= ~static_cast<unsigned>(input);
}

std::uint64_t World::heldModifierFlags() const {
  constexpr std::pair<Held, std::uint64_t> kFlags[] = {{Held::shift, 0x20000},
                                                       {Held::control, 0x40000},
                                                       {Held::option, 0x80000},
                                                       {Held::command, kEventFlagMaskCommand}};
  std::uint64_t flags = 0;
  for (const auto& [input, flag] : kFlags) {
    if ((held_ & static_cast<unsigned>(input)) != 0) {
      flags |= flag;
    }
  }
  return flags;
}

double World::secondsSinceLastUserPress() const {
  return lastUserPressAt_ ? now_ - *lastUserPressAt_ : kForever;
}

std::size_t World::userKeysReceivedBy(const std::string& bundleIdentifier) const {
  return static_cast<std::size_t>(
      std::count_if(userKeyPresses_.begin(), userKeyPresses_.end(), [&](const UserKeyPress& key) {
        const Application* app = key.pid ? application(*key.pid) : nullptr;
        return app && app->bundleIdentifier == bundleIdentifier;
      }));
}

// ---------------------------------------------------------------------------
// Accessibility, URLs, keyboard events

bool World::checkTrust(const Process& owner, bool prompt) {
  ++trustChecks_;
  if (prompt) {
    ++promptRequests_;
    if (!trusted_) {
      ++promptsShown_;
      notify(Event::Kind::accessibilityPrompt, owner.pid(), 0);
    }
  }
  return trusted_;
}

bool World::openURL(const Process& owner, const std::string& url) {
  if (!parsesAsURL(url)) {
    return false;
  }
  openedURLs_.push_back(OpenedURL{now_, owner.pid(), url});
  notify(Event::Kind::urlOpened, owner.pid(), openedURLs_.size() - 1);
  return true;
}

void World::failKeyEventOfNextSave(int position) {
  if (position < 1) {
    throw std::invalid_argument("key event positions count from 1");
  }
  failingKeyEventPosition_ = position;
}

std::optional<int> World::makeEventSource(int stateId) {
  eventSourceStates_.push_back(stateId);
  if (failNextEventSource_) {
    failNextEventSource_ = false;
    return std::nullopt;
  }
  const int failingPosition = failingKeyEventPosition_;
  failingKeyEventPosition_ = 0;
  return failingPosition;
}

void World::postKeyEvent(int pid, std::uint16_t keyCode, bool keyDown, std::uint64_t flags) {
  const Application* app = application(pid);
  const bool held =
      liveBusy() && app && app->running && app->bundleIdentifier == kLiveBundleIdentifier;
  keyEvents_.push_back(PostedKeyEvent{now_, pid, keyCode, keyDown, flags, isRunning(pid),
                                      heldModifierFlags(), typedCharacter(keyCode), held});
  notify(Event::Kind::keyEventPosted, pid, keyEvents_.size() - 1);
  if (held) {
    liveHeld_.push_back(
        [this, pid, keyCode, keyDown, flags] { liveReceivesKey(pid, keyCode, keyDown, flags); });
  } else {
    liveReceivesKey(pid, keyCode, keyDown, flags);
  }
}

// ---------------------------------------------------------------------------
// Preferences

void World::setIntegerPreference(const std::string& key, std::int64_t value) {
  preferences_[key] = value;
}
void World::setDoublePreference(const std::string& key, double value) {
  preferences_[key] = value;
}
void World::setBoolPreference(const std::string& key, bool value) {
  preferences_[key] = value;
}
void World::setStringPreference(const std::string& key, std::string value) {
  preferences_[key] = std::move(value);
}
void World::removePreference(const std::string& key) {
  preferences_.erase(key);
}

const PreferenceValue* World::preference(const std::string& key) const {
  auto it = preferences_.find(key);
  return it == preferences_.end() ? nullptr : &it->second;
}

namespace {
template <typename T>
std::optional<T> typedPreference(const PreferenceValue* value) {
  if (value != nullptr) {
    if (const T* typed = std::get_if<T>(value)) {
      return *typed;
    }
  }
  return std::nullopt;
}
}  // namespace

std::optional<std::int64_t> World::integerPreference(const std::string& key) const {
  return typedPreference<std::int64_t>(preference(key));
}
std::optional<double> World::doublePreference(const std::string& key) const {
  return typedPreference<double>(preference(key));
}
std::optional<bool> World::boolPreference(const std::string& key) const {
  return typedPreference<bool>(preference(key));
}
std::optional<std::string> World::stringPreference(const std::string& key) const {
  return typedPreference<std::string>(preference(key));
}

// ---------------------------------------------------------------------------
// Account, programs, termination

std::optional<std::string> World::userLibraryDirectory() const {
  if (!libraryAvailable_) {
    return std::nullopt;
  }
  return homeDirectory_ + "/Library";
}

void World::setVolume(const std::string& mountPoint, System::VolumeKind kind) {
  std::erase_if(volumes_, [&](const auto& volume) { return volume.first == mountPoint; });
  if (kind != System::VolumeKind::fixed) {
    volumes_.emplace_back(mountPoint, kind);
  }
}

System::VolumeKind World::volumeKind(const std::string& path) const {
  for (const auto& [mountPoint, kind] : volumes_) {
    if (path == mountPoint ||
        (path.size() > mountPoint.size() && path.compare(0, mountPoint.size(), mountPoint) == 0 &&
         (mountPoint.back() == '/' || path[mountPoint.size()] == '/'))) {
      return kind;
    }
  }
  return System::VolumeKind::fixed;
}

System::TaskResult World::runTask(const Process& owner, const std::string& launchPath,
                                  const std::vector<std::string>& arguments,
                                  double timeoutSeconds) {
  taskRuns_.push_back(TaskRun{now_, owner.pid(), launchPath, arguments, std::nullopt, false, {}});
  if (launchPath != kLaunchctlPath || !launchctlPresent_) {
    notify(Event::Kind::taskRun, owner.pid(), taskRuns_.size() - 1);
    throw std::runtime_error("launch path not accessible: " + launchPath);
  }
  System::TaskResult result;
  const bool bootstrap = !arguments.empty() && arguments.front() == "bootstrap";
  if (launchctlHangs_) {
    sleepFor(timeoutSeconds);
    result.status = -1;
    result.timedOut = true;
  } else if (bootstrap && agentDisabled_) {
    result.status = 119;
    result.errorOutput = "Bootstrap failed: 119: Service is disabled\n";
  } else if (bootstrap && failingBootstraps_ > 0) {
    --failingBootstraps_;
    result.status = 5;
    result.errorOutput = "Bootstrap failed: 5: Input/output error\n";
  }
  TaskRun& run = taskRuns_.back();
  run.status = result.status;
  run.timedOut = result.timedOut;
  run.errorOutput = result.errorOutput;
  notify(Event::Kind::taskRun, owner.pid(), taskRuns_.size() - 1);
  return result;
}

void World::recordTermination(const Process& owner) {
  terminations_.push_back(Termination{now_, owner.pid()});
  notify(Event::Kind::terminated, owner.pid(), terminations_.size() - 1);
}

// ---------------------------------------------------------------------------
// Live's set

void World::setLiveSet(const std::string& name) {
  liveSetKind_ = LiveSetKind::named;
  liveSetName_ = name;
  liveUnsaved_ = false;
  liveFixedTitle_.reset();
  announceLiveTitle();
}

void World::setLiveSetUntitled() {
  liveSetKind_ = LiveSetKind::untitled;
  liveSetName_ = "Untitled";
  liveUnsaved_ = true;
  liveFixedTitle_.reset();
  announceLiveTitle();
}

void World::liveEdits() {
  liveUnsaved_ = true;
  announceLiveTitle();
}

void World::setLiveSaveDuration(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) {
    throw std::invalid_argument("a save takes a finite time >= 0");
  }
  liveSaveDuration_ = seconds;
}

void World::setLiveDialogOpen(bool open) {
  if (liveDialogOpen_ == open) {
    return;
  }
  liveDialogOpen_ = open;
  notify(Event::Kind::liveDialogChanged, 0, 0);
}

void World::liveNamesSet(const std::string& name) {
  setLiveDialogOpen(false);
  liveSetKind_ = LiveSetKind::named;
  liveSetName_ = name;
  liveUnsaved_ = false;
  ++liveSaves_;
  announceLiveTitle();
}

void World::setLiveTitleMark(bool shown) {
  liveTitleMark_ = shown;
  announceLiveTitle();
}

void World::setLiveTitle(const std::string& title) {
  liveFixedTitle_ = title;
  announceLiveTitle();
}

std::optional<std::string> World::liveTitle() const {
  if (runningApplications(kLiveBundleIdentifier).empty()) {
    return std::nullopt;
  }
  if (liveFixedTitle_) {
    return liveFixedTitle_;
  }
  const std::string mark = liveUnsaved_ && liveTitleMark_ ? "*" : "";
  switch (liveSetKind_) {
    case LiveSetKind::none:
      return std::nullopt;
    case LiveSetKind::untitled:
      return liveSetName_ + mark + kLiveTitleSuffix;
    case LiveSetKind::named:
      break;
  }
  return liveSetName_ + mark + " [" + liveSetName_ + "]" + kLiveTitleSuffix;
}

void World::liveReceivesKey(int pid, std::uint16_t keyCode, bool keyDown, std::uint64_t flags) {
  const Application* app = application(pid);
  if (!app || !app->running || app->bundleIdentifier != kLiveBundleIdentifier) {
    return;
  }
  const bool commandS = keyDown && typedCharacter(keyCode) == "s" &&
                        (flags | heldModifierFlags()) == kEventFlagMaskCommand;
  if (commandS && !liveDeaf_) {
    liveRunsSaveCommand();
  }
}

void World::liveRunsSaveCommand() {
  if (liveDialogOpen_ || liveSetKind_ == LiveSetKind::none) {
    return;
  }
  if (liveSetKind_ == LiveSetKind::untitled) {
    setLiveDialogOpen(true);
    return;
  }
  if (!liveUnsaved_) {
    return;
  }
  if (liveSaveDuration_ > 0) {
    at(now_ + liveSaveDuration_, [this] { liveSaveDone(); });
  } else {
    liveSaveDone();
  }
}

void World::liveUserSaves() {
  if (liveBusy()) {
    liveHeld_.push_back([this] { liveRunsSaveCommand(); });
  } else {
    liveRunsSaveCommand();
  }
}

void World::setLiveBusy(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) {
    throw std::invalid_argument("Live is busy for a finite time >= 0");
  }
  if (now_ + seconds <= liveBusyUntil_ || seconds == 0) {
    return;
  }
  liveBusyUntil_ = now_ + seconds;
  liveBusyEndPending_ = true;
  at(liveBusyUntil_, [this] { liveBusyEnds(); });
}

void World::liveBusyEnds() {
  // A spell made longer meanwhile ends later, at its own scheduled call.
  if (!liveBusyEndPending_ || liveBusy()) {
    return;
  }
  liveBusyEndPending_ = false;
  notify(Event::Kind::liveAnswersAgain, 0, 0);
  std::vector<std::function<void()>> held = std::move(liveHeld_);
  liveHeld_.clear();
  for (const std::function<void()>& handle : held) {
    handle();
  }
  announceLiveTitle();
}

bool World::liveAnswers(const Process& reader, int livePid, LiveWait::Read read) {
  if (!liveBusy()) {
    return true;
  }
  liveWaits_.push_back(LiveWait{now_, kLiveMessagingTimeout, reader.pid(), livePid, read});
  notify(Event::Kind::liveWaited, livePid, liveWaits_.size() - 1);
  blockMainThreadUntil(now_ + kLiveMessagingTimeout);
  return false;
}

ApplicationMenus::Press World::pressLiveSaveCommand(const Process& owner, int livePid) {
  using Press = ApplicationMenus::Press;
  if (liveMenuSave_ == LiveMenuSave::none) {
    return Press::missing;
  }
  if (liveMenuSave_ == LiveMenuSave::disabled || liveDialogOpen_) {
    return Press::disabled;
  }
  menuPresses_.push_back(MenuPress{now_, livePid, owner.pid()});
  notify(Event::Kind::menuPressed, livePid, menuPresses_.size() - 1);
  if (liveMenuSave_ == LiveMenuSave::works && !liveDeaf_) {
    liveRunsSaveCommand();
  }
  return Press::pressed;
}

World::WaitWindow World::worstLiveWaitSecond() const {
  // The main threads wait one after another: the waits are in order and
  // never overlap. The summed overlap with a sliding window is piecewise
  // linear in its start, so it peaks with the window starting at a wait's
  // start or ending at a wait's end.
  const std::vector<LiveWait>& waits = liveWaits_;
  std::vector<double> before(waits.size() + 1, 0.0);
  for (std::size_t i = 0; i < waits.size(); ++i) {
    before[i + 1] = before[i] + waits[i].seconds;
  }
  const auto sumFrom = [&](Date start) {
    const Date end = start + 1;
    const auto first = std::partition_point(waits.begin(), waits.end(), [&](const LiveWait& w) {
      return w.start + w.seconds <= start;
    });
    const auto last =
        std::partition_point(first, waits.end(), [&](const LiveWait& w) { return w.start < end; });
    if (first == last) {
      return 0.0;
    }
    const auto i = static_cast<std::size_t>(first - waits.begin());
    const auto j = static_cast<std::size_t>(last - waits.begin());
    double sum = before[j] - before[i];
    sum -= std::max(0.0, start - first->start);
    const LiveWait& lastIn = *(last - 1);
    sum -= std::max(0.0, lastIn.start + lastIn.seconds - end);
    return sum;
  };
  // Of equal windows the earliest that begins as a wait does, then the
  // earliest that ends as one does.
  WaitWindow worst;
  constexpr double kRounding = 1e-9;
  for (const bool atStarts : {true, false}) {
    for (const LiveWait& wait : waits) {
      const Date start = atStarts ? wait.start : wait.start + wait.seconds - 1;
      const double sum = sumFrom(start);
      if (sum > worst.seconds + kRounding) {
        worst = WaitWindow{start, sum};
      }
    }
  }
  return worst;
}

void World::liveSaveDone() {
  if (!liveUnsaved_ || liveSetKind_ != LiveSetKind::named) {
    return;
  }
  liveUnsaved_ = false;
  ++liveSaves_;
  announceLiveTitle();
}

void World::announceLiveTitle() {
  // A busy Live shows nothing new; its end announces what changed.
  if (liveBusy()) {
    return;
  }
  const std::optional<std::string> title = liveTitle();
  if (title == announcedLiveTitle_) {
    return;
  }
  announcedLiveTitle_ = title;
  notify(Event::Kind::liveTitleChanged, 0, 0);
  // Each observer hears of it as soon as its main thread is free, with the
  // title of this instant.
  for (const TitleObserver& observer : titleObservers_) {
    if (observer.owner->terminated()) {
      continue;
    }
    auto call = std::make_shared<detail::ScheduledCall>();
    call->owner = observer.owner;
    call->due = now_;
    call->callback = [changed = observer.changed, title] { changed(title); };
    push(commonCalls_, std::move(call));
  }
}

int World::observeLiveTitle(Process& owner,
                            std::function<void(const std::optional<std::string>&)> changed) {
  announcedLiveTitle_ = liveTitle();
  const int id = nextTitleObserverId_++;
  titleObservers_.push_back(TitleObserver{id, &owner, std::move(changed)});
  return id;
}

void World::removeLiveTitleObserver(int id) {
  std::erase_if(titleObservers_, [id](const TitleObserver& observer) { return observer.id == id; });
}

// ---------------------------------------------------------------------------
// System notifications

void World::postNotification(const Process& owner, const std::string& title,
                             const std::string& body) {
  notifications_.push_back(NotificationRecord{now_, owner.pid(), title, body});
  notify(Event::Kind::notificationPosted, owner.pid(), notifications_.size() - 1);
}

void World::notify(Event::Kind kind, int pid, std::size_t index) {
  if (observer_) {
    observer_(Event{kind, now_, pid, index});
  }
}

}  // namespace qm::sim
