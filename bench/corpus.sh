#!/usr/bin/env bash
# Builds the benchmark corpus from Debian's plasma-workspace-wallpapers in a
# cache folder outside the work tree, and prints that folder:
#   big/  every JPEG 2560 pixels wide or more
#   all/  every JPEG and PNG
#   png/  every PNG
# Many wallpapers share file names (2560x1600.jpg), so each copy is named
# after its wallpaper. Links to a picture already taken are skipped.
set -euo pipefail

cache=${VELMORA_BENCH_CACHE:-$HOME/.cache/velmora-bench}
corpus=$cache/corpus
mkdir -p "$cache"

if [ ! -f "$corpus/.complete" ]; then
  cd "$cache"
  if ! ls plasma-workspace-wallpapers_*.deb >/dev/null 2>&1; then
    echo "Fetching plasma-workspace-wallpapers..." >&2
    apt-get download plasma-workspace-wallpapers >/dev/null 2>&1 ||
      { apt-get update -qq && apt-get download plasma-workspace-wallpapers >/dev/null; }
  fi
  rm -rf unpacked "$corpus"
  dpkg-deb -x plasma-workspace-wallpapers_*.deb unpacked
  mkdir -p "$corpus/big" "$corpus/all" "$corpus/png"
  declare -A seen=()
  while IFS= read -r -d '' f; do
    real=$(realpath "$f")
    [ -n "${seen[$real]:-}" ] && continue
    seen[$real]=1
    rel=${real#"$cache"/unpacked/usr/share/wallpapers/}
    name=${rel//\/contents\/images\//-}
    name=${name//\/contents\/images_dark\//-dark-}
    name=${name//\//-}
    name=${name// /_}
    case "${name,,}" in
      *.jpg | *.jpeg)
        cp "$real" "$corpus/all/$name"
        width=$(vipsheader -f width "$real" 2>/dev/null)
        [ "$width" -ge 2560 ] && cp "$real" "$corpus/big/$name"
        ;;
      *.png)
        cp "$real" "$corpus/all/$name"
        cp "$real" "$corpus/png/$name"
        ;;
    esac
  done < <(find unpacked/usr/share/wallpapers \( -iname '*.jpg' -o -iname '*.jpeg' -o -iname '*.png' \) -print0 | sort -z)
  # The programs only ever read the corpus.
  chmod -R a-w "$corpus"/big "$corpus"/all "$corpus"/png
  touch "$corpus/.complete"
fi
echo "$corpus"
