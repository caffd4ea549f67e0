#!/usr/bin/env bash
# Job 9 of make bench: the tone steps. The big photos (bench/corpus.sh) to
# JPEG at quality 90, one job (--jobs 1), without and with auto-levels, brightness and
# contrast 10, gamma 1.2 and saturation 20, taking turns: at full size (a
# subsampling named, so the photos are encoded again, not copied) and fitted
# to a long edge of 1920 pixels. Prints the medians of the rounds and what
# the steps add (target: at most 10 % of the run without them).
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
tone=(--auto-levels --brightness 10 --contrast 10 --gamma 1.2 --saturation 20)

if ! grep -q -- --auto-levels <<<"$("$batch" --help 2>&1)"; then
  echo "bench: this velmora-batch has no tone options (--auto-levels ...)" >&2
  exit 1
fi

# Wall seconds of a run into an empty folder, what it wrote flushed first.
timed() {
  rm -rf "$work/out" && mkdir -p "$work/out"
  sync
  /usr/bin/time -f "%e" -o "$work/time.txt" "$batch" --jobs 1 --format jpg --quality 90 \
    --overwrite overwrite "$@" --out "$work/out" "$big" >/dev/null
  cat "$work/time.txt"
}
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

for run in "--jpeg-subsampling 420" "--resize long --size 1920"; do
  read -r -a way <<<"$run"
  plain=() toned=()
  for ((r = 0; r < rounds; r++)); do
    if ((r % 2 == 0)); then
      plain+=("$(timed "${way[@]}")")
      toned+=("$(timed "${way[@]}" "${tone[@]}")")
    else
      toned+=("$(timed "${way[@]}" "${tone[@]}")")
      plain+=("$(timed "${way[@]}")")
    fi
  done
  a=$(median "${plain[@]}")
  b=$(median "${toned[@]}")
  awk -v a="$a" -v b="$b" -v n="$(ls "$big" | wc -l)" -v t="${tone[*]}" -v run="$run" 'BEGIN {
    printf "Tone steps (%s; JPEG quality 90, %s, one job) on %d photos: without %.2f s, with %.2f s: +%.1f %%, target 10 %% %s\n",
      t, run, n, a, b, 100 * (b - a) / a, ((b - a) / a <= 0.10 ? "holds" : "MISSED") }'
done
