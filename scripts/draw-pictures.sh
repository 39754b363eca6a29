#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Draws the toolbar pictures of the report menu (pic/*.bmp), the report
# screen's icon (pic/BALLOON.ico) and the application icon with ImageMagick.
# The BMPs are 32x32, 24-bit, on silver (#C0C0C0), which the toolbar treats
# as transparent. Run from anywhere; the results are committed.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
pic="$root/pic"
icons="$root/app/ui/icons"
mkdir -p "$pic" "$icons"
bg='#C0C0C0'
teal='#008080'

# A small table: header row, then four rows; $1 = fill of rows 2 and 4.
table() {
  local even="$1"
  args+=(-fill white -stroke "$teal" -strokewidth 1 -draw 'rectangle 3,5 28,26'
         -fill '#9FD3D3' -draw 'rectangle 3,5 28,10'
         -stroke none -fill white -draw 'rectangle 4,11 27,13'
         -fill "$even" -draw 'rectangle 4,15 27,18'
         -fill white -draw 'rectangle 4,20 27,21'
         -fill "$even" -draw 'rectangle 4,23 27,25'
         -stroke "$teal" -draw 'line 3,14 28,14' -draw 'line 3,19 28,19' -draw 'line 3,22 28,22'
         -draw 'line 11,5 11,26')
}

# Row colours on: tinted stripes.
args=(); table '#F0A8F0'
convert -size 32x32 "xc:$bg" "${args[@]}" BMP3:"$pic/bgcolor.bmp"
# Row colours off (the pressed picture): white rows, a red stroke through the colour.
args=(); table white
convert -size 32x32 "xc:$bg" "${args[@]}" -stroke '#D02020' -strokewidth 2 -draw 'line 6,27 26,9' \
  BMP3:"$pic/bgColorR.bmp"

# A page with lines of text and a folded corner; arguments x0 y0 x1 y1.
page() {
  local x0=$1 y0=$2 x1=$3 y1=$4
  local fx=$((x1 - 6)) fy=$((y0 + 6))
  args+=(-fill white -stroke '#404040' -strokewidth 1 -draw "polygon $x0,$y0 $fx,$y0 $x1,$fy $x1,$y1 $x0,$y1"
         -fill '#D8D8D8' -draw "polygon $fx,$y0 $fx,$fy $x1,$fy" -stroke '#2060B0')
  local y=$((y0 + 9))
  while [ $y -lt $((y1 - 2)) ]; do
    args+=(-draw "line $((x0 + 3)),$y $((x1 - 3)),$y")
    y=$((y + 4))
  done
}
# Portrait and landscape paper.
args=(); page 7 2 24 29
convert -size 32x32 "xc:$bg" "${args[@]}" BMP3:"$pic/print_v.bmp"
args=(); page 2 7 29 24
convert -size 32x32 "xc:$bg" "${args[@]}" BMP3:"$pic/Print_H.bmp"

# The report screen's icon: a red balloon on a string.
for s in 16 32 48; do
  convert -size 48x48 xc:none \
    -fill '#E03030' -stroke '#901818' -strokewidth 1.5 -draw 'ellipse 24,19 13,16 0,360' \
    -fill '#FFB0B0' -stroke none -draw 'ellipse 19,13 3,5 0,360' \
    -fill '#901818' -draw 'polygon 21,35 27,35 24,39' \
    -stroke '#505050' -strokewidth 1.2 -fill none -draw 'bezier 24,39 19,42 29,44 24,47' \
    -resize ${s}x${s} "/tmp/balloon-$s.png"
done
convert /tmp/balloon-16.png /tmp/balloon-32.png /tmp/balloon-48.png "$pic/BALLOON.ico"
rm -f /tmp/balloon-*.png

# The application icon: a bar chart on a green coin, the fund's colours.
convert -size 256x256 xc:none \
  -fill '#1E7B5A' -stroke '#0F4F39' -strokewidth 6 -draw 'circle 128,128 128,10' \
  -fill '#F5C542' -stroke none \
  -draw 'rectangle 62,150 92,196' -draw 'rectangle 106,118 136,196' -draw 'rectangle 150,84 180,196' \
  -fill white -draw 'rectangle 54,198 202,206' \
  -stroke white -strokewidth 8 -fill none -draw 'polyline 70,128 120,96 166,62 196,48' \
  -resize 128x128 "$icons/allstats.png"
echo "pictures drawn in $pic and $icons"
