#!/usr/bin/env bash
# Job 7 of make bench: several sizes from one decode. The big photos
# (bench/corpus.sh) to JPEG at 320, 768, 1024 and 2048 pixels wide, once with
# --sizes and once as four runs with one --resize each, taking turns, one
# job (--jobs 1). Prints the medians of the rounds and their ratios, in wall
# time (target: --sizes at most 0.5 of the four runs) and in CPU time.
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
widths=(320 768 1024 2048)

# Wall and CPU seconds (user and system) of a command run in an empty
# folder, what it wrote flushed first.
timed() {
  rm -rf "$work/out" && mkdir -p "$work/out"
  sync
  /usr/bin/time -f "%e %U %S" -o "$work/time.txt" "$@" >/dev/null
  awk '{print $1, $2 + $3}' "$work/time.txt"
}

sizes() {
  timed "$batch" --jobs 1 --format jpg --quality 90 --overwrite overwrite \
    --sizes "$(IFS=,; echo "${widths[*]/%/w}")" --out "$work/out" "$big"
}

separate() {
  local wall=0 cpu=0 t
  for w in "${widths[@]}"; do
    t=$(timed "$batch" --jobs 1 --format jpg --quality 90 --overwrite overwrite \
      --resize width --width "$w" --out "$work/out" "$big")
    read -r wall cpu < <(awk -v a="$wall" -v b="$cpu" -v t="$t" 'BEGIN {split(t, x, " "); print a + x[1], b + x[2]}')
  done
  echo "$wall $cpu"
}

one=() four=() oneCpu=() fourCpu=()
for ((r = 0; r < rounds; r++)); do
  for side in $( ((r % 2 == 0)) && echo "one four" || echo "four one"); do
    if [[ $side == one ]]; then
      read -r wall cpu < <(sizes)
      one+=("$wall") oneCpu+=("$cpu")
    else
      read -r wall cpu < <(separate)
      four+=("$wall") fourCpu+=("$cpu")
    fi
  done
done
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
a=$(median "${one[@]}")
b=$(median "${four[@]}")
c=$(median "${oneCpu[@]}")
d=$(median "${fourCpu[@]}")
# The target is the time waited; the work done (CPU time), which is what
# several jobs at once share, is shown beside it.
awk -v a="$a" -v b="$b" -v c="$c" -v d="$d" -v n="$(ls "$big" | wc -l)" -v w="${widths[*]}" 'BEGIN {
  printf "Several sizes (%s wide, JPEG quality 90, one job) of %d photos: --sizes %.2f s, four --resize runs %.2f s: %.2f x, target 0.5 %s (CPU time %.2f s against %.2f s: %.2f x)\n",
    w, n, a, b, a / b, (a / b <= 0.5 ? "holds" : "MISSED"), c, d, c / d }'
