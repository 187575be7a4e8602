// Another application's windows, read with Win32: Live's main window found
// among its process's top-level windows, its title read with GetWindowTextW
// (which takes the text the system keeps and never waits on a busy Live),
// its modal dialogs, and title changes announced through a WinEvent hook.
// windows.h comes first: the other Win32 headers build on it.
#include <windows.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "live_title.h"
#include "windows_platform.h"

namespace qm::windows {
namespace {

// The text the system keeps for a window; none when the window is gone.
std::optional<std::wstring> windowText(HWND window) {
  // No WM_GETTEXTLENGTH first: that would be a message to a busy process.
  std::wstring text(256, L'\0');
  for (;;) {
    const int length = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
    if (length == 0 && !IsWindow(window)) {
      return std::nullopt;
    }
    const auto read = static_cast<std::size_t>(length);
    if (read + 1 < text.size() || text.size() >= 32768) {
      text.resize(read);
      return text;
    }
    text.resize(text.size() * 4);
  }
}

bool isLiveTitle(HWND window) {
  const std::optional<std::wstring> title = windowText(window);
  return title && hasLiveTitleSuffix(narrow(*title));
}

// The size a window has when not minimised: a minimised Live is as large as
// it was before.
LONGLONG restoredArea(HWND window) {
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  RECT rect{};
  if (GetWindowPlacement(window, &placement)) {
    rect = placement.rcNormalPosition;
  } else {
    GetWindowRect(window, &rect);
  }
  return LONGLONG{rect.right - rect.left} * (rect.bottom - rect.top);
}

// One pass over the top-level windows of a process.
struct ProcessWindows {
  DWORD pid = 0;
  HWND titled = nullptr;   // the first whose title carries Live's suffix
  HWND largest = nullptr;  // the largest that no other window owns
  LONGLONG largestArea = -1;
  bool dialog = false;  // a visible "#32770" window

  HWND main() const { return titled != nullptr ? titled : largest; }
};

BOOL CALLBACK considerWindow(HWND window, LPARAM context) {
  auto& windows = *reinterpret_cast<ProcessWindows*>(context);
  DWORD pid = 0;
  if (GetWindowThreadProcessId(window, &pid) == 0 || pid != windows.pid ||
      !IsWindowVisible(window)) {
    return TRUE;
  }
  wchar_t windowClass[16] = L"";
  GetClassNameW(window, windowClass, 16);
  if (std::wstring_view(windowClass) == L"#32770") {
    windows.dialog = true;
  }
  if (windows.titled == nullptr && isLiveTitle(window)) {
    windows.titled = window;
  }
  if (GetWindow(window, GW_OWNER) == nullptr) {
    const LONGLONG area = restoredArea(window);
    if (area > windows.largestArea) {
      windows.largest = window;
      windows.largestArea = area;
    }
  }
  return TRUE;
}

ProcessWindows windowsOfProcess(DWORD pid) {
  ProcessWindows windows;
  windows.pid = pid;
  EnumWindows(&considerWindow, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

std::optional<std::string> mainTitleOf(DWORD pid) {
  const HWND window = mainWindowOfProcess(pid);
  if (window == nullptr) {
    return std::nullopt;
  }
  const std::optional<std::wstring> title = windowText(window);
  if (!title) {
    return std::nullopt;
  }
  return narrow(*title);
}

// Calls back on the thread that made it (its message loop) for each title
// change of a top-level window of the process. The system calls one static
// procedure for every hook; it finds the observation by the hook.
class TitleObservation final : public Observation {
 public:
  using Changed = std::function<void(const std::optional<std::string>&)>;

  TitleObservation(DWORD pid, Changed changed) : pid_(pid), changed_(std::move(changed)) {
    // Only that process's events. WINEVENT_SKIPOWNPROCESS would add nothing
    // to that, and with a process named Wine 8 delivers no event at all.
    hook_ = SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_NAMECHANGE, nullptr,
                            &TitleObservation::announce, pid, 0, WINEVENT_OUTOFCONTEXT);
    if (hook_ != nullptr) {
      observations()[hook_] = this;
    }
  }
  ~TitleObservation() override {
    if (hook_ != nullptr) {
      observations().erase(hook_);
      UnhookWinEvent(hook_);
    }
  }
  TitleObservation(const TitleObservation&) = delete;
  TitleObservation& operator=(const TitleObservation&) = delete;

  bool hooked() const { return hook_ != nullptr; }

 private:
  static std::map<HWINEVENTHOOK, TitleObservation*>& observations() {
    static std::map<HWINEVENTHOOK, TitleObservation*> byHook;
    return byHook;
  }

  static void CALLBACK announce(HWINEVENTHOOK hook, DWORD event, HWND window, LONG object,
                                LONG child, DWORD thread, DWORD time) {
    (void)event;
    (void)thread;
    (void)time;
    // Events queued before an unhook may still arrive after it.
    const auto found = observations().find(hook);
    if (found == observations().end() || object != OBJID_WINDOW || child != CHILDID_SELF ||
        window == nullptr || GetAncestor(window, GA_ROOT) != window) {
      return;
    }
    TitleObservation& self = *found->second;
    DWORD pid = 0;
    if (GetWindowThreadProcessId(window, &pid) == 0 || pid != self.pid_) {
      return;
    }
    // The title of this instant; the call may end the observation.
    const std::optional<std::string> title = mainTitleOf(self.pid_);
    const Changed changed = self.changed_;
    changed(title);
  }

  DWORD pid_;
  Changed changed_;
  HWINEVENTHOOK hook_ = nullptr;
};

class WinApplicationWindows final : public ApplicationWindows {
 public:
  std::optional<std::string> mainWindowTitle(int pid) override {
    return mainTitleOf(static_cast<DWORD>(pid));
  }

  // A modal dialog disables its owner; Live's own dialogs (Save, Export)
  // and message boxes are "#32770" windows.
  bool showsModalDialog(int pid) override {
    const ProcessWindows windows = windowsOfProcess(static_cast<DWORD>(pid));
    const HWND main = windows.main();
    return windows.dialog || (main != nullptr && !IsWindowEnabled(main));
  }

  ObservationRef observeTitleChanges(
      int pid, std::function<void(const std::optional<std::string>&)> changed) override {
    auto observation =
        std::make_unique<TitleObservation>(static_cast<DWORD>(pid), std::move(changed));
    if (!observation->hooked()) {
      return nullptr;
    }
    return observation;
  }
};

class TrayNotifications final : public Notifications {
 public:
  void postNotification(const std::string& title, const std::string& body) override {
    showTrayBalloon(widen(title), widen(body));
  }
};

}  // namespace

HWND mainWindowOfProcess(DWORD pid) {
  return windowsOfProcess(pid).main();
}

std::unique_ptr<Notifications> makeNotifications(StatusBar& statusBar) {
  (void)statusBar;  // one tray icon per process: the newest
  return std::make_unique<TrayNotifications>();
}

std::unique_ptr<ApplicationWindows> makeApplicationWindows() {
  return std::make_unique<WinApplicationWindows>();
}

}  // namespace qm::windows
