// The least a tray helper beside Live costs while it waits, for
// measure_quillmark.sh to compare Quillmark against: a hidden window, a tray
// icon whose tooltip changes every second, and a walk of the process list
// every 2 s looking for Live. Nothing else; it runs until it is ended.
#include <windows.h>

#include <shellapi.h>
#include <tlhelp32.h>

#include <cwchar>
#include <cwctype>
#include <iterator>
#include <string_view>

namespace {

constexpr UINT kTrayMessage = WM_APP + 1;
constexpr UINT_PTR kTickTimer = 1;

NOTIFYICONDATAW gIcon{};
unsigned gSeconds = 0;
bool gLiveRunning = false;

bool isLiveName(std::wstring_view name) {
  constexpr std::wstring_view kPrefix = L"ableton live ";
  if (name.size() < kPrefix.size()) {
    return false;
  }
  for (std::size_t i = 0; i < kPrefix.size(); ++i) {
    if (static_cast<wchar_t>(std::towlower(name[i])) != kPrefix[i]) {
      return false;
    }
  }
  return true;
}

bool liveRunning() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    return false;
  }
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  bool found = false;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
       more = Process32NextW(snapshot, &entry)) {
    found = isLiveName(entry.szExeFile);
  }
  CloseHandle(snapshot);
  return found;
}

void tick() {
  ++gSeconds;
  if (gSeconds % 2 == 0) {
    gLiveRunning = liveRunning();
  }
  const unsigned left = 600 - gSeconds % 600;
  std::swprintf(gIcon.szTip, std::size(gIcon.szTip), L"%ls · next save in %02u:%02u",
                gLiveRunning ? L"Live running" : L"Waiting for Live", left / 60, left % 60);
  gIcon.uFlags = NIF_TIP | NIF_SHOWTIP;
  Shell_NotifyIconW(NIM_MODIFY, &gIcon);
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_TIMER && wParam == kTickTimer) {
    tick();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &windowProcedure;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"IdleFloor";
  RegisterClassExW(&windowClass);
  const HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, windowClass.lpszClassName, L"Idle floor",
                                      WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);

  gIcon.cbSize = sizeof gIcon;
  gIcon.hWnd = window;
  gIcon.uID = 1;
  gIcon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP;
  gIcon.uCallbackMessage = kTrayMessage;
  gIcon.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  std::wcscpy(gIcon.szTip, L"Idle floor");
  Shell_NotifyIconW(NIM_ADD, &gIcon);
  gIcon.uVersion = NOTIFYICON_VERSION_4;
  Shell_NotifyIconW(NIM_SETVERSION, &gIcon);
  SetTimer(window, kTickTimer, 1000, nullptr);

  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  Shell_NotifyIconW(NIM_DELETE, &gIcon);
  return 0;
}
