// The Accessibility trust check over AXIsProcessTrustedWithOptions.

#import <ApplicationServices/ApplicationServices.h>

#include <memory>

#include "macos_platform.h"

namespace qm::macos {
namespace {

class MacAccessibility final : public Accessibility {
 public:
  bool isProcessTrustedWithOptions(bool prompt) override {
    // Made and released around every query, so no answer is ever cached.
    const void* keys[] = {kAXTrustedCheckOptionPrompt};
    const void* values[] = {prompt ? kCFBooleanTrue : kCFBooleanFalse};
    CFDictionaryRef options =
        CFDictionaryCreate(kCFAllocatorDefault, keys, values, 1,
                           &kCFCopyStringDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    const Boolean trusted = AXIsProcessTrustedWithOptions(options);
    if (options != nullptr) {
      CFRelease(options);
    }
    return trusted != 0;
  }
};

}  // namespace

std::unique_ptr<Accessibility> makeAccessibility() {
  return std::make_unique<MacAccessibility>();
}

}  // namespace qm::macos
