#!/usr/bin/env bash
# What flushing each output costs: job 4 (small JPEGs to 160 x 120) with
# velmora-batch's flushes, then the same under eatmydata (no flush at all),
# in turn for several rounds, each into an empty folder after a sync.
# Prints each run and the medians; flushed / eatmydata is the cost.
#
#   VELMORA_BENCH_MANY    files (default 100000)
#   VELMORA_BENCH_ROUNDS  pairs (default 3)
#   VELMORA_BENCH_JOBS    velmora-batch --jobs (default 1)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-build}
case $build in /*) ;; *) build=$root/$build ;; esac
batch=$build/cli/velmora-batch
rounds=${VELMORA_BENCH_ROUNDS:-3}
jobs=${VELMORA_BENCH_JOBS:-1}
many=$("$root/bench/many.sh" "${VELMORA_BENCH_MANY:-100000}")
command -v eatmydata >/dev/null || { echo "flush-cost: needs eatmydata" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for ((r = 0; r < rounds; r++)); do
  for way in flushed eatmydata; do
    rm -rf "$work/out" && mkdir "$work/out" && sync
    pre=()
    [ "$way" = eatmydata ] && pre=(eatmydata)
    /usr/bin/time -f "%e %M" -o "$work/time.txt" "${pre[@]}" "$batch" --jobs "$jobs" --format jpg --quality 90 \
      --resize fit --width 160 --height 120 --overwrite overwrite --out "$work/out" "$many" >/dev/null
    read -r wall kb <"$work/time.txt"
    echo "$way $wall $kb" | tee -a "$work/runs.txt" >&2
  done
done
awk -v n="$(ls "$many" | wc -l)" -v jobs="$jobs" '
  { w[$1, ++c[$1]] = $2; k[$1] = $3 > k[$1] ? $3 : k[$1] }
  function median(way,   i, j, t, m) {
    m = c[way]
    for (i = 1; i <= m; i++) for (j = i + 1; j <= m; j++)
      if (w[way, j] < w[way, i]) { t = w[way, i]; w[way, i] = w[way, j]; w[way, j] = t }
    return w[way, int((m + 1) / 2)]
  }
  END {
    f = median("flushed"); e = median("eatmydata")
    printf "%d files, %d job(s), %d pairs, medians: flushed %.1f s (%.0f files/s, peak %.1f MB), eatmydata %.1f s (peak %.1f MB)\n",
           n, jobs, c["flushed"], f, n / f, k["flushed"] / 1024, e, k["eatmydata"] / 1024
    printf "flushed / eatmydata: %.2f  %s\n", f / e, (f / e <= 1.10 ? "within 10 %" : "more than 10 % slower")
  }' "$work/runs.txt"
