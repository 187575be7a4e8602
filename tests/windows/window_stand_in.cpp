// A stand-in program for the end-to-end test, built twice: as
// "Ableton Live 12 Suite.exe", which saves (counts) on Ctrl+S like Live, and
// as "Focus Keeper.exe", the window the user works in. Each writes what it
// received to the status file named on its command line, after every event:
//
//   saves <Ctrl+S accelerators>
//   keys <key-down messages>
//   activations <times its window became active>
//   repeats <auto-repeated key-downs, which do not save>
//   typed <the characters typed into it (WM_CHAR), in ASCII>
//
// Options after the file: --minimized starts the window minimised,
// --hidden never shows it.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

constexpr WORD kSaveCommand = 1;

struct Counts {
  int saves = 0;
  int keys = 0;
  int activations = 0;
  int repeats = 0;
};

Counts gCounts;
std::string gTyped;
std::wstring gStatusPath;

void writeStatus() {
  // Written beside and renamed over, so a reader never sees half a file.
  const std::wstring temporary = gStatusPath + L".tmp";
  FILE* file = _wfopen(temporary.c_str(), L"wb");
  if (file == nullptr) {
    return;
  }
  std::fprintf(file, "saves %d\nkeys %d\nactivations %d\nrepeats %d\ntyped %s\n", gCounts.saves,
               gCounts.keys, gCounts.activations, gCounts.repeats, gTyped.c_str());
  std::fclose(file);
  MoveFileExW(temporary.c_str(), gStatusPath.c_str(), MOVEFILE_REPLACE_EXISTING);
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == kSaveCommand) {
        ++gCounts.saves;
        writeStatus();
      }
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
  for (int i = 2; i < count; ++i) {
    if (std::wstring(arguments[i]) == L"--minimized") {
      show = SW_SHOWMINIMIZED;
    } else if (std::wstring(arguments[i]) == L"--hidden") {
      show = SW_HIDE;
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
  writeStatus();
  ShowWindow(window, show);

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
