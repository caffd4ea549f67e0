#!/usr/bin/env bash
# Makes job 4's small JPEGs once in the cache folder and prints that folder:
# 64 different 320 x 240 JPEGs (seeded plasma, so the same everywhere),
# copied round to the count (first argument, default 100000).
set -euo pipefail

count=${1:-100000}
cache=${VELMORA_BENCH_CACHE:-$HOME/.cache/velmora-bench}
many=$cache/many-$count
if [ ! -f "$many/.complete" ]; then
  echo "Making $count small JPEGs in $many..." >&2
  chmod -R u+w "$many" 2>/dev/null || true
  rm -rf "$many" && mkdir -p "$many/seed"
  for k in $(seq 0 63); do
    convert -seed "$k" -size 320x240 plasma:fractal -quality 85 "$many/seed/$k.jpg"
  done
  for ((i = 0; i < count; i++)); do
    cp "$many/seed/$((i % 64)).jpg" "$many/$(printf '%07d' "$i").jpg"
  done
  rm -rf "$many/seed"
  chmod a-w "$many"
  touch "$many/.complete"
fi
echo "$many"
