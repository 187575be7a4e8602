// Another application's windows through Accessibility. Not read yet: no
// title, no dialog, no announcements.
#import <AppKit/AppKit.h>

#include "macos_platform.h"

namespace qm::macos {
namespace {

class AXApplicationWindows final : public ApplicationWindows {
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

}  // namespace

std::unique_ptr<ApplicationWindows> makeApplicationWindows() {
  return std::make_unique<AXApplicationWindows>();
}

}  // namespace qm::macos
