#!/usr/bin/env bash
# Runs every benchmark of a release build and prints their figures; called by ./dev bench.
# usage: bench/run_all.sh BUILD_DIR [NAME_FILTER]
#   KORVA_BENCH_LOG_MB, KORVA_BENCH_REQUESTS and KORVA_BENCH_BODY_MB shrink the generated logs.
set -uo pipefail
build=$1
filter=${2:-}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
status=0
for program in index_bench retrieval_bench filters_bench decode_bench html_format_bench search_bench find_bench rows_bench layout_bench diff_bench \
               text_box_qtbench rendered_view_qtbench window_qtbench compare_qtbench live_refresh_qtbench; do
  [ -n "$filter" ] && [[ $program != *$filter* ]] && continue
  path=$(find "$build/bench" -name "$program" -type f -perm -u+x | head -n 1)
  if [ -z "$path" ]; then
    echo "== $program: not built" >&2
    continue
  fi
  echo "== $program"
  # The web engine prints its start-up details on stderr; keep only what the benchmark says.
  "$path" 2> >(grep -v -E '^ |^$|GL|Surface|QSG|Using|Init|Sandbox|webenginecontext|propagateSizeHints|graphics backend|XDG_RUNTIME' >&2) || status=1
done
# The live refresh once more over a capture of the size users have (a few minutes).
if [ -z "$filter" ] || [[ live_refresh_big == *$filter* ]]; then
  echo "== live_refresh_qtbench, 780,000 requests"
  path=$(find "$build/bench" -name live_refresh_qtbench -type f -perm -u+x | head -n 1)
  KORVA_BENCH_LIVE_REQUESTS=${KORVA_BENCH_LIVE_REQUESTS:-780000} KORVA_BENCH_SECONDS=${KORVA_BENCH_SECONDS:-20} \
    "$path" 2> >(grep -v -E '^ |^$|GL|Surface|QSG|Using|Init|Sandbox|webenginecontext|propagateSizeHints|graphics backend|XDG_RUNTIME' >&2) || status=1
fi
# The same from outside the process: the window pinged as a window manager does.
if [ -z "$filter" ] || [[ live_ping == *$filter* ]]; then
  echo "== live_ping_bench, 780,000 requests"
  "$(dirname "$0")/live_ping_bench.sh" "$build" || status=1
fi
# The window at ten million requests: start-up, memory, F5 and the word filter.
if [ -z "$filter" ] || [[ window_scale == *$filter* ]]; then
  echo "== window_qtbench --scale, 10,000,000 requests"
  path=$(find "$build/bench" -name window_qtbench -type f -perm -u+x | head -n 1)
  "$path" --scale 2> >(grep -v -E '^ |^$|GL|Surface|QSG|Using|Init|Sandbox|webenginecontext|propagateSizeHints|graphics backend|XDG_RUNTIME' >&2) || status=1
fi
# The first index build as whole processes against wc -l over the same log.
if [ -z "$filter" ] || [[ index_process == *$filter* ]]; then
  echo "== index_process_bench"
  "$(dirname "$0")/index_process_bench.sh" "$build" || status=1
fi
# The same at 6.8 million requests (a 4 GiB log): build, reopen, lookup and the lookup's memory.
if [ -z "$filter" ] || [[ index_scale == *$filter* ]]; then
  echo "== index_scale_bench"
  "$(dirname "$0")/index_scale_bench.sh" "$build" || status=1
fi
# The list filter as whole processes against grep over the same request log.
if [ -z "$filter" ] || [[ list_process == *$filter* ]]; then
  echo "== list_process_bench"
  "$(dirname "$0")/list_process_bench.sh" "$build" || status=1
fi
exit $status
