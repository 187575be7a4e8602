#!/usr/bin/env bash
# Type-checks every Objective-C++ file of platform/macos and tests/macos on
# Linux, with ARC on as the product is built: clang's front end parses each
# one against GNUstep's AppKit and Foundation headers, with apple_shim.h
# forced in for the Apple-only declarations GNUstep lacks. A message to a
# method the receiver's class does not declare, an unknown function, a
# mistyped argument, an API newer than the deployment target or an ARC
# mistake fails the check.
#
# Usage: typecheck_macos.sh [--self-test] REPO [WORK]
#   --self-test  instead checks the check: copies of the sources with one
#                mistake each must all fail with the expected diagnostic.
#   WORK         a folder for the patched runtime header (default: temporary)
set -u

self_test=0
if [[ "${1:-}" == "--self-test" ]]; then
  self_test=1
  shift
fi
repo="${1:-$(cd "$(dirname "$0")/../.." && pwd)}"
work="${2:-}"
macos_dir="$repo/platform/macos"
tests_dir="$repo/tests/macos"
shim="$repo/tests/macos/apple_shim.h"
stubs="$repo/tests/macos/sdk_stubs"
clang="${QM_CLANG:-clang++}"

fail_setup() {
  echo "macos type-check: $1" >&2
  echo "macos type-check: install the tools with: apt-get install -y clang libgnustep-gui-dev" >&2
  exit 2
}

command -v "$clang" >/dev/null 2>&1 || fail_setup "$clang not found"
[[ -f /usr/include/GNUstep/AppKit/AppKit.h ]] ||
  fail_setup "GNUstep AppKit headers not found in /usr/include/GNUstep"
# GNUstep on Debian builds on GCC's Objective-C runtime headers.
objc_include=""
for dir in $(ls -d /usr/lib/gcc/*/*/include 2>/dev/null | sort -V); do
  [[ -f "$dir/objc/objc.h" ]] && objc_include="$dir"
done
[[ -n "$objc_include" ]] || fail_setup "GCC's objc/objc.h not found under /usr/lib/gcc"
[[ -d "$macos_dir" ]] || fail_setup "no folder $macos_dir"

if [[ -z "$work" ]]; then
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
fi
# GCC's objc/runtime.h does not parse under ARC: its inline object_getClass
# dereferences an id. A copy with that one access bridged, and its own
# includes made to find their siblings in GCC's folder, goes on the include
# path before the original.
arc_include="$work/arc-include"
mkdir -p "$arc_include/objc" || fail_setup "cannot create $arc_include"
patched="$arc_include/objc/runtime.h"
sed -e 's|return object->class_pointer;|return ((struct objc_object *)(__bridge void *)object)->class_pointer;|' \
  -e 's|#include "\(objc[a-z-]*\.h\)"|#include <objc/\1>|' \
  "$objc_include/objc/runtime.h" >"$patched.$$" && mv "$patched.$$" "$patched" ||
  fail_setup "cannot patch $objc_include/objc/runtime.h"
grep -q '__bridge void \*)object)->class_pointer' "$patched" ||
  fail_setup "GCC's objc/runtime.h has changed: object_getClass was not patched"
# With blocks on, GNUstep's headers include the blocks runtime's header of
# libobjc2, which GCC's runtime does not have. The two functions it declares
# (Apple's <Block.h> has the same) stand in; a syntax check links nothing.
cat >"$arc_include/objc/blocks_runtime.h" <<'HEADER' || fail_setup "cannot write blocks_runtime.h"
#pragma once
#ifdef __cplusplus
extern "C" {
#endif
void* _Block_copy(const void* aBlock);
void _Block_release(const void* aBlock);
#ifdef __cplusplus
}
#endif
#define Block_copy(x) ((__typeof(x))_Block_copy((const void*)(x)))
#define Block_release(x) _Block_release((const void*)(x))
HEADER

# -Werror as a whole, because "may not respond to selector" has no warning
# flag of its own; GNUstep's headers are system headers so that only the
# checked sources can raise a warning. Deprecations stay warnings, as in the
# product's build.
flags=(
  -std=c++20 -x objective-c++ -fsyntax-only
  -fobjc-arc -fobjc-runtime=gnustep-2.0 -fobjc-weak -fobjc-exceptions
  -DGNUSTEP -DGNUSTEP_BASE_LIBRARY=1 -DGNU_GUI_LIBRARY=1 -DGNU_RUNTIME=1
  -isystem "$arc_include" -isystem /usr/include/GNUstep -isystem "$objc_include"
  -I "$repo/app" -I "$macos_dir" -I "$stubs"
  -Wall -Wextra -Wpedantic -Werror -Wno-error=deprecated-declarations
  -Werror=objc-method-access -Werror=undeclared-selector
  -Werror=incompatible-pointer-types -Werror=implicit-function-declaration
)

# Blocks are off, so that the sources keep to target and selector APIs.
# The files named here use an API that takes blocks and nothing else does
# (the UserNotifications framework, AppKit's sheets in the tests): they are
# parsed with -fblocks, and the shim declares that API only when __BLOCKS__
# is defined, so that any other file using it fails the check. A file joins
# this list by its name alone, which the self-test's copies keep.
blocks_files=(notifications.mm appkit_ports_test.mm)

uses_blocks() {
  local name
  name="$(basename "$1")"
  for listed in "${blocks_files[@]}"; do
    [[ "$name" == "$listed" ]] && return 0
  done
  return 1
}

# check_file FILE [SHIM]
check_file() {
  local blocks=-fno-blocks
  uses_blocks "$1" && blocks=-fblocks
  "$clang" "${flags[@]}" "$blocks" -include "${2:-$shim}" "$1"
}

shopt -s nullglob
sources=("$macos_dir"/*.mm "$tests_dir"/*.mm)
[[ ${#sources[@]} -gt 0 ]] || fail_setup "no .mm files in $macos_dir"

if [[ $self_test -eq 0 ]]; then
  failed=0
  # The product never builds against GNUstep nor sees the shim.
  if grep -n -E 'GNUSTEP|GNUstep|apple_shim' "$macos_dir"/* "$tests_dir"/*.mm; then
    echo "FAIL platform/macos or tests/macos names GNUstep or the shim" >&2
    failed=$((failed + 1))
  fi
  passed=0
  for source in "${sources[@]}"; do
    if check_file "$source"; then
      echo "ok   ${source#"$repo"/}"
      passed=$((passed + 1))
    else
      echo "FAIL ${source#"$repo"/}"
      failed=$((failed + 1))
    fi
  done
  echo "$passed passed, $failed failed"
  [[ $failed -eq 0 ]]
  exit
fi

# Self-test: each mistake must make the check fail with the expected message.
# A file named apple_shim.h means: the workspace.mm check, with a copy of the
# shim that carries the mistake.
mistakes=(
  # file | correct text | wrong text | expected diagnostic (under ARC an
  # undeclared selector is an error of its own)
  "status_bar.mm|setToolTip:toNSString|setToolTipp:toNSString|no visible @interface for 'NSStatusBarButton' declares the selector 'setToolTipp:'"
  "workspace.mm|activateWithOptions:static_cast|activateWithOptionz:static_cast|no visible @interface for 'NSRunningApplication' declares the selector 'activateWithOptionz:'"
  "status_bar.mm|[NSStatusBar systemStatusBar]|[NSStatusBar systemStatusBarr]|no known class method for selector 'systemStatusBarr'"
  "alerts.mm|[alert setMessageText:|[alert setTitle:|no visible @interface for 'NSAlert' declares the selector 'setTitle:'"
  "keyboard_events.mm|CGEventPostToPid(|CGEventPostToPidd(|use of undeclared identifier 'CGEventPostToPidd'"
  # ARC: an Objective-C object cast to a CoreFoundation type without a
  # bridge, and an explicit release.
  "system.mm|return toStdString(NSHomeDirectory());|CFTypeRef home = (CFTypeRef)NSHomeDirectory(); (void)home; return {};|requires a bridged cast"
  "alerts.mm|return [alert runModal];|const long answer = [alert runModal]; [alert release]; return answer;|ARC forbids explicit message send of 'release'"
  # ARC holds the Accessibility element; handing it back to a C call takes a
  # bridge.
  "workspace.mm|AXUIElementGetPid((__bridge AXUIElementRef)focused|AXUIElementGetPid((AXUIElementRef)focused|requires a bridged cast"
  # The spawn flags are Apple's (sdk_stubs/spawn.h), not glibc's: a
  # Linux-only flag is unknown.
  "system.mm|static_cast<short>(POSIX_SPAWN_CLOEXEC_DEFAULT)|static_cast<short>(POSIX_SPAWN_USEVFORK)|use of undeclared identifier 'POSIX_SPAWN_USEVFORK'"
  # An API introduced after the deployment target, used unguarded; and the
  # deployment target itself deciding what is usable.
  "apple_shim.h|options:(NSApplicationActivationOptions)options QM_API_AVAILABLE_MACOS_14_0;|options:(NSApplicationActivationOptions)options QM_API_AVAILABLE_MACOS_26_0;|'activateFromApplication:options:' is unavailable: introduced in macOS 26.0"
  "apple_shim.h|#define __MAC_OS_X_VERSION_MIN_REQUIRED 150500|#define __MAC_OS_X_VERSION_MIN_REQUIRED 130000|'activateFromApplication:options:' is unavailable: introduced in macOS 14.0"
  # The file checked with blocks on is checked all the same: a misspelt
  # message, and an answer block of the wrong kind.
  "notifications.mm|requestAuthorizationWithOptions:UNAuthorizationOptionAlert|requestAuthorisationWithOptions:UNAuthorizationOptionAlert|no visible @interface for 'UNUserNotificationCenter' declares the selector 'requestAuthorisationWithOptions:completionHandler:'"
  "notifications.mm|completionHandler:^(BOOL granted, NSError* error)|completionHandler:^(BOOL granted, NSString* error)|cannot initialize a parameter of type 'void (^)(BOOL, NSError *__strong)'"
  # Everywhere else blocks stay off.
  "workspace.mm|return wrap([[NSWorkspace sharedWorkspace] frontmostApplication]);|void (^unused)(void) = nil; (void)unused; return nullptr;|blocks support disabled"
)
passed=0
failed=0
for mistake in "${mistakes[@]}"; do
  IFS='|' read -r file correct wrong expected <<<"$mistake"
  original="$macos_dir/$file"
  if [[ "$file" == apple_shim.h ]]; then
    original="$shim"
  fi
  copy="$work/$file"
  CORRECT="$correct" WRONG="$wrong" perl -pe 's/\Q$ENV{CORRECT}\E/$ENV{WRONG}/' \
    "$original" >"$copy"
  if cmp -s "$original" "$copy"; then
    echo "FAIL $file: '$correct' not found, nothing to change"
    failed=$((failed + 1))
    continue
  fi
  if [[ "$file" == apple_shim.h ]]; then
    target=("$macos_dir/workspace.mm" "$copy")
  else
    target=("$copy")
  fi
  if output="$(check_file "${target[@]}" 2>&1)"; then
    echo "FAIL $file: '$wrong' passed the check"
    failed=$((failed + 1))
  elif ! grep -qF -- "$expected" <<<"$output"; then
    echo "FAIL $file: '$wrong' failed without \"$expected\":"
    echo "$output"
    failed=$((failed + 1))
  else
    echo "ok   $file: '$wrong' rejected: $(grep -F -- "$expected" <<<"$output" | head -n 1)"
    passed=$((passed + 1))
  fi
done
echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
