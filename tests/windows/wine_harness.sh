#!/usr/bin/env bash
# Runs the Windows test programs under Wine on a private prefix and a private
# X display, so concurrent runs on one machine never meet.
#
#   wine_harness.sh start STATE   boots a fresh prefix under STATE and starts
#                                 Xvfb and a persistent wineserver for it
#   wine_harness.sh run STATE PROGRAM [ARGS...]
#                                 runs PROGRAM in that prefix and display
#   wine_harness.sh stop STATE    ends that wineserver and that Xvfb, by id
#
# CTest calls start and stop as a fixture pair and run as the emulator of
# every cross-built test. Only processes this script started are ended.
set -euo pipefail

command=${1:?usage: wine_harness.sh start|run|stop STATE [PROGRAM ARGS...]}
state=${2:?missing state folder}
shift 2
mkdir -p "$state"
state=$(cd "$state" && pwd)
prefix=$state/prefix

find_wine() {
  # wine64 is the loader itself; Debian keeps it outside PATH.
  local candidate
  for candidate in "${QM_WINE:-}" wine64 /usr/lib/wine/wine64 wine; do
    if [ -n "$candidate" ] && command -v "$candidate" >/dev/null 2>&1; then
      command -v "$candidate"
      return
    fi
  done
  echo "wine_harness: no Wine found (install wine and wine64)" >&2
  exit 1
}

find_wineserver() {
  local candidate
  for candidate in "${QM_WINESERVER:-}" wineserver /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver; do
    if [ -n "$candidate" ] && command -v "$candidate" >/dev/null 2>&1; then
      command -v "$candidate"
      return
    fi
  done
  echo "wine_harness: no wineserver found" >&2
  exit 1
}

wine_environment() {
  export WINEPREFIX=$prefix
  export WINEARCH=win64
  export WINEDEBUG=${WINEDEBUG:--all}
  # No Mono or Gecko download prompts while booting the prefix.
  export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
  export DISPLAY=":$(cat "$state/display")"
  export XAUTHORITY=$state/xauthority
}

stop_harness() {
  if [ -d "$prefix" ] && [ -f "$state/display" ]; then
    wine_environment
    "$(find_wineserver)" -k 2>/dev/null || true
    "$(find_wineserver)" -w 2>/dev/null || true
  fi
  if [ -f "$state/xvfb.pid" ]; then
    local pid
    pid=$(cat "$state/xvfb.pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    rm -f "$state/xvfb.pid"
  fi
  rm -f "$state/display"
}

close_inherited_descriptors() {
  local fd
  for fd in $(ls /proc/$BASHPID/fd); do
    if [ "$fd" -gt 2 ]; then
      eval "exec $fd>&-" 2>/dev/null || true
    fi
  done
}

start_daemons() {
  set -euo pipefail
  # A cookie of our own: only this run's programs may use the display.
  : >"$state/xauthority"
  local cookie
  cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
  # Xvfb picks a free display number and writes it once it accepts clients.
  setsid Xvfb -displayfd 3 -auth "$state/xauthority" -nolisten tcp \
    -screen 0 1280x800x24 3>"$state/display.pending" >"$state/xvfb.log" 2>&1 &
  echo $! >"$state/xvfb.pid"
  for _ in $(seq 100); do
    if grep -q . "$state/display.pending" 2>/dev/null; then
      break
    fi
    if ! kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null; then
      echo "wine_harness: Xvfb did not start:"
      cat "$state/xvfb.log"
      return 1
    fi
    sleep 0.1
  done
  tr -d '\n' <"$state/display.pending" >"$state/display"
  rm -f "$state/display.pending"
  xauth -f "$state/xauthority" add ":$(cat "$state/display")" . "$cookie"
  wine_environment
  # A persistent server keeps the prefix warm between test programs.
  mkdir -p "$prefix"
  "$(find_wineserver)" -p
  "$(find_wine)" wineboot -i
}

case $command in
  start)
    stop_harness
    rm -rf "$state"
    mkdir -p "$state"
    state=$(cd "$state" && pwd)
    prefix=$state/prefix
    # The daemons must hold none of the caller's descriptors: CTest waits
    # for the end of a test's output, which would never come.
    if ! (close_inherited_descriptors
      exec </dev/null >"$state/start.log" 2>&1
      start_daemons); then
      cat "$state/start.log" >&2
      stop_harness
      exit 1
    fi
    echo "wine_harness: prefix $prefix on display :$(cat "$state/display")"
    ;;
  run)
    program=${1:?missing program}
    shift
    if [ ! -f "$state/display" ]; then
      echo "wine_harness: no harness under $state; run the tests through ctest" >&2
      exit 1
    fi
    wine_environment
    # Through a file: Wine may start helpers (explorer.exe for the desktop)
    # that outlive the program and would keep a pipe to CTest open.
    output=$(mktemp "$state/run.XXXXXX")
    status=0
    (close_inherited_descriptors
      exec "$(find_wine)" "$program" "$@" </dev/null >"$output" 2>&1) || status=$?
    cat "$output"
    rm -f "$output"
    exit "$status"
    ;;
  stop)
    stop_harness
    ;;
  *)
    echo "wine_harness: unknown command $command" >&2
    exit 2
    ;;
esac
