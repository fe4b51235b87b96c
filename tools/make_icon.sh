#!/usr/bin/env bash
# Draws the application icon (resources/Nimbrel.ico) with ImageMagick: a blue rounded square with
# a white "N", in the sizes Windows asks for. Run it again only to change the icon.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for size in 16 24 32 48 64 256; do
  r=$((size / 5))
  convert -size ${size}x${size} xc:none -fill '#3D84DD' \
    -draw "roundrectangle 0,0 $((size - 1)),$((size - 1)) $r,$r" \
    -fill white -font DejaVu-Sans-Bold -pointsize $((size * 7 / 10)) -gravity center -annotate +0+0 'N' \
    "$tmp/icon-$size.png"
done
convert "$tmp"/icon-16.png "$tmp"/icon-24.png "$tmp"/icon-32.png "$tmp"/icon-48.png "$tmp"/icon-64.png \
  "$tmp"/icon-256.png "$root/resources/Nimbrel.ico"
