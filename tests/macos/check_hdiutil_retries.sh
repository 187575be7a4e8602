#!/usr/bin/env bash
# Checks bundle/hdiutil_with_retries.sh, through which CPack runs hdiutil for
# the disk image, against a stand-in hdiutil that fails with "Resource busy"
# a given number of times: create is tried again until it works or five tries
# have failed, with the arguments unchanged; any other subcommand runs once.
#
# Usage: check_hdiutil_retries.sh REPO
set -u

repo="${1:-$(cd "$(dirname "$0")/../.." && pwd)}"
wrapper="$repo/bundle/hdiutil_with_retries.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The stand-ins: hdiutil counts its calls in $CALLS, fails the first
# $FAILURES of them and echoes its arguments; sleep returns at once.
cat >"$work/hdiutil" <<'STANDIN'
#!/bin/sh
calls=$(($(cat "$CALLS") + 1))
echo "$calls" >"$CALLS"
if [ "$calls" -le "$FAILURES" ]; then
  echo "hdiutil: $1 failed - Resource busy" >&2
  exit 1
fi
printf '%s|' "$@"
STANDIN
printf '#!/bin/sh\nexit 0\n' >"$work/sleep"
chmod +x "$work/hdiutil" "$work/sleep"

failed=0
# expect NAME FAILURES STATUS CALLS ARGUMENT...: the wrapper run with the
# arguments ends with STATUS after CALLS calls of hdiutil.
expect() {
  local name="$1" failures="$2" status="$3" calls="$4"
  shift 4
  echo 0 >"$work/calls"
  local output
  output="$(CALLS="$work/calls" FAILURES="$failures" PATH="$work:$PATH" /bin/sh "$wrapper" "$@" 2>/dev/null)"
  local got=$? made
  made="$(cat "$work/calls")"
  local passed
  passed="$(printf '%s|' "$@")"
  if [[ $got -ne $status || $made -ne $calls ]]; then
    echo "FAIL $name: status $got after $made calls, expected $status after $calls"
    failed=$((failed + 1))
  elif [[ $status -eq 0 && "$output" != "$passed" ]]; then
    echo "FAIL $name: hdiutil got '$output', expected '$passed'"
    failed=$((failed + 1))
  else
    echo "ok   $name"
  fi
}

expect "create busy twice, then made" 2 0 3 create -ov -srcfolder "/tmp/a b" -format UDZO "/tmp/a b/temp.dmg"
expect "create busy every time: five tries" 9 1 5 create -ov -srcfolder x temp.dmg
expect "convert runs once" 1 1 1 convert temp.dmg -format UDZO -o out.dmg
expect "detach runs once and passes" 0 0 1 detach "/Volumes/Quillmark"
[[ $failed -eq 0 ]]
