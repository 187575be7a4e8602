#!/usr/bin/env bash
# Measures Quillmark.exe under Wine while it waits between saves: CPU time
# and resident memory of its process over a span, with a stand-in Live
# running and the default 10-minute interval (the countdown ticks every
# second, the Live monitor every two).
#
#   tests/windows/measure_quillmark.sh BUILD_DIR [SECONDS]
#
# Runs on a private prefix and display of its own and ends what it started,
# by id.
set -euo pipefail
build=$(cd "${1:?usage: measure_quillmark.sh BUILD_DIR [SECONDS]}" && pwd)
span=${2:-30}
here=$(cd "$(dirname "$0")" && pwd)
state=$build/wine-measure
harness=$here/wine_harness.sh
quillmark=$build/platform/windows/Quillmark.exe
live="$build/tests/windows/Ableton Live 12 Suite.exe"

pids=()
cleanup() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  "$harness" stop "$state"
}
trap cleanup EXIT

"$harness" start "$state" >/dev/null
export WINEPREFIX=$state/prefix WINEDEBUG=-all XAUTHORITY=$state/xauthority
DISPLAY=":$(cat "$state/display")"
export DISPLAY
wine=/usr/lib/wine/wine64
command -v wine64 >/dev/null 2>&1 && wine=$(command -v wine64)

# The loader replaces itself with the program, so $! is the program's pid.
"$wine" "$live" "$state/live.txt" </dev/null >/dev/null 2>&1 &
pids+=($!)
sleep 2
"$wine" "$quillmark" </dev/null >/dev/null 2>&1 &
quillmark_pid=$!
pids+=("$quillmark_pid")
sleep 5

ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$1/stat"; }
before=$(cpu "$quillmark_pid")
sleep "$span"
after=$(cpu "$quillmark_pid")
rss_kb=$(awk '/^VmRSS/ {print $2}' "/proc/$quillmark_pid/status")
size=$(stat -c %s "$quillmark")
awk -v b="$before" -v a="$after" -v t="$ticks" -v s="$span" -v r="$rss_kb" -v z="$size" 'BEGIN {
  printf "Quillmark.exe idle under Wine: CPU %.2f %% over %d s (%.2f s), resident %.1f MB, file %.2f MB\n",
    100 * (a - b) / t / s, s, (a - b) / t, r / 1024, z / 1048576
}'
