#!/usr/bin/env bash
# Writes app/win32/postvue.ico: the picture of app/qt/postvue.svg (an
# envelope under a magnifier), drawn with ImageMagick at each size Windows
# asks for, since ImageMagick here reads no SVG. Run it after changing the SVG.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
frames=()
for size in 256 48 32 16; do
  s=$(awk "BEGIN { print $size / 48 }")
  p() { awk "BEGIN { printf \"%.2f\", $1 * $s }"; }
  convert -size "${size}x${size}" xc:none \
    -fill '#f4f1e8' -stroke '#5b6670' -strokewidth "$(p 2)" \
    -draw "roundrectangle $(p 4),$(p 10) $(p 44),$(p 40) $(p 3),$(p 3)" \
    -fill none -draw "polyline $(p 5),$(p 12) $(p 24),$(p 27) $(p 43),$(p 12)" \
    -fill '#ffffff' -stroke '#2f6fb0' -strokewidth "$(p 3)" \
    -draw "circle $(p 35),$(p 33) $(p 43),$(p 33)" \
    -strokewidth "$(p 3.5)" -draw "line $(p 40.5),$(p 38.5) $(p 45),$(p 43)" \
    "$work/$size.png"
  frames+=("$work/$size.png")
done
convert "${frames[@]}" app/win32/postvue.ico
