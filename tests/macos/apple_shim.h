// Declarations that Apple's macOS SDK has and GNUstep lacks, written as the
// SDK declares them (nullability and CF_RETURNS_RETAINED annotations
// dropped). Only the Linux type-check of platform/macos and tests/macos
// forces this header in, so that clang can check every message and call
// against GNUstep's AppKit and Foundation. Nothing in the product includes it.
#pragma once

#import <AppKit/AppKit.h>

#include <stdint.h>
#include <sys/types.h>

// ---------------------------------------------------------------------------
// Availability (Availability.h, AvailabilityMacros.h)
//
// Apple's SDK derives __MAC_OS_X_VERSION_MIN_REQUIRED from the deployment
// target, 15.5 for Quillmark. clang checks macOS availability only when it
// compiles for macOS, so here a declaration introduced after the deployment
// target is marked unavailable instead: any use of it fails the check. On a
// Mac a use guarded by @available would pass; no source needs one, and one
// that does must teach this check its guard first.

#ifndef __MAC_OS_X_VERSION_MIN_REQUIRED
#define __MAC_OS_X_VERSION_MIN_REQUIRED 150500
#endif
#define __MAC_10_9 1090
#define __MAC_10_14 101400
#define __MAC_11_0 110000
#define __MAC_14_0 140000
#define __MAC_15_5 150500
#define __MAC_26_0 260000

#define QM_INTRODUCED_AFTER_DEPLOYMENT(version)             \
  __attribute__((unavailable("introduced in macOS " version \
                             ", after the deployment target; guard it with @available")))

// API_AVAILABLE(macos(...)) for each version this shim uses.
#if __MAC_OS_X_VERSION_MIN_REQUIRED >= __MAC_10_9
#define QM_API_AVAILABLE_MACOS_10_9
#else
#define QM_API_AVAILABLE_MACOS_10_9 QM_INTRODUCED_AFTER_DEPLOYMENT("10.9")
#endif
#if __MAC_OS_X_VERSION_MIN_REQUIRED >= __MAC_10_14
#define QM_API_AVAILABLE_MACOS_10_14
#else
#define QM_API_AVAILABLE_MACOS_10_14 QM_INTRODUCED_AFTER_DEPLOYMENT("10.14")
#endif
#if __MAC_OS_X_VERSION_MIN_REQUIRED >= __MAC_11_0
#define QM_API_AVAILABLE_MACOS_11_0
#else
#define QM_API_AVAILABLE_MACOS_11_0 QM_INTRODUCED_AFTER_DEPLOYMENT("11.0")
#endif
#if __MAC_OS_X_VERSION_MIN_REQUIRED >= __MAC_14_0
#define QM_API_AVAILABLE_MACOS_14_0
#else
#define QM_API_AVAILABLE_MACOS_14_0 QM_INTRODUCED_AFTER_DEPLOYMENT("14.0")
#endif
#if __MAC_OS_X_VERSION_MIN_REQUIRED >= __MAC_26_0
#define QM_API_AVAILABLE_MACOS_26_0
#else
#define QM_API_AVAILABLE_MACOS_26_0 QM_INTRODUCED_AFTER_DEPLOYMENT("26.0")
#endif

// ---------------------------------------------------------------------------
// Foundation (NSObjCRuntime.h)

#ifndef NS_VALID_UNTIL_END_OF_SCOPE
#if __has_attribute(objc_precise_lifetime)
#define NS_VALID_UNTIL_END_OF_SCOPE __attribute__((objc_precise_lifetime))
#else
#define NS_VALID_UNTIL_END_OF_SCOPE
#endif
#endif

// NSFileManager.h
@interface NSFileManager (AppleSDK)
- (NSArray<NSURL*>*)URLsForDirectory:(NSSearchPathDirectory)directory
                           inDomains:(NSSearchPathDomainMask)domainMask;
@end

// NSUserDefaults.h
@interface NSUserDefaults (AppleSDK)
- (instancetype)initWithSuiteName:(NSString*)suitename QM_API_AVAILABLE_MACOS_10_9;
@end

// ---------------------------------------------------------------------------
// AppKit

// NSApplication.h
@interface NSApplication (AppleSDK)
- (BOOL)setActivationPolicy:(NSApplicationActivationPolicy)activationPolicy;
- (void)activate QM_API_AVAILABLE_MACOS_14_0;
@end

// NSRunningApplication.h
@interface NSRunningApplication (AppleSDK)
- (BOOL)activateFromApplication:(NSRunningApplication*)application
                        options:(NSApplicationActivationOptions)options QM_API_AVAILABLE_MACOS_14_0;
@end

// NSStatusItem.h
@interface NSStatusItem (AppleSDK)
@property(readonly, strong) NSStatusBarButton* button;
@end

// NSWindow.h. The sheet's completion handler is a block: only the files
// checked with blocks on see beginSheet:completionHandler:.
@interface NSWindow (AppleSDK)
#if defined(__BLOCKS__)
- (void)beginSheet:(NSWindow*)sheetWindow
    completionHandler:(void (^)(NSModalResponse returnCode))handler QM_API_AVAILABLE_MACOS_10_9;
#endif
- (void)endSheet:(NSWindow*)sheetWindow QM_API_AVAILABLE_MACOS_10_9;
@end

// NSEvent.h. Apple's names of the event types and masks; GNUstep has the
// same values under older names.
static const NSEventType NSEventTypeKeyDown = NSKeyDown;
static const NSEventType NSEventTypeKeyUp = NSKeyUp;
static const NSEventType NSEventTypeFlagsChanged = NSFlagsChanged;
static const NSEventMask NSEventMaskAny = NSAnyEventMask;

// NSMenuItem.h
@interface NSMenuItem (AppleSDK)
@property(getter=isHidden) BOOL hidden;
@end

// NSImage.h, in the form it takes for C++, where "template" is a keyword.
@interface NSImage (AppleSDK)
- (BOOL)isTemplate;
- (void)setTemplate:(BOOL)isTemplate;
@end

// NSColorSpace.h
@interface NSColorSpace (AppleSDK)
@property(class, readonly, strong) NSColorSpace* sRGBColorSpace;
@end

// NSBezierPath.h. Apple names these enumerators of NSLineCapStyle and
// NSLineJoinStyle; GNUstep has the same values under older names, and an
// enumeration cannot be reopened, so they are constants of the enum type.
static const NSLineCapStyle NSLineCapStyleButt = NSButtLineCapStyle;
static const NSLineCapStyle NSLineCapStyleRound = NSRoundLineCapStyle;
static const NSLineCapStyle NSLineCapStyleSquare = NSSquareLineCapStyle;
static const NSLineJoinStyle NSLineJoinStyleMiter = NSMiterLineJoinStyle;
static const NSLineJoinStyle NSLineJoinStyleRound = NSRoundLineJoinStyle;
static const NSLineJoinStyle NSLineJoinStyleBevel = NSBevelLineJoinStyle;

#ifdef __cplusplus
extern "C" {
#endif

// ---------------------------------------------------------------------------
// MacTypes.h (LP64)

typedef unsigned char Boolean;
typedef unsigned char UInt8;
typedef unsigned short UInt16;
typedef unsigned int UInt32;
typedef signed int SInt32;
typedef SInt32 OSStatus;
typedef UInt32 OptionBits;
typedef UInt16 UniChar;
typedef unsigned long UniCharCount;
enum { noErr = 0 };

// ---------------------------------------------------------------------------
// CoreFoundation (CFBase.h, CFDate.h, CFString.h, CFData.h, CFArray.h,
// CFNumber.h, CFDictionary.h)

typedef signed long CFIndex;
typedef unsigned long CFHashCode;
typedef unsigned long CFTypeID;
typedef double CFTimeInterval;
typedef const void* CFTypeRef;
typedef const struct __CFString* CFStringRef;
typedef const struct __CFAllocator* CFAllocatorRef;
typedef const struct __CFBoolean* CFBooleanRef;
typedef const struct __CFData* CFDataRef;
typedef const struct __CFArray* CFArrayRef;
typedef const struct __CFDictionary* CFDictionaryRef;
typedef struct __CFRunLoop* CFRunLoopRef;
typedef struct __CFRunLoopSource* CFRunLoopSourceRef;
typedef CFStringRef CFRunLoopMode;

extern const CFAllocatorRef kCFAllocatorDefault;
extern const CFBooleanRef kCFBooleanTrue;
extern const CFBooleanRef kCFBooleanFalse;

void CFRelease(CFTypeRef cf);
CFTypeID CFGetTypeID(CFTypeRef cf);
Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2);
const UInt8* CFDataGetBytePtr(CFDataRef theData);

// CFRunLoop.h
extern const CFRunLoopMode kCFRunLoopCommonModes;
CFRunLoopRef CFRunLoopGetMain(void);
void CFRunLoopAddSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode);
void CFRunLoopRemoveSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode);

#define CFSTR(cStr) ((CFStringRef)__builtin___CFStringMakeConstantString("" cStr ""))

typedef const void* (*CFDictionaryRetainCallBack)(CFAllocatorRef allocator, const void* value);
typedef void (*CFDictionaryReleaseCallBack)(CFAllocatorRef allocator, const void* value);
typedef CFStringRef (*CFDictionaryCopyDescriptionCallBack)(const void* value);
typedef Boolean (*CFDictionaryEqualCallBack)(const void* value1, const void* value2);
typedef CFHashCode (*CFDictionaryHashCallBack)(const void* value);
typedef struct {
  CFIndex version;
  CFDictionaryRetainCallBack retain;
  CFDictionaryReleaseCallBack release;
  CFDictionaryCopyDescriptionCallBack copyDescription;
  CFDictionaryEqualCallBack equal;
  CFDictionaryHashCallBack hash;
} CFDictionaryKeyCallBacks;
typedef struct {
  CFIndex version;
  CFDictionaryRetainCallBack retain;
  CFDictionaryReleaseCallBack release;
  CFDictionaryCopyDescriptionCallBack copyDescription;
  CFDictionaryEqualCallBack equal;
} CFDictionaryValueCallBacks;

extern const CFDictionaryKeyCallBacks kCFCopyStringDictionaryKeyCallBacks;
extern const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks;

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef allocator, const void** keys, const void** values,
                                   CFIndex numValues, const CFDictionaryKeyCallBacks* keyCallBacks,
                                   const CFDictionaryValueCallBacks* valueCallBacks);

// ---------------------------------------------------------------------------
// CoreGraphics (CGEventTypes.h, CGRemoteOperation.h, CGEventSource.h,
// CGEvent.h, CGSession.h); CF_ENUM and CF_OPTIONS written out as they expand
// in C++.

typedef struct __CGEvent* CGEventRef;
typedef struct __CGEventSource* CGEventSourceRef;
typedef uint16_t CGKeyCode;

typedef enum CGEventSourceStateID : int32_t CGEventSourceStateID;
enum CGEventSourceStateID : int32_t {
  kCGEventSourceStatePrivate = -1,
  kCGEventSourceStateCombinedSessionState = 0,
  kCGEventSourceStateHIDSystemState = 1
};

typedef uint64_t CGEventFlags;
enum : CGEventFlags {
  kCGEventFlagMaskAlphaShift = 0x00010000,
  kCGEventFlagMaskShift = 0x00020000,
  kCGEventFlagMaskControl = 0x00040000,
  kCGEventFlagMaskAlternate = 0x00080000,
  kCGEventFlagMaskCommand = 0x00100000,
  kCGEventFlagMaskHelp = 0x00400000,
  kCGEventFlagMaskSecondaryFn = 0x00800000,
  kCGEventFlagMaskNumericPad = 0x00200000,
  kCGEventFlagMaskNonCoalesced = 0x00000100
};

typedef enum CGEventType : uint32_t CGEventType;
enum CGEventType : uint32_t {
  kCGEventLeftMouseDown = 1,
  kCGEventRightMouseDown = 3,
  kCGEventKeyDown = 10,
  kCGEventKeyUp = 11,
  kCGEventFlagsChanged = 12,
  kCGEventOtherMouseDown = 25
};
typedef enum CGEventField : uint32_t CGEventField;
enum CGEventField : uint32_t { kCGKeyboardEventKeycode = 9 };
typedef enum CGMouseButton : uint32_t CGMouseButton;
enum CGMouseButton : uint32_t {
  kCGMouseButtonLeft = 0,
  kCGMouseButtonRight = 1,
  kCGMouseButtonCenter = 2
};

CGEventSourceRef CGEventSourceCreate(CGEventSourceStateID stateID);
CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source, CGKeyCode virtualKey, bool keyDown);
void CGEventSetFlags(CGEventRef event, CGEventFlags flags);
CGEventFlags CGEventGetFlags(CGEventRef event);
CGEventType CGEventGetType(CGEventRef event);
int64_t CGEventGetIntegerValueField(CGEventRef event, CGEventField field);
void CGEventPostToPid(pid_t pid, CGEventRef event);
CFTimeInterval CGEventSourceSecondsSinceLastEventType(CGEventSourceStateID stateID,
                                                      CGEventType eventType);
bool CGEventSourceKeyState(CGEventSourceStateID stateID, CGKeyCode key);
bool CGEventSourceButtonState(CGEventSourceStateID stateID, CGMouseButton button);
CGEventFlags CGEventSourceFlagsState(CGEventSourceStateID stateID);

// CGSession.h
CFDictionaryRef CGSessionCopyCurrentDictionary(void);
#define kCGSessionOnConsoleKey CFSTR("kCGSSessionOnConsoleKey")

// ---------------------------------------------------------------------------
// ApplicationServices: HIServices (AXError.h, AXUIElement.h, AXValue.h,
// AXAttributeConstants.h, AXRoleConstants.h, AXActionConstants.h,
// AXNotificationConstants.h); CF_BRIDGED_TYPE(id) written out.

typedef enum AXError : int32_t AXError;
enum AXError : int32_t {
  kAXErrorSuccess = 0,
  kAXErrorFailure = -25200,
  kAXErrorIllegalArgument = -25201,
  kAXErrorInvalidUIElement = -25202,
  kAXErrorInvalidUIElementObserver = -25203,
  kAXErrorCannotComplete = -25204,
  kAXErrorAttributeUnsupported = -25205,
  kAXErrorActionUnsupported = -25206,
  kAXErrorNotificationUnsupported = -25207,
  kAXErrorNotImplemented = -25208,
  kAXErrorNotificationAlreadyRegistered = -25209,
  kAXErrorNotificationNotRegistered = -25210,
  kAXErrorAPIDisabled = -25211,
  kAXErrorNoValue = -25212,
  kAXErrorParameterizedAttributeUnsupported = -25213,
  kAXErrorNotEnoughPrecision = -25214
};

typedef const struct __attribute__((objc_bridge(id))) __AXUIElement* AXUIElementRef;
typedef UInt32 AXCopyMultipleAttributeOptions;
enum : AXCopyMultipleAttributeOptions { kAXCopyMultipleAttributeOptionStopOnError = 0x1 };
typedef struct __attribute__((objc_bridge(id))) __AXObserver* AXObserverRef;
typedef void (*AXObserverCallback)(AXObserverRef observer, AXUIElementRef element,
                                   CFStringRef notification, void* refcon);

extern Boolean AXIsProcessTrustedWithOptions(CFDictionaryRef options);
extern CFStringRef kAXTrustedCheckOptionPrompt;
extern CFTypeID AXUIElementGetTypeID(void);
extern AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                             CFTypeRef* value);
extern AXError AXUIElementCopyMultipleAttributeValues(AXUIElementRef element, CFArrayRef attributes,
                                                      AXCopyMultipleAttributeOptions options,
                                                      CFArrayRef* values);
extern AXError AXUIElementPerformAction(AXUIElementRef element, CFStringRef action);
extern AXUIElementRef AXUIElementCreateSystemWide(void);
extern AXError AXUIElementGetPid(AXUIElementRef element, pid_t* pid);
extern AXUIElementRef AXUIElementCreateApplication(pid_t pid);
extern AXError AXUIElementSetMessagingTimeout(AXUIElementRef element, float timeoutInSeconds);

extern AXError AXObserverCreate(pid_t application, AXObserverCallback callback,
                                AXObserverRef* outObserver);
extern AXError AXObserverAddNotification(AXObserverRef observer, AXUIElementRef element,
                                         CFStringRef notification, void* refcon);
extern AXError AXObserverRemoveNotification(AXObserverRef observer, AXUIElementRef element,
                                            CFStringRef notification);
extern CFRunLoopSourceRef AXObserverGetRunLoopSource(AXObserverRef observer);

#define kAXFocusedApplicationAttribute CFSTR("AXFocusedApplication")
#define kAXRoleAttribute CFSTR("AXRole")
#define kAXTitleAttribute CFSTR("AXTitle")
#define kAXChildrenAttribute CFSTR("AXChildren")
#define kAXWindowsAttribute CFSTR("AXWindows")
#define kAXMainWindowAttribute CFSTR("AXMainWindow")
#define kAXFocusedWindowAttribute CFSTR("AXFocusedWindow")
#define kAXModalAttribute CFSTR("AXModal")
#define kAXEnabledAttribute CFSTR("AXEnabled")
#define kAXMenuBarAttribute CFSTR("AXMenuBar")
#define kAXMenuItemCmdCharAttribute CFSTR("AXMenuItemCmdChar")
#define kAXMenuItemCmdModifiersAttribute CFSTR("AXMenuItemCmdModifiers")

// AXActionConstants.h
#define kAXPressAction CFSTR("AXPress")

// AXRoleConstants.h
#define kAXSheetRole CFSTR("AXSheet")

// AXNotificationConstants.h
#define kAXMainWindowChangedNotification CFSTR("AXMainWindowChanged")
#define kAXFocusedWindowChangedNotification CFSTR("AXFocusedWindowChanged")
#define kAXTitleChangedNotification CFSTR("AXTitleChanged")

// AXValue.h
typedef enum AXValueType : UInt32 AXValueType;
enum AXValueType : UInt32 {
  kAXValueTypeCGPoint = 1,
  kAXValueTypeCGSize = 2,
  kAXValueTypeCGRect = 3,
  kAXValueTypeCFRange = 4,
  kAXValueTypeAXError = 5,
  kAXValueTypeIllegal = 0
};
typedef const struct __attribute__((objc_bridge(id))) __AXValue* AXValueRef;
extern CFTypeID AXValueGetTypeID(void);
extern AXValueType AXValueGetType(AXValueRef value);
extern Boolean AXValueGetValue(AXValueRef value, AXValueType theType, void* valuePtr);

// ---------------------------------------------------------------------------
// Carbon: CoreServices (UnicodeUtilities.h) and HIToolbox
// (TextInputSources.h, Events.h). UCKeyboardLayout stays incomplete: the
// sources only point at one.

typedef struct UCKeyboardLayout UCKeyboardLayout;
enum { kUCKeyActionDown = 0, kUCKeyActionUp = 1, kUCKeyActionAutoKey = 2, kUCKeyActionDisplay = 3 };
enum { kUCKeyTranslateNoDeadKeysBit = 0 };
enum { kUCKeyTranslateNoDeadKeysMask = 1L << kUCKeyTranslateNoDeadKeysBit };

extern OSStatus UCKeyTranslate(const UCKeyboardLayout* keyLayoutPtr, UInt16 virtualKeyCode,
                               UInt16 keyAction, UInt32 modifierKeyState, UInt32 keyboardType,
                               OptionBits keyTranslateOptions, UInt32* deadKeyState,
                               UniCharCount maxStringLength, UniCharCount* actualStringLength,
                               UniChar unicodeString[]);

typedef struct __TISInputSource* TISInputSourceRef;

extern const CFStringRef kTISPropertyInputSourceID;
extern const CFStringRef kTISPropertyUnicodeKeyLayoutData;

extern void* TISGetInputSourceProperty(TISInputSourceRef inputSource, CFStringRef propertyKey);
extern CFArrayRef TISCreateInputSourceList(CFDictionaryRef properties, Boolean includeAllInstalled);
extern TISInputSourceRef TISCopyCurrentKeyboardLayoutInputSource(void);

enum { cmdKeyBit = 8 };
enum { cmdKey = 1 << cmdKeyBit };

extern UInt8 LMGetKbdType(void);

#ifdef __cplusplus
}
#endif

// ---------------------------------------------------------------------------
// Foundation (NSObject.h), after the CoreFoundation types it takes

#ifndef NS_INLINE
#define NS_INLINE static __inline__ __attribute__((always_inline))
#endif
#ifndef CF_CONSUMED
#define CF_CONSUMED __attribute__((cf_consumed))
#endif

NS_INLINE id CFBridgingRelease(CFTypeRef CF_CONSUMED X) {
  return (__bridge_transfer id)X;
}

// ---------------------------------------------------------------------------
// UserNotifications (UNUserNotificationCenter.h, UNNotificationContent.h,
// UNNotificationRequest.h, UNNotification.h, UNNotificationSettings.h). Its
// calls take blocks, which the check turns on only for the files that use
// them (typecheck_macos.sh); everywhere else these declarations are left out.

#if defined(__BLOCKS__)

typedef NS_OPTIONS(NSUInteger, UNAuthorizationOptions) {
  UNAuthorizationOptionBadge = (1 << 0),
  UNAuthorizationOptionSound = (1 << 1),
  UNAuthorizationOptionAlert = (1 << 2),
} QM_API_AVAILABLE_MACOS_10_14;

typedef NS_OPTIONS(NSUInteger, UNNotificationPresentationOptions) {
  UNNotificationPresentationOptionBadge = (1 << 0),
  UNNotificationPresentationOptionSound = (1 << 1),
  UNNotificationPresentationOptionList QM_API_AVAILABLE_MACOS_11_0 = (1 << 3),
  UNNotificationPresentationOptionBanner QM_API_AVAILABLE_MACOS_11_0 = (1 << 4),
} QM_API_AVAILABLE_MACOS_10_14;

typedef NS_ENUM(NSInteger, UNAuthorizationStatus) {
  UNAuthorizationStatusNotDetermined = 0,
  UNAuthorizationStatusDenied,
  UNAuthorizationStatusAuthorized,
  UNAuthorizationStatusProvisional,
} QM_API_AVAILABLE_MACOS_10_14;

QM_API_AVAILABLE_MACOS_10_14
@interface UNNotificationSettings : NSObject <NSCopying, NSSecureCoding>
@property(readonly) UNAuthorizationStatus authorizationStatus;
@end

QM_API_AVAILABLE_MACOS_10_14
@interface UNNotificationContent : NSObject <NSCopying, NSMutableCopying, NSSecureCoding>
@property(readonly, copy) NSString* title;
@property(readonly, copy) NSString* body;
@end

QM_API_AVAILABLE_MACOS_10_14
@interface UNMutableNotificationContent : UNNotificationContent
@property(copy) NSString* title;
@property(copy) NSString* body;
@end

QM_API_AVAILABLE_MACOS_10_14
@interface UNNotificationTrigger : NSObject <NSCopying, NSSecureCoding>
@end

QM_API_AVAILABLE_MACOS_10_14
@interface UNNotificationRequest : NSObject <NSCopying, NSSecureCoding>
+ (instancetype)requestWithIdentifier:(NSString*)identifier
                              content:(UNNotificationContent*)content
                              trigger:(UNNotificationTrigger*)trigger;
@end

QM_API_AVAILABLE_MACOS_10_14
@interface UNNotification : NSObject <NSCopying, NSSecureCoding>
@property(readonly, copy) UNNotificationRequest* request;
@end

@class UNUserNotificationCenter;

QM_API_AVAILABLE_MACOS_10_14
@protocol UNUserNotificationCenterDelegate <NSObject>
@optional
- (void)userNotificationCenter:(UNUserNotificationCenter*)center
       willPresentNotification:(UNNotification*)notification
         withCompletionHandler:
             (void (^)(UNNotificationPresentationOptions options))completionHandler;
@end

QM_API_AVAILABLE_MACOS_10_14
@interface UNUserNotificationCenter : NSObject
@property(weak) id<UNUserNotificationCenterDelegate> delegate;
+ (UNUserNotificationCenter*)currentNotificationCenter;
- (void)requestAuthorizationWithOptions:(UNAuthorizationOptions)options
                      completionHandler:(void (^)(BOOL granted, NSError* error))completionHandler;
- (void)getNotificationSettingsWithCompletionHandler:
    (void (^)(UNNotificationSettings* settings))completionHandler;
- (void)addNotificationRequest:(UNNotificationRequest*)request
         withCompletionHandler:(void (^)(NSError* error))completionHandler;
@end

#endif  // __BLOCKS__
