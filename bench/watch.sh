#!/usr/bin/env bash
# Latency of velmora-batch --watch: from the close of a file written into the
# watched folder to its output being in place, over N files (default 20)
# dropped one at a time. Prints each latency and the median; the aim is at
# most 1 s.
#   bench/watch.sh [BUILD_DIR] [N]
set -euo pipefail

build=${1:-build}
count=${2:-20}
batch=$build/cli/velmora-batch
work=$(mktemp -d)
trap 'kill -TERM "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/in" "$work/out"
convert -seed 1 -size 1600x1200 plasma:fractal -quality 90 "$work/photo.jpg"

XDG_STATE_HOME=$work/state XDG_DATA_HOME=$work/data \
  "$batch" --watch "$work/in" --out "$work/out" --format webp --ext-case lower --resize fit --width 800 --height 600 \
  >/dev/null 2>&1 &
pid=$!
sleep 1

now() { date +%s.%N; }
latencies=()
for ((i = 0; i < count; i++)); do
  # cp closes the file as it ends: the clock starts there.
  cp "$work/photo.jpg" "$work/in/p$i.jpg"
  closed=$(now)
  for ((t = 0; t < 2000; t++)); do [ -e "$work/out/p$i.webp" ] && break; sleep 0.005; done
  latencies+=("$(echo "$(now) - $closed" | bc -l)")
  printf 'p%d: %.3f s\n' "$i" "${latencies[-1]}"
done
printf '%s\n' "${latencies[@]}" | sort -g | awk '{ v[NR] = $1 } END {
  m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
  printf "median latency from close to output: %.3f s (%d files; aim: at most 1 s)\n", m, NR }'
