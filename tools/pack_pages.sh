#!/usr/bin/env bash
# Packs HTML files into a log pair as the recorder writes it, one request per file, so that real
# pages (the HTML documentation that Debian's packages install, say) can be opened in the viewer:
#   tools/pack_pages.sh OUT_DIR FILE...
# For a minified variant of a page, strip its line ends first (tr -d '\r\n' < page.html > page-min.html).
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 OUT_DIR FILE..." >&2; exit 2; }
out=$1; shift
mkdir -p "$out"
: >"$out/HtmlRequest.log"
: >"$out/HtmlResponse.log"
rm -f "$out/HtmlResponse.idx"
n=0
for file in "$@"; do
  n=$((n + 1))
  key=$(printf '20261201120000%03d-%06d' $((n % 1000)) "$n")
  printf '%s - GET file://%s HTTP/1.1\r\n' "$key" "$file" >>"$out/HtmlRequest.log"
  {
    printf '%s\r\n' "$key"
    cat "$file"
    # The closing line starts a line of its own.
    [ -z "$(tail -c 1 "$file")" ] || printf '\r\n'
    printf '200 %010d B 0001 ms\r\n' "$(stat -c %s "$file")"
    printf -- '-----------------------------------------------\r\n'
  } >>"$out/HtmlResponse.log"
done
echo "$n requests in $out"
