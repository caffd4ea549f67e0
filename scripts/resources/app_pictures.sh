#!/bin/sh
# Redraws the application's pictures (icon, rotation pictures, cursors) into
# resources/app from draw_app_pictures.cpp.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
g++ -std=c++20 -O1 -fPIC -o "$work/draw" "$here/draw_app_pictures.cpp" $(pkg-config --cflags --libs Qt6Gui)
"$work/draw" "$root/resources/app"
