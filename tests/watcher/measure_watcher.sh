#!/bin/bash
# Measures what the watcher costs while Live is absent: CPU per pass (its own
# plus that of the shells and pgrep runs it starts) against the very same two
# probe commands run bare through sh -c, and the watcher's peak resident size.
#
# The bare runs are interleaved with the watcher's passes, one run in the
# middle of each of its 3-second sleeps, so both see the same load on a shared
# machine and never see each other's probe shells. Passes are counted from
# /proc without touching the watcher.
#
# Takes about 3 s per pass, so it is not part of CTest.
# Usage: measure_watcher.sh [QuillmarkWatcher binary] [passes, >= 30]
# Needs: Linux, bash, procps (pgrep).
set -eu

binary=${1:-$(dirname "$0")/../../build-watcher/watcher/QuillmarkWatcher}
passes=${2:-30}
[[ -x $binary ]] || { echo "no watcher binary at $binary" >&2; exit 2; }
if /usr/bin/pgrep -x Live >/dev/null; then
  echo "a process named Live runs; the watcher would launch" >&2
  exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/qm-measure-XXXXXX")
watcher_pid=
cleanup() {
  if [[ -n $watcher_pid ]]; then
    kill "$watcher_pid" 2>/dev/null || true
    wait "$watcher_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

macos="$work/Measure.app/Contents/MacOS"
mkdir -p "$macos" "$work/home/Library/Logs"
cp "$binary" "$macos/QuillmarkWatcher"

# Sleeping without starting a process: a read that times out on a FIFO that
# nobody writes.
mkfifo "$work/never"
exec 3<>"$work/never"
nap() { read -r -t "$1" -u 3 _ || true; }

# The commands of one pass (see watcher.cpp). The bare probe looks for a path
# of the same length that nothing carries, so it does the same work and, like
# the watcher's, finds nothing.
uid=$(id -u)
pgrep="LC_ALL=C.UTF-8 /usr/bin/pgrep -A -U $uid"
live_probe="$pgrep -x 'Live' >/dev/null 2>&1 || $pgrep -f '/Ableton Live.*\\.app/Contents/MacOS/Liv[e]' >/dev/null 2>&1"
pattern=$(printf '%s' "$work/Nothing.app/Contents/MacOS/Quillmark" | sed 's/[].[(){}*+?^$|\\]/\\&/g; s/k$/[k]/')
app_probe="$pgrep -f -- '$pattern' >/dev/null 2>&1"

HOME="$work/home" "$macos/QuillmarkWatcher" &
watcher_pid=$!

# Passes finished so far. Each pass ends by entering sleep(3) (system call
# 230, clock_nanosleep, or 35, nanosleep, on x86-64), and the watcher blocks
# (a voluntary context switch) only during a pass or in that sleep. So a
# sleep seen with a new switch count is a new pass, and polling twice a
# second (never two passes between two looks) counts them exactly while
# leaving the machine quiet during the passes themselves.
slept=0
last_switches=-1
observe() {  # builtins only: a child here would count as a bare run's CPU
  local call line switches=
  read -r call _ <"/proc/$watcher_pid/syscall" || return 0
  [[ $call == 230 || $call == 35 ]] || return 0
  while read -r line; do
    [[ $line == voluntary_ctxt_switches:* ]] && switches=${line##*[[:space:]]}
  done <"/proc/$watcher_pid/status"
  if [[ -n $switches && $switches != "$last_switches" ]]; then
    slept=$((slept + 1))
    last_switches=$switches
  fi
}
wait_for_pass() {
  local deadline=$((SECONDS + 15))
  observe
  while ((slept < $1)); do
    ((SECONDS < deadline)) || { echo "watcher stalled" >&2; exit 1; }
    nap 0.5
    observe
  done
}

echo "running $passes watcher passes and $passes bare runs, interleaved..."
# bash's "times": the second line is the CPU of this script's reaped children.
# Taken around the loop, whose only children are the bare runs.
times >"$work/times.before"
for ((k = 1; k <= passes; k++)); do
  wait_for_pass "$k"
  nap 1.0  # mid-sleep: neither side runs on the other's warm caches
  sh -c "$live_probe" || true
  sh -c "$app_probe" || true
done
times >"$work/times.after"
wait_for_pass $((passes + 1))

# Read while the watcher sleeps: everything of the counted passes is reaped.
# utime stime cutime cstime of the watcher, in clock ticks.
ticks=$(awk '{ sub(/.*\) /, ""); print $12 + $13 + $14 + $15 }' "/proc/$watcher_pid/stat")
own_ticks=$(awk '{ sub(/.*\) /, ""); print $12 + $13 }' "/proc/$watcher_pid/stat")
peak_kb=$(awk '/^VmHWM/ { print $2 }' "/proc/$watcher_pid/status")
resident_kb=$(awk '/^VmRSS/ { print $2 }' "/proc/$watcher_pid/status")
ran=$slept
kill "$watcher_pid"
wait "$watcher_pid" 2>/dev/null || true
watcher_pid=

awk -v t="$ticks" -v own="$own_ticks" -v hz="$(getconf CLK_TCK)" -v r="$ran" -v n="$passes" \
  -v before="$(sed -n 2p "$work/times.before")" -v after="$(sed -n 2p "$work/times.after")" \
  -v peak="$peak_kb" -v rss="$resident_kb" '
  function seconds(text,   F, M, i, sum) {  # "1m2.345s 0m0.100s" -> 62.445
    split(text, F, " ")
    for (i = 1; i <= 2; i++) {
      split(F[i], M, "m"); sub(/s$/, "", M[2]); sum += M[1] * 60 + M[2]
    }
    return sum
  }
  BEGIN {
  bare_s = seconds(after) - seconds(before)
  watcher_ms = t / hz * 1000 / r
  bare_ms = bare_s * 1000 / n
  printf "watcher: %d passes, CPU %.2f s with children, %.2f s its own\n", r, t / hz, own / hz
  printf "bare:    %d runs,   CPU %.3f s\n", n, bare_s
  printf "CPU per pass: watcher %.1f ms, bare commands %.1f ms (%+.1f%%)\n",
         watcher_ms, bare_ms, (watcher_ms / bare_ms - 1) * 100
  printf "watcher resident: peak %d kB, at the end %d kB\n", peak, rss
}'
