// Pieces shared by the AppKit implementations of the ports: text conversion
// and the image handle that both the icon canvas and the status item need.
#pragma once

#import <AppKit/AppKit.h>

#include <string>

#include "platform.h"

namespace qm::macos {

// The ports carry UTF-8; bytes that are not UTF-8 give an empty string.
inline NSString* toNSString(const std::string& text) {
  NSString* string = [[NSString alloc] initWithBytes:text.data()
                                              length:text.size()
                                            encoding:NSUTF8StringEncoding];
  return string != nil ? string : @"";
}

inline std::string toStdString(NSString* string) {
  const char* utf8 = [string UTF8String];
  return utf8 != nullptr ? std::string(utf8) : std::string();
}

class MacImage final : public Image {
 public:
  explicit MacImage(NSImage* image) : image_(image) {}

  Size size() const override {
    const NSSize size = [image_ size];
    return Size{size.width, size.height};
  }
  bool isTemplate() const override { return [image_ isTemplate]; }

  NSImage* nsImage() const { return image_; }

 private:
  NSImage* image_;
};

}  // namespace qm::macos
