// Reading another application's Accessibility elements within one look (see
// ax_answer.h): each read keeps its AXError, and none is sent once the
// process has let one time out. Shared by the window and the menu ports.
#pragma once

#import <AppKit/AppKit.h>
#import <ApplicationServices/ApplicationServices.h>

#include <signal.h>

#include <cerrno>

#include "ax_answer.h"

namespace qm::macos {

static_assert(kAXErrorSuccess == ax_error::success);
static_assert(kAXErrorFailure == ax_error::failure);
static_assert(kAXErrorIllegalArgument == ax_error::illegalArgument);
static_assert(kAXErrorInvalidUIElement == ax_error::invalidUIElement);
static_assert(kAXErrorCannotComplete == ax_error::cannotComplete);
static_assert(kAXErrorAttributeUnsupported == ax_error::attributeUnsupported);
static_assert(kAXErrorActionUnsupported == ax_error::actionUnsupported);
static_assert(kAXErrorNotImplemented == ax_error::notImplemented);
static_assert(kAXErrorAPIDisabled == ax_error::apiDisabled);
static_assert(kAXErrorNoValue == ax_error::noValue);

// Every message to another application waits at most this long: a busy Live
// answers none, and Quillmark's only thread must not wait on it.
inline constexpr float kMessagingTimeoutSeconds = 0.25f;

// Set on the system-wide element, the timeout holds for every element of
// this process that has none of its own. Once is enough.
inline void useShortMessagingTimeout() {
  static const bool set = [] {
    id systemWide = CFBridgingRelease(AXUIElementCreateSystemWide());
    return systemWide != nil &&
           AXUIElementSetMessagingTimeout((__bridge AXUIElementRef)systemWide,
                                          kMessagingTimeoutSeconds) == kAXErrorSuccess;
  }();
  (void)set;
}

// The elements are CoreFoundation objects bridged to id: ARC owns every one
// that a Copy or Create call hands over.
inline bool isElement(id value) {
  return value != nil && CFGetTypeID((__bridge CFTypeRef)value) == AXUIElementGetTypeID();
}

// Messages to a process that has quit fail as those to a hung one do; it
// shows nothing, which is none, not a wait.
inline bool processRuns(int pid) {
  return pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

inline id applicationElement(int pid) {
  return CFBridgingRelease(AXUIElementCreateApplication(static_cast<pid_t>(pid)));
}

// The attribute's value; nil for none and for no answer, which the look
// remembers.
inline id copyAttribute(AXLook& look, id element, CFStringRef attribute) {
  if (!isElement(element)) {
    return nil;
  }
  CFTypeRef value = nullptr;
  const AXAnswer answer = look.ask([&] {
    return AXUIElementCopyAttributeValue((__bridge AXUIElementRef)element, attribute, &value);
  });
  id owned = CFBridgingRelease(value);
  return answer == AXAnswer::reading ? owned : nil;
}

inline id copyElement(AXLook& look, id element, CFStringRef attribute) {
  id value = copyAttribute(look, element, attribute);
  return isElement(value) ? value : nil;
}

inline NSArray* copyElements(AXLook& look, id element, CFStringRef attribute) {
  id value = copyAttribute(look, element, attribute);
  return [value isKindOfClass:[NSArray class]] ? value : @[];
}

// Several attributes in one message, in the order asked; NSNull for each that
// has no value. Nil when the element gave no reply, or let one of them time
// out.
inline NSArray* copyAttributes(AXLook& look, id element, NSArray* attributes) {
  if (!isElement(element)) {
    return nil;
  }
  CFArrayRef values = nullptr;
  const AXAnswer answer = look.ask([&] {
    // No options: an attribute's error comes back in its place as an
    // AXValue, and the others are read all the same.
    return AXUIElementCopyMultipleAttributeValues((__bridge AXUIElementRef)element,
                                                  (__bridge CFArrayRef)attributes, 0, &values);
  });
  id owned = CFBridgingRelease(values);
  if (answer != AXAnswer::reading || ![owned isKindOfClass:[NSArray class]] ||
      [owned count] != [attributes count]) {
    return nil;
  }
  NSMutableArray* result = [NSMutableArray arrayWithCapacity:[owned count]];
  for (id value in (NSArray*)owned) {
    if (CFGetTypeID((__bridge CFTypeRef)value) == AXValueGetTypeID() &&
        AXValueGetType((__bridge AXValueRef)value) == kAXValueTypeAXError) {
      AXError error = kAXErrorSuccess;
      AXValueGetValue((__bridge AXValueRef)value, kAXValueTypeAXError, &error);
      look.note(error);
      [result addObject:[NSNull null]];
    } else {
      [result addObject:value];
    }
  }
  return look.unanswered() ? nil : result;
}

}  // namespace qm::macos
