// The simulated desktop: a virtual clock with one main thread's pending calls,
// running applications, Accessibility trust, posted key events, alerts,
// preferences and launchctl runs. It outlives the Quillmark processes that
// run on it one after another (see sim_process.h), and it injects faults.
//
// Everything is deterministic and single-threaded. The clock moves only when
// the driver advances it or a process sleeps.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform.h"
#include "sim_call_queue.h"
#include "sim_preferences.h"

namespace qm::sim {

class Process;

// Thrown by System::terminate() to unwind the ended process's stack. The
// dispatch loop, Process::run() and Process::click() catch it. It derives
// from nothing, so that application code catching std::exception cannot
// swallow a terminate.
struct ProcessExit {
  const Process* process;
};

// What the application did to the world, in order.
// Every activation request made of a running application, granted or not.
struct Activation {
  Date time;
  int pid;
  unsigned options;
  // The application that handed its activation over, for such requests.
  std::optional<int> handedOverBy = std::nullopt;
  // False when the system declined; only granted ones change the focus.
  bool granted = true;
  // The process that asked; 0 for the world's own requests.
  int requester = 0;
};
struct Unhiding {
  Date time;
  int pid;
};
struct PostedKeyEvent {
  Date time;
  int pid;
  std::uint16_t keyCode;
  bool keyDown;
  std::uint64_t flags;
  // False when no running application had that pid.
  bool delivered;
  // The modifiers the user held as it arrived: the receiver sees them too.
  std::uint64_t heldFlags = 0;
  // What the key types in the keyboard layout of that moment; "" for a key
  // without a letter.
  std::string typed;
  // It reached Live while Live was busy: Live handles it once it is done.
  bool heldByBusyLive = false;
};
// A key the user pressed and released.
struct UserKeyPress {
  Date time;
  // The application in front that received it; none when nothing was.
  std::optional<int> pid;
};
struct Hiding {
  Date time;
  int pid;
};
struct AlertRecord {
  Date shownAt;
  // The Quillmark process that ran it.
  int pid;
  AlertContent content;
  // Unset while the alert is open, or when its process ended meanwhile.
  std::optional<int> pressedButton;
  std::optional<Date> answeredAt;
};
struct OpenedURL {
  Date time;
  int pid;
  std::string url;
};
struct TaskRun {
  Date time;
  int pid;
  std::string launchPath;
  std::vector<std::string> arguments;
  // Unset when the program could not be started (the port threw).
  std::optional<int> status;
  // Ended at the caller's time limit; its status is then -1.
  bool timedOut = false;
  std::string errorOutput;
};
struct Termination {
  Date time;
  int pid;
};
// A read of Live's windows or menus that Live did not answer: the reader's
// main thread waited the whole messaging timeout.
struct LiveWait {
  enum class Read { title, dialog, saveCommand };
  Date start;
  double seconds;
  // The Quillmark process that waited, and the Live it asked.
  int pid;
  int livePid;
  Read read;
};
// Live's Save command pressed through its menus (the press went through).
struct MenuPress {
  Date time;
  // Live's pid, and the Quillmark process that pressed.
  int pid;
  int requester;
};
struct NotificationRecord {
  Date time;
  // The Quillmark process that posted it.
  int pid;
  std::string title;
  std::string body;
};

// Told to the observer as things happen. `index` points into the matching
// record list; it is 0 for kinds without one.
struct Event {
  enum class Kind {
    activation,           // activations(); granted ones only
    unhiding,             // unhidings()
    hiding,               // hidings(); hidden at the application's own request
    keyEventPosted,       // keyEvents()
    alertShown,           // alerts()
    alertAnswered,        // alerts()
    accessibilityPrompt,  // the system prompt appeared (no record)
    urlOpened,            // openedURLs()
    taskRun,              // taskRuns()
    terminated,           // terminations()
    notificationPosted,   // notifications()
    liveTitleChanged,     // liveTitle() is new (no record)
    liveDialogChanged,    // liveDialogOpen() is new (no record)
    liveWaited,           // liveWaits(); pid: the Live asked
    liveAnswersAgain,     // Live's busy spell is over (no record)
    menuPressed,          // menuPresses(); pid: Live
    afterDispatch,        // a main-thread call (timer, perform, action, click, run) returned
  };
  Kind kind;
  Date time;
  // The Quillmark process concerned; for activation, unhiding and key events
  // the target application; 0 for the world's own scripted actions.
  int pid;
  std::size_t index;
};

class World {
 public:
  // `homeDirectory` is a real folder chosen by the test; the world itself
  // never creates or reads files.
  explicit World(std::string homeDirectory);
  ~World();
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  // -------------------------------------------------------------------------
  // Clock and main thread

  // 2025-03-02 09:00:00 local time, where every world starts.
  static Date startDate();
  // NSTimer's floor for a non-positive interval.
  static constexpr double kMinimumTimerInterval = 0.0001;

  // The world's clock, on which timers, scripted lines and every record run:
  // the monotonic clock of its processes, which never jumps.
  Date now() const { return now_; }
  // The wall clock of its processes: the same until the clock is set.
  Date wallNow() const { return now_ + wallOffset_; }
  // The wall clock moves `seconds` (negative: back); nothing is told.
  void jumpWallClock(double seconds) { wallOffset_ += seconds; }
  // The machine sleeps: both clocks move `seconds` while nothing runs and no
  // key is typed; what came due meanwhile runs at the next advance, each
  // repeating timer once. The wake itself is a key press, as a key or the
  // lid wakes a machine. Not allowed from inside a call.
  void sleepSystem(double seconds);
  // Runs every call due up to `time`, in order of due time and then posting
  // order, each seeing now() equal to its due time; then sets the clock to
  // `time`. A call that sleeps moves the clock on, and what came due meanwhile
  // runs late, right after it. The clock never goes back: an earlier `time`
  // only runs what is overdue. Not allowed from inside a call; `time` must be
  // finite.
  void advanceTo(Date time);
  void advanceBy(double seconds) { advanceTo(now_ + seconds); }
  // Scripted actions of the driver. They run in the common modes, so also
  // while a modal alert is open.
  void at(Date time, std::function<void()> action);
  void after(double seconds, std::function<void()> action) {
    at(now_ + seconds, std::move(action));
  }
  // Timers, delayed performs and scripted actions waiting to run.
  std::size_t pendingCallCount() const { return commonCalls_.size() + defaultModeCalls_.size(); }
  bool insideCall() const { return callDepth_ > 0; }

  // -------------------------------------------------------------------------
  // Modal alerts

  // How the next alert is answered: the button pressed and how long the alert
  // stays open first. One use; afterwards alerts get the second button (the
  // only one if there is one) at once.
  void setNextAlertResponse(int buttonIndex, double openSeconds = 0);
  bool alertOpen() const { return modalDepth_ > 0; }
  const std::vector<AlertRecord>& alerts() const { return alerts_; }

  // -------------------------------------------------------------------------
  // Running applications. Pids are never reused.

  int startApplication(const std::string& bundleIdentifier, const std::string& name,
                       bool hidden = false);
  void quitApplication(int pid);
  void quitApplications(const std::string& bundleIdentifier);
  bool isRunning(int pid) const;
  bool isHidden(int pid) const;
  void setHidden(int pid, bool hidden);
  // The user's focus changes, showing a hidden application; not recorded as
  // an activation.
  void setFrontmost(std::optional<int> pid);
  std::optional<int> frontmost() const { return frontmost_; }
  // In launch order.
  std::vector<int> runningApplications(const std::string& bundleIdentifier) const;
  // Since macOS 14 activation is a request the system may decline. `plain`
  // declines activateWithOptions only, and still honours an activation that
  // the frontmost application hands over; `all` declines both.
  enum class ActivationDecline { none, plain, all };
  void declineActivations(ActivationDecline which) { activationDecline_ = which; }
  ActivationDecline activationDecline() const { return activationDecline_; }
  // Recorded only when asked of a running application.
  const std::vector<Activation>& activations() const { return activations_; }
  // The requests that processes made of applications with that identifier,
  // declined ones included; focus changes of the user are none.
  std::size_t activationRequestsOf(const std::string& bundleIdentifier) const;
  const std::vector<Unhiding>& unhidings() const { return unhidings_; }
  // The application hides itself, as with Command-H: the focus passes to the
  // application that had it before, if one still shows.
  bool hideApplication(int pid);
  const std::vector<Hiding>& hidings() const { return hidings_; }

  // -------------------------------------------------------------------------
  // The person at the keyboard. Keys go to the application in front, also
  // while a Quillmark process sleeps, since the user does not wait for it.
  // Keys that Quillmark posts are not the user's.

  enum class KeyboardLayout { us, dvorak, colemak };
  void setKeyboardLayout(KeyboardLayout layout) { layout_ = layout; }
  KeyboardLayout keyboardLayout() const { return layout_; }
  // The letter or sign a key types in the current layout ("" for none), and
  // the key that types one.
  std::string typedCharacter(std::uint16_t keyCode) const;
  std::optional<std::uint16_t> keyCodeTyping(char character) const;

  // One key now, or one every `period` seconds from now until `seconds`
  // have passed (the last exactly then).
  void userTypes();
  void userTypesFor(double seconds, double period = 0.2);
  enum class Held : unsigned { shift = 1, control = 2, option = 4, command = 8, mouse = 16 };
  // A hold starts with a press; a release is not a press.
  void userHolds(Held input);
  void userReleases(Held input);
  void userReleasesAll() { held_ = 0; }
  bool userHoldsAnything() const { return held_ != 0; }
  // The event flags of the modifier keys held now.
  std::uint64_t heldModifierFlags() const;
  // Infinity when the user never pressed anything.
  double secondsSinceLastUserPress() const;
  const std::vector<UserKeyPress>& userKeyPresses() const { return userKeyPresses_; }
  // How many of the user's keys reached an application with that identifier.
  std::size_t userKeysReceivedBy(const std::string& bundleIdentifier) const;

  // -------------------------------------------------------------------------
  // Accessibility trust. The system prompt never changes trust by itself.

  void setTrusted(bool trusted) { trusted_ = trusted; }
  bool trusted() const { return trusted_; }
  // Every trust check, with or without prompt.
  std::uint64_t trustCheckCount() const { return trustChecks_; }
  // Checks that asked for the prompt; the prompt appears only while untrusted.
  int promptRequestCount() const { return promptRequests_; }
  int promptShownCount() const { return promptsShown_; }

  // -------------------------------------------------------------------------
  // Keyboard events

  // The modifiers that new events take from their source (default 0).
  void setSourceModifierFlags(std::uint64_t flags) { sourceModifierFlags_ = flags; }
  std::uint64_t sourceModifierFlags() const { return sourceModifierFlags_; }
  // The next event source cannot be made.
  void failNextEventSource() { failNextEventSource_ = true; }
  // The next event source made gives no event at its `position`-th (1..4)
  // creation.
  void failKeyEventOfNextSave(int position);
  // The state id of every event source asked for (made or not), in order.
  const std::vector<int>& eventSourceStates() const { return eventSourceStates_; }
  const std::vector<PostedKeyEvent>& keyEvents() const { return keyEvents_; }

  // -------------------------------------------------------------------------
  // Preferences (the application's defaults domain; outlives processes)

  void setIntegerPreference(const std::string& key, std::int64_t value);
  void setDoublePreference(const std::string& key, double value);
  void setBoolPreference(const std::string& key, bool value);
  void setStringPreference(const std::string& key, std::string value);
  void removePreference(const std::string& key);
  const PreferenceValue* preference(const std::string& key) const;
  // Unset unless the key holds a value of exactly that type.
  std::optional<std::int64_t> integerPreference(const std::string& key) const;
  std::optional<double> doublePreference(const std::string& key) const;
  std::optional<bool> boolPreference(const std::string& key) const;
  std::optional<std::string> stringPreference(const std::string& key) const;

  // -------------------------------------------------------------------------
  // URLs

  // Only texts that parse as URLs are recorded.
  const std::vector<OpenedURL>& openedURLs() const { return openedURLs_; }

  // -------------------------------------------------------------------------
  // The user's account and programs

  const std::string& homeDirectory() const { return homeDirectory_; }
  void setHomeDirectory(std::string path) { homeDirectory_ = std::move(path); }
  // <home>/Library, or nothing while unavailable.
  std::optional<std::string> userLibraryDirectory() const;
  // A volume of that kind mounted at `mountPoint` (a disk image under
  // /Volumes, a translocated copy, a stick, a share): every path at or below
  // it is on it. Paths on no such volume are on a fixed one; `fixed` removes
  // the mount.
  void setVolume(const std::string& mountPoint, System::VolumeKind kind);
  System::VolumeKind volumeKind(const std::string& path) const;
  void setLibraryAvailable(bool available) { libraryAvailable_ = available; }
  std::uint32_t userId() const { return userId_; }
  void setUserId(std::uint32_t uid) { userId_ = uid; }
  // The only program in this world is /bin/launchctl; starting any other, or
  // launchctl while it is missing, throws std::runtime_error.
  static constexpr const char* kLaunchctlPath = "/bin/launchctl";
  void setLaunchctlPresent(bool present) { launchctlPresent_ = present; }
  // A launchctl that never ends by itself: each run lasts until the
  // caller's time limit and is ended there.
  void setLaunchctlHangs(bool hangs) { launchctlHangs_ = hangs; }
  // The next `count` launchctl runs whose first argument is "bootstrap" exit
  // with status 5 and launchctl's words for an I/O error; every other run
  // exits 0.
  void failNextBootstraps(int count) { failingBootstraps_ = count; }
  // The user switched the agent off: every bootstrap exits with launchd's
  // status and words for a disabled service.
  void setAgentDisabled(bool disabled) { agentDisabled_ = disabled; }
  const std::vector<TaskRun>& taskRuns() const { return taskRuns_; }
  const std::vector<Termination>& terminations() const { return terminations_; }

  // -------------------------------------------------------------------------
  // Live's set, as every running Live's main window shows it. Until a set is
  // given, Live's window has no title that can be read and Live saves
  // nothing. Command+S reaches Live as the S key goes down.

  static constexpr const char* kLiveBundleIdentifier = "com.ableton.live";
  static constexpr const char* kLiveTitleSuffix = " - Ableton Live 12 Suite";
  // A saved set: "NAME [NAME] - Ableton Live 12 Suite", with "*" after NAME
  // while it has unsaved changes.
  void setLiveSet(const std::string& name);
  // A set never saved: "Untitled* - Ableton Live 12 Suite". Command+S opens
  // the Save dialog instead of saving.
  void setLiveSetUntitled();
  void liveEdits();
  // From now on each save takes that long before the mark goes.
  void setLiveSaveDuration(double seconds);
  // The keys arrive but nothing is saved, as when a plug-in holds the keyboard.
  void setLiveDeaf(bool deaf) { liveDeaf_ = deaf; }
  // Live's own modal dialogs: keys go to them, not to the set.
  void setLiveDialogOpen(bool open);
  bool liveDialogOpen() const { return liveDialogOpen_; }
  // The user answers the Save dialog: the set is saved as NAME and the
  // dialog closes.
  void liveNamesSet(const std::string& name);
  // Whether the title shows the unsaved mark at all.
  void setLiveTitleMark(bool shown);
  // Exactly this title until the next set or title is given.
  void setLiveTitle(const std::string& title);
  // Live's title now; none without a set or without a running Live.
  std::optional<std::string> liveTitle() const;
  // The session's lock as the system answers when asked.
  bool sessionLocked() const { return sessionLocked_; }
  void setSessionLocked(bool locked) { sessionLocked_ = locked; }
  // Saves of unsaved changes that Live made.
  int liveSaves() const { return liveSaves_; }
  // The user saves the set in Live (Command+S typed there, or File > Save
  // Live Set): the same as Quillmark's keys would, but no key press of the
  // user and no focus change. Live's deafness to posted keys does not stop
  // it; its open modal dialog does.
  void liveUserSaves();

  // Live's Save command in its menus, as another process finds it: `none`
  // finds no such command, `works` presses it and Live saves as on Command+S,
  // `ignored` presses it and nothing happens, `disabled` finds it disabled.
  // While Live shows a modal dialog of its own, the command reads disabled.
  enum class LiveMenuSave { none, works, ignored, disabled };
  void setLiveMenuSave(LiveMenuSave mode) { liveMenuSave_ = mode; }
  LiveMenuSave liveMenuSave() const { return liveMenuSave_; }
  const std::vector<MenuPress>& menuPresses() const { return menuPresses_; }

  // Live is busy for `seconds` from now (a longer spell already under way
  // stays): it answers no read of its windows or menus, so each read costs
  // the reader's main thread kLiveMessagingTimeout and gets no answer. Keys
  // that reach it and the user's saves meanwhile wait until it is done and
  // are then handled as if they came then; its title is announced only then.
  static constexpr double kLiveMessagingTimeout = 0.25;
  void setLiveBusy(double seconds);
  bool liveBusy() const { return now_ < liveBusyUntil_; }
  // When the latest spell ends (or ended).
  Date liveBusyUntil() const { return liveBusyUntil_; }
  // Every read that Live left unanswered, in order.
  const std::vector<LiveWait>& liveWaits() const { return liveWaits_; }
  // The one-second interval in which main threads spent the most time
  // waiting for Live (waits may straddle its edges), and that time. Of
  // equal intervals, the earliest that begins as a wait does; 0 seconds
  // when none waited.
  struct WaitWindow {
    Date start = 0;
    double seconds = 0;
  };
  WaitWindow worstLiveWaitSecond() const;
  // Calls `changed` as a main-thread event of `owner` each time Live's title
  // changes, with the title of that instant, until removed.
  int observeLiveTitle(Process& owner,
                       std::function<void(const std::optional<std::string>&)> changed);
  void removeLiveTitleObserver(int id);

  // -------------------------------------------------------------------------
  // System notifications

  void postNotification(const Process& owner, const std::string& title, const std::string& body);
  const std::vector<NotificationRecord>& notifications() const { return notifications_; }

  // -------------------------------------------------------------------------
  // Observer (one; pass an empty function to remove it)

  void setObserver(std::function<void(const Event&)> observer) { observer_ = std::move(observer); }

  // -------------------------------------------------------------------------
  // Services for the ports of a Process. Tests have no need of them.

  detail::ScheduledCallPtr scheduleTimer(Process& owner, double interval,
                                         std::function<void()> callback);
  void schedulePerform(Process& owner, double delay, std::function<void()> callback);
  void sleepFor(double seconds);
  long runModal(const Process& owner, const AlertContent& alert);
  // Runs `body` as one main-thread event of `owner`; catches its exit.
  // Returns false when the process ended during it.
  bool runAsEvent(const Process& owner, const std::function<void()>& body);
  void cancelCallsOf(const Process& owner);
  // `requester`: the process that asks (0: the world itself).
  bool activateApplication(int pid, unsigned options, int requester = 0);
  bool activateApplicationHandedOver(int pid, int fromPid, unsigned options, int requester = 0);
  // A read of Live's windows or menus by `reader`'s main thread: false when
  // Live is busy, after the wait has been recorded and its time has passed.
  bool liveAnswers(const Process& reader, int livePid, LiveWait::Read read);
  // Presses Live's Save command for `owner` as the menu mode says.
  ApplicationMenus::Press pressLiveSaveCommand(const Process& owner, int livePid);
  bool unhideApplication(int pid);
  bool openURL(const Process& owner, const std::string& url);
  bool checkTrust(const Process& owner, bool prompt);
  // Unset when no source can be made; otherwise the failing event position
  // (0 for none) of the new source.
  std::optional<int> makeEventSource(int stateId);
  void postKeyEvent(int pid, std::uint16_t keyCode, bool keyDown, std::uint64_t flags);
  System::TaskResult runTask(const Process& owner, const std::string& launchPath,
                             const std::vector<std::string>& arguments, double timeoutSeconds);
  void recordTermination(const Process& owner);

 private:
  struct Application {
    int pid;
    std::string bundleIdentifier;
    std::string name;
    bool hidden;
    bool running;
  };

  struct TypingSpan {
    Date start;
    double period;
    std::int64_t count;
    std::int64_t next;
  };

  void runUntil(Date limit, const Process* modalOwner);
  // Live's reaction to one key arriving, and the title's announcement.
  void liveReceivesKey(int pid, std::uint16_t keyCode, bool keyDown, std::uint64_t flags);
  // Live's Save command, however given: typed, pressed or chosen by the user.
  void liveRunsSaveCommand();
  void liveSaveDone();
  void liveBusyEnds();
  void announceLiveTitle();
  // The calling main thread is blocked until `time`; the user and Live go on.
  void blockMainThreadUntil(Date time);
  // The user's keys due up to `time`, each at its own time.
  void deliverUserKeysUntil(Date time);
  void userKeyAt(Date time);
  void setFocus(std::optional<int> pid);
  detail::ScheduledCallPtr nextDue(Date limit, bool commonOnly);
  void fire(detail::ScheduledCallPtr call, const Process* modalOwner);
  void push(detail::CallQueue& queue, detail::ScheduledCallPtr call);
  void notify(Event::Kind kind, int pid, std::size_t index);
  Application* application(int pid);
  const Application* application(int pid) const;

  Date now_;
  double wallOffset_ = 0;
  std::uint64_t nextSeq_ = 0;
  int callDepth_ = 0;
  int modalDepth_ = 0;
  // The processes whose alerts are open, innermost last.
  std::vector<const Process*> modalOwners_;
  // Timers and scripted actions run in every mode; performs only in the
  // default mode, so they wait while an alert is open.
  detail::CallQueue commonCalls_;
  detail::CallQueue defaultModeCalls_;
  // The calls running now, innermost last (alerts nest).
  std::vector<detail::ScheduledCall*> firing_;

  std::optional<int> nextAlertButton_;
  double nextAlertOpenSeconds_ = 0;
  std::vector<AlertRecord> alerts_;

  int nextPid_ = 500;
  std::vector<Application> applications_;  // in launch order, pids ascending
  std::optional<int> frontmost_;
  ActivationDecline activationDecline_ = ActivationDecline::none;
  std::vector<Activation> activations_;
  std::vector<Unhiding> unhidings_;
  std::vector<Hiding> hidings_;
  // Every application that had the focus, latest last.
  std::vector<int> focusHistory_;

  KeyboardLayout layout_ = KeyboardLayout::us;
  std::vector<TypingSpan> typing_;
  std::vector<UserKeyPress> userKeyPresses_;
  std::optional<Date> lastUserPressAt_;
  unsigned held_ = 0;

  bool trusted_ = false;
  std::uint64_t trustChecks_ = 0;
  int promptRequests_ = 0;
  int promptsShown_ = 0;

  std::uint64_t sourceModifierFlags_ = 0;
  bool failNextEventSource_ = false;
  int failingKeyEventPosition_ = 0;
  std::vector<int> eventSourceStates_;
  std::vector<PostedKeyEvent> keyEvents_;

  std::map<std::string, PreferenceValue> preferences_;
  std::vector<OpenedURL> openedURLs_;

  std::string homeDirectory_;
  bool libraryAvailable_ = true;
  std::vector<std::pair<std::string, System::VolumeKind>> volumes_;
  std::uint32_t userId_ = 501;
  bool launchctlPresent_ = true;
  bool launchctlHangs_ = false;
  bool agentDisabled_ = false;
  int failingBootstraps_ = 0;
  std::vector<TaskRun> taskRuns_;
  std::vector<Termination> terminations_;

  enum class LiveSetKind { none, named, untitled };
  LiveSetKind liveSetKind_ = LiveSetKind::none;
  std::string liveSetName_;
  bool liveUnsaved_ = false;
  bool liveTitleMark_ = true;
  std::optional<std::string> liveFixedTitle_;
  bool liveDeaf_ = false;
  bool liveDialogOpen_ = false;
  bool sessionLocked_ = false;
  double liveSaveDuration_ = 0;
  int liveSaves_ = 0;
  LiveMenuSave liveMenuSave_ = LiveMenuSave::none;
  std::vector<MenuPress> menuPresses_;
  Date liveBusyUntil_ = -std::numeric_limits<Date>::infinity();
  // A busy spell whose end is still to be handled.
  bool liveBusyEndPending_ = false;
  std::vector<std::function<void()>> liveHeld_;
  std::vector<LiveWait> liveWaits_;
  std::optional<std::string> announcedLiveTitle_;
  struct TitleObserver {
    int id;
    Process* owner;
    std::function<void(const std::optional<std::string>&)> changed;
  };
  std::vector<TitleObserver> titleObservers_;
  int nextTitleObserverId_ = 1;
  std::vector<NotificationRecord> notifications_;

  std::function<void(const Event&)> observer_;
};

}  // namespace qm::sim
