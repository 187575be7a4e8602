// System notifications. None shown yet.
#import <Foundation/Foundation.h>

#include "macos_platform.h"

namespace qm::macos {
namespace {

class UserNotifications final : public Notifications {
 public:
  void postNotification(const std::string& title, const std::string& body) override {
    (void)title;
    (void)body;
  }
};

}  // namespace

std::unique_ptr<Notifications> makeNotifications() {
  return std::make_unique<UserNotifications>();
}

}  // namespace qm::macos
