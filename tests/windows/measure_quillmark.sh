#!/usr/bin/env bash
# Measures Quillmark.exe under Wine while it waits between saves, against a
# floor: idle_floor.exe, a bare tray program (hidden window, a tooltip that
# changes every second, a process-list scan every 2 s). Both start at the
# same time in the same prefix and display, beside a stand-in Live, with the
# default 10-minute interval. Each round prints the CPU share of a core and
# the mean resident memory of both over the span, and the ratios; Wine's own
# libraries set the floor, so only the ratios mean anything.
#
#   tests/windows/measure_quillmark.sh BUILD_DIR [SECONDS] [ROUNDS]
#
# A measurement, not a test: it fails only when something does not start.
# It builds what it runs, uses a private prefix and display of its own, and
# ends what it started, by id.
set -euo pipefail
build=$(cd "${1:?usage: measure_quillmark.sh BUILD_DIR [SECONDS] [ROUNDS]}" && pwd)
span=${2:-30}
rounds=${3:-3}
here=$(cd "$(dirname "$0")" && pwd)
state=$build/wine-measure
harness=$here/wine_harness.sh

cmake --build "$build" -j2 --target Quillmark windows_idle_floor \
  stand_in_Ableton_Live_12_Suite >/dev/null
quillmark=$build/platform/windows/Quillmark.exe
floor=$build/tests/windows/windows_idle_floor.exe
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
"$wine" "$floor" </dev/null >/dev/null 2>&1 &
floor_pid=$!
pids+=("$floor_pid")
# Past the launch: the first refresh, the permission check, the icon.
sleep 5
for pid in "$quillmark_pid" "$floor_pid"; do
  [ -d "/proc/$pid" ] || { echo "measure_quillmark: a program did not start" >&2; exit 1; }
done

ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$1/stat"; }
rss() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }

echo "Idle under Wine beside a stand-in Live, ${span} s a round (CPU in % of a core, resident in MB)"
for round in $(seq 1 "$rounds"); do
  q0=$(cpu "$quillmark_pid") f0=$(cpu "$floor_pid")
  q_rss=0 f_rss=0
  for _ in $(seq 1 "$span"); do
    sleep 1
    q_rss=$((q_rss + $(rss "$quillmark_pid"))) f_rss=$((f_rss + $(rss "$floor_pid")))
  done
  q1=$(cpu "$quillmark_pid") f1=$(cpu "$floor_pid")
  awk -v r="$round" -v t="$ticks" -v s="$span" -v qc="$((q1 - q0))" -v fc="$((f1 - f0))" \
    -v qm="$q_rss" -v fm="$f_rss" 'BEGIN {
    qcpu = 100 * qc / t / s; fcpu = 100 * fc / t / s
    qmb = qm / s / 1024; fmb = fm / s / 1024
    cr = fcpu > 0 ? sprintf("%.2fx", qcpu / fcpu) : "n/a"
    mr = qmb / fmb
    printf "round %d: Quillmark CPU %.2f %% resident %.1f MB | floor CPU %.2f %% resident %.1f MB | ratios CPU %s (limit 1.5x) memory %.2fx (limit 1.15x)\n",
      r, qcpu, qmb, fcpu, fmb, cr, mr
  }'
done
