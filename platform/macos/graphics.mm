// The icon canvas over an NSImage with the drawing focus locked on it.

#import <AppKit/AppKit.h>

#include <memory>
#include <string>

#include "appkit_objects.h"
#include "macos_platform.h"

namespace qm::macos {
namespace {

NSColor* nsColor(Color color) {
  return [NSColor colorWithSRGBRed:color.red / 255.0
                             green:color.green / 255.0
                              blue:color.blue / 255.0
                             alpha:color.alpha / 255.0];
}

NSLineCapStyle nsLineCapStyle(LineCapStyle style) {
  switch (style) {
    case LineCapStyle::butt:
      return NSLineCapStyleButt;
    case LineCapStyle::round:
      return NSLineCapStyleRound;
    case LineCapStyle::square:
      return NSLineCapStyleSquare;
  }
  return NSLineCapStyleButt;
}

NSLineJoinStyle nsLineJoinStyle(LineJoinStyle style) {
  switch (style) {
    case LineJoinStyle::miter:
      return NSLineJoinStyleMiter;
    case LineJoinStyle::round:
      return NSLineJoinStyleRound;
    case LineJoinStyle::bevel:
      return NSLineJoinStyleBevel;
  }
  return NSLineJoinStyleMiter;
}

NSTextAlignment nsTextAlignment(TextAlignment alignment) {
  switch (alignment) {
    case TextAlignment::left:
      return NSTextAlignmentLeft;
    case TextAlignment::center:
      return NSTextAlignmentCenter;
    case TextAlignment::right:
      return NSTextAlignmentRight;
  }
  return NSTextAlignmentLeft;
}

NSRect nsRect(const Rect& rect) {
  return NSMakeRect(rect.x, rect.y, rect.width, rect.height);
}

class MacImageCanvas final : public ImageCanvas {
 public:
  explicit MacImageCanvas(Size size)
      : image_([[NSImage alloc] initWithSize:NSMakeSize(size.width, size.height)]) {
    [image_ lockFocus];
  }
  ~MacImageCanvas() override {
    // A canvas dropped before it was finished must not keep the focus.
    if (focusLocked_) {
      [image_ unlockFocus];
    }
  }
  MacImageCanvas(const MacImageCanvas&) = delete;
  MacImageCanvas& operator=(const MacImageCanvas&) = delete;

  void setFillColor(Color color) override { [nsColor(color) setFill]; }

  void fillRect(const Rect& rect) override { NSRectFill(nsRect(rect)); }

  void fillRoundedRect(const Rect& rect, double radius) override {
    [[NSBezierPath bezierPathWithRoundedRect:nsRect(rect) xRadius:radius yRadius:radius] fill];
  }

  void setStrokeColor(Color color) override { [nsColor(color) setStroke]; }

  void strokePath(const BezierPath& path) override {
    NSBezierPath* bezierPath = [NSBezierPath bezierPath];
    [bezierPath setLineWidth:path.lineWidth];
    [bezierPath setLineCapStyle:nsLineCapStyle(path.lineCapStyle)];
    [bezierPath setLineJoinStyle:nsLineJoinStyle(path.lineJoinStyle)];
    bool first = true;
    for (const Point& point : path.points) {
      if (first) {
        [bezierPath moveToPoint:NSMakePoint(point.x, point.y)];
        first = false;
      } else {
        [bezierPath lineToPoint:NSMakePoint(point.x, point.y)];
      }
    }
    [bezierPath stroke];
  }

  void drawText(const std::string& text, const Rect& rect,
                const TextAttributes& attributes) override {
    NSMutableParagraphStyle* paragraphStyle = [[NSMutableParagraphStyle alloc] init];
    [paragraphStyle setAlignment:nsTextAlignment(attributes.alignment)];
    NSDictionary* textAttributes = @{
      NSFontAttributeName : [NSFont boldSystemFontOfSize:attributes.boldSystemFontSize],
      NSForegroundColorAttributeName : nsColor(attributes.foregroundColor),
      NSParagraphStyleAttributeName : paragraphStyle,
    };
    [toNSString(text) drawInRect:nsRect(rect) withAttributes:textAttributes];
  }

  ImageRef finishImage(bool isTemplate) override {
    if (focusLocked_) {
      [image_ unlockFocus];
      focusLocked_ = false;
    }
    [image_ setTemplate:isTemplate];
    return std::make_shared<MacImage>(image_);
  }

 private:
  NSImage* image_;
  bool focusLocked_ = true;
};

class MacGraphics final : public Graphics {
 public:
  std::unique_ptr<ImageCanvas> beginImage(Size size) override {
    return std::make_unique<MacImageCanvas>(size);
  }
};

}  // namespace

std::unique_ptr<Graphics> makeGraphics() {
  return std::make_unique<MacGraphics>();
}

}  // namespace qm::macos
