#!/usr/bin/env bash
# Screenshots of the button style family: runs tools/style_preview under Wine on a virtual display
# and saves its window as PNG, once per argument list.
# Usage: scripts/style-preview.sh BUILD_DIR OUT_DIR [SHEET ...]
#   SHEET: a language code (ko en ja zh ru it fr es ar) for the states sheet in that language, or
#   "languages" for the captions and tips of all nine languages. Default: ko ar languages.
# Pictures go to OUT_DIR/states-<language>.png and OUT_DIR/languages.png.
# NIMBREL_PREVIEW_FACE=FACE draws the dialog font ("MS Shell Dlg") with FACE instead: Wine shapes
# Arabic with the base face only, so Arabic needs a face that has it ("DejaVu Sans"), and the
# Chinese and Japanese texts a face that covers them ("WenQuanYi Micro Hei").
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
shift 2
sheets=("$@")
[ ${#sheets[@]} -gt 0 ] || sheets=(ko ar languages)

cmake --build "$build" --target style_preview >/dev/null
exe=$build/tools/style_preview/style_preview.exe

source "$root/scripts/wine-env.sh"
nimbrel_start_display
nimbrel_start_prefix
if [ -n "${NIMBREL_PREVIEW_FACE:-}" ]; then
  wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
    /v "MS Shell Dlg" /d "$NIMBREL_PREVIEW_FACE" /f >/dev/null 2>&1
fi

title="Nimbrel style preview"
for sheet in "${sheets[@]}"; do
  if [ "$sheet" = languages ]; then arg=--languages; name=languages; else arg=$sheet; name=states-$sheet; fi
  wine "$exe" "$arg" 6000 &  # closes itself after six seconds
  app=$!
  id=
  for _ in $(seq 100); do
    id=$(xwininfo -root -tree 2>/dev/null | grep -F "\"$title\"" | awk '{print $1}' | head -n1 || true)
    [ -n "$id" ] && break
    sleep 0.2
  done
  if [ -z "$id" ]; then
    echo "style-preview: no window for $sheet" >&2
    wait "$app" || true
    continue
  fi
  sleep 1.5  # let every control paint
  geometry=$(xwininfo -id "$id" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} /Width:/{w=$2} /Height:/{h=$2} END{print w "x" h "+" x "+" y}')
  import -window root -crop "$geometry" +repage "$out/$name.png"
  echo "$out/$name.png"
  wait "$app" || true
done
