// The modal alert over NSAlert.

#import <AppKit/AppKit.h>

#include <memory>
#include <string>

#include "appkit_objects.h"
#include "macos_platform.h"

namespace qm::macos {
namespace {

static_assert(NSAlertFirstButtonReturn == kAlertFirstButtonReturn);

class MacAlerts final : public Alerts {
 public:
  long runModal(const AlertContent& content) override {
    NSAlert* alert = [[NSAlert alloc] init];
    [alert setMessageText:toNSString(content.messageText)];
    [alert setInformativeText:toNSString(content.informativeText)];
    for (const std::string& title : content.buttonTitles) {
      [alert addButtonWithTitle:toNSString(title)];
    }
    return [alert runModal];
  }
};

}  // namespace

std::unique_ptr<Alerts> makeAlerts() {
  return std::make_unique<MacAlerts>();
}

}  // namespace qm::macos
