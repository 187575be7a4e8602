// Another application's windows, read with Win32. Not read yet: no title, no
// dialog, no announcements.
#include "windows_platform.h"

namespace qm::windows {
namespace {

class WinApplicationWindows final : public ApplicationWindows {
 public:
  std::optional<std::string> mainWindowTitle(int pid) override {
    (void)pid;
    return std::nullopt;
  }
  bool showsModalDialog(int pid) override {
    (void)pid;
    return false;
  }
  ObservationRef observeTitleChanges(
      int pid, std::function<void(const std::optional<std::string>&)> changed) override {
    (void)pid;
    (void)changed;
    return nullptr;
  }
};

class TrayNotifications final : public Notifications {
 public:
  void postNotification(const std::string& title, const std::string& body) override {
    (void)title;
    (void)body;
  }
};

}  // namespace

std::unique_ptr<Notifications> makeNotifications(StatusBar& statusBar) {
  (void)statusBar;
  return std::make_unique<TrayNotifications>();
}

std::unique_ptr<ApplicationWindows> makeApplicationWindows() {
  return std::make_unique<WinApplicationWindows>();
}

}  // namespace qm::windows
