// The ports through which the application core talks to the operating system.
//
// Each port is as thin as the system call it stands for, so every step of the
// application's behaviour stays visible in app/ and every failure the system
// can produce can be injected by the simulated desktop. Nothing here names a
// platform header: platform/macos implements the ports over AppKit,
// platform/sim over a virtual clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// Wall-clock time in seconds since 1970-01-01 00:00:00 UTC.
using Date = double;

// ---------------------------------------------------------------------------
// Clock and run loop

class Timer {
 public:
  virtual ~Timer() = default;
  // Stops the timer for good; calling it again does nothing.
  virtual void invalidate() = 0;
  virtual bool isValid() const = 0;
};
using TimerRef = std::shared_ptr<Timer>;

class RunLoop {
 public:
  virtual ~RunLoop() = default;

  // The wall clock: for times of day that a person reads. It jumps when the
  // clock is set.
  virtual Date now() const = 0;
  // Seconds on a clock that never jumps and keeps counting while the system
  // sleeps, from an arbitrary origin: for every duration.
  virtual double monotonicNow() const = 0;

  // A repeating timer on the main run loop, registered for the default mode
  // and added for the common modes, so it also fires while a menu is open or
  // a modal alert runs. It fires first one interval after it is made. A
  // timer that comes due late fires once and stays on its original grid.
  virtual TimerRef scheduleRepeatingTimer(double interval, std::function<void()> callback) = 0;

  // A one-shot call on the main run loop in the default mode only: it waits
  // while a modal alert runs.
  virtual void performAfterDelay(double delay, std::function<void()> callback) = 0;

  // Blocks the main thread. Nothing fires while it sleeps; what came due
  // fires after the caller has returned to the run loop.
  virtual void sleepMicroseconds(std::uint32_t microseconds) = 0;
};

// ---------------------------------------------------------------------------
// Workspace and running applications

inline constexpr unsigned kApplicationActivateAllWindows = 1;

class RunningApplication {
 public:
  virtual ~RunningApplication() = default;
  virtual int processIdentifier() const = 0;
  // Hidden (macOS) or minimised (Windows): none of its windows is shown.
  virtual bool isHidden() const = 0;
  virtual bool unhide() = 0;
  // Hides it again without giving it the focus.
  virtual bool hide() = 0;
  // A request: since macOS 14 the system may decline it, and then the
  // answer is false.
  virtual bool activateWithOptions(unsigned options) = 0;
  // Asks for activation as handed over by `from`, the application that is
  // active now (a request too). False when declined.
  virtual bool activateFromApplicationOptions(const RunningApplication& from, unsigned options) = 0;
};
using RunningApplicationRef = std::shared_ptr<RunningApplication>;

class Workspace {
 public:
  virtual ~Workspace() = default;
  // In the order the system lists them; empty when none runs.
  virtual std::vector<RunningApplicationRef> runningApplicationsWithBundleIdentifier(
      const std::string& bundleIdentifier) = 0;
  // The application that has the focus, or null.
  virtual RunningApplicationRef frontmostApplication() = 0;
  // The process that has the focus at this very moment, or none. Unlike
  // frontmostApplication(), which may only catch up when the main run loop
  // turns, this reads a source that is current within one turn.
  virtual std::optional<int> frontmostProcessIdentifierNow() = 0;
  // False when the text does not parse as a URL or the open failed.
  virtual bool openURL(const std::string& url) = 0;
};

// ---------------------------------------------------------------------------
// Accessibility trust

class Accessibility {
 public:
  virtual ~Accessibility() = default;
  // Asks the system afresh on every call. With prompt true the system may
  // show its own permission prompt.
  virtual bool isProcessTrustedWithOptions(bool prompt) = 0;
};

// ---------------------------------------------------------------------------
// Synthesized keyboard events

inline constexpr std::uint64_t kEventFlagMaskCommand = 0x100000;
inline constexpr int kEventSourceStateCombinedSessionState = 0;

// Owns one system event; destroying it releases the event.
class KeyboardEvent {
 public:
  virtual ~KeyboardEvent() = default;
  // Replaces the event's modifier flags.
  virtual void setFlags(std::uint64_t flags) = 0;
  virtual void postToPid(int pid) = 0;
};
using KeyboardEventList = std::span<const std::unique_ptr<KeyboardEvent>>;

// Owns one event source; destroying it releases the source.
class EventSource {
 public:
  virtual ~EventSource() = default;
  // Null when the system could not make the event.
  virtual std::unique_ptr<KeyboardEvent> createKeyboardEvent(std::uint16_t virtualKey,
                                                             bool keyDown) = 0;
  // Posts the events to the process in order, as one delivery where the
  // system offers one. False when not all of them went out; a key that went
  // down is then let up again.
  virtual bool postEventsToPid(KeyboardEventList events, int pid) {
    for (const auto& event : events) {
      event->postToPid(pid);
    }
    return true;
  }
};

class KeyboardEvents {
 public:
  virtual ~KeyboardEvents() = default;
  // Null when the system could not make a source.
  virtual std::unique_ptr<EventSource> createEventSource(int stateId) = 0;
  // The virtual key that types `character` while Command is held, in the
  // keyboard layout in use now; none when the layout cannot tell.
  virtual std::optional<std::uint16_t> virtualKeyTypingWithCommand(char32_t character) = 0;
};

// ---------------------------------------------------------------------------
// The person at the keyboard

class UserActivity {
 public:
  virtual ~UserActivity() = default;
  // Seconds since the user last pressed a key or a mouse button. Where the
  // system cannot tell presses from other input, any input counts.
  virtual double secondsSinceLastUserInput() = 0;
  // Whether a key or a mouse button is held down now.
  virtual bool isUserInputHeld() = 0;
};

// ---------------------------------------------------------------------------
// Another application's windows, read from outside

// Ends what it stands for when destroyed.
class Observation {
 public:
  virtual ~Observation() = default;
};
using ObservationRef = std::unique_ptr<Observation>;

// What another process answered, or that it gave no answer in time (it is
// busy or hung). "No answer" is never the same as "none" or "no": a caller
// that cannot tell must wait, not guess.
template <typename T>
class Reply {
 public:
  Reply(T value) : value_(std::move(value)) {}
  static Reply noAnswer() { return Reply(); }
  bool answered() const { return value_.has_value(); }
  // Only when answered.
  const T& operator*() const { return *value_; }
  const T* operator->() const { return &*value_; }
  friend bool operator==(const Reply&, const Reply&) = default;
  // Compared as a T: for a T that is itself an optional, std::optional's
  // own operator would take an empty T for "no answer".
  friend bool operator==(const Reply& reply, const T& value) {
    return reply.answered() && *reply.value_ == value;
  }

 private:
  Reply() = default;
  std::optional<T> value_;
};

class ApplicationWindows {
 public:
  virtual ~ApplicationWindows() = default;
  // The title of the process's main window; none when it shows no window or
  // its title cannot be read; no answer when the process did not answer in
  // time. One call waits at most one messaging timeout.
  virtual Reply<std::optional<std::string>> mainWindowTitle(int pid) = 0;
  // Whether the process shows a window that makes it modal now: a modal
  // dialog or sheet, not a modeless window of its own (a plug-in's).
  virtual Reply<bool> showsModalDialog(int pid) = 0;
  // Calls `changed` on the main thread with the main window's title, read at
  // the instant the system announces that it changed, until the observation
  // is destroyed. Null where the system announces no title changes, or
  // cannot yet (the caller may ask again later).
  virtual ObservationRef observeTitleChanges(
      int pid, std::function<void(const std::optional<std::string>& title)> changed) = 0;
};

// ---------------------------------------------------------------------------
// Another application's menus, used from outside

// Finding Live's own Save command and pressing it in the background.
class ApplicationMenus {
 public:
  virtual ~ApplicationMenus() = default;
  enum class Press {
    // Found enabled and pressed: no activation and no key event.
    pressed,
    // Found, but disabled: not pressed.
    disabled,
    // No such command, or its menus cannot be read from outside.
    missing,
  };
  // Finds the item whose shortcut saves (Command+S alone on the Mac, one
  // modifier word and S on Windows), never by its localised title, and
  // presses it when enabled. One call waits at most one messaging timeout.
  virtual Reply<Press> pressSaveCommand(int pid) = 0;
};

// ---------------------------------------------------------------------------
// System notifications

class Notifications {
 public:
  virtual ~Notifications() = default;
  // Shows a notification with a warning's weight. Where the user has turned
  // them off, or refuses to allow them, nothing shows.
  virtual void postNotification(const std::string& title, const std::string& body) = 0;
};

// ---------------------------------------------------------------------------
// Preferences (the application's own defaults domain)

class Preferences {
 public:
  virtual ~Preferences() = default;
  // 0 for an absent key or a value that does not read as a number.
  virtual std::int64_t integerForKey(const std::string& key) = 0;
  // False for an absent key.
  virtual bool boolForKey(const std::string& key) = 0;
  virtual bool hasObjectForKey(const std::string& key) = 0;
  virtual void setInteger(std::int64_t value, const std::string& key) = 0;
  virtual void setBool(bool value, const std::string& key) = 0;
  virtual void removeObjectForKey(const std::string& key) = 0;
};

// ---------------------------------------------------------------------------
// Icon drawing

struct Point {
  double x = 0;
  double y = 0;
};
struct Size {
  double width = 0;
  double height = 0;
};
struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

// An sRGB colour with straight alpha, 0 to 255 a channel.
struct Color {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  std::uint8_t alpha = 255;

  static const Color clear;
  static const Color black;
  static const Color white;

  friend constexpr bool operator==(const Color&, const Color&) = default;
};
inline constexpr Color Color::clear{0, 0, 0, 0};
inline constexpr Color Color::black{0, 0, 0, 255};
inline constexpr Color Color::white{255, 255, 255, 255};

enum class LineCapStyle : int { butt = 0, round = 1, square = 2 };
enum class LineJoinStyle : int { miter = 0, round = 1, bevel = 2 };
// The values AppKit uses on arm64.
enum class TextAlignment : int { left = 0, center = 1, right = 2 };

// An open polyline: a move to the first point, then straight lines.
struct BezierPath {
  double lineWidth = 1.0;
  LineCapStyle lineCapStyle = LineCapStyle::butt;
  LineJoinStyle lineJoinStyle = LineJoinStyle::miter;
  std::vector<Point> points;
};

struct TextAttributes {
  double boldSystemFontSize = 0;
  Color foregroundColor = Color::black;
  TextAlignment alignment = TextAlignment::left;
};

class Image {
 public:
  virtual ~Image() = default;
  virtual Size size() const = 0;
  virtual bool isTemplate() const = 0;
};
using ImageRef = std::shared_ptr<Image>;

// An image with the drawing focus locked on it. Coordinates are points with
// the origin at the bottom-left corner and y upwards.
class ImageCanvas {
 public:
  virtual ~ImageCanvas() = default;
  virtual void setFillColor(Color color) = 0;
  // Copies the fill colour into the rectangle (no blending).
  virtual void fillRect(const Rect& rect) = 0;
  // Paints the fill colour over the rectangle with its corners rounded to
  // `radius` (blending over what is there).
  virtual void fillRoundedRect(const Rect& rect, double radius) = 0;
  virtual void setStrokeColor(Color color) = 0;
  virtual void strokePath(const BezierPath& path) = 0;
  virtual void drawText(const std::string& text, const Rect& rect,
                        const TextAttributes& attributes) = 0;
  // Unlocks the focus, marks the image as a template or not, and returns it.
  virtual ImageRef finishImage(bool isTemplate) = 0;
};

class Graphics {
 public:
  virtual ~Graphics() = default;
  virtual std::unique_ptr<ImageCanvas> beginImage(Size size) = 0;
};

// ---------------------------------------------------------------------------
// Status bar and menus

class Menu;
class MenuItem;
using MenuRef = std::shared_ptr<Menu>;
using MenuItemRef = std::shared_ptr<MenuItem>;

// Receives the chosen item. An empty action makes an item without action.
using MenuAction = std::function<void(MenuItem& sender)>;

inline constexpr int kControlStateValueOff = 0;
inline constexpr int kControlStateValueOn = 1;

class MenuItem {
 public:
  virtual ~MenuItem() = default;
  virtual void setTitle(const std::string& title) = 0;
  virtual void setEnabled(bool enabled) = 0;
  virtual void setHidden(bool hidden) = 0;
  virtual void setState(int state) = 0;
  virtual void setTag(std::int64_t tag) = 0;
  virtual std::int64_t tag() const = 0;
  virtual void setSubmenu(MenuRef submenu) = 0;
};

class Menu {
 public:
  virtual ~Menu() = default;
  virtual void addItem(MenuItemRef item) = 0;
};

class StatusItem {
 public:
  virtual ~StatusItem() = default;
  // Both go to the item's button.
  virtual void setImage(ImageRef image) = 0;
  virtual void setToolTip(const std::string& toolTip) = 0;
  virtual void setMenu(MenuRef menu) = 0;
};
using StatusItemRef = std::shared_ptr<StatusItem>;

inline constexpr double kVariableStatusItemLength = -1.0;

class StatusBar {
 public:
  virtual ~StatusBar() = default;
  virtual StatusItemRef statusItemWithLength(double length) = 0;
  virtual MenuRef createMenu(const std::string& title) = 0;
  // The key equivalent takes the default Command modifier.
  virtual MenuItemRef createMenuItem(const std::string& title, MenuAction action,
                                     const std::string& keyEquivalent) = 0;
  virtual MenuItemRef separatorItem() = 0;
};

// ---------------------------------------------------------------------------
// Modal alert

inline constexpr long kAlertFirstButtonReturn = 1000;

struct AlertContent {
  std::string messageText;
  std::string informativeText;
  std::vector<std::string> buttonTitles;
};

class Alerts {
 public:
  virtual ~Alerts() = default;
  // Runs a modal loop until a button is pressed; returns 1000 + its index.
  // Common-mode timers keep firing meanwhile.
  virtual long runModal(const AlertContent& alert) = 0;
};

// ---------------------------------------------------------------------------
// The application process and its surroundings

class System {
 public:
  virtual ~System() = default;
  // Ends the process; never returns.
  [[noreturn]] virtual void terminate() = 0;
  virtual std::string mainExecutablePath() = 0;
  virtual std::string homeDirectory() = 0;
  // The user's Library folder; empty when the system gives none.
  virtual std::optional<std::string> userLibraryDirectory() = 0;
  virtual std::uint32_t userId() = 0;
  virtual int processIdentifier() = 0;
  // The kind of volume that holds `path`: one that launchd could lose from
  // under a program path is anything but fixed. `unknown` when the system
  // cannot tell (the path or its volume is gone).
  enum class VolumeKind { fixed, readOnly, removable, network, unknown };
  virtual VolumeKind volumeKind(const std::string& path) = 0;
  // What a program run reports.
  struct TaskResult {
    // The exit status; -1 when the program was ended at the time limit.
    int status = 0;
    bool timedOut = false;
    // The start of what it wrote to its standard error, at most
    // kTaskErrorOutputLimit bytes.
    std::string errorOutput;
  };
  static constexpr std::size_t kTaskErrorOutputLimit = 4096;
  // Runs a program with the given arguments (no shell), standard input from
  // the null device and no other descriptor of this process, and waits for
  // it to end, at most `timeoutSeconds`; a program still running then is
  // ended. Throws std::runtime_error when the program cannot be started.
  virtual TaskResult runTask(const std::string& launchPath,
                             const std::vector<std::string>& arguments, double timeoutSeconds) = 0;
  // Asks for this application to come to the front, a request the system
  // may decline (an accessory is not in front by itself).
  virtual void activate() = 0;
  // The time of day in the user's short time style ("Saved at ...").
  virtual std::string shortTimeString(Date date) = 0;
  // Whether the user's session is locked now, asked of the system; none when
  // the system cannot tell.
  virtual std::optional<bool> sessionIsLocked() = 0;
  // While true, the system is asked not to throttle this application's
  // timers in the background (App Nap). Nothing where it never does.
  virtual void setTimersMustStayPrompt(bool prompt) { (void)prompt; }
};

// ---------------------------------------------------------------------------
// What differs between desktops

// The words of the texts that name the permission and the save shortcut.
// The defaults are the macOS words.
struct DesktopWords {
  // The permission line, the tooltip and the status line.
  std::string_view permissionGranted = "Accessibility granted";
  std::string_view permissionMissing = "Accessibility missing";
  std::string_view grantPermission = "Grant Accessibility access";
  // The menu item shown while the permission is missing, and where it leads.
  std::string_view openPermissionSettings = "Open Accessibility Settings";
  std::string_view permissionSettingsURL =
      "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";
  // Why a save failed.
  std::string_view permissionRequiredError = "Accessibility access is required";
  std::string_view noKeyEventsError = "Could not build Cmd+S events";
  std::string_view keysNotSentError = "Could not send all of the Cmd+S keys";
  // The log line of a schedule that cannot start.
  std::string_view autosaveNotStartedMessage =
      "Autosave timer not started: app is disabled, Ableton is missing, or Accessibility is "
      "missing.";
};

// The desktop's words and habits. This base class is the macOS desktop;
// another desktop overrides what differs.
class Desktop {
 public:
  virtual ~Desktop() = default;
  virtual const DesktopWords& words() const {
    static const DesktopWords macOSWords;
    return macOSWords;
  }
  // True where synthesized keys go to whichever window is in front instead
  // of to a chosen process: they may then be sent only while Live is in front.
  virtual bool keysReachOnlyTheFrontWindow() const { return false; }
  // Whether the first launch asks for the permission (system prompt and alert).
  virtual bool asksForPermissionAtFirstLaunch() const { return true; }
  // The application log file; none for Library/Logs/Quillmark.log in the home.
  virtual std::optional<std::string> applicationLogPath() { return std::nullopt; }
  // Sets the watcher to start at login in the desktop's own way and returns
  // true, with a line for the log in `logLine` when there is something to
  // say; false where the core installs it as a launchd agent instead.
  virtual bool installWatcherAgent(std::string* logLine = nullptr) {
    (void)logLine;
    return false;
  }
};

// Everything the application core may ask of the system.
struct Platform {
  RunLoop& runLoop;
  Workspace& workspace;
  Accessibility& accessibility;
  KeyboardEvents& keyboardEvents;
  UserActivity& userActivity;
  ApplicationWindows& applicationWindows;
  ApplicationMenus& applicationMenus;
  Notifications& notifications;
  Preferences& preferences;
  StatusBar& statusBar;
  Alerts& alerts;
  Graphics& graphics;
  System& system;
  Desktop& desktop;
};

}  // namespace qm
