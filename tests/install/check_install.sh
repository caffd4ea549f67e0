#!/usr/bin/env bash
# Installs the build into a scratch DESTDIR and checks what a desktop and a
# terminal get: every file in its place, the menu entry and the software
# centre's description valid, the manual pages clean, and the manual page
# and the completion knowing every option velmora-batch knows.
#   check_install.sh BUILD_DIR
set -uo pipefail
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
fail=0
bad() { echo "FAIL: $*"; fail=1; }

DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null || { echo "FAIL: install"; exit 1; }
usr="$stage/usr"

expect=(
  bin/velmora bin/velmora-batch libexec/velmora/velmora-batch-run
  share/applications/org.velmora.Velmora.desktop
  share/metainfo/org.velmora.Velmora.metainfo.xml
  share/man/man1/velmora.1 share/man/man1/velmora-batch.1
  share/bash-completion/completions/velmora-batch
  share/doc/velmora/README.md share/doc/velmora/docs/formats.md share/doc/velmora/docs/velmora-batch.md
)
for size in 16 24 32 48 64 128 256 512; do
  expect+=("share/icons/hicolor/${size}x${size}/apps/velmora.png")
done
for f in "${expect[@]}"; do
  [ -e "$usr/$f" ] || bad "missing $f"
done
for size in 16 24 32 48 64 128 256 512; do
  f="$usr/share/icons/hicolor/${size}x${size}/apps/velmora.png"
  # PNG width and height sit at bytes 16-23.
  dims=$(od -An -tu1 -j16 -N8 "$f" 2>/dev/null | tr -s ' ' | sed 's/^ //')
  [ "$dims" = "0 0 $((size >> 8)) $((size & 255)) 0 0 $((size >> 8)) $((size & 255))" ] ||
    bad "icon ${size}x${size} has another size ($dims)"
done

desktop-file-validate "$usr/share/applications/org.velmora.Velmora.desktop" || bad "desktop entry"
appstreamcli validate --no-net --explain "$usr/share/metainfo/org.velmora.Velmora.metainfo.xml" >/dev/null ||
  bad "metainfo"
for page in velmora velmora-batch; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$usr/share/man/man1/$page.1" 2>&1 >/dev/null)
  [ -z "$warnings" ] || bad "$page.1: $warnings"
done

# Every long option of --help is in the manual page and the completion.
help=$("$usr/bin/velmora-batch" --help)
completion="$usr/share/bash-completion/completions/velmora-batch"
manpage=$(sed 's/\\-/-/g' "$usr/share/man/man1/velmora-batch.1")
options=$(grep -o -- '--[a-z][a-z-]*' <<<"$help" | sort -u)
[ -n "$options" ] || bad "no options in --help"
for opt in $options; do
  grep -q -- "$opt\b" <<<"$manpage" || bad "velmora-batch.1 lacks $opt"
  grep -q -- "$opt\b" "$completion" || bad "completion lacks $opt"
done
# The formats offered are those --help names.
formats=$(grep -o -- '--format [a-z|]*' <<<"$help" | head -1 | cut -d' ' -f2 | tr '|' ' ')
for fmt in $formats; do
  grep -q -- "--format .*\b$fmt\b" <<<"$manpage" || bad "velmora-batch.1 lacks format $fmt"
done
words=$(bash -c 'source "$1"; COMP_WORDS=(velmora-batch --format ""); COMP_CWORD=2; _velmora_batch
                 echo "${COMPREPLY[*]}"' _ "$completion")
[ "$(tr ' ' '\n' <<<"$words" | sort)" = "$(tr ' ' '\n' <<<"$formats" | sort)" ] ||
  bad "completion offers formats '$words', --help '$formats'"

[ $fail = 0 ] && echo "install tree complete"
exit $fail
