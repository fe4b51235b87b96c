#!/usr/bin/env bash
# Saves a picture of the update prompt per language to out/screenshots/update-<language>.png
# (odd languages with the hold check box, even ones with the note link), and one of the main
# window with the update bar per language to out/screenshots/update-bar-<language>.png (Nimbrel
# against the test server on the build's service port, 18080, answering with a "notify" address).
# Usage: scripts/screenshot-update.sh [LANGUAGE ...]   (default: all nine)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${NIMBREL_BUILD_DIR:-$root/build}
out=$root/out/screenshots
languages=("$@")
[ ${#languages[@]} -gt 0 ] || languages=(ko en ja zh ru it fr es ar)

"$root/scripts/build-targets.sh" "$build" update_prompt_preview ui_driver Nimbrel

source "$root/scripts/wine-env.sh"
nimbrel_start_display
nimbrel_start_prefix
mkdir -p "$out"
shots=$(mktemp -d)
nimbrel_cleanup_dirs+=("$shots")

declare -A hold=([ko]="이 버전은 다시 묻지 않기" [en]="Do not ask again for this version" [ja]="このバージョンでは再表示しない"
  [zh]="此版本不再提示" [ru]="Не спрашивать для этой версии" [it]="Non chiedere più per questa versione"
  [fr]="Ne plus demander pour cette version" [es]="No volver a preguntar en esta versión" [ar]="لا تسأل مرة أخرى عن هذا الإصدار")
declare -A note=([ko]="새 버전에서 달라진 점" [en]="What is new in this version" [ja]="新しいバージョンの変更点"
  [zh]="新版本的更新内容" [ru]="Что нового в этой версии" [it]="Novità di questa versione"
  [fr]="Nouveautés de cette version" [es]="Novedades de esta versión" [ar]="ما الجديد في هذا الإصدار")
i=0
for lang in "${languages[@]}"; do
  nimbrel_ui_font "$lang"
  if (( i % 2 == 0 )); then style=hold; text=${hold[$lang]:-${hold[en]}}; else style=note; text=${note[$lang]:-${note[en]}}; fi
  i=$((i + 1))
  LANG=C.UTF-8 wine "$build/tools/update_prompt_preview.exe" "$lang" "$style" "$text" &
  app=$!
  wine "$build/tools/ui_driver.exe" sleep 1500 capture-dialog "$(winepath -w "$shots/update-$lang.bmp")" close-dialog
  wait "$app" || true
  convert "$shots/update-$lang.bmp" "$out/update-$lang.png"
  echo "$out/update-$lang.png"
done

declare -A locale=([ko]=ko_KR [en]=en_US [ja]=ja_JP [zh]=zh_CN [ru]=ru_RU [it]=it_IT [fr]=fr_FR [es]=es_ES [ar]=ar_SA)
python3 "$root/tests/net/http_server.py" --port 18080 &
nimbrel_cleanup_pids+=($!)
answer() {
  python3 -c 'import sys, urllib.request; urllib.request.urlopen(urllib.request.Request(sys.argv[1], data=sys.argv[2].encode()))' \
    "http://127.0.0.1:18080/control/answer?path=/api.init.php" "$1"
}
for _ in $(seq 50); do answer '{"notify":"http://127.0.0.1:18080/notice"}' 2>/dev/null && break; sleep 0.1; done
for lang in "${languages[@]}"; do
  loc=${locale[$lang]:-$lang}
  nimbrel_ui_font "$lang"
  LC_ALL=$loc.UTF-8 LANG=$loc.UTF-8 wine "$build/app/Nimbrel.exe" &
  app=$!
  wine "$build/tools/ui_driver.exe" wait 30000 sleep 1500 capture "$(winepath -w "$shots/update-bar-$lang.bmp")" close
  wait "$app" || true
  convert "$shots/update-bar-$lang.bmp" "$out/update-bar-$lang.png"
  echo "$out/update-bar-$lang.png"
done
