// The Win32 implementations of the ports, one factory per concern, and the
// few hooks the Windows pieces share among themselves and with their tests.
// Each object must live as long as the application delegate that uses it.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform.h"

namespace qm::windows {

// The run loop also tells the other pieces when a modal loop (a message box,
// the tray menu) runs: delayed calls wait meanwhile, as in AppKit's default
// mode.
class WinRunLoop : public RunLoop {
 public:
  virtual void beginModal() = 0;
  virtual void endModal() = 0;
  // The message loop of the application; returns when WM_QUIT arrives.
  virtual int run() = 0;
};

// `wallClock`, when given, stands for the system's in now() (for tests
// that set the clock); timers never read it.
std::unique_ptr<WinRunLoop> makeRunLoop(std::function<Date()> wallClock = {});
std::unique_ptr<Workspace> makeWorkspace();
std::unique_ptr<Accessibility> makeAccessibility(Workspace& workspace);
std::unique_ptr<KeyboardEvents> makeKeyboardEvents();
std::unique_ptr<UserActivity> makeUserActivity();
std::unique_ptr<ApplicationWindows> makeApplicationWindows();
std::unique_ptr<ApplicationMenus> makeApplicationMenus();
std::unique_ptr<Preferences> makePreferences(const std::wstring& registryKey);
// What the tray window hears of the user's session and the machine, for the
// core: locked or unlocked (a disconnect counts as a lock), the session
// ending (log-off, restart, shut-down), the system going to sleep and waking
// (each wake message Windows sends, so a wake may come twice), and the wall
// clock set. Any may be empty.
struct SessionEvents {
  std::function<void(bool locked)> lockChanged;
  std::function<void()> ending;
  std::function<void()> willSleep;
  std::function<void()> didWake;
  std::function<void()> clockChanged;
};
std::unique_ptr<StatusBar> makeStatusBar(WinRunLoop& runLoop, SessionEvents sessionEvents = {});
// Balloons from the icon of the status bar's newest status item.
std::unique_ptr<Notifications> makeNotifications(StatusBar& statusBar);
std::unique_ptr<Alerts> makeAlerts(WinRunLoop& runLoop);
std::unique_ptr<Graphics> makeGraphics();
std::unique_ptr<System> makeSystem();
// Makes %LOCALAPPDATA%\Quillmark\Logs when it is missing.
std::unique_ptr<Desktop> makeDesktop();

// %LOCALAPPDATA%\Quillmark, Quillmark's own folder; none when unknown.
std::optional<std::string> localApplicationDataFolder();
// A shell folder by its CSIDL; none when unknown. SHGetKnownFolderPath's
// result is freed with CoTaskMemFree, which loads COM: 0.8 MB resident under
// Wine for a tray program that needs no COM until "Report a Problem".
std::optional<std::string> shellFolder(int csidl);

// Where Quillmark keeps its settings under HKEY_CURRENT_USER.
inline constexpr wchar_t kPreferencesKey[] = L"Software\\Vellum\\Quillmark";

// Whether an executable file name is Live's: "Ableton Live <anything>.exe",
// in any case.
bool isLiveExecutableName(std::wstring_view name);

// Live's main window: the visible top-level window of the process whose
// title carries Live's suffix, or else the largest visible one that no other
// window owns; null when it shows none. Its title is read and it gets the
// keys.
HWND mainWindowOfProcess(DWORD pid);

// How long Quillmark waits for Live's window to answer one question.
inline constexpr UINT kAnswerTimeoutMilliseconds = 200;

// Whether the window's thread takes a message within `milliseconds`: no at
// once for one the system counts as hung (5 s without taking messages), no
// when the wait runs out. This thread handles no message sent to it
// meanwhile, so nothing of Quillmark's runs inside the wait; a thread that
// waits on this one gives no answer until the time is up.
bool windowAnswers(HWND window, UINT milliseconds);

// Whether keys sent by a process at integrity level `ours` reach one at
// `theirs`: Windows blocks input to a process of a higher level. An unknown
// level (its token could not be read) counts as higher.
bool inputReachesIntegrityLevel(DWORD ours, std::optional<DWORD> theirs);

// The key-ups still owed when SendInput inserted only the first `inserted`
// of `sent`: one for every key that went down and did not come up within
// them, the last one first.
std::vector<INPUT> keyUpsOwed(std::span<const INPUT> sent, std::size_t inserted);

// The window the user worked in when Quillmark's tray menu last opened, or
// null. Opening the menu brings Quillmark's own window to the front; while
// it is there, the workspace answers this window as the frontmost
// application, so the focus goes back to it after "Save Now".
HWND windowBeforeTrayMenu();

// The tray icon's window and menu, for the adapter tests.
HWND statusItemWindow(StatusItem& item);
HMENU statusItemMenu(StatusItem& item);
// Opens the tray menu at the cursor, as a click on the icon does; returns
// when it closes.
void openStatusItemMenu(StatusItem& item);

// The id of Quillmark's icon under its tray window.
inline constexpr UINT kTrayIconId = 1;

// The last Shell_NotifyIconW call of one kind (NIM_ADD, NIM_MODIFY, ...)
// that a tray icon of this process made, for the tests. `order` numbers all
// calls, so the tests can tell which came first.
struct TrayIconCall {
  NOTIFYICONDATAW data{};
  bool succeeded = false;
  int order = 0;
};
std::optional<TrayIconCall> lastTrayIconCall(DWORD operation);

// Whether a WM_WTSSESSION_CHANGE event leaves the session locked (lock or
// disconnect) or unlocked (unlock); none for the other events. A connect
// says nothing of the lock (a locked session can be reconnected): it takes
// lockedNow's answer, and changes nothing when that has none.
std::optional<bool> sessionLockedAfter(WPARAM sessionChange,
                                       const std::function<std::optional<bool>()>& lockedNow);
// WTSSessionInfoEx's SessionFlags: locked, unlocked, or none when unknown.
// `reversed` for Windows 7 and Server 2008 R2, which swap the two values.
std::optional<bool> lockedFromSessionFlags(LONG sessionFlags, bool reversed = false);
// What a WTSINFOEXW record of `size` bytes says of the lock; none unless it
// is a whole level-1 record with a known flag (the lock flag is 0, so a
// zeroed record says nothing).
std::optional<bool> lockedFromSessionInfo(const void* buffer, DWORD size, bool flagsReversed);
// Whether the session is locked now, as WTSQuerySessionInformationW tells;
// none when the query fails or cannot tell (Wine 8 does not answer it).
std::optional<bool> sessionLockedNow(DWORD sessionId);

// Milliseconds between GetLastInputInfo's dwTime and GetTickCount()'s now.
// Injected input carries its own tick count, which may be ahead of now: a
// difference above 0x7FFFFFFF is such a tick, not 49 days without input,
// and counts as 0.
DWORD millisecondsSinceInput(DWORD now, DWORD lastInput);

// The steps that drew an image, to draw it again at another size.
using ImageDrawing = std::vector<std::function<void(ImageCanvas&)>>;

// The image as the canvas drew it: 0xAARRGGBB pixels with straight alpha,
// top row first, drawn for icons `iconPixels` wide. The tray tints a
// template by its alpha when it makes the icon.
class Win32Image final : public Image {
 public:
  Win32Image(Size size, bool isTemplate, int width, int height, std::vector<std::uint32_t> pixels,
             int iconPixels = 0, std::shared_ptr<const ImageDrawing> drawing = nullptr)
      : size_(size),
        template_(isTemplate),
        width_(width),
        height_(height),
        pixels_(std::move(pixels)),
        iconPixels_(iconPixels),
        drawing_(std::move(drawing)) {}

  Size size() const override { return size_; }
  bool isTemplate() const override { return template_; }
  int width() const { return width_; }
  int height() const { return height_; }
  const std::vector<std::uint32_t>& pixels() const { return pixels_; }
  int iconPixels() const { return iconPixels_; }
  const std::shared_ptr<const ImageDrawing>& drawing() const { return drawing_; }

 private:
  Size size_;
  bool template_;
  int width_;
  int height_;
  std::vector<std::uint32_t> pixels_;
  int iconPixels_;
  std::shared_ptr<const ImageDrawing> drawing_;
};

// The icon's side in pixels at the taskbar's DPI now (16 at 100 %), and at
// any DPI.
int trayIconPixels();
int trayIconPixelsAtDpi(UINT dpi);
// The same drawing made again for icons `iconPixels` wide; the image itself
// when it is that size already or keeps no drawing.
ImageRef redrawnImage(const ImageRef& image, int iconPixels);

// An image as 32-bit BGRA pixels with straight alpha, top row first.
struct IconPixels {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
};
// The pixels the tray gets for the image: a template in `tint` (0xRRGGBB)
// by its alpha, any other image as drawn.
IconPixels iconPixels(Image& image, std::uint32_t tint);
// True when the taskbar uses the light theme (so the icon is drawn dark).
bool taskbarIsLight();

// The colour a template icon takes, 0xRRGGBB: under high contrast the
// system's text colour (a COLORREF, as GetSysColor gives it), otherwise
// black on a light taskbar and white on a dark one.
std::uint32_t templateTint(bool lightTaskbar, std::optional<COLORREF> highContrastText);
// That colour for the system's settings now.
std::uint32_t currentTemplateTint();

// UTF-8 (the ports' text) to UTF-16 and back; invalid input gives "".
std::wstring widen(const std::string& text);
std::string narrow(const std::wstring& text);

// The text as it fits a fixed buffer of `capacity` characters with its
// terminating null: a longer text is cut and ends in "…", and a cut never
// splits a surrogate pair.
std::wstring fittedText(std::wstring_view text, std::size_t capacity);

// Shows a balloon with a warning icon from this process's newest tray icon;
// the title and the body are cut to fit. False when no icon could show it.
bool showTrayBalloon(const std::wstring& title, const std::wstring& body);

}  // namespace qm::windows
