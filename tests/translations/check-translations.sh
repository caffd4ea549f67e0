#!/bin/sh
# Fails when the English translation misses a text of the sources, holds an
# unfinished entry, or keeps one the sources no longer have: lupdate over a
# copy of the .ts must leave it as it is.
#   check-translations.sh LUPDATE TS-FILE SOURCE-ROOT FOLDER...
set -eu
lupdate=$1
ts=$2
root=$3
shift 3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
copy=$work/$(basename "$ts")
cp "$ts" "$copy"
if ! (cd "$root" && "$lupdate" -locations none -no-obsolete -silent -I . "$@" -ts "$copy") >"$work/log" 2>&1; then
    cat "$work/log"
    exit 1
fi
status=0
if grep -n 'type="unfinished"\|type="vanished"\|type="obsolete"\|<translation></translation>' "$copy"; then
    echo "entries above lack their English translation"
    status=1
fi
if ! cmp -s "$ts" "$copy"; then
    echo "lupdate changes $(basename "$ts"): texts new to it get entries, vanished texts lose theirs"
    diff -u "$ts" "$copy" || true
    status=1
fi
exit $status
