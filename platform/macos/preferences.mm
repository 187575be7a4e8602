// The application's own defaults domain over NSUserDefaults.

#import <Foundation/Foundation.h>

#include <memory>
#include <string>

#include "appkit_objects.h"
#include "macos_platform.h"

namespace qm::macos {
namespace {

class MacPreferences final : public Preferences {
 public:
  explicit MacPreferences(NSUserDefaults* defaults) : defaults_(defaults) {}

  std::int64_t integerForKey(const std::string& key) override {
    return [defaults() integerForKey:toNSString(key)];
  }
  bool boolForKey(const std::string& key) override {
    return [defaults() boolForKey:toNSString(key)];
  }
  bool hasObjectForKey(const std::string& key) override {
    return [defaults() objectForKey:toNSString(key)] != nil;
  }
  void setInteger(std::int64_t value, const std::string& key) override {
    [defaults() setInteger:static_cast<NSInteger>(value) forKey:toNSString(key)];
  }
  void setBool(bool value, const std::string& key) override {
    [defaults() setBool:value forKey:toNSString(key)];
  }
  void removeObjectForKey(const std::string& key) override {
    [defaults() removeObjectForKey:toNSString(key)];
  }

 private:
  NSUserDefaults* defaults() const { return defaults_; }

  NSUserDefaults* defaults_;
};

}  // namespace

std::unique_ptr<Preferences> makePreferences() {
  return std::make_unique<MacPreferences>([NSUserDefaults standardUserDefaults]);
}

std::unique_ptr<Preferences> makePreferences(const std::string& suiteName) {
  return std::make_unique<MacPreferences>(
      [[NSUserDefaults alloc] initWithSuiteName:toNSString(suiteName)]);
}

}  // namespace qm::macos
