// A stand-in program for the end-to-end test, built twice: as
// "Ableton Live 12 Suite.exe", which saves (counts) on Ctrl+S like Live, and
// as "Focus Keeper.exe", the window the user works in. Each writes what it
// received to the status file named on its command line, after every event:
//
//   saves <Ctrl+S accelerators>
//   keys <key-down messages>
//   activations <times its window became active>
//   repeats <auto-repeated key-downs, which do not save>
//   stored <saves of the set it made: its title lost the mark>
//   dialogs <Save dialogs it opened>
//   busy <times it stopped taking messages>
//   typed <the characters typed into it (WM_CHAR), in ASCII>
//   saved-at <for each Ctrl+S, GetTickCount64 in milliseconds as it came>
//
// The tests judge when the saves came by these stamps, not by when they
// happened to read the file.
//
// Options after the file: --minimized starts the window minimised,
// --hidden never shows it. With --set NAME it shows a set in its title as
// Live does ("NAME* [NAME] - Ableton Live 12 Suite", the mark while it has
// unsaved changes), saved at first; with --untitled a set never saved
// ("Untitled* - Ableton Live 12 Suite"), for which Ctrl+S opens a modal
// Save dialog owned by its window; --no-mark leaves the mark out of its
// titles, and --deaf makes it take Ctrl+S and save nothing; --plug-in opens
// a plug-in's window beside it, a modeless "#32770" dialog that its window
// owns. Without a set its title is its file name. A posted kEditMessage
// gives the set unsaved changes; a posted kBusyMessage keeps it from taking
// messages for wParam milliseconds, as a Live that hangs. With a set it has a
// File menu as Live's: "Save Live Set" with Ctrl+S, the accelerator's
// command, and "Save Live Set As..." with Ctrl+Shift+S, which does nothing
// here.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

constexpr WORD kSaveCommand = 1;
constexpr WORD kSaveAsCommand = 2;
constexpr UINT kEditMessage = WM_APP + 1;
constexpr UINT kBusyMessage = WM_APP + 2;

struct Counts {
  int saves = 0;
  int keys = 0;
  int activations = 0;
  int repeats = 0;
  int stored = 0;
  int dialogs = 0;
  int busy = 0;
};

Counts gCounts;
std::string gTyped;
std::string gSavedAt;
std::wstring gStatusPath;

// The set it shows; an empty name shows none.
struct Set {
  std::wstring name;
  bool untitled = false;
  bool unsaved = false;
  bool markShown = true;
  bool deaf = false;
};
Set gSet;

void showTitle(HWND window) {
  if (gSet.name.empty()) {
    return;
  }
  const std::wstring mark = gSet.unsaved && gSet.markShown ? L"*" : L"";
  const std::wstring project = gSet.untitled ? L"" : L" [" + gSet.name + L"]";
  SetWindowTextW(window, (gSet.name + mark + project + L" - Ableton Live 12 Suite").c_str());
  // Windows' DefWindowProc announces the change itself (once more does no
  // harm); Wine 8's does not.
  NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, window, OBJID_WINDOW, CHILDID_SELF);
}

void writeStatus() {
  // Written beside and renamed over, so a reader never sees half a file.
  const std::wstring temporary = gStatusPath + L".tmp";
  FILE* file = _wfopen(temporary.c_str(), L"wb");
  if (file == nullptr) {
    return;
  }
  std::fprintf(file,
               "saves %d\nkeys %d\nactivations %d\nrepeats %d\nstored %d\ndialogs %d\nbusy %d\n"
               "typed %s\nsaved-at%s\n",
               gCounts.saves, gCounts.keys, gCounts.activations, gCounts.repeats, gCounts.stored,
               gCounts.dialogs, gCounts.busy, gTyped.c_str(), gSavedAt.c_str());
  std::fclose(file);
  // A test reading the file at this instant keeps it from being replaced; a
  // write lost then would leave the counts behind until the next event.
  for (int attempt = 0; attempt < 200 && !MoveFileExW(temporary.c_str(), gStatusPath.c_str(),
                                                      MOVEFILE_REPLACE_EXISTING);
       ++attempt) {
    Sleep(1);
  }
}

void save(HWND window) {
  if (gSet.name.empty() || gSet.deaf) {
    return;
  }
  if (gSet.untitled) {
    // Live asks for a name and a place instead of saving; the window waits.
    ++gCounts.dialogs;
    writeStatus();
    MessageBoxW(window, L"Save Live Set As", L"Save", MB_OKCANCEL);
    return;
  }
  if (gSet.unsaved) {
    gSet.unsaved = false;
    ++gCounts.stored;
    writeStatus();
    showTitle(window);
  }
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == kSaveCommand) {
        ++gCounts.saves;
        gSavedAt.append(" ").append(std::to_string(GetTickCount64()));
        writeStatus();
        save(window);
      }
      return 0;
    case kEditMessage:
      gSet.unsaved = true;
      showTitle(window);
      return 0;
    case kBusyMessage:
      ++gCounts.busy;
      writeStatus();
      Sleep(static_cast<DWORD>(wParam));
      return 0;
    case WM_KEYDOWN:
      ++gCounts.keys;
      writeStatus();
      return 0;
    case WM_CHAR:
      gTyped += static_cast<char>(wParam);
      writeStatus();
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE) {
        ++gCounts.activations;
        writeStatus();
      }
      break;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr || count < 2) {
    return 2;
  }
  gStatusPath = arguments[1];
  int show = SW_SHOWNORMAL;
  bool plugIn = false;
  for (int i = 2; i < count; ++i) {
    if (std::wstring(arguments[i]) == L"--minimized") {
      show = SW_SHOWMINIMIZED;
    } else if (std::wstring(arguments[i]) == L"--hidden") {
      show = SW_HIDE;
    } else if (std::wstring(arguments[i]) == L"--set" && i + 1 < count) {
      gSet.name = arguments[++i];
    } else if (std::wstring(arguments[i]) == L"--untitled") {
      gSet.name = L"Untitled";
      gSet.untitled = true;
      gSet.unsaved = true;
    } else if (std::wstring(arguments[i]) == L"--no-mark") {
      gSet.markShown = false;
    } else if (std::wstring(arguments[i]) == L"--deaf") {
      gSet.deaf = true;
    } else if (std::wstring(arguments[i]) == L"--plug-in") {
      plugIn = true;
    }
  }
  wchar_t title[MAX_PATH] = L"";
  GetModuleFileNameW(nullptr, title, MAX_PATH);
  const wchar_t* name = wcsrchr(title, L'\\');
  name = name != nullptr ? name + 1 : title;
  LocalFree(arguments);

  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &windowProcedure;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = L"QuillmarkStandIn";
  RegisterClassExW(&windowClass);
  const HWND window = CreateWindowExW(0, windowClass.lpszClassName, name, WS_OVERLAPPEDWINDOW, 40,
                                      40, 480, 320, nullptr, nullptr, instance, nullptr);
  if (!gSet.name.empty()) {
    const HMENU file = CreatePopupMenu();
    AppendMenuW(file, MF_STRING, kSaveCommand, L"&Save Live Set\tCtrl+S");
    AppendMenuW(file, MF_STRING, kSaveAsCommand, L"Save Live Set &As...\tCtrl+Shift+S");
    const HMENU bar = CreateMenu();
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&File");
    SetMenu(window, bar);
  }
  showTitle(window);
  writeStatus();
  ShowWindow(window, show);
  if (plugIn) {
    // Where it opens, a plug-in's editor does not keep Live from saving.
    struct alignas(DWORD) {
      DLGTEMPLATE header{WS_POPUP | WS_CAPTION | WS_VISIBLE, 0, 0, 300, 40, 160, 90};
      WORD menu = 0, windowClass = 0, title = 0;
    } editor;
    CreateDialogIndirectParamW(
        instance, &editor.header, window,
        [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
  }

  ACCEL save{FCONTROL | FVIRTKEY, 'S', kSaveCommand};
  const HACCEL accelerators = CreateAcceleratorTableW(&save, 1);
  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    // A key held down repeats; one stroke of the shortcut saves once.
    constexpr LPARAM kPreviouslyDown = LPARAM{1} << 30;
    if (message.message == WM_KEYDOWN && (message.lParam & kPreviouslyDown) != 0) {
      ++gCounts.repeats;
      writeStatus();
      continue;
    }
    if (!TranslateAcceleratorW(window, accelerators, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  DestroyAcceleratorTable(accelerators);
  return 0;
}
