#!/usr/bin/env bash
# Checks that the application core in app/ stays portable: no Objective-C, no
# Apple framework and no Apple API name in its code (comments may name them).
# Whatever depends on the platform belongs behind the ports in app/platform.h.
#
# Usage: check_core_portable.sh REPO
set -u

repo="${1:-$(cd "$(dirname "$0")/../.." && pwd)}"
app_dir="$repo/app"
command -v g++ >/dev/null 2>&1 || {
  echo "core portability: g++ not found (it strips the comments before the search)" >&2
  exit 2
}

# Only what the compiler sees counts, so comments are stripped first;
# string literals stay and are searched too.
patterns=(
  '^[[:space:]]*#[[:space:]]*import\b'
  '#[[:space:]]*include[[:space:]]*[<"](AppKit|Foundation|Cocoa|CoreGraphics|CoreFoundation|ApplicationServices|Carbon|objc)/'
  '\b(Cocoa|AppKit|Foundation|CoreGraphics|CoreFoundation|ApplicationServices)\b'
  '\bNS[A-Z][A-Za-z0-9_]*'
  '\bk?(CG|CF)[A-Z][a-z][A-Za-z0-9_]*'
  '\bk?AX[A-Z][a-z][A-Za-z0-9_]*'
  '@(interface|implementation|protocol|selector|autoreleasepool|try|catch|finally|end|property|synthesize|class)\b'
  '\b(BOOL|nil|SEL)\b'
)
pattern="$(IFS='|'; echo "${patterns[*]}")"

shopt -s nullglob
files=("$app_dir"/*.h "$app_dir"/*.hpp "$app_dir"/*.cpp "$app_dir"/*.cc)
objc_files=("$app_dir"/*.m "$app_dir"/*.mm)
failed=0
if [[ ${#files[@]} -eq 0 ]]; then
  echo "FAIL no sources found in $app_dir"
  exit 1
fi
for file in "${objc_files[@]}"; do
  echo "FAIL ${file#"$repo"/}: Objective-C source in the core"
  failed=$((failed + 1))
done
for file in "${files[@]}"; do
  if ! code="$(g++ -x c++ -E -fpreprocessed -P "$file" 2>&1)"; then
    echo "FAIL ${file#"$repo"/}: cannot strip comments: $code"
    failed=$((failed + 1))
  elif hits="$(grep -E "$pattern" <<<"$code")"; then
    echo "FAIL ${file#"$repo"/}: platform code in the core (comments stripped):"
    echo "$hits"
    failed=$((failed + 1))
  fi
done
checked=$((${#files[@]} + ${#objc_files[@]}))
# The core's build links no framework.
[[ -f "$app_dir/CMakeLists.txt" ]] && checked=$((checked + 1))
if [[ -f "$app_dir/CMakeLists.txt" ]] &&
  hits="$(sed 's/#.*//' "$app_dir/CMakeLists.txt" | grep -n -E -- '-framework|AppKit|Foundation|CoreGraphics|ApplicationServices|OBJC')"; then
  echo "FAIL app/CMakeLists.txt links platform code:"
  echo "$hits"
  failed=$((failed + 1))
fi
echo "$((checked - failed)) passed, $failed failed"
[[ $failed -eq 0 ]]
