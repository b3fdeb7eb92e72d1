#!/usr/bin/env bash
# The list filter as a whole process: `korvashimtale-cli list --filter WORD` against
# `grep -i -F WORD HtmlRequest.log`, both printing the same rows into a file, on a hot page
# cache, side by side in every round. The ratio is our time divided by grep's (goal <= 2).
# grep runs with LC_ALL=C and -a: in a UTF-8 locale it stops printing at the first line that is
# not UTF-8 ("binary file matches"); its rows keep their CR, which ours do not, and are compared
# without it.
#
# usage: bench/list_process_bench.sh BUILD_DIR [ROUNDS]
#   KORVA_BENCH_REQUESTS  rows of the generated request log (default 1000000)
#   KORVA_BENCH_DIR       use the logs in this folder instead of generating them (kept afterwards)
set -euo pipefail
build=$1
rounds=${2:-7}
cli=$build/src/cli/korvashimtale-cli
gen=$build/tools/korvashimtale-gen
[ -x "$cli" ] || { echo "list_process_bench: $cli not built" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/korva-list-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
if [ -n "${KORVA_BENCH_DIR:-}" ]; then
  dir=$KORVA_BENCH_DIR
else
  [ -x "$gen" ] || { echo "list_process_bench: $gen not built" >&2; exit 1; }
  requests=${KORVA_BENCH_REQUESTS:-1000000}
  dir=$work/logs
  mkdir "$dir"
  "$gen" --out "$dir" --requests "$requests" --size $((requests * 300)) >/dev/null
fi
log=$dir/HtmlRequest.log
cat "$log" >/dev/null  # hot cache

seconds() {  # output command...: wall time of one run in seconds, its output into the file
  local out=$1; shift
  local t0=$EPOCHREALTIME
  "$@" >"$out"
  local t1=$EPOCHREALTIME
  echo "$t0 $t1" | awk '{ printf "%.4f", $2 - $1 }'
}

echo "rows in the log: $(tr -cd '\r' <"$log" | wc -c)"
for word in preis kunde; do
  results=()
  for ((i = 1; i <= rounds; i++)); do
    theirs=$(LC_ALL=C seconds "$work/grep.out" grep -a -i -F "$word" "$log")
    ours=$(seconds "$work/cli.out" "$cli" -C "$dir" list --filter "$word")
    results+=("$theirs $ours $(echo "$theirs $ours" | awk '{ printf "%.2f", $2 / $1 }')")
  done
  tr -d '\r' <"$work/grep.out" | cmp -s - "$work/cli.out" ||
    { echo "list_process_bench: rows for \"$word\" differ from grep's" >&2; exit 1; }
  printf '%s\n' "${results[@]}" | sort -k3 -n | awk -v n="$rounds" -v w="$word" \
    -v kept="$(wc -l <"$work/cli.out")" '
    { g[NR] = $1; c[NR] = $2; r[NR] = $3 }
    END {
      m = int((n + 1) / 2)
      printf "list --filter %s (%d rows kept), %d rounds: ratio cli/grep median %.2f (range %.2f-%.2f, goal <= 2); ", w, kept, n, r[m], r[1], r[n]
      printf "median round: grep -i -F %.3f s, cli %.3f s\n", g[m], c[m]
    }'
done
