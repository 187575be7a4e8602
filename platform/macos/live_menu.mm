// Live's own Save command, pressed through Accessibility in the background.
#import <AppKit/AppKit.h>
#import <ApplicationServices/ApplicationServices.h>

#include <memory>

#include "macos_platform.h"

namespace qm::macos {
namespace {

// Live's menus are not read yet: the keys save.
class AXApplicationMenus final : public ApplicationMenus {
 public:
  Reply<Press> pressSaveCommand(int pid) override {
    (void)pid;
    return Press::missing;
  }
};

}  // namespace

std::unique_ptr<ApplicationMenus> makeApplicationMenus() {
  return std::make_unique<AXApplicationMenus>();
}

}  // namespace qm::macos
