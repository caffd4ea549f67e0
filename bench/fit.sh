#!/usr/bin/env bash
# Job 8 of make bench: outputs under a file-size limit. The big photos fitted
# to 2048 pixels on the long side as JPEG, once at quality 90 with no limit
# and once under 300 KB (--max-file-size 300K), one thread, the two runs
# taking turns. Prints the median wall times, their ratio (target at most
# 2.5), the encodes a file took on average and what the outputs weigh.
#
#   BUILD  the build folder (default build)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-build}
case $build in /*) ;; *) build=$root/$build ;; esac
rounds=${VELMORA_BENCH_ROUNDS:-3}
batch=$build/cli/velmora-batch
corpus=$("$root/bench/corpus.sh")
big=$corpus/big
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen

common="--jobs 1 --format jpg --quality 90 --resize long --size 2048 --overwrite overwrite --log json"
plain_times=() fit_times=()
for ((r = 0; r < rounds; r++)); do
  for run in plain fit; do
    rm -rf "$work/$run" && mkdir -p "$work/$run"
    extra=$([ $run = fit ] && echo "--max-file-size 300K" || true)
    /usr/bin/time -f "%e" -o "$work/time.txt" $batch $common $extra --out "$work/$run" "$big" >"$work/$run.json" 2>/dev/null ||
      echo "bench: the $run run failed" >&2
    t=$(cat "$work/time.txt")
    if [ $run = plain ]; then plain_times+=("$t"); else fit_times+=("$t"); fi
  done
done
median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }
plain=$(median "${plain_times[@]}")
fit=$(median "${fit_times[@]}")
files=$(ls "$big" | wc -l)
encodes=$(grep -o '"encodes":[0-9]*' "$work/fit.json" | awk -F: '{s += $2; n++} END {printf "%.2f", n ? s / n : 0}')
over=$(find "$work/fit" -type f -size +300000c | wc -l)
printf '%-44s %8s %8s\n' "job 8 JPEG, long side 2048 ($files files)" "wall s" "MB out"
printf '%-44s %8s %8s\n' "quality 90, no limit" "$plain" "$(du -sm "$work/plain" | cut -f1)"
printf '%-44s %8s %8s\n' "--max-file-size 300K (quality 90 down)" "$fit" "$(du -sm "$work/fit" | cut -f1)"
echo "  ratio $(awk -v a="$fit" -v b="$plain" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}') (target <= 2.5);" \
  "$encodes encodes a file on average; $over outputs over 300,000 bytes (must be 0)"
