// The modal alert over MessageBoxW. Its loop dispatches the run loop's
// timer messages, so repeating timers keep firing while it is open; delayed
// calls wait until it has closed.
#include <memory>
#include <string>

#include "windows_platform.h"

namespace qm::windows {
namespace {

class Win32Alerts final : public Alerts {
 public:
  explicit Win32Alerts(WinRunLoop& runLoop) : runLoop_(runLoop) {}

  // A message box has fixed buttons: the first button is OK (or Yes), the
  // second Cancel (or No), the third Cancel.
  long runModal(const AlertContent& alert) override {
    std::string text = alert.messageText;
    if (!alert.informativeText.empty()) {
      text += "\n\n" + alert.informativeText;
    }
    const std::size_t buttons = alert.buttonTitles.size();
    const UINT style = buttons >= 3 ? MB_YESNOCANCEL : buttons == 2 ? MB_OKCANCEL : MB_OK;
    runLoop_.beginModal();
    const int pressed = MessageBoxW(nullptr, widen(text).c_str(), L"Quillmark",
                                    style | MB_ICONINFORMATION | MB_SETFOREGROUND | MB_TOPMOST);
    runLoop_.endModal();
    switch (pressed) {
      case IDNO:
        return kAlertFirstButtonReturn + 1;
      case IDCANCEL:
        return kAlertFirstButtonReturn + (buttons >= 3 ? 2 : buttons == 2 ? 1 : 0);
      default:
        return kAlertFirstButtonReturn;
    }
  }

 private:
  WinRunLoop& runLoop_;
};

}  // namespace

std::unique_ptr<Alerts> makeAlerts(WinRunLoop& runLoop) {
  return std::make_unique<Win32Alerts>(runLoop);
}

}  // namespace qm::windows
