#!/usr/bin/env bash
# The live refresh over a big capture, measured from outside the process: the live-refresh
# benchmark runs its window on a private X server while window_ping pings it as a window manager
# does, through the appends, the idle watch and the writer at 100 requests a second.
#
# usage: bench/live_ping_bench.sh BUILD_DIR
#   KORVA_BENCH_LIVE_REQUESTS  requests at the start (default 780000)
set -euo pipefail
build=$1
bench=$(find "$build/bench" -name live_refresh_qtbench -type f -perm -u+x | head -n 1)
ping=$build/bench/window_ping
[ -x "$bench" ] && [ -x "$ping" ] || { echo "live_ping_bench: $bench or $ping not built" >&2; exit 1; }
command -v Xvfb >/dev/null || { echo "live_ping_bench: Xvfb missing" >&2; exit 1; }
display=:$((90 + RANDOM % 400))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
out=$(mktemp)
trap 'kill $xvfb 2>/dev/null; rm -f "$out"' EXIT
sleep 1
export DISPLAY=$display
KORVA_BENCH_LIVE_REQUESTS=${KORVA_BENCH_LIVE_REQUESTS:-780000} KORVA_BENCH_SECONDS=20 \
  QT_QPA_PLATFORM=xcb "$bench" >"$out" 2>/dev/null &
run=$!
# From 2 s after the window shows: the ten single appends, 20 s of idle watching, the writer.
status=0
"$ping" Korvashimtale 45 20 || status=1
wait $run || status=1
grep -E 'capture of|writer at' "$out"
exit $status
