#include "live_set.h"

#include <algorithm>
#include <cmath>

namespace qm {

namespace {

constexpr std::string_view kOpenQuote = "“";
constexpr std::string_view kCloseQuote = "”";

std::string quoted(std::string_view name) {
  std::string text(kOpenQuote);
  text.append(name).append(kCloseQuote);
  return text;
}

// " “NAME”", or nothing where the name is unknown.
std::string namePart(const std::optional<LiveSetTitle>& set, bool shown) {
  if (!set) {
    return {};
  }
  std::string text = " ";
  text.append(quoted(shown ? shownSetName(set->name) : set->name));
  return text;
}

bool sameSet(const std::optional<std::string>& title, const std::optional<LiveSetTitle>& set,
             const std::optional<std::string>& otherTitle) {
  if (title == otherTitle) {
    return true;
  }
  const std::optional<LiveSetTitle> other =
      otherTitle ? parseLiveSetTitle(*otherTitle) : std::nullopt;
  return set && other && set->name == other->name;
}

}  // namespace

std::string shownSetName(std::string_view name) {
  // Counted in characters: a UTF-8 continuation byte starts none.
  std::size_t characters = 0;
  std::size_t cut = name.size();
  for (std::size_t i = 0; i < name.size(); ++i) {
    if ((static_cast<unsigned char>(name[i]) & 0xC0) == 0x80) {
      continue;
    }
    if (characters == kShownNameLength - 1) {
      cut = i;
    }
    ++characters;
  }
  if (characters <= kShownNameLength) {
    return std::string(name);
  }
  return std::string(name.substr(0, cut)) + "…";
}

LiveSetWatch::LiveSetWatch(RunLoop& runLoop, ApplicationWindows& windows,
                           Notifications& notifications, Logger log, Reporter report)
    : runLoop_(runLoop),
      windows_(windows),
      notifications_(notifications),
      log_(std::move(log)),
      report_(std::move(report)),
      lifetime_(std::make_shared<LiveSetWatch*>(this)) {}

LiveSetWatch::~LiveSetWatch() {
  if (watchTimer_) {
    watchTimer_->invalidate();
  }
}

// ---------------------------------------------------------------------------
// Reading the window

void LiveSetWatch::follow(std::optional<int> pid) {
  if (pid == pid_) {
    return;
  }
  // Whatever was known belongs to the Live that went.
  titleObservation_.reset();
  endWatch();
  endStretch();
  pid_ = pid;
  title_.reset();
  titleLogged_ = false;
  markSeen_ = false;
  heldTitle_.reset();
  skipLogged_ = false;
  if (!pid) {
    return;
  }
  const std::weak_ptr<LiveSetWatch*> alive = lifetime_;
  titleObservation_ =
      windows_.observeTitleChanges(*pid, [alive, pid](const std::optional<std::string>& title) {
        auto self = alive.lock();
        if (self && (*self)->pid_ == pid) {
          (*self)->noteTitle(title);
        }
      });
  readTitle();
}

void LiveSetWatch::look() {
  readTitle();
}

std::optional<std::string> LiveSetWatch::readTitle() {
  if (!pid_) {
    return std::nullopt;
  }
  const Reply<std::optional<std::string>> title = windows_.mainWindowTitle(*pid_);
  if (title.answered()) {
    noteTitle(*title);
  }
  return title_;
}

void LiveSetWatch::noteTitle(const std::optional<std::string>& title) {
  title_ = title;
  if (title && !titleLogged_) {
    titleLogged_ = true;
    log_("Live's window reads " + quoted(*title) + ".");
  }
  const std::optional<LiveSetTitle> set = title ? parseLiveSetTitle(*title) : std::nullopt;
  if (set && set->unsaved) {
    markSeen_ = true;
  }
  if (heldTitle_ && title != heldTitle_) {
    heldTitle_.reset();
  }
  if (titleTellsChanges() && !set->unsaved) {
    endStretch();
  }
  // An announced title counts for the watch at its instant, so a mark that
  // goes and comes back between two looks still shows the save.
  if (watch_) {
    judgeWatch(title, false);
  }
}

bool LiveSetWatch::titleTellsChanges() const {
  return markSeen_ && title_ && parseLiveSetTitle(*title_);
}

bool LiveSetWatch::liveShowsDialog() {
  return pid_ && windows_.showsModalDialog(*pid_) == true;
}

// ---------------------------------------------------------------------------
// Due saves

LiveSetWatch::DueSave LiveSetWatch::dueSave() {
  const std::optional<std::string> title = readTitle();
  const std::optional<LiveSetTitle> set = title ? parseLiveSetTitle(*title) : std::nullopt;
  if (set && markSeen_ && !set->unsaved) {
    if (!skipLogged_) {
      skipLogged_ = true;
      log_("Autosave skipped: " + quoted(set->name) + " has no unsaved changes.");
    }
    return DueSave::skipUnchanged;
  }
  skipLogged_ = false;
  if (heldTitle_ && title == heldTitle_) {
    // Not sent: where the title tells nothing of changes, that counts as
    // a failed save.
    automaticSaveFailed();
    return DueSave::skipAfterDialog;
  }
  if (watching()) {
    return DueSave::waitForWatch;
  }
  if (liveShowsDialog()) {
    return DueSave::waitForDialog;
  }
  return DueSave::send;
}

// ---------------------------------------------------------------------------
// The watch for Live's answer

void LiveSetWatch::keysAboutToBePosted() {
  endWatch();
  titleAtKeys_ = readTitle();
}

void LiveSetWatch::keysPosted(bool manual, const std::string& time) {
  Watch watch;
  watch.manual = manual;
  watch.time = time;
  // Read before the keys: a save announced since must count as Live's answer.
  watch.title = titleAtKeys_;
  watch.set = titleAtKeys_ ? parseLiveSetTitle(*titleAtKeys_) : std::nullopt;
  watch.startedAt = runLoop_.monotonicNow();
  watch_ = std::move(watch);
  const std::weak_ptr<LiveSetWatch*> alive = lifetime_;
  watchTimer_ = runLoop_.scheduleRepeatingTimer(kLiveWindowLookInterval, [alive] {
    if (auto self = alive.lock()) {
      (*self)->lookDuringWatch();
    }
  });
  lookDuringWatch();
}

bool LiveSetWatch::watching() const {
  // A watch that can only see a dialog holds nothing back: Live's dialog
  // holds saves back by itself.
  return watch_ && !watch_->late && watch_->set && watch_->set->unsaved;
}

void LiveSetWatch::lookDuringWatch() {
  const auto looking = [this] { return watch_ && !watch_->late; };
  if (!looking()) {
    return;
  }
  readTitle();
  if (looking()) {
    judgeWatch(title_, liveShowsDialog());
  }
  if (!looking()) {
    return;
  }
  // A NaN fails the comparison and keeps watching until an outcome.
  if (runLoop_.monotonicNow() - watch_->startedAt >= kSaveConfirmationSeconds) {
    if (watchTimer_) {
      watchTimer_->invalidate();
      watchTimer_.reset();
    }
    if (!watch_->set || !watch_->set->unsaved) {
      // Nothing could be confirmed: the keys' status stands.
      watch_.reset();
      return;
    }
    watch_->late = true;
    report("Live did not save" + namePart(watch_->set, true),
           "Live did not save" + namePart(watch_->set, false) + " within 10 seconds.");
  }
}

void LiveSetWatch::judgeWatch(const std::optional<std::string>& title, bool modal) {
  const Watch& watch = *watch_;
  const std::optional<LiveSetTitle> set = title ? parseLiveSetTitle(*title) : std::nullopt;
  // Confirmable only when the mark showed as the keys went.
  if (watch.set && watch.set->unsaved && set && !set->unsaved) {
    const std::string prefix = watch.manual ? "Saved " : "Autosaved ";
    const Watch ended = watch;
    endWatch();
    endStretch();
    report(prefix + quoted(shownSetName(set->name)) + " at " + ended.time,
           "Live saved " + quoted(set->name) + ".");
    return;
  }
  if (watch.late || !modal || !sameSet(watch.title, watch.set, title)) {
    return;
  }
  const Watch ended = watch;
  endWatch();
  // Live asked instead of saving; the dialog is the user's to answer, once.
  if (title) {
    heldTitle_ = title;
  }
  if (!ended.manual) {
    automaticSaveFailed();
  }
  report("Live opened a dialog instead of saving" + namePart(ended.set, true),
         "Live opened a dialog instead of saving" + namePart(ended.set, false) +
             ": no automatic saves until its title changes.");
}

void LiveSetWatch::interrupt() {
  endWatch();
}

void LiveSetWatch::endWatch() {
  if (watchTimer_) {
    watchTimer_->invalidate();
    watchTimer_.reset();
  }
  watch_.reset();
}

void LiveSetWatch::report(const std::string& statusMessage, const std::string& logLine) {
  report_(Report{statusMessage, logLine});
}

// ---------------------------------------------------------------------------
// Work at risk

void LiveSetWatch::automaticSaveFellDue() {
  lastDue_ = runLoop_.monotonicNow();
  readTitle();
  if (!titleTellsChanges()) {
    return;
  }
  if (parseLiveSetTitle(*title_)->unsaved) {
    startStretch();
  }
}

void LiveSetWatch::automaticSaveSent() {
  // Where the title tells nothing, a save whose keys went is all there is
  // to know.
  if (!titleTellsChanges()) {
    endStretch();
  }
}

void LiveSetWatch::automaticSaveFailed() {
  if (!titleTellsChanges()) {
    startStretch();
  }
}

void LiveSetWatch::startStretch() {
  if (!stretchStart_) {
    stretchStart_ = lastDue_;
  }
}

void LiveSetWatch::endStretch() {
  stretchStart_.reset();
  notified_ = false;
}

void LiveSetWatch::awayChanged(bool away) {
  const double now = runLoop_.monotonicNow();
  if (away) {
    awaySince_ = now;
    return;
  }
  if (awaySince_ && stretchStart_) {
    *stretchStart_ += now - std::max(*awaySince_, *stretchStart_);
  }
  awaySince_.reset();
}

void LiveSetWatch::checkWorkAtRisk(double intervalSeconds, const std::string& body) {
  // While Live's answer to the last keys is awaited, the status would claim
  // a save that is not confirmed: the notification waits for the outcome.
  // Nobody would read it while away.
  if (!stretchStart_ || notified_ || watching() || awaySince_) {
    return;
  }
  const double elapsed = runLoop_.monotonicNow() - *stretchStart_;
  if (!(elapsed >= std::max(2 * intervalSeconds, kWorkAtRiskMinimumSeconds))) {
    return;
  }
  notified_ = true;
  const std::string minutes = std::to_string(static_cast<long long>(std::floor(elapsed / 60)));
  const std::optional<LiveSetTitle> set = title_ ? parseLiveSetTitle(*title_) : std::nullopt;
  const auto title = [&](bool shown) {
    return "Quillmark has not saved " +
           (set ? quoted(shown ? shownSetName(set->name) : set->name) : std::string("your set")) +
           " for " + minutes + " minutes";
  };
  notifications_.postNotification(title(true), body);
  log_("Notified: " + title(false));
}

}  // namespace qm
