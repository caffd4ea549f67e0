#!/usr/bin/env bash
# Job 6 of make bench: camera RAW. DNGs made once in the cache by the tests'
# own DNG maker (tests/dng_maker.cpp; no camera files come with Debian),
# VELMORA_BENCH_RAW_COUNT (default 8) of 6000 x 4000 with a 1620 x 1080
# preview, then: the listing's thumbnails from the previews (velmora-thumbs)
# and full conversions to JPEG (velmora-batch), one thread and every core.
# Prints files per second, the median of the rounds.
#
#   BUILD  the build folder (default build)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-build}
case $build in /*) ;; *) build=$root/$build ;; esac
rounds=${VELMORA_BENCH_ROUNDS:-3}
count=${VELMORA_BENCH_RAW_COUNT:-8}
cores=$(nproc)
cache=${VELMORA_BENCH_CACHE:-$HOME/.cache/velmora-bench}
raws=$cache/raw-$count
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen

if [ ! -f "$raws/.complete" ]; then
  echo "Making $count DNGs of 6000 x 4000 in $raws..." >&2
  rm -rf "$raws" && mkdir -p "$raws"
  cat >"$work/make.cpp" <<'CPP'
#include "tests/dng_maker.h"
#include <string>
int main(int argc, char **argv)
{
    for (int i = 0; i < std::stoi(argv[2]); ++i) {
        testsupport::DngPlan s{.width = 6000, .height = 4000, .patchColumns = 3 + i % 3,
                               .previewWidth = 1620, .previewHeight = 1080};
        if (!testsupport::WriteDng(std::string(argv[1]) + "/shot-" + std::to_string(i) + ".dng", s))
            return 1;
    }
}
CPP
  g++ -std=c++20 -O2 -I"$root" "$work/make.cpp" "$root/tests/dng_maker.cpp" -o "$work/make" -ltiff -lexiv2
  "$work/make" "$raws" "$count"
  touch "$raws/.complete"
fi

# Median wall time of the rounds of one command into an empty folder.
median_wall() {
  local times=()
  for ((r = 0; r < rounds; r++)); do
    rm -rf "$work/out" && mkdir -p "$work/out"
    /usr/bin/time -f "%e" -o "$work/time.txt" bash -c "$1" >/dev/null 2>&1 ||
      echo "bench: failed: $1" >&2
    times+=("$(cat "$work/time.txt")")
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((rounds + 1) / 2))p"
}

printf '%-32s %7s %8s %10s\n' "job 6 camera RAW ($count DNGs)" threads "wall s" "files/s"
for t in 1 "$cores"; do
  for job in thumbs convert; do
    case $job in
      thumbs) cmd="$build/bench/velmora-thumbs --jobs $t --out $work/out $raws" ;;
      convert) cmd="$build/cli/velmora-batch --jobs $t --format jpg --quality 90 --overwrite overwrite --out $work/out $raws" ;;
    esac
    wall=$(OMP_NUM_THREADS=$t median_wall "$cmd")
    label=$([ "$job" = thumbs ] && echo "thumbnails from the previews" || echo "developed to JPEG, full size")
    printf '%-32s %7s %8s %10s\n' "$label" "$t" "$wall" "$(awk -v n="$count" -v w="$wall" 'BEGIN {printf "%.2f", (w > 0 ? n / w : 0)}')"
  done
done
