// Live's set as Live's main window shows it: whether the set has unsaved
// changes, whether Live took the keys and saved, whether it asked with a
// dialog instead, and whether work has been at risk for long enough to say
// so aloud. The delegate asks; outcomes that arrive later are handed to the
// reporter it gives.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "live_reader.h"
#include "live_title.h"
#include "platform.h"

namespace qm {

// How long Live has to show that it saved, and how often its window is read
// meanwhile (besides the title changes the system announces).
inline constexpr double kSaveConfirmationSeconds = 10.0;
inline constexpr double kLiveWindowLookInterval = 0.25;
// Work at risk is told once it has gone unsaved for twice the interval, and
// never sooner than this.
inline constexpr double kWorkAtRiskMinimumSeconds = 600.0;
// Whether an edition of Live shows the unsaved mark: this prefix and the
// edition ("Ableton Live 12 Suite"), a bool.
inline constexpr std::string_view kTitleMarkDefaultsKeyPrefix = "live.titleMark.";
// Set names longer than this are cut where they are shown.
inline constexpr std::size_t kShownNameLength = 40;

// The name cut to at most kShownNameLength characters, the last one "…".
std::string shownSetName(std::string_view name);

class LiveSetWatch {
 public:
  // An outcome that arrived: the new status message, whether it tells of a
  // failure, and the log line.
  struct Report {
    std::string statusMessage;
    std::string logLine;
    bool failure = false;
  };
  using Reporter = std::function<void(const Report&)>;
  using Logger = std::function<void(std::string_view)>;
  // The time of day as the status shows it.
  using TimeOfDay = std::function<std::string()>;

  // Preferences remember which of Live's editions show the unsaved mark.
  LiveSetWatch(RunLoop& runLoop, LiveReader& reader, Notifications& notifications,
               Preferences& preferences, TimeOfDay timeOfDay, Logger log, Reporter report);
  ~LiveSetWatch();
  LiveSetWatch(const LiveSetWatch&) = delete;
  LiveSetWatch& operator=(const LiveSetWatch&) = delete;

  // The Live process whose window tells about the set (the one that gets
  // the keys), or none once Live is gone. A new process starts afresh.
  void follow(std::optional<int> pid);
  // Reads the window now: a late save shows, a changed title lifts the hold
  // on automatic saves. Announcements are asked for again while the system
  // refused them.
  void look();

  // What an automatic save that falls due now must do, in the order the
  // rules apply (the session's lock and the user's pause are the caller's).
  enum class DueSave {
    send,
    skipUnchanged,
    skipAfterDialog,
    waitForWatch,
    waitForDialog,
    waitForLive
  };
  DueSave dueSave();
  Reply<bool> liveShowsDialog();
  // Automatic saves are on hold after Live answered with a dialog, until its
  // title changes.
  bool onHold() const { return heldTitle_.has_value(); }
  // The title last read shows a set with unsaved changes that has a name of
  // its own, in a Live known to show the mark.
  bool titleShowsUnsavedNamedSet() const;

  // Around a save, by the keys or Live's menu: the title it acts on is read
  // just before it goes, and the watch for Live's answer starts once it
  // went. `time` is its time of day, as the status shows it.
  void saveAboutToBeSent();
  void keysPosted(bool manual, const std::string& time);
  // A watch for Live's answer to its menu's Save command. `outcome` hears
  // whether Live took it; one that did not is logged, not reported, since
  // the keys follow at once.
  void menuSavePosted(bool manual, const std::string& time,
                      std::function<void(bool taken)> outcome);
  // A watch that can confirm a save is running: it holds automatic saves
  // back.
  bool watching() const;
  // The system slept meanwhile: a running watch ends without an outcome.
  void interrupt();

  // The stretch in which automatic saves fall due and none ends confirmed.
  void automaticSaveFellDue();
  void automaticSaveSent();
  void automaticSaveFailed();
  void endStretch();
  // Time away from the keyboard (locked or asleep) does not count.
  void awayChanged(bool away);
  // Once the stretch is long enough: one notification, with `body` as its
  // text, and its title logged.
  void checkWorkAtRisk(double intervalSeconds, const std::string& body);

 private:
  struct Watch {
    bool manual = false;
    // Set for a press of Live's menu command.
    std::function<void(bool taken)> menuOutcome;
    std::string time;
    // The title when the keys went, and the set it showed.
    std::optional<std::string> title;
    std::optional<LiveSetTitle> set;
    // On the monotonic clock, as every time here.
    double startedAt = 0;
    // Past its 10 s without an outcome: only a save can still show.
    bool late = false;
    // Since when Live has not answered a look, on the monotonic clock.
    std::optional<double> silentSince;
  };

  // The title now; no answer leaves what is known as it was.
  Reply<std::optional<std::string>> readTitle();
  void noteTitle(const std::optional<std::string>& title);
  // Live saved by itself (the user's Cmd+S, or its menu): the mark went.
  void noteOwnSave(const LiveSetTitle& set);
  void observeTitle();
  void startWatch(Watch watch);
  void lookDuringWatch();
  void judgeWatch(const std::optional<std::string>& title, bool modal);
  void endWatch();
  // The title tells whether the set has changes: it carries Live's suffix and
  // this Live has shown the mark before.
  bool titleTellsChanges() const;
  void startStretch();

  RunLoop& runLoop_;
  LiveReader& reader_;
  Notifications& notifications_;
  Preferences& preferences_;
  TimeOfDay timeOfDay_;
  Logger log_;
  Reporter report_;
  // Expires with this object, so late callbacks find it gone.
  std::shared_ptr<LiveSetWatch*> lifetime_;

  std::optional<int> pid_;
  ObservationRef titleObservation_;
  std::optional<std::string> title_;
  // The last title with Live's suffix: a save shows against it.
  std::optional<LiveSetTitle> lastSet_;
  std::optional<std::string> titleAtKeys_;
  bool titleLogged_ = false;
  bool markSeen_ = false;
  // After Live asked with a dialog: no automatic save while the title stays.
  std::optional<std::string> heldTitle_;
  bool skipLogged_ = false;

  std::optional<Watch> watch_;
  TimerRef watchTimer_;

  std::optional<double> stretchStart_;
  double lastDue_ = 0;
  std::optional<double> awaySince_;
  bool notified_ = false;
};

}  // namespace qm
