#!/usr/bin/env bash
# Type-checks every Objective-C++ file of platform/macos on Linux: clang's
# front end parses each one against GNUstep's AppKit and Foundation headers,
# with apple_shim.h forced in for the Apple-only declarations GNUstep lacks.
# A message to a method the receiver's class does not declare, an unknown
# function or a mistyped argument fails the check.
#
# Usage: typecheck_macos.sh [--self-test] REPO
#   --self-test  instead checks the check: copies of the sources with one
#                misspelled selector or function each must all fail.
set -u

self_test=0
if [[ "${1:-}" == "--self-test" ]]; then
  self_test=1
  shift
fi
repo="${1:-$(cd "$(dirname "$0")/../.." && pwd)}"
macos_dir="$repo/platform/macos"
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

# ARC stays off: the GCC runtime headers do not parse under -fobjc-arc.
# -Werror as a whole, because "may not respond to selector" has no warning
# flag of its own; GNUstep's headers are system headers so that only the
# checked sources can raise a warning.
flags=(
  -std=c++20 -x objective-c++ -fsyntax-only
  -fobjc-runtime=gnustep-1.9 -fobjc-weak -fobjc-exceptions -fno-blocks
  -DGNUSTEP -DGNUSTEP_BASE_LIBRARY=1 -DGNU_GUI_LIBRARY=1 -DGNU_RUNTIME=1
  -isystem /usr/include/GNUstep -isystem "$objc_include"
  -I "$repo/app" -I "$macos_dir" -I "$stubs"
  -include "$shim"
  -Wall -Wextra -Werror -Wno-error=deprecated-declarations
  -Werror=objc-method-access -Werror=undeclared-selector
  -Werror=incompatible-pointer-types -Werror=implicit-function-declaration
)

check_file() {
  "$clang" "${flags[@]}" "$1"
}

shopt -s nullglob
sources=("$macos_dir"/*.mm)
[[ ${#sources[@]} -gt 0 ]] || fail_setup "no .mm files in $macos_dir"

if [[ $self_test -eq 0 ]]; then
  failed=0
  # The product never builds against GNUstep nor sees the shim.
  if grep -n -E 'GNUSTEP|GNUstep|apple_shim' "$macos_dir"/* ; then
    echo "FAIL platform/macos names GNUstep or the shim" >&2
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
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mistakes=(
  # file | correct text | misspelled text | expected diagnostic
  "status_bar.mm|setToolTip:toNSString|setToolTipp:toNSString|instance method '-setToolTipp:' not found"
  "workspace.mm|activateWithOptions:static_cast|activateWithOptionz:static_cast|instance method '-activateWithOptionz:' not found"
  "status_bar.mm|[NSStatusBar systemStatusBar]|[NSStatusBar systemStatusBarr]|class method '+systemStatusBarr' not found"
  "alerts.mm|[alert setMessageText:|[alert setTitle:|'NSAlert' may not respond to 'setTitle:'"
  "keyboard_events.mm|CGEventPostToPid(|CGEventPostToPidd(|use of undeclared identifier 'CGEventPostToPidd'"
)
passed=0
failed=0
for mistake in "${mistakes[@]}"; do
  IFS='|' read -r file correct wrong expected <<<"$mistake"
  copy="$work/$file"
  CORRECT="$correct" WRONG="$wrong" perl -pe 's/\Q$ENV{CORRECT}\E/$ENV{WRONG}/' \
    "$macos_dir/$file" >"$copy"
  if cmp -s "$macos_dir/$file" "$copy"; then
    echo "FAIL $file: '$correct' not found, nothing to misspell"
    failed=$((failed + 1))
    continue
  fi
  if output="$(check_file "$copy" 2>&1)"; then
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
