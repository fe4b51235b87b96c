#!/usr/bin/env bash
# Starts Nimbrel on a virtual display, shows each card in turn and saves one PNG per card.
# Usage: scripts/screenshots.sh [LANGUAGE ...]   (ko en ja zh ru it fr es ar; default: en)
# Pictures go to out/screenshots/<language>-<card>.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${NIMBREL_BUILD_DIR:-$root/build}
out=$root/out/screenshots
languages=("$@")
[ ${#languages[@]} -gt 0 ] || languages=(en)

"$root/scripts/build-targets.sh" "$build" Nimbrel ui_driver

source "$root/scripts/wine-env.sh"
nimbrel_start_display
nimbrel_start_prefix
mkdir -p "$out"

declare -A locale=([ko]=ko_KR [en]=en_US [ja]=ja_JP [zh]=zh_CN [ru]=ru_RU [it]=it_IT [fr]=fr_FR [es]=es_ES [ar]=ar_SA)
driver=$build/tools/ui_driver.exe
shots=$(mktemp -d)
nimbrel_cleanup_dirs+=("$shots")

for lang in "${languages[@]}"; do
  loc=${locale[$lang]:-$lang}
  nimbrel_ui_font "$lang"
  LC_ALL=$loc.UTF-8 LANG=$loc.UTF-8 wine "$build/app/Nimbrel.exe" &
  app=$!
  wine "$driver" wait 30000 sleep 800 capture "$(winepath -w "$shots/$lang-home.bmp")" \
    click BtnAutorun sleep 800 capture "$(winepath -w "$shots/$lang-startup.bmp")" \
    click BtnInstall sleep 800 capture "$(winepath -w "$shots/$lang-bundle.bmp")" \
    close
  wait "$app" || true
  for card in home startup bundle; do
    convert "$shots/$lang-$card.bmp" "$out/$lang-$card.png"
    echo "$out/$lang-$card.png"
  done
done
