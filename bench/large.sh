#!/usr/bin/env bash
# Job 11 of make bench: large pictures, one thread, against libvips, the two
# taking turns. Two baseline JPEGs made once in the cache from a photo of the
# corpus, enlarged with vips (so they hold a photo's detail, not flat
# colour): 16,000 x 9,000 (144 megapixels) and 40,000 x 22,500 (900).
#   144 MP to PNG at full size, and fitted inside 2,000 x 2,000 as JPEG;
#   900 MP to TIFF and to JPEG at full size, and turned a quarter to JPEG
#   (through the tiles of a temporary file: not a target, for its measure),
#   and turned losslessly against jpegtran (its coefficients on disk).
# Prints the median wall seconds and the peak resident memory of each, and
# their ratios to vips'. A run that fails prints its reason instead.
#
#   BUILD  the build folder (default build)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-build}
case $build in /*) ;; *) build=$root/$build ;; esac
rounds=${VELMORA_BENCH_ROUNDS:-3}
batch=$build/cli/velmora-batch
cache=${VELMORA_BENCH_CACHE:-$HOME/.cache/velmora-bench}
big=$("$root/bench/corpus.sh")/big
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen VIPS_CONCURRENCY=1
command -v vips >/dev/null || { echo "large.sh: vips is missing (VELMORA_WITH_TOOLS=1 scripts/install-deps)" >&2; exit 1; }

# The pictures, made once: a landscape photo of the corpus enlarged.
mkdir -p "$cache/large"
photo=$(ls "$big"/*5120x2880* 2>/dev/null | sort | tail -1)
[ -n "$photo" ] || { echo "large.sh: no 5120 x 2880 photo in the corpus" >&2; exit 1; }
make_large() { # NAME SCALE
  local out=$cache/large/$1.jpg
  if [ ! -s "$out" ]; then
    echo "Making $1.jpg..." >&2
    vips resize "$photo" "$out.tmp.jpg[Q=90,strip]" "$2" && mv "$out.tmp.jpg" "$out"
  fi
  echo "$out"
}
mp144=$(make_large large-144mp 3.125)
mp900=$(make_large large-900mp 7.8125)

# "SECONDS KB" of one command writing into an empty folder, its outputs
# flushed first; "fail" when it exits with an error.
timed() {
  rm -rf "$work/out" && mkdir -p "$work/out"
  sync
  if /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" >/dev/null 2>"$work/err.txt"; then
    cat "$work/time.txt"
  else
    echo "fail $(grep -v '^$' "$work/err.txt" | tail -1 | sed 's/.*: //' | cut -c1-60)"
  fi
}
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

# One line: ours and vips' (or another yardstick's) medians of time and of
# peak memory.
compare() { # LABEL "OURS ARGS" "THEIR COMMAND" [THEIR NAME]
  local label=$1 ours=$2 theirs=$3 name=${4:-vips} a=() b=() am=() bm=() r line
  for ((r = 0; r < rounds; r++)); do
    for who in ours theirs; do
      if [ $who = ours ]; then
        # shellcheck disable=SC2086
        line=$(timed "$batch" --jobs 1 --overwrite overwrite --out "$work/out" $ours)
      else
        line=$(timed bash -c "$theirs")
      fi
      if [ "${line%% *}" = fail ]; then
        printf '%-40s %s: %s\n' "$label" "$who" "${line#fail }"
        return 0
      fi
      if [ $who = ours ]; then a+=("${line% *}"); am+=("${line#* }"); else b+=("${line% *}"); bm+=("${line#* }"); fi
    done
  done
  awk -v l="$label" -v a="$(median "${a[@]}")" -v b="$(median "${b[@]}")" -v n="$name" \
    -v am="$(median "${am[@]}")" -v bm="$(median "${bm[@]}")" 'BEGIN {
    printf "%-40s velmora %6.2f s %6.0f MB, %s %6.2f s %6.0f MB: time %.2f x, peak %.2f x\n",
      l, a, am / 1024, n, b, bm / 1024, (b > 0 ? a / b : 0), (bm > 0 ? am / bm : 0) }'
}

echo "Large pictures (one thread, against vips; targets: 900 MP time 1 x, peak 1.5 x; 144 MP to PNG peak 128 MB):"
compare "144 MP JPEG to PNG, full size" "--format png $mp144" "vips copy '$mp144' '$work/out/a.png'"
compare "144 MP JPEG fitted to 2000 x 2000" "--format jpg --quality 90 --resize fit --width 2000 --height 2000 $mp144" \
  "vipsthumbnail '$mp144' -s 2000x2000 -o '$work/out/%s.jpg[Q=90]'"
compare "900 MP JPEG to TIFF (Deflate), full size" "--format tif --tif-compression deflate $mp900" \
  "vips copy '$mp900' '$work/out/a.tif[compression=deflate]'"
# vips picks 4:4:4 at quality 90 and above: both are asked for 4:2:0.
compare "900 MP JPEG to JPEG, full size" "--format jpg --quality 90 --jpeg-subsampling 420 $mp900" \
  "vips copy '$mp900' '$work/out/a.jpg[Q=90,subsample-mode=on]'"
compare "900 MP JPEG turned a quarter, to JPEG" \
  "--rotate 90 --lossless off --format jpg --quality 90 --jpeg-subsampling 420 $mp900" \
  "vips rot '$mp900' '$work/out/a.jpg[Q=90,subsample-mode=on]' d90"
# Turned on its coefficients (the default for a JPEG only turned), against
# jpegtran, which holds them all in memory; the same bytes.
if command -v jpegtran >/dev/null; then
  compare "900 MP JPEG turned losslessly" "--rotate -90 $mp900" \
    "jpegtran -copy none -perfect -rotate 270 -outfile '$work/out/a.jpg' '$mp900'" jpegtran
fi
