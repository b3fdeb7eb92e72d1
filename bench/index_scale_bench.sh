#!/usr/bin/env bash
# The index at millions of requests, as whole processes on a hot page cache, each round side by
# side with `wc -l` over the same response log:
#   build   `korvashimtale-cli index` from scratch; ratio wc/build (the share of wc's throughput)
#   reopen  `korvashimtale-cli index` with a current index (load, confirm); ratio reopen/wc
#   lookup  `korvashimtale-cli lookup KEY` (load only); ratio lookup/wc, and its peak RSS per
#           entry beyond the peak of a lookup in an index of one entry
#
# usage: bench/index_scale_bench.sh BUILD_DIR [ROUNDS]
#   KORVA_BENCH_SCALE_MB        size of the generated response log (default 4096)
#   KORVA_BENCH_SCALE_REQUESTS  requests in it (default 6791296, ~630 bytes a block)
#   KORVA_BENCH_DIR             use the pair in this folder instead of generating one
set -euo pipefail
build=$1
rounds=${2:-5}
cli=$build/src/cli/korvashimtale-cli
gen=$build/tools/korvashimtale-gen
[ -x "$cli" ] || { echo "index_scale_bench: $cli not built" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "index_scale_bench: /usr/bin/time (package time) missing" >&2; exit 1; }

small=$(mktemp -d "${TMPDIR:-/tmp}/korva-scale-small-XXXXXX")
cleanup="rm -rf '$small'"
trap 'eval "$cleanup"' EXIT
if [ -n "${KORVA_BENCH_DIR:-}" ]; then
  dir=$KORVA_BENCH_DIR
else
  [ -x "$gen" ] || { echo "index_scale_bench: $gen not built" >&2; exit 1; }
  dir=$(mktemp -d "${TMPDIR:-/tmp}/korva-scale-bench-XXXXXX")
  cleanup+="; rm -rf '$dir'"
  "$gen" --out "$dir" --size "${KORVA_BENCH_SCALE_MB:-4096}M" \
    --requests "${KORVA_BENCH_SCALE_REQUESTS:-6791296}" >/dev/null 2>&1
fi
log=$dir/HtmlResponse.log
idx=$dir/HtmlResponse.idx
"$gen" --out "$small" --requests 1 >/dev/null 2>&1
"$cli" -C "$small" index >/dev/null
key=$(tail -n 1 "$dir/HtmlRequest.log" | head -c 24)

cat "$log" "$dir/HtmlRequest.log" >/dev/null  # hot cache
run() {  # label command...: prints "seconds peak_kib" of one run, its output dropped
  local out
  out=$(mktemp)
  /usr/bin/time -f '%e %M' -o "$out" "$@" >/dev/null
  local t0
  read -r t0 rss <"$out"
  rm -f "$out"
  echo "$t0 $rss"
}
# %e has only centiseconds; wall time is taken by the shell, the peak RSS from time.
timed() {  # command...: "seconds peak_kib"
  local t0=$EPOCHREALTIME r
  r=$(run "$@")
  local t1=$EPOCHREALTIME
  echo "$t0 $t1 ${r#* }" | awk '{ printf "%.4f %d\n", $2 - $1, $3 }'
}

base_rss=$(timed "$cli" -C "$small" lookup x | cut -d' ' -f2)
echo "round  wc -l [s]  build [s] ratio  reopen [s] ratio  lookup [s] ratio  lookup RSS [MB]"
rows=()
for ((i = 1; i <= rounds; i++)); do
  rm -f "$idx"
  wc=$(timed wc -l "$log" | cut -d' ' -f1)
  build=$(timed "$cli" -C "$dir" index | cut -d' ' -f1)
  [ -s "$idx" ] || { echo "index_scale_bench: no index written" >&2; exit 1; }
  reopen=$(timed "$cli" -C "$dir" index | cut -d' ' -f1)
  read -r lookup rss < <(timed "$cli" -C "$dir" lookup "$key")
  row=$(echo "$wc $build $reopen $lookup $rss" |
    awk '{ printf "%.3f %.3f %.2f %.3f %.2f %.3f %.2f %.0f", $1, $2, $1 / $2, $3, $3 / $1, $4, $4 / $1, $5 / 1024 }')
  echo "$row" | awk -v i="$i" '{ printf "%5d %10s %10s %5s %11s %5s %11s %5s %16s\n", i, $1, $2, $3, $4, $5, $6, $7, $8 }'
  rows+=("$row")
done
entries=$(wc -l <"$idx")
median() {  # column: the median of that column over the rounds
  printf '%s\n' "${rows[@]}" | awk -v c="$1" '{ print $c }' | sort -n |
    awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}
peak=$(printf '%s\n' "${rows[@]}" | awk '{ print $8 }' | sort -n | tail -n 1)
echo "entries: $entries; medians over $rounds rounds:"
echo "  build:  wc/build $(median 3) (goal >= 0.5)"
echo "  reopen: reopen/wc $(median 5) (goal <= 0.5)"
echo "  lookup: lookup/wc $(median 7) (goal <= 0.5)"
echo "$peak $base_rss $entries" | awk '{ printf "  lookup peak RSS %.0f MB, %.1f bytes per entry beyond the %.1f MB of a one-entry index (goal <= 64)\n", $1, ($1 * 1024 - $2) * 1024 / $3, $2 / 1024 }'
