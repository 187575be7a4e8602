#!/usr/bin/env bash
# Checks bundle/check_disk_image.sh, the release's check of the app inside
# the disk image, against stand-ins for hdiutil, codesign, spctl and xcrun:
# what it accepts and refuses of the signature codesign reports, the exact
# Gatekeeper and ticket checks it asks for, and that an attached image is
# detached on every outcome.
#
# Usage: check_disk_image_check.sh REPO
set -u

repo="${1:-$(cd "$(dirname "$0")/../.." && pwd)}"
script="$repo/bundle/check_disk_image.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The stand-ins log each call in $LOG. hdiutil attach mounts an image holding
# Quillmark.app; codesign -dv prints $DETAILS ($DMG_DETAILS for the image,
# when set); --verify, spctl and xcrun end with $VERIFY, $SPCTL and $STAPLER.
cat >"$work/hdiutil" <<'STANDIN'
#!/bin/sh
echo "hdiutil $*" >>"$LOG"
if [ "$1" = attach ]; then
  while [ "$1" != -mountpoint ]; do shift; done
  mkdir -p "$2/Quillmark.app/Contents/MacOS"
fi
STANDIN
cat >"$work/codesign" <<'STANDIN'
#!/bin/sh
echo "codesign $*" >>"$LOG"
if [ "$1" = --verify ]; then exit "$VERIFY"; fi
for last; do :; done
case $last in
  *.dmg) printf '%b\n' "${DMG_DETAILS:-$DETAILS}" >&2 ;;
  *) printf '%b\n' "$DETAILS" >&2 ;;
esac
STANDIN
cat >"$work/spctl" <<'STANDIN'
#!/bin/sh
echo "spctl $*" >>"$LOG"
exit "$SPCTL"
STANDIN
cat >"$work/xcrun" <<'STANDIN'
#!/bin/sh
echo "xcrun $*" >>"$LOG"
exit "${STAPLER:-0}"
STANDIN
chmod +x "$work/hdiutil" "$work/codesign" "$work/spctl" "$work/xcrun"

throwaway="Quillmark CI throwaway"
developer="Developer ID Application: Vellum (AB12CD34EF)"
signed_by() { # AUTHORITY [FLAGS] [TIMESTAMP]
  printf 'Identifier=local.vellum.Quillmark\\nCodeDirectory v=20500 size=1 flags=%s hashes=1\\nAuthority=%s\\nAuthority=Root%s' \
    "${2:-0x10000(runtime)}" "$1" "${3:+\\nTimestamp=$3}"
}
adhoc='Identifier=a\nCodeDirectory v=20400 size=1 flags=0x2(adhoc) hashes=1\nSignature=adhoc'

failed=0
# expect NAME STATUS DETAILS VERIFY SPCTL ARGUMENT...
expect() {
  local name="$1" status="$2" details="$3" verify="$4" spctl="$5"
  shift 5
  : >"$work/log"
  LOG="$work/log" DETAILS="$details" DMG_DETAILS="${DMG_DETAILS:-}" VERIFY="$verify" \
    SPCTL="$spctl" STAPLER="${STAPLER:-0}" PATH="$work:$PATH" \
    /bin/sh "$script" "$@" >"$work/out" 2>&1
  local got=$?
  if [[ $got -ne $status ]]; then
    echo "FAIL $name: status $got, expected $status"
    sed 's/^/     /' "$work/out" "$work/log"
    failed=$((failed + 1))
  elif grep -q '^hdiutil attach' "$work/log" && ! grep -q '^hdiutil detach .* -force$' "$work/log"; then
    echo "FAIL $name: the image was not detached"
    failed=$((failed + 1))
  else
    echo "ok   $name"
  fi
}
# logged LINE: the last run called exactly LINE (the mount point's name
# written as MOUNT).
logged() {
  local mount
  mount="$(sed -n 's/^hdiutil attach .* -mountpoint \(.*\) .*/\1/p' "$work/log")"
  if ! sed "s|$mount|MOUNT|g" "$work/log" | grep -qxF -- "$1"; then
    echo "FAIL no call: $1"
    failed=$((failed + 1))
  fi
}

expect "the identity's signature, deep and strict" 0 "$(signed_by "$throwaway")" 0 0 x.dmg "$throwaway"
logged "codesign --verify --strict --verbose=2 x.dmg"
logged "codesign --verify --deep --strict --verbose=2 MOUNT/Quillmark.app"
logged "codesign -dv --verbose=2 MOUNT/Quillmark.app/Contents/MacOS/QuillmarkWatcher"
logged "codesign -dv --verbose=2 MOUNT/Quillmark.app"
expect "ad hoc where an identity is expected" 1 "$adhoc" 0 0 x.dmg "$throwaway"
expect "another identity" 1 "$(signed_by "Someone else")" 0 0 x.dmg "$throwaway"
# The image signed as expected, and the app inside it not.
DMG_DETAILS="$(signed_by "$throwaway")" expect "an ad hoc app in a signed image" 1 "$adhoc" 0 0 x.dmg "$throwaway"
logged "codesign -dv --verbose=2 MOUNT/Quillmark.app/Contents/MacOS/QuillmarkWatcher"
expect "no hardened runtime" 1 "$(signed_by "$throwaway" 0x0)" 0 0 x.dmg "$throwaway"
expect "a broken seal" 1 "$(signed_by "$throwaway")" 1 0 x.dmg "$throwaway"
expect "ad hoc where ad hoc is expected" 0 "$adhoc" 0 0 x.dmg adhoc
expect "Developer ID without a timestamp" 1 "$(signed_by "$developer")" 0 0 x.dmg "$developer"
expect "Developer ID and Gatekeeper's assessments" 0 \
  "$(signed_by "$developer" "" "8 Dec 2026")" 0 0 --gatekeeper x.dmg "$developer"
logged "xcrun stapler validate MOUNT/Quillmark.app"
logged "spctl --assess --type execute -vv MOUNT/Quillmark.app"
logged "spctl --assess --type open --context context:primary-signature -vv x.dmg"
# The image was stapled, but the app inside it lost its own ticket (or never
# had one).
STAPLER=65 expect "an app without its ticket" 1 "$(signed_by "$developer" "" "8 Dec 2026")" 0 0 \
  --gatekeeper x.dmg "$developer"
expect "Gatekeeper refuses" 1 "$(signed_by "$developer" "" "8 Dec 2026")" 0 3 --gatekeeper x.dmg "$developer"
[[ $failed -eq 0 ]]
