// System notifications through the UserNotifications framework. The only
// file of platform/macos that uses blocks, which that framework's calls
// take: the type-check parses it with blocks on (typecheck_macos.sh).
#import <Foundation/Foundation.h>
#import <UserNotifications/UserNotifications.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "appkit_objects.h"
#include "macos_platform.h"

// Quillmark lives in the menu bar and is seldom the active application; when
// it is (its menu is open), the notification still shows as a banner.
@interface QMNotificationPresenter : NSObject <UNUserNotificationCenterDelegate>
@end

@implementation QMNotificationPresenter
- (void)userNotificationCenter:(UNUserNotificationCenter*)center
       willPresentNotification:(UNNotification*)notification
         withCompletionHandler:
             (void (^)(UNNotificationPresentationOptions options))completionHandler {
  (void)center;
  (void)notification;
  completionHandler(UNNotificationPresentationOptionBanner | UNNotificationPresentationOptionList);
}
@end

namespace qm::macos {
namespace {

// One identifier: a newer warning takes the place of an older one in
// Notification Center instead of piling up beside it.
NSString* const kIdentifier = @"local.vellum.Quillmark.work-at-risk";

struct Permission {
  enum class State { unasked, asking, granted, refused };
  State state = State::unasked;
  // The latest notification asked for while the user decides.
  std::optional<std::pair<std::string, std::string>> waiting;
};

void show(const std::string& title, const std::string& body) {
  UNMutableNotificationContent* content = [[UNMutableNotificationContent alloc] init];
  [content setTitle:toNSString(title)];
  [content setBody:toNSString(body)];
  UNNotificationRequest* request = [UNNotificationRequest requestWithIdentifier:kIdentifier
                                                                        content:content
                                                                        trigger:nil];
  // Turned off in System Settings since it was allowed: the request fails,
  // and nothing more is to be done about it.
  [[UNUserNotificationCenter currentNotificationCenter] addNotificationRequest:request
                                                         withCompletionHandler:nil];
}

class UserNotifications final : public Notifications {
 public:
  void postNotification(const std::string& title, const std::string& body) override {
    // The notification center serves bundled applications alone, and raises
    // an exception in any other process (a test program, say).
    if ([[NSBundle mainBundle] bundleIdentifier] == nil) {
      return;
    }
    switch (permission_->state) {
      case Permission::State::refused:
        return;
      case Permission::State::granted:
        show(title, body);
        return;
      case Permission::State::asking:
        permission_->waiting = std::make_pair(title, body);
        return;
      case Permission::State::unasked:
        permission_->waiting = std::make_pair(title, body);
        ask();
        return;
    }
  }

 private:
  // Asked once, when the first notification is needed. The system remembers
  // the user's answer and shows its question only once; a refusal is kept
  // here too, so that Quillmark asks no more.
  void ask() {
    permission_->state = Permission::State::asking;
    UNUserNotificationCenter* center = [UNUserNotificationCenter currentNotificationCenter];
    [center setDelegate:presenter_];
    // Shared with the answer, which may come after this object is gone.
    std::shared_ptr<Permission> permission = permission_;
    [center requestAuthorizationWithOptions:UNAuthorizationOptionAlert
                          completionHandler:^(BOOL granted, NSError* error) {
                            (void)error;
                            // The answer comes on a queue of the framework's;
                            // the state is the main thread's.
                            [[NSOperationQueue mainQueue] addOperationWithBlock:^{
                              permission->state =
                                  granted ? Permission::State::granted : Permission::State::refused;
                              if (granted && permission->waiting) {
                                show(permission->waiting->first, permission->waiting->second);
                              }
                              permission->waiting.reset();
                            }];
                          }];
  }

  std::shared_ptr<Permission> permission_ = std::make_shared<Permission>();
  // The center holds its delegate weakly.
  QMNotificationPresenter* presenter_ = [[QMNotificationPresenter alloc] init];
};

}  // namespace

std::unique_ptr<Notifications> makeNotifications() {
  return std::make_unique<UserNotifications>();
}

}  // namespace qm::macos
