#!/usr/bin/env bash
# make bench: Velmora against ImageMagick, GraphicsMagick and libvips on real
# photos (bench/corpus.sh), each job run on the same files into an empty
# folder, the programs taking turns, several rounds. Prints one table of
# medians (wall time, CPU time, peak memory of the median run) with ratios,
# then the quality of job 1 per file.
#
#   VELMORA_BENCH_ROUNDS  rounds per measurement (default 3)
#   VELMORA_BENCH_CACHE   cache folder (default ~/.cache/velmora-bench)
#   VELMORA_BENCH_MANY    small JPEGs in job 4 (default 100000; 0 leaves it out)
#   VELMORA_BENCH_MANY_PEERS    programs job 4 is run against (default "magick vips")
#   VELMORA_BENCH_AVIF_QUALITY  quality of job 5's AVIF outputs (default 60)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-build}
case $build in /*) ;; *) build=$root/$build ;; esac
rounds=${VELMORA_BENCH_ROUNDS:-3}
cores=$(nproc)
batch=$build/cli/velmora-batch
thumbs=$build/bench/velmora-thumbs
viewer_bench=$build/bench/velmora-viewer-bench
cache=${VELMORA_BENCH_CACHE:-$HOME/.cache/velmora-bench}
corpus=$("$root/bench/corpus.sh")
work=$(mktemp -d)
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
results=$work/results.txt
: >"$results"
export QT_QPA_PLATFORM=offscreen MAGICK_TEMPORARY_PATH=$work GM_TEMPORARY_PATH=$work

many_count=${VELMORA_BENCH_MANY:-100000}
avif_q=${VELMORA_BENCH_AVIF_QUALITY:-60}
many=
[ "$many_count" -gt 0 ] && many=$("$root/bench/many.sh" "$many_count")

big=$corpus/big
png=$corpus/png
all=$corpus/all
echo "Corpus: $(ls "$big" | wc -l) JPEGs 2560 px wide or more; $(ls "$png" | wc -l) PNGs;" \
  "$(ls "$all" | wc -l) JPEGs and PNGs in all. $rounds rounds, $cores cores." >&2

# Command line of one program for one job, into folder $out with $t threads
# (gm mogrify puts the input path as given under its output folder).
command_for() {
  local job=$1 prog=$2 t=$3 out=$4
  case $job/$prog in
    fit/velmora) echo "$batch --jobs $t --format jpg --quality 95 --resize fit --width 800 --height 600 --overwrite overwrite --out $out $big" ;;
    fit/magick) echo "mogrify -path $out -resize 800x600 -quality 95 $big/*" ;;
    fit/gm) echo "cd $big && gm mogrify -output-directory $out -resize 800x600 -quality 95 *" ;;
    fit/vips) echo "vipsthumbnail -s 800x600 -o '$out/%s.jpg[Q=95]' $big/*" ;;
    png/velmora) echo "$batch --jobs $t --format jpg --quality 90 --overwrite overwrite --out $out $png" ;;
    png/magick) echo "mogrify -path $out -format jpg -quality 90 $png/*" ;;
    png/gm) echo "cd $png && gm mogrify -output-directory $out -format jpg -quality 90 *" ;;
    png/vips) echo "vipsthumbnail -s '100000x100000>' -o '$out/%s.jpg[Q=90]' $png/*" ;;
    webp/velmora) echo "$batch --jobs $t --format webp --quality 80 --overwrite overwrite --out $out $big" ;;
    webp/magick) echo "mogrify -path $out -format webp -quality 80 $big/*" ;;
    webp/vips) echo "vipsthumbnail -s '100000x100000>' -o '$out/%s.webp[Q=80]' $big/*" ;;
    avif/velmora) echo "$batch --jobs $t --format avif --quality $avif_q --overwrite overwrite --out $out $big" ;;
    avif/velmora-s7) echo "$batch --jobs $t --format avif --quality $avif_q --avif-speed 7 --overwrite overwrite --out $out $big" ;;
    avif/magick) echo "mogrify -path $out -format avif -quality $avif_q $big/*" ;;
    avif/vips) echo "vipsthumbnail -s '100000x100000>' -o '$out/%s.avif[Q=$avif_q]' $big/*" ;;
    thumb/velmora) echo "$thumbs --jobs $t --out $out $all" ;;
    thumb/vips) echo "vipsthumbnail -s 96x72 -o '$out/tn_%s.jpg' $all/*" ;;
    # Too many names for one command line: the programs expand the pattern
    # themselves, or xargs splits the list.
    many/velmora) echo "$batch --jobs $t --format jpg --quality 90 --resize fit --width 160 --height 120 --overwrite overwrite --out $out $many" ;;
    many/velmora-nosync) echo "eatmydata $batch --jobs $t --format jpg --quality 90 --resize fit --width 160 --height 120 --overwrite overwrite --out $out $many" ;;
    many/magick) echo "mogrify -path $out -resize 160x120 -quality 90 '$many/*.jpg'" ;;
    many/vips) echo "find $many -name '*.jpg' -print0 | xargs -0 -P $t -n 1000 vipsthumbnail -s 160x120 -o '$out/%s.jpg[Q=90]'" ;;
  esac
}

# Runs one measurement; appends "job threads prog round wall cpu kb bytes",
# bytes being the size of everything written.
measure() {
  local job=$1 prog=$2 t=$3 round=$4
  local out=$work/out-$job-$prog-$t
  rm -rf "$out" && mkdir -p "$out"
  local cmd
  cmd=$(command_for "$job" "$prog" "$t" "$out")
  # What the program before wrote is on the disk first: a program that
  # flushes would otherwise also wait for another's writes.
  sync
  OMP_NUM_THREADS=$t MAGICK_THREAD_LIMIT=$t VIPS_CONCURRENCY=$t \
    /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" \
    bash -c "cd '$out' && $cmd" >/dev/null 2>"$work/stderr.txt" ||
    { echo "bench: $prog failed on job $job:" >&2; grep -v WARNING "$work/stderr.txt" | head -5 >&2; }
  read -r wall user sys kb <"$work/time.txt"
  local bytes
  bytes=$(du -sb --apparent-size "$out" | cut -f1)
  echo "$job $t $prog $round $wall $(echo "$user $sys" | awk '{print $1 + $2}') $kb $bytes" >>"$results"
  local n
  n=$(ls "$out" | wc -l)
  [ "$n" -gt 0 ] || echo "bench: $prog wrote nothing on job $job" >&2
}

run_job() {
  local job=$1 t=$2
  shift 2
  local progs=("$@") n=${#@}
  for ((r = 0; r < rounds; r++)); do
    for ((k = 0; k < n; k++)); do
      measure "$job" "${progs[$(((k + r) % n))]}" "$t" "$r"
    done
  done
}

echo "Job 1 (fit 800x600, quality 95)..." >&2
run_job fit 1 velmora magick gm vips
# Keep the single-threaded outputs for the quality check.
for p in velmora magick gm vips; do cp -r "$work/out-fit-$p-1" "$work/keep-$p"; done
run_job fit "$cores" velmora magick gm vips
echo "Job 2 (PNG to JPEG, full size)..." >&2
run_job png 1 velmora magick gm vips
run_job png "$cores" velmora magick gm vips
echo "Job 3 (96x72 thumbnails)..." >&2
run_job thumb 1 velmora vips
run_job thumb "$cores" velmora vips
echo "Job 5 (full-size photos to WebP quality 80 and to AVIF quality $avif_q)..." >&2
run_job webp 1 velmora magick vips
run_job avif 1 velmora velmora-s7 magick vips
if [ "$many_count" -gt 0 ]; then
  echo "Job 4 ($many_count small JPEGs, fit 160x120)..." >&2
  # Long: one round unless asked for more.
  rounds_all=$rounds
  rounds=${VELMORA_BENCH_MANY_ROUNDS:-1}
  read -r -a many_peers <<<"${VELMORA_BENCH_MANY_PEERS:-magick vips}"
  run_job many 1 velmora velmora-nosync "${many_peers[@]}"
  run_job many "$cores" velmora velmora-nosync "${many_peers[@]}"
  rounds=$rounds_all
fi

"$root/bench/table.sh" "$results" "$cores" "$many_count"

# Quality: PSNR of each output against ImageMagick's Lanczos resize of the
# full-size decode to that output's exact size.
echo
echo "Job 1 quality: PSNR in dB against a Lanczos reference at each output's size"
refs=$cache/refs
mkdir -p "$refs"
printf '%-30s %9s %9s %9s %9s %9s\n' file velmora magick gm vips "vel-vips"
worst=
for src in "$big"/*; do
  name=$(basename "$src")
  stem=${name%.*}
  line=$(printf '%-30s' "$name")
  declare -A psnr=()
  for p in velmora magick gm vips; do
    o=$(ls "$work/keep-$p/$stem".* 2>/dev/null | head -1)
    if [ -z "$o" ]; then
      psnr[$p]=nan
    else
      size=$(identify -format '%wx%h' "$o")
      ref=$refs/$stem-$size.png
      [ -f "$ref" ] || convert "$src" -filter Lanczos -resize "$size!" "$ref"
      # compare exits 1 when the pictures differ, which they do.
      psnr[$p]=$( (compare -metric PSNR "$o" "$ref" null: 2>&1 || true) | awk '{printf "%.2f", $1}')
    fi
    line+=$(printf ' %9s' "${psnr[$p]}")
  done
  delta=$(awk -v a="${psnr[velmora]}" -v b="${psnr[vips]}" 'BEGIN {printf "%+.2f", a - b}')
  echo "$line $(printf '%9s' "$delta")"
  worst=$(awk -v w="${worst:-99}" -v d="$delta" 'BEGIN {print (d < w ? d : w)}')
  unset psnr
done
echo
awk -v w="$worst" 'BEGIN {printf "Quality target (every file at most 0.5 dB below vipsthumbnail): worst %+.2f dB, %s\n", w, (w >= -0.5 ? "holds" : "MISSED")}'

# Camera RAW: thumbnails from the previews and full conversions.
echo
BUILD=$build "$root/bench/raw.sh" || echo "bench: the camera RAW figures could not be taken" >&2

# Several sizes from one decode against a run per size.
echo
BUILD=$build "$root/bench/sizes.sh" || echo "bench: the several sizes' figures could not be taken" >&2

# Outputs under a file-size limit.
echo
BUILD=$build "$root/bench/fit.sh" || echo "bench: the file-size limit figures could not be taken" >&2

# The tone steps against a plain run.
echo
BUILD=$build "$root/bench/tone.sh" || echo "bench: the tone steps' figures could not be taken" >&2

# Documents and drawings against pdftoppm and rsvg-convert, and pictures into
# one PDF against img2pdf.
echo
BUILD=$build "$root/bench/documents.sh" || echo "bench: the documents' figures could not be taken" >&2
echo
BUILD=$build "$root/bench/combine.sh" || echo "bench: the one-document figures could not be taken" >&2

# Large pictures at full size and fitted, against vips.
echo
BUILD=$build "$root/bench/large.sh" || echo "bench: the large pictures' figures could not be taken" >&2

# The viewer on the largest photos, on a full-HD screen of Xvfb's.
echo
mapfile -t largest < <(ls -S "$big"/* | head -6)
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1920x1080x24" \
  "$viewer_bench" --rounds "$rounds" "${largest[@]}" 2>/dev/null ||
  echo "bench: the viewer's figures could not be taken" >&2

# The folder listing on 500 photos (the corpus's JPEGs copied round, dated an
# hour back so the first visit may cache them), listed twice: the second
# visit's cards come from the thumbnail cache.
echo
listing=$work/listing
mkdir -p "$listing"
mapfile -t photos < <(find "$all" -name '*.jpg' | sort)
for ((i = 0; i < 500 && ${#photos[@]} > 0; i++)); do
  cp "${photos[$((i % ${#photos[@]}))]}" "$listing/$(printf 'photo-%03d.jpg' "$i")"
done
touch -d '1 hour ago' "$listing"/*
"$build/bench/velmora-listing-bench" "$listing" 2>/dev/null ||
  echo "bench: the listing's figures could not be taken" >&2
rm -rf "$listing"

# A run in the window's progress dialog on Xvfb: the interface thread's share
# of a core while small files go by (3,000 of job 4's, details shown), and
# when the first output comes on the big photos turned to TIFF by two workers.
echo
progress_bench=$build/bench/velmora-progress-bench
if [ "$many_count" -gt 0 ]; then
  mapfile -t small < <(find "$many" -name '*.jpg' | sort | head -3000)
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1920x1080x24" \
    "$progress_bench" --jobs 2 --format JPG "${small[@]}" 2>/dev/null ||
    echo "bench: the progress dialog's figures could not be taken" >&2
fi
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1920x1080x24" \
  "$progress_bench" --jobs 2 --format TIF "$big"/* 2>/dev/null ||
  echo "bench: the progress dialog's figures could not be taken" >&2

# The big JPEGs carried into JPEG XL without loss (quality 100, no step): what
# they weigh there, and that each one comes back byte for byte.
echo
reversible=$work/reversible
mkdir -p "$reversible/jxl" "$reversible/back"
"$batch" --format jxl --quality 100 --overwrite overwrite --out "$reversible/jxl" "$big" >/dev/null
"$batch" --format jpg --overwrite overwrite --out "$reversible/back" "$reversible/jxl" >/dev/null
jpeg_bytes=$(cat "$big"/*.jpg | wc -c)
jxl_bytes=$(cat "$reversible/jxl"/* | wc -c)
same=0
for f in "$big"/*.jpg; do
  base=$(basename "${f%.*}")
  cmp -s "$f" "$reversible/back/$base.JPG" && same=$((same + 1))
done
awk -v j="$jpeg_bytes" -v x="$jxl_bytes" -v s="$same" -v n="$(ls "$big"/*.jpg | wc -l)" \
  'BEGIN { printf "JPEG to JPEG XL without loss: %d JPEGs, %.1f MB to %.1f MB (%.1f%% saved), %d of them given back byte for byte\n", n, j / 1e6, x / 1e6, 100 * (1 - x / j), s }'
rm -rf "$reversible"
