#!/usr/bin/env bash
# Job 10 of make bench: documents and drawings. Twenty drawings made here
# (paths, gradients, transparency; no text, so no font decides the time)
# rendered to PNG against rsvg-convert (one process a file, as it takes one
# output), the same drawings as a 20-page PDF against pdftoppm at the same
# DPI, one thread each, taking turns. Prints the medians and pages per second.
#
#   BUILD  the build folder (default build)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-build}
case $build in /*) ;; *) build=$root/$build ;; esac
rounds=${VELMORA_BENCH_ROUNDS:-3}
batch=$build/cli/velmora-batch
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen
for tool in rsvg-convert pdftoppm; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (VELMORA_WITH_TOOLS=1 scripts/install-deps)" >&2; exit 1; }
done

mkdir -p "$work/svg"
for ((d = 1; d <= 20; d++)); do
  awk -v seed="$d" 'BEGIN {
    srand(seed)
    print "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"800\" height=\"600\" viewBox=\"0 0 800 600\">"
    print "<defs><linearGradient id=\"g\" x1=\"0\" y1=\"0\" x2=\"1\" y2=\"1\"><stop offset=\"0\" stop-color=\"#1d4e89\"/><stop offset=\"1\" stop-color=\"#f2a541\"/></linearGradient></defs>"
    print "<rect width=\"800\" height=\"600\" fill=\"url(#g)\"/>"
    for (i = 0; i < 400; i++) {
      x = int(rand() * 800); y = int(rand() * 600)
      printf "<path d=\"M%d %d C%d %d %d %d %d %dZ\" fill=\"#%06x\" fill-opacity=\"0.%d\" stroke=\"#202020\" stroke-width=\"%.1f\"/>\n",
        x, y, x + int(rand() * 200) - 100, y - 80, x + 90, y + int(rand() * 160) - 80, x + int(rand() * 120), y + 60,
        int(rand() * 16777215), 3 + int(rand() * 6), rand() * 2
    }
    print "</svg>"
  }' >"$work/svg/$(printf 'drawing-%02d.svg' "$d")"
done
rsvg-convert -f pdf -o "$work/drawings.pdf" "$work"/svg/*.svg
pages=20
dpi=150

timed() {
  rm -rf "$work/out" && mkdir -p "$work/out"
  sync
  /usr/bin/time -f "%e" -o "$work/time.txt" "$@" >/dev/null 2>&1
  cat "$work/time.txt"
}
ours_pdf() { timed "$batch" --jobs 1 --format png --render-dpi "$dpi" --overwrite overwrite --out "$work/out" "$work/drawings.pdf"; }
peer_pdf() { timed pdftoppm -r "$dpi" -png "$work/drawings.pdf" "$work/out/page"; }
ours_svg() { timed "$batch" --jobs 1 --format png --overwrite overwrite --out "$work/out" "$work/svg"; }
peer_svg() { timed sh -c 'for f in "$1"/svg/*.svg; do rsvg-convert -o "$1/out/$(basename "$f" .svg).png" "$f"; done' sh "$work"; }

median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
pair() {
  local a=() b=() r
  for ((r = 0; r < rounds; r++)); do
    if ((r % 2 == 0)); then a+=("$($1)"); b+=("$($2)"); else b+=("$($2)"); a+=("$($1)"); fi
  done
  echo "$(median "${a[@]}") $(median "${b[@]}")"
}
read -r a b < <(pair ours_pdf peer_pdf)
awk -v a="$a" -v b="$b" -v n="$pages" -v d="$dpi" 'BEGIN {
  printf "PDF pages to PNG at %d dpi (%d vector pages, one thread): %.1f pages/s, pdftoppm %.1f pages/s: %.2f x its speed, target 1 %s\n",
    d, n, n / a, n / b, b / a, (b / a >= 1 ? "holds" : "MISSED") }'
read -r a b < <(pair ours_svg peer_svg)
awk -v a="$a" -v b="$b" -v n="$pages" 'BEGIN {
  printf "SVG drawings to PNG at their size (%d drawings of 800 x 600): %.2f s, rsvg-convert %.2f s (one process a file): %.2f x its time\n",
    n, a, b, a / b }'
