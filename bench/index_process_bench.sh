#!/usr/bin/env bash
# The first index build as a user waits for it: `korvashimtale-cli index` from scratch as a whole
# process (start-up, build, atomic save with fsync), against `wc -l` over the same response log,
# both on a hot page cache, side by side in every round. The ratio is wc's time divided by ours:
# the share of the machine's plain read-and-count throughput that the build reaches.
#
# usage: bench/index_process_bench.sh BUILD_DIR [ROUNDS]
#   KORVA_BENCH_LOG_MB   size of the generated response log (default 1024, ~5 KiB per block)
#   KORVA_BENCH_DIR      use the pair in this folder instead of generating one (kept afterwards)
set -euo pipefail
build=$1
rounds=${2:-7}
cli=$build/src/cli/korvashimtale-cli
gen=$build/tools/korvashimtale-gen
[ -x "$cli" ] || { echo "index_process_bench: $cli not built" >&2; exit 1; }

if [ -n "${KORVA_BENCH_DIR:-}" ]; then
  dir=$KORVA_BENCH_DIR
else
  [ -x "$gen" ] || { echo "index_process_bench: $gen not built" >&2; exit 1; }
  megabytes=${KORVA_BENCH_LOG_MB:-1024}
  dir=$(mktemp -d "${TMPDIR:-/tmp}/korva-process-bench-XXXXXX")
  trap 'rm -rf "$dir"' EXIT
  "$gen" --out "$dir" --size "${megabytes}M" --requests $((megabytes * 1048576 / 5400)) >/dev/null
fi
log=$dir/HtmlResponse.log
idx=$dir/HtmlResponse.idx

cat "$log" "$dir/HtmlRequest.log" >/dev/null  # hot cache
seconds() {  # command...: wall time of one run in seconds, its output dropped
  local t0=$EPOCHREALTIME
  "$@" >/dev/null
  local t1=$EPOCHREALTIME
  echo "$t0 $t1" | awk '{ printf "%.4f", $2 - $1 }'
}

echo "round   wc -l [s]   cli index [s]   ratio"
results=()
for ((i = 1; i <= rounds; i++)); do
  rm -f "$idx"
  wc=$(seconds wc -l "$log")
  ours=$(seconds "$cli" -C "$dir" index)
  [ -s "$idx" ] || { echo "index_process_bench: no index written" >&2; exit 1; }
  ratio=$(echo "$wc $ours" | awk '{ printf "%.2f", $1 / $2 }')
  printf '%5d %11s %15s %7s\n' "$i" "$wc" "$ours" "$ratio"
  results+=("$wc $ours $ratio")
done
printf '%s\n' "${results[@]}" | sort -k3 -n | awk -v n="$rounds" '
  { wc[NR] = $1; ours[NR] = $2; r[NR] = $3 }
  END {
    m = int((n + 1) / 2)
    printf "whole process, %d rounds: ratio wc/cli median %.2f (range %.2f-%.2f); ", n, r[m], r[1], r[n]
    printf "median round: wc -l %.3f s, cli index %.3f s\n", wc[m], ours[m]
  }'
entries=$(wc -l <"$idx")
echo "entries in the index: $entries"
