// Another application's windows, read with Win32: Live's main window found
// among its process's top-level windows, its title read with GetWindowTextW
// (which takes the text the system keeps and never waits on a busy Live),
// its modal dialogs, and title changes announced through a WinEvent hook.
// Whether Live answers at all is asked of its main window with one WM_NULL
// that waits at most kAnswerTimeoutMilliseconds: the text the system keeps
// reads fine from a Live that hangs.
// windows.h comes first: the other Win32 headers build on it.
#include <windows.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
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

DWORD processOf(HWND window) {
  DWORD pid = 0;
  return GetWindowThreadProcessId(window, &pid) != 0 ? pid : 0;
}

// One pass over the top-level windows of a process.
struct ProcessWindows {
  DWORD pid = 0;
  HWND titled = nullptr;   // the first whose title carries Live's suffix
  HWND largest = nullptr;  // the largest that no other window owns
  LONGLONG largestArea = -1;
  // A visible window whose owner, a window of the process, is disabled: a
  // modal dialog, which disables its owner while it runs. A plug-in's own
  // windows, dialogs or not, leave their owner enabled.
  bool modalDialog = false;

  HWND main() const { return titled != nullptr ? titled : largest; }
};

BOOL CALLBACK considerWindow(HWND window, LPARAM context) {
  auto& windows = *reinterpret_cast<ProcessWindows*>(context);
  if (processOf(window) != windows.pid || !IsWindowVisible(window)) {
    return TRUE;
  }
  const HWND owner = GetWindow(window, GW_OWNER);
  if (owner != nullptr && IsWindowEnabled(owner) == FALSE && processOf(owner) == windows.pid) {
    windows.modalDialog = true;
  }
  if (windows.titled == nullptr && isLiveTitle(window)) {
    windows.titled = window;
  }
  if (owner == nullptr) {
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

// Calls back on the thread that made it, from its message loop, for each
// title change of a top-level window of the process. The system calls one
// static procedure for every hook, also inside any call of this thread that
// waits on another thread (a SendMessage, Shell_NotifyIconW): the title is
// read there at once, and handed over through a posted message, so the core
// hears of it between two of its own steps, never in the middle of one.
class TitleObservation final : public Observation {
 public:
  using Changed = std::function<void(const std::optional<std::string>&)>;

  TitleObservation(DWORD pid, Changed changed)
      : pid_(pid), id_(++lastId()), changed_(std::move(changed)) {
    // Only that process's events. WINEVENT_SKIPOWNPROCESS would add nothing
    // to that, and with a process named Wine 8 delivers no event at all.
    hook_ = SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_NAMECHANGE, nullptr,
                            &TitleObservation::announce, pid, 0, WINEVENT_OUTOFCONTEXT);
    if (hook_ != nullptr && messageWindow() != nullptr) {
      byHook()[hook_] = this;
      byId()[id_] = this;
    }
  }
  ~TitleObservation() override {
    byId().erase(id_);
    if (hook_ != nullptr) {
      byHook().erase(hook_);
      UnhookWinEvent(hook_);
    }
  }
  TitleObservation(const TitleObservation&) = delete;
  TitleObservation& operator=(const TitleObservation&) = delete;

  bool hooked() const { return byId().contains(id_); }

 private:
  static constexpr UINT kTitlesMessage = WM_APP + 1;

  static std::uint64_t& lastId() {
    static std::uint64_t id = 0;
    return id;
  }
  static std::map<HWINEVENTHOOK, TitleObservation*>& byHook() {
    static std::map<HWINEVENTHOOK, TitleObservation*> observations;
    return observations;
  }
  // By a number never used again: a posted message may outlive its
  // observation, and a hook handle may be reused.
  static std::map<std::uint64_t, TitleObservation*>& byId() {
    static std::map<std::uint64_t, TitleObservation*> observations;
    return observations;
  }

  static HWND messageWindow() {
    static const HWND window = [] {
      WNDCLASSEXW windowClass{};
      windowClass.cbSize = sizeof windowClass;
      windowClass.lpfnWndProc = &TitleObservation::windowProcedure;
      windowClass.hInstance = GetModuleHandleW(nullptr);
      windowClass.lpszClassName = L"QuillmarkTitleChanges";
      RegisterClassExW(&windowClass);
      return CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                             nullptr, windowClass.hInstance, nullptr);
    }();
    return window;
  }

  static void CALLBACK announce(HWINEVENTHOOK hook, DWORD event, HWND window, LONG object,
                                LONG child, DWORD thread, DWORD time) {
    (void)event;
    (void)thread;
    (void)time;
    // Events queued before an unhook may still arrive after it.
    const auto found = byHook().find(hook);
    if (found == byHook().end() || object != OBJID_WINDOW || child != CHILDID_SELF ||
        window == nullptr || GetAncestor(window, GA_ROOT) != window) {
      return;
    }
    TitleObservation& self = *found->second;
    DWORD pid = 0;
    if (GetWindowThreadProcessId(window, &pid) == 0 || pid != self.pid_) {
      return;
    }
    // The title of this instant.
    self.pending_.push_back(mainTitleOf(self.pid_));
    if (self.pending_.size() == 1) {
      PostMessageW(messageWindow(), kTitlesMessage, 0, static_cast<LPARAM>(self.id_));
    }
  }

  static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kTitlesMessage) {
      return DefWindowProcW(window, message, wParam, lParam);
    }
    const std::uint64_t id = static_cast<std::uint64_t>(lParam);
    // Each call may end this observation or others.
    for (auto found = byId().find(id); found != byId().end() && !found->second->pending_.empty();
         found = byId().find(id)) {
      TitleObservation& self = *found->second;
      const std::optional<std::string> title = std::move(self.pending_.front());
      self.pending_.pop_front();
      const Changed changed = self.changed_;
      changed(title);
    }
    return 0;
  }

  DWORD pid_;
  std::uint64_t id_;
  Changed changed_;
  HWINEVENTHOOK hook_ = nullptr;
  std::deque<std::optional<std::string>> pending_;
};

class WinApplicationWindows final : public ApplicationWindows {
 public:
  Reply<std::optional<std::string>> mainWindowTitle(int pid) override {
    const HWND main = mainWindowOfProcess(static_cast<DWORD>(pid));
    if (main == nullptr) {
      return std::optional<std::string>();
    }
    if (!answers(main)) {
      return Reply<std::optional<std::string>>::noAnswer();
    }
    const std::optional<std::wstring> title = windowText(main);
    if (!title) {
      return std::optional<std::string>();
    }
    return std::optional<std::string>(narrow(*title));
  }

  // Only what makes Live modal: its main window disabled (a message box or
  // a common dialog of its own), or a dialog that disabled another of its
  // windows (a plug-in's window that asks something).
  Reply<bool> showsModalDialog(int pid) override {
    const ProcessWindows windows = windowsOfProcess(static_cast<DWORD>(pid));
    const HWND main = windows.main();
    if (main == nullptr) {
      return windows.modalDialog;
    }
    if (!answers(main)) {
      return Reply<bool>::noAnswer();
    }
    return windows.modalDialog || IsWindowEnabled(main) == FALSE;
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

 private:
  // A window that gave no answer is not asked again within the next
  // timeout, so a look (the title, then the dialog) waits once, not twice.
  // One that is gone answers: what is read of it then is "none".
  bool answers(HWND window) {
    if (window == silent_ && GetTickCount64() - silentSince_ < kAnswerTimeoutMilliseconds) {
      return false;
    }
    if (windowAnswers(window, kAnswerTimeoutMilliseconds) || IsWindow(window) == FALSE) {
      silent_ = nullptr;
      return true;
    }
    silent_ = window;
    silentSince_ = GetTickCount64();
    return false;
  }

  HWND silent_ = nullptr;
  ULONGLONG silentSince_ = 0;
};

class TrayNotifications final : public Notifications {
 public:
  void postNotification(const std::string& title, const std::string& body) override {
    showTrayBalloon(widen(title), widen(body));
  }
};

}  // namespace

bool windowAnswers(HWND window, UINT milliseconds) {
  // Reads what the system keeps of the thread, and waits for nothing.
  if (IsHungAppWindow(window) != FALSE) {
    return false;
  }
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, milliseconds,
                             &result) != 0;
}

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
