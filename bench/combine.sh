#!/usr/bin/env bash
# One document of many pictures: the big photos (bench/corpus.sh) into one
# PDF with velmora-batch --combine (each JPEG embedded as it is, one thread)
# and with img2pdf, the same files in the same order, taking turns. Prints
# the medians of the rounds, their ratio and the documents' sizes.
#
#   BUILD  the build folder (default build)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-build}
case $build in /*) ;; *) build=$root/$build ;; esac
rounds=${VELMORA_BENCH_ROUNDS:-3}
batch=$build/cli/velmora-batch
big=$("$root/bench/corpus.sh")/big
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen
command -v img2pdf >/dev/null || { echo "combine.sh: img2pdf is missing (scripts/install-deps)" >&2; exit 1; }
mapfile -t files < <(find "$big" -maxdepth 1 -type f | sort)

# Wall seconds of a command writing one document into an empty folder.
timed() {
  rm -rf "$work/out" && mkdir -p "$work/out"
  sync
  /usr/bin/time -f "%e" -o "$work/time.txt" "$@" >/dev/null
  cat "$work/time.txt"
}

ours() { timed "$batch" --jobs 1 --overwrite overwrite --combine "$work/out/v.pdf" "${files[@]}"; }
theirs() { timed img2pdf -o "$work/out/i.pdf" "${files[@]}"; }

v=() i=()
for ((r = 0; r < rounds; r++)); do
  if ((r % 2 == 0)); then
    v+=("$(ours)"); vsize=$(stat -c %s "$work/out/v.pdf")
    i+=("$(theirs)"); isize=$(stat -c %s "$work/out/i.pdf")
  else
    i+=("$(theirs)"); isize=$(stat -c %s "$work/out/i.pdf")
    v+=("$(ours)"); vsize=$(stat -c %s "$work/out/v.pdf")
  fi
done
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
a=$(median "${v[@]}")
b=$(median "${i[@]}")
awk -v a="$a" -v b="$b" -v n="${#files[@]}" -v vs="$vsize" -v is="$isize" 'BEGIN {
  printf "One PDF of %d photos: velmora-batch --combine %.2f s (%d bytes), img2pdf %.2f s (%d bytes): %.2f x\n",
    n, a, vs, b, is, (b > 0 ? a / b : 0) }'
