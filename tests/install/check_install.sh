#!/usr/bin/env bash
# Installs the build into a scratch DESTDIR and checks what a desktop and a
# terminal get: every file in its place, the menu entry and the software
# centre's description valid, the manual pages clean, and --help, the manual
# page and the completion agreeing with velmora-batch's table of options.
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
  share/kio/servicemenus/velmora.desktop
  share/nemo/actions/velmora-convert.nemo_action share/nemo/actions/velmora-preset.nemo_action
  share/metainfo/org.velmora.Velmora.metainfo.xml
  share/man/man1/velmora.1 share/man/man1/velmora-batch.1
  share/bash-completion/completions/velmora-batch
  lib/systemd/user/velmora-watch@.service
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
# Dolphin runs its service menus only when executable. The validator knows
# MimeType and Actions for applications only; anything else it says counts.
servicemenu="$usr/share/kio/servicemenus/velmora.desktop"
[ "$(stat -c %a "$servicemenu" 2>/dev/null)" = 755 ] || bad "the service menu is not mode 755"
complaints=$(desktop-file-validate "$servicemenu" 2>&1 |
  grep -v 'key "\(MimeType\|Actions\)" is present in group "Desktop Entry", but the type is "Service"')
[ -z "$complaints" ] || bad "service menu: $complaints"
for action in velmora-convert velmora-preset; do
  [ "$(stat -c %a "$usr/share/nemo/actions/$action.nemo_action")" = 644 ] || bad "$action.nemo_action mode"
done
appstreamcli validate --no-net --explain "$usr/share/metainfo/org.velmora.Velmora.metainfo.xml" >/dev/null ||
  bad "metainfo"
for page in velmora velmora-batch; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$usr/share/man/man1/$page.1" 2>&1 >/dev/null)
  [ -z "$warnings" ] || bad "$page.1: $warnings"
done

# The table of options (velmora-batch-docs options: the names, a tab, the
# words the value takes) is what --help, the manual page and the completion
# are written from: each must know every option of it, the completion must
# offer each option's words, and --help must name no option the table lacks.
help=$("$usr/bin/velmora-batch" --help)
completion="$usr/share/bash-completion/completions/velmora-batch"
manpage=$(sed 's/\\-/-/g' "$usr/share/man/man1/velmora-batch.1")
table=$("$build/cli/velmora-batch-docs" options) || bad "velmora-batch-docs options"
[ -n "$table" ] || bad "no options in the table"
complete_words() {
  bash -c 'source "$1"; shift; COMP_WORDS=(velmora-batch "$@"); COMP_CWORD=$#; _velmora_batch
           printf "%s\n" "${COMPREPLY[@]}" | sort' _ "$completion" "$@"
}
all=()
while IFS=$'\t' read -r names words; do
  for opt in $names; do
    all+=("$opt")
    grep -Eq -- "(^|[^-])$opt\b" <<<"$help" || bad "--help lacks $opt"
    grep -Eq -- "(^|[^-])$opt\b" <<<"$manpage" || bad "velmora-batch.1 lacks $opt"
    if [ -n "$words" ]; then
      [ "$(complete_words "$opt" "")" = "$(tr ' ' '\n' <<<"$words" | sort)" ] ||
        bad "completion after $opt offers '$(complete_words "$opt" "" | tr '\n' ' ')', the table '$words'"
    fi
  done
  if [ "$names" = --format ]; then
    for word in $words; do
      grep -q -- "--format .*\b$word\b" <<<"$manpage" || bad "velmora-batch.1 lacks format $word"
    done
  fi
done <<<"$table"
[ "$(complete_words -)" = "$(printf '%s\n' "${all[@]}" | sort)" ] ||
  bad "completion offers the names '$(complete_words - | tr '\n' ' ')'"
for opt in $(grep -o -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
  grep -q -- "^\(.* \)\?$opt\b" <<<"${table//$'\t'/ }" || bad "--help names $opt, which the table lacks"
done

[ $fail = 0 ] && echo "install tree complete"
exit $fail
