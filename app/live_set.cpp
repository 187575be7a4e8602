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

LiveSetWatch::LiveSetWatch(RunLoop& runLoop, LiveReader& reader, Notifications& notifications,
                           Preferences& preferences, TimeOfDay timeOfDay, Logger log,
                           Reporter report)
    : runLoop_(runLoop),
      reader_(reader),
      notifications_(notifications),
      preferences_(preferences),
      timeOfDay_(std::move(timeOfDay)),
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
  lastSet_.reset();
  titleLogged_ = false;
  markSeen_ = false;
  heldTitle_.reset();
  skipLogged_ = false;
  if (!pid) {
    return;
  }
  observeTitle();
  readTitle();
}

void LiveSetWatch::observeTitle() {
  const std::weak_ptr<LiveSetWatch*> alive = lifetime_;
  const int pid = *pid_;
  titleObservation_ =
      reader_.observeTitleChanges(pid, [alive, pid](const std::optional<std::string>& title) {
        auto self = alive.lock();
        if (self && (*self)->pid_ == pid) {
          (*self)->noteTitle(title);
        }
      });
}

void LiveSetWatch::look() {
  // Refused before the permission was there, say: asked again.
  if (pid_ && !titleObservation_) {
    observeTitle();
  }
  readTitle();
}

Reply<std::optional<std::string>> LiveSetWatch::readTitle() {
  if (!pid_) {
    return std::optional<std::string>();
  }
  Reply<std::optional<std::string>> title = reader_.mainWindowTitle(*pid_);
  if (title.answered()) {
    noteTitle(*title);
  }
  return title;
}

void LiveSetWatch::noteTitle(const std::optional<std::string>& title) {
  title_ = title;
  if (title && !titleLogged_) {
    titleLogged_ = true;
    log_("Live's window reads " + quoted(*title) + ".");
  }
  const std::optional<LiveSetTitle> set = title ? parseLiveSetTitle(*title) : std::nullopt;
  // An edition that showed the mark once shows it always: its clean title
  // is believed from the first look, also after a restart.
  if (set && !markSeen_) {
    const std::string key = std::string(kTitleMarkDefaultsKeyPrefix) + set->edition;
    if (set->unsaved) {
      markSeen_ = true;
      if (!preferences_.boolForKey(key)) {
        preferences_.setBool(true, key);
      }
    } else {
      markSeen_ = preferences_.boolForKey(key);
    }
  }
  // A watch that can confirm a save judges this title itself. A title that
  // is not Live's claims nothing and is not remembered.
  const bool watchConfirms = watch_ && watch_->set && watch_->set->unsaved;
  if (set && !watchConfirms && lastSet_ && lastSet_->unsaved && !set->unsaved &&
      (set->name == lastSet_->name || heldTitle_)) {
    noteOwnSave(*set);
  }
  if (set) {
    lastSet_ = set;
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

void LiveSetWatch::noteOwnSave(const LiveSetTitle& set) {
  heldTitle_.reset();
  endStretch();
  report_(Report{"Saved " + quoted(shownSetName(set.name)) + " at " + timeOfDay_(),
                 "Live saved " + quoted(set.name) + ".", false});
}

bool LiveSetWatch::titleTellsChanges() const {
  return markSeen_ && title_ && parseLiveSetTitle(*title_);
}

bool LiveSetWatch::titleShowsUnsavedNamedSet() const {
  if (!titleTellsChanges()) {
    return false;
  }
  const std::optional<LiveSetTitle> set = parseLiveSetTitle(*title_);
  return set->unsaved && set->inProject;
}

Reply<bool> LiveSetWatch::liveShowsDialog() {
  if (!pid_) {
    return false;
  }
  return reader_.showsModalDialog(*pid_);
}

// ---------------------------------------------------------------------------
// Due saves

LiveSetWatch::DueSave LiveSetWatch::dueSave() {
  const Reply<std::optional<std::string>> reply = readTitle();
  if (!reply.answered()) {
    return DueSave::waitForLive;
  }
  const std::optional<std::string>& title = *reply;
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
  const Reply<bool> dialog = liveShowsDialog();
  if (!dialog.answered()) {
    return DueSave::waitForLive;
  }
  return *dialog ? DueSave::waitForDialog : DueSave::send;
}

// ---------------------------------------------------------------------------
// The watch for Live's answer

void LiveSetWatch::saveAboutToBeSent() {
  endWatch();
  // Unanswered, the last title known stands.
  readTitle();
  titleAtKeys_ = title_;
}

void LiveSetWatch::keysPosted(bool manual, const std::string& time) {
  Watch watch;
  watch.manual = manual;
  watch.time = time;
  startWatch(std::move(watch));
}

void LiveSetWatch::menuSavePosted(bool manual, const std::string& time,
                                  std::function<void(bool taken)> outcome) {
  Watch watch;
  watch.manual = manual;
  watch.time = time;
  watch.menuOutcome = std::move(outcome);
  startWatch(std::move(watch));
}

void LiveSetWatch::startWatch(Watch watch) {
  // Read before the save was sent: a save announced since must count as
  // Live's answer.
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
  // A Live that does not answer has not had its 10 s yet: the time it kept
  // silent is added on, and the look stops at the first unanswered read.
  const auto silent = [this] {
    if (!watch_->silentSince) {
      watch_->silentSince = runLoop_.monotonicNow();
    }
  };
  if (!readTitle().answered()) {
    silent();
    return;
  }
  if (!looking()) {
    return;
  }
  const Reply<bool> modal = liveShowsDialog();
  if (!modal.answered()) {
    silent();
    return;
  }
  if (watch_->silentSince) {
    watch_->startedAt += runLoop_.monotonicNow() - *watch_->silentSince;
    watch_->silentSince.reset();
  }
  judgeWatch(title_, *modal);
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
      // Nothing could be confirmed: the save's status stands.
      watch_.reset();
      return;
    }
    if (watch_->menuOutcome) {
      // The press went unheeded: the caller saves with the keys at once.
      const std::function<void(bool)> outcome = std::move(watch_->menuOutcome);
      log_("Live did not save" + namePart(watch_->set, false) +
           " from its menu: saving with the keys.");
      watch_.reset();
      outcome(false);
      return;
    }
    watch_->late = true;
    report_(Report{"Live did not save" + namePart(watch_->set, true),
                   "Live did not save" + namePart(watch_->set, false) + " within 10 seconds.",
                   true});
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
    if (ended.menuOutcome) {
      ended.menuOutcome(true);
    }
    report_(Report{prefix + quoted(shownSetName(set->name)) + " at " + ended.time,
                   "Live saved " + quoted(set->name) + ".", false});
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
  constexpr std::string_view kHeld = ": no automatic saves until its title changes.";
  report_(Report{
      "Live opened a dialog instead of saving" + namePart(ended.set, true) + std::string(kHeld),
      "Live opened a dialog instead of saving" + namePart(ended.set, false) + std::string(kHeld),
      true});
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
