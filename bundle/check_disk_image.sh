#!/bin/sh
# Checks Quillmark.app as the disk image carries it, which is what users
# copy: its signature and the watcher's inside it hold (codesign --verify
# --deep --strict), and both are signed by AUTHORITY, the leaf certificate's
# name that codesign -dv shows, with the hardened runtime; or, when
# AUTHORITY is "adhoc", signed ad hoc. A Developer ID signature must also
# carry a secure timestamp. Signed by an identity, the image itself carries
# that identity's signature too. With --gatekeeper, once the image is
# notarized and stapled: the app carries its own ticket, and Gatekeeper
# accepts the app for execution and the image for opening.
#
# Usage: check_disk_image.sh [--gatekeeper] DMG AUTHORITY
set -u

gatekeeper=0
if [ "${1:-}" = --gatekeeper ]; then
  gatekeeper=1
  shift
fi
if [ $# -ne 2 ]; then
  echo "usage: $0 [--gatekeeper] DMG AUTHORITY" >&2
  exit 2
fi
dmg=$1
authority=$2

fail() {
  echo "check_disk_image: $*" >&2
  exit 1
}

# signer DETAILS: the leaf certificate's name in codesign -dv's report.
signer() {
  echo "$1" | sed -n 's/^Authority=//p' | head -n 1
}

if [ "$authority" != adhoc ]; then
  codesign --verify --strict --verbose=2 "$dmg" || fail "the disk image's signature does not hold"
  details=$(codesign -dv --verbose=2 "$dmg" 2>&1) || fail "codesign cannot read $dmg"
  [ "$(signer "$details")" = "$authority" ] ||
    fail "the disk image is signed by '$(signer "$details")', not by '$authority'"
fi

mountpoint=$(mktemp -d) || fail "no temporary folder"
hdiutil attach -nobrowse -readonly -noautoopen -mountpoint "$mountpoint" "$dmg" >/dev/null ||
  fail "cannot attach $dmg"
trap 'hdiutil detach "$mountpoint" -force >/dev/null 2>&1; rmdir "$mountpoint" 2>/dev/null' EXIT

app="$mountpoint/Quillmark.app"
[ -d "$app" ] || fail "no Quillmark.app in $dmg"
codesign --verify --deep --strict --verbose=2 "$app" || fail "the app's signature does not hold"

for code in "$app/Contents/MacOS/QuillmarkWatcher" "$app"; do
  name=${code#"$mountpoint"/}
  details=$(codesign -dv --verbose=2 "$code" 2>&1) || fail "codesign cannot read $name"
  echo "$details" | sed "s|^|$name: |"
  if [ "$authority" = adhoc ]; then
    echo "$details" | grep -qx 'Signature=adhoc' || fail "$name is not signed ad hoc"
    continue
  fi
  echo "$details" | grep -qx 'Signature=adhoc' && fail "$name is signed ad hoc, not by $authority"
  [ "$(signer "$details")" = "$authority" ] ||
    fail "$name is signed by '$(signer "$details")', not by '$authority'"
  echo "$details" | grep -q '^CodeDirectory .*flags=.*(runtime)' ||
    fail "$name lacks the hardened runtime"
  case $authority in
    "Developer ID Application:"*)
      echo "$details" | grep -q '^Timestamp=' || fail "$name has no secure timestamp"
      ;;
  esac
done

if [ $gatekeeper -eq 1 ]; then
  xcrun stapler validate "$app" || fail "the app carries no notarization ticket of its own"
  spctl --assess --type execute -vv "$app" || fail "Gatekeeper refuses to run the app"
  spctl --assess --type open --context context:primary-signature -vv "$dmg" ||
    fail "Gatekeeper refuses to open the disk image"
fi
echo "check_disk_image: $dmg holds Quillmark.app signed by $authority"
