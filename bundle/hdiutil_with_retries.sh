#!/bin/sh
# CPack runs every hdiutil command of the disk image through this script
# (CPACK_COMMAND_HDIUTIL in platform/macos/CMakeLists.txt). On GitHub's hosted
# macOS runners "hdiutil create" now and then fails with "Resource busy"
# while something else still holds the new image, and works a few seconds
# later; so create is tried up to five times. Its -ov lets a try overwrite
# what a failed one left. Every other subcommand runs once.
#
# Usage: hdiutil_with_retries.sh SUBCOMMAND [ARGUMENT...]

if [ "${1:-}" != create ]; then
  exec hdiutil "$@"
fi

attempts=5
attempt=1
until hdiutil "$@"; do
  if [ "$attempt" -ge "$attempts" ]; then
    echo "hdiutil create failed $attempts times; giving up" >&2
    exit 1
  fi
  pause=$((attempt * 3))
  echo "hdiutil create failed (attempt $attempt of $attempts); trying again in $pause s" >&2
  sleep "$pause"
  attempt=$((attempt + 1))
done
