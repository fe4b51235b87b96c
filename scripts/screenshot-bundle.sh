#!/usr/bin/env bash
# Pictures of the Bundle card with a few black-listed programs installed (icons, an unknown
# publisher, a missing icon file) and the second row selected, in each language, on a prefix of
# its own. Usage: scripts/screenshot-bundle.sh [LANGUAGE ...]   (default: all nine)
# Pictures go to out/screenshots/<language>-bundle-rows.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${NIMBREL_BUILD_DIR:-$root/build}
out=$root/out/screenshots
languages=("$@")
[ ${#languages[@]} -gt 0 ] || languages=(ko en ja zh ru it fr es ar)

"$root/scripts/build-targets.sh" "$build" Nimbrel ui_driver

source "$root/scripts/wine-env.sh"
nimbrel_start_display
nimbrel_start_prefix
mkdir -p "$out"
shots=$(mktemp -d)
nimbrel_cleanup_dirs+=("$shots")

# The registrations, as UTF-16 .reg text (regedit keeps Korean names intact that way).
lm='HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall'
cu='HKEY_CURRENT_USER\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall'
{
  printf 'Windows Registry Editor Version 5.00\r\n\r\n'
  printf '[%s\\AnySign]\r\n"DisplayName"="AnySign4PC"\r\n"Publisher"="Hancom Secure"\r\n' "$lm"
  printf '"UninstallString"="C:\\\\windows\\\\notepad.exe"\r\n"DisplayIcon"="C:\\\\windows\\\\notepad.exe,0"\r\n"InstallDate"="20240312"\r\n\r\n'
  printf '[%s\\TouchEn]\r\n"DisplayName"="TouchEn nxKey with E2E for 32bit"\r\n"Publisher"="RaonSecure Co., Ltd."\r\n' "$lm"
  printf '"UninstallString"="C:\\\\windows\\\\regedit.exe"\r\n"DisplayIcon"="\\"C:\\\\windows\\\\regedit.exe\\""\r\n"InstallDate"="20240105"\r\n\r\n'
  printf '[%s\\Veraport]\r\n"DisplayName"="Veraport(보안모듈 관리 프로그램) G3"\r\n"Publisher"="Wizvera"\r\n' "$lm"
  printf '"UninstallString"="C:\\\\windows\\\\system32\\\\winemine.exe"\r\n"DisplayIcon"="C:\\\\windows\\\\system32\\\\winemine.exe"\r\n"InstallDate"="20231120"\r\n\r\n'
  printf '[%s\\IPinside]\r\n"DisplayName"="IPinside LWS Agent"\r\n' "$cu"
  printf '"UninstallString"="C:\\\\Program Files\\\\IPinside\\\\uninstall.exe"\r\n"InstallDate"="20230514"\r\n\r\n'
  printf '[%s\\Inca]\r\n"DisplayName"="nProtect Online Security"\r\n"Publisher"="INCA Internet"\r\n' "$lm"
  printf '"UninstallString"="C:\\\\windows\\\\system32\\\\write.exe"\r\n"DisplayIcon"="C:\\\\windows\\\\system32\\\\write.exe"\r\n"InstallDate"="20221001"\r\n\r\n'
  printf '[%s\\Notepad]\r\n"DisplayName"="Notepad++"\r\n"Publisher"="Notepad++ Team"\r\n' "$lm"
  printf '"UninstallString"="C:\\\\windows\\\\notepad.exe"\r\n"InstallDate"="20250101"\r\n\r\n'
} | iconv -f UTF-8 -t UTF-16 > "$shots/seed.reg"
LANG=C.UTF-8 wine regedit /S "$(winepath -w "$shots/seed.reg")" >/dev/null 2>&1

declare -A locale=([ko]=ko_KR [en]=en_US [ja]=ja_JP [zh]=zh_CN [ru]=ru_RU [it]=it_IT [fr]=fr_FR [es]=es_ES [ar]=ar_SA)
driver=$build/tools/ui_driver.exe
for lang in "${languages[@]}"; do
  loc=${locale[$lang]:-$lang}
  nimbrel_ui_font "$lang"
  LC_ALL=$loc.UTF-8 LANG=$loc.UTF-8 wine "$build/app/Nimbrel.exe" &
  app=$!
  wine "$driver" wait 30000 sleep 500 click BtnInstall sleep 1200 tap ListInstall 120 60 sleep 600 \
    capture "$(winepath -w "$shots/$lang.bmp")" close
  wait "$app" || true
  convert "$shots/$lang.bmp" "$out/$lang-bundle-rows.png"
  echo "$out/$lang-bundle-rows.png"
done
