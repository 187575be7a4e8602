// System notifications through the UserNotifications framework. The only
// file of platform/macos that uses blocks, which that framework's calls
// take: the type-check parses it with blocks on (typecheck_macos.sh).
#import <Foundation/Foundation.h>
#import <UserNotifications/UserNotifications.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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

using Log = std::function<void(std::string_view)>;

// Shared with the framework's answers, which may come after the port is
// gone; touched on the main thread alone.
struct Delivery {
  Log log;
  // The settings are being read, or the user asked: the latest warning
  // waits for the answer.
  bool deciding = false;
  std::optional<std::pair<std::string, std::string>> waiting;
  // The last line logged: a refusal or an error goes to the log once, not
  // at every warning, and again once something was shown in between.
  std::string logged;

  void logOnce(const std::string& line) {
    if (line != logged) {
      logged = line;
      if (log) {
        log(line);
      }
    }
  }
};

std::string describe(NSError* error) {
  return error != nil ? toStdString([error localizedDescription]) : std::string("no reason given");
}

// The framework answers on a queue of its own.
void onMainThread(void (^work)(void)) {
  [[NSOperationQueue mainQueue] addOperationWithBlock:work];
}

void show(const std::shared_ptr<Delivery>& delivery, const std::string& title,
          const std::string& body) {
  UNMutableNotificationContent* content = [[UNMutableNotificationContent alloc] init];
  [content setTitle:toNSString(title)];
  [content setBody:toNSString(body)];
  UNNotificationRequest* request = [UNNotificationRequest requestWithIdentifier:kIdentifier
                                                                        content:content
                                                                        trigger:nil];
  std::shared_ptr<Delivery> shared = delivery;
  [[UNUserNotificationCenter currentNotificationCenter]
      addNotificationRequest:request
       withCompletionHandler:^(NSError* error) {
         const std::string reason = describe(error);
         const bool shown = error == nil;
         onMainThread(^{
           if (shown) {
             shared->logged.clear();
           } else {
             shared->logOnce("Notification not shown: " + reason);
           }
         });
       }];
}

void showWaiting(const std::shared_ptr<Delivery>& delivery) {
  if (delivery->waiting) {
    show(delivery, delivery->waiting->first, delivery->waiting->second);
  }
  delivery->waiting.reset();
  delivery->deciding = false;
}

// The system shows its question once and remembers the answer.
void ask(const std::shared_ptr<Delivery>& delivery) {
  std::shared_ptr<Delivery> shared = delivery;
  [[UNUserNotificationCenter currentNotificationCenter]
      requestAuthorizationWithOptions:UNAuthorizationOptionAlert
                    completionHandler:^(BOOL granted, NSError* error) {
                      const std::string reason = describe(error);
                      onMainThread(^{
                        if (granted) {
                          showWaiting(shared);
                          return;
                        }
                        shared->logOnce("Notifications not allowed: " + reason);
                        shared->waiting.reset();
                        shared->deciding = false;
                      });
                    }];
}

// What the settings say now, asked afresh at each warning: the user may
// have turned notifications on or off in System Settings since the last.
void decide(const std::shared_ptr<Delivery>& delivery, UNAuthorizationStatus status) {
  switch (status) {
    case UNAuthorizationStatusNotDetermined:
      ask(delivery);
      return;
    case UNAuthorizationStatusDenied:
      delivery->logOnce(
          "Notifications are turned off for Quillmark in System Settings > Notifications; the "
          "warning was not shown.");
      delivery->waiting.reset();
      delivery->deciding = false;
      return;
    default:
      showWaiting(delivery);
      return;
  }
}

class UserNotifications final : public Notifications {
 public:
  explicit UserNotifications(Log log) { delivery_->log = std::move(log); }

  void postNotification(const std::string& title, const std::string& body) override {
    // The notification center serves bundled applications alone, and raises
    // an exception in any other process (a test program, say).
    if ([[NSBundle mainBundle] bundleIdentifier] == nil) {
      return;
    }
    UNUserNotificationCenter* center = [UNUserNotificationCenter currentNotificationCenter];
    [center setDelegate:presenter_];
    delivery_->waiting = std::make_pair(title, body);
    if (delivery_->deciding) {
      return;
    }
    delivery_->deciding = true;
    std::shared_ptr<Delivery> delivery = delivery_;
    [center getNotificationSettingsWithCompletionHandler:^(UNNotificationSettings* settings) {
      const UNAuthorizationStatus status = [settings authorizationStatus];
      onMainThread(^{
        decide(delivery, status);
      });
    }];
  }

 private:
  std::shared_ptr<Delivery> delivery_ = std::make_shared<Delivery>();
  // The center holds its delegate weakly.
  QMNotificationPresenter* presenter_ = [[QMNotificationPresenter alloc] init];
};

}  // namespace

std::unique_ptr<Notifications> makeNotifications(std::function<void(std::string_view)> log) {
  return std::make_unique<UserNotifications>(std::move(log));
}

}  // namespace qm::macos
