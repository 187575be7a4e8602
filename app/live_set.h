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
// Set names longer than this are cut where they are shown.
inline constexpr std::size_t kShownNameLength = 40;

// The name cut to at most kShownNameLength characters, the last one "…".
std::string shownSetName(std::string_view name);

class LiveSetWatch {
 public:
  // An outcome that arrived: the new status message and the log line.
  struct Report {
    std::string statusMessage;
    std::string logLine;
  };
  using Reporter = std::function<void(const Report&)>;
  using Logger = std::function<void(std::string_view)>;

  LiveSetWatch(RunLoop& runLoop, ApplicationWindows& windows, Notifications& notifications,
               Logger log, Reporter report);
  ~LiveSetWatch();
  LiveSetWatch(const LiveSetWatch&) = delete;
  LiveSetWatch& operator=(const LiveSetWatch&) = delete;

  // The Live process whose window tells about the set (the one that gets
  // the keys), or none once Live is gone. A new process starts afresh.
  void follow(std::optional<int> pid);
  // Reads the window now: a late save shows, a changed title lifts the hold
  // on automatic saves.
  void look();

  // What an automatic save that falls due now must do, in the order the
  // rules apply (the session's lock and the user's pause are the caller's).
  enum class DueSave { send, skipUnchanged, skipAfterDialog, waitForWatch, waitForDialog };
  DueSave dueSave();
  bool liveShowsDialog();

  // Around the keys: the title they act on is read just before they go, and
  // the watch for Live's answer starts once they went. `time` is the time of
  // day of the keys, as the status shows it.
  void keysAboutToBePosted();
  void keysPosted(bool manual, const std::string& time);
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
    std::string time;
    // The title when the keys went, and the set it showed.
    std::optional<std::string> title;
    std::optional<LiveSetTitle> set;
    // On the monotonic clock, as every time here.
    double startedAt = 0;
    // Past its 10 s without an outcome: only a save can still show.
    bool late = false;
  };

  std::optional<std::string> readTitle();
  void noteTitle(const std::optional<std::string>& title);
  void lookDuringWatch();
  void judgeWatch(const std::optional<std::string>& title, bool modal);
  void endWatch();
  // The title tells whether the set has changes: it carries Live's suffix and
  // this Live has shown the mark before.
  bool titleTellsChanges() const;
  void startStretch();
  void report(const std::string& statusMessage, const std::string& logLine);

  RunLoop& runLoop_;
  ApplicationWindows& windows_;
  Notifications& notifications_;
  Logger log_;
  Reporter report_;
  // Expires with this object, so late callbacks find it gone.
  std::shared_ptr<LiveSetWatch*> lifetime_;

  std::optional<int> pid_;
  ObservationRef titleObservation_;
  std::optional<std::string> title_;
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
