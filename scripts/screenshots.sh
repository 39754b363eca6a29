#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The README's pictures of the program: the main window, the report after a
# query, the scheme editor and the trend chart, made on the demo data by the
# picture program (tests/pictures) through the real desktop, offscreen.
#   scripts/screenshots.sh [FOLDER [BUILD]]
# FOLDER (default doc/) receives main.png, report.png, schemes.png and trend.png.
# BUILD is a build folder whose allstats_pictures is used as it is; without it
# the program is built first in build/ (configured there when needed).
# Every other picture the program makes (each screen in its states, the host's
# windows, the grid, the printouts) stays in a temporary folder, kept and named
# at the end when ALLSTATS_ALL_PICTURES=1.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
folder="${1:-$root/doc}"
readme=(main report schemes trend)

if [ $# -ge 2 ]; then
    pictures="$(cd "$2" && pwd)/allstats_pictures"
    [ -x "$pictures" ] || { echo "screenshots: $pictures is not built" >&2; exit 1; }
else
    build="$root/build"
    [ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" --target allstats_pictures -j "$(nproc)" >/dev/null
    pictures="$build/allstats_pictures"
fi

tmp="$(mktemp -d)"
keep="${ALLSTATS_ALL_PICTURES:-0}"
trap '[ "$keep" = 1 ] || rm -rf "$tmp"' EXIT
export HOME="$tmp/home" XDG_RUNTIME_DIR="$tmp/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$folder"
chmod 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY
QT_QPA_PLATFORM=offscreen "$pictures" "$tmp/all" 2>"$tmp/log" || {
    grep -v 'This plugin does not support' "$tmp/log" >&2
    echo "screenshots: the picture program failed" >&2
    exit 1
}
for name in "${readme[@]}"; do
    [ -s "$tmp/all/$name.png" ] || { echo "screenshots: $name.png is missing or empty" >&2; exit 1; }
    cp "$tmp/all/$name.png" "$folder/$name.png"
done
echo "screenshots: ${readme[*]} (.png) in $folder"
[ "$keep" = 1 ] && echo "screenshots: every picture in $tmp/all"
exit 0
