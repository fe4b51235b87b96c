#!/usr/bin/env bash
# Screenshots of the Startup card on a seeded prefix: in each language, All Programs checked, the
# first (switched-off, greyed) row selected so that the button offers "Enable", and the list's
# context menu open; then the save dialog (in English).
# Usage: scripts/screenshots-startup.sh [LANGUAGE ...]   (default: all nine)
# Pictures go to out/startup/<language>-startup.png and out/startup/save-dialog.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${NIMBREL_BUILD_DIR:-$root/build}
out=$root/out/startup
languages=("$@")
[ ${#languages[@]} -gt 0 ] || languages=(ko en ja zh ru it fr es ar)

"$root/scripts/build-targets.sh" "$build" Nimbrel ui_driver

source "$root/scripts/wine-env.sh"
nimbrel_start_display
nimbrel_start_prefix
mkdir -p "$out"

# The seed: startup files with icons, Run values, a service; the common folder's file is off.
sys32=$WINEPREFIX/drive_c/windows/system32
common=$(wine cmd /c echo %ProgramData% | tr -d '\r')
common_dir=$(winepath -u "$common\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp")
user_dir=$(winepath -u "$(wine cmd /c echo %AppData% | tr -d '\r')\\Microsoft\\Windows\\Start Menu\\Programs\\Startup")
mkdir -p "$common_dir" "$user_dir"
cp "$sys32/winver.exe" "$common_dir/Updater.exe"
cp "$sys32/notepad.exe" "$user_dir/Notes.exe"
printf '@echo off\r\n' > "$user_dir/Backup.bat"
reg=$WINEPREFIX/seed.reg
{
  printf 'Windows Registry Editor Version 5.00\r\n\r\n'
  printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\StartupFolder]\r\n'
  printf '"Updater.exe"=hex:03,00,00,00,00,00,00,00,00,00,00,00\r\n\r\n'
  printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n'
  printf '"Wordpad"="\\"C:\\\\Program Files\\\\Windows NT\\\\Accessories\\\\wordpad.exe\\" /tray"\r\n'
  printf '"Regedit"="C:\\\\windows\\\\regedit.exe /s"\r\n\r\n'
  printf '[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n'
  printf '"Winecfg"="C:\\\\windows\\\\system32\\\\winecfg.exe"\r\n'
  printf '"Helper"="rundll32.exe C:\\\\windows\\\\system32\\\\shell32.dll,Control_RunDLL"\r\n\r\n'
  printf '[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run]\r\n'
  printf '"Helper"=hex:03,00,00,00,00,00,00,00,00,00,00,00\r\n'
} > "$reg"
wine regedit /S "$reg" >/dev/null 2>&1
wine sc create NimbrelDemo binPath= "C:\\windows\\system32\\notepad.exe" start= auto DisplayName= "Demo Service" >/dev/null 2>&1 || true

declare -A locale=([ko]=ko_KR [en]=en_US [ja]=ja_JP [zh]=zh_CN [ru]=ru_RU [it]=it_IT [fr]=fr_FR [es]=es_ES [ar]=ar_SA)
driver=$build/tools/ui_driver.exe
shots=$(mktemp -d)
nimbrel_cleanup_dirs+=("$shots")
# Window messages the driver posts to the list.
WM_KEYDOWN=0x100 WM_CONTEXTMENU=0x7B VK_HOME=0x24 VK_ESCAPE=0x1B VK_RETURN=0x0D VK_DOWN=0x28

for lang in "${languages[@]}"; do
  loc=${locale[$lang]:-$lang}
  nimbrel_ui_font "$lang"
  LC_ALL=$loc.UTF-8 LANG=$loc.UTF-8 wine "$build/app/Nimbrel.exe" &
  app=$!
  wine "$driver" wait 30000 sleep 800 click BtnAutorun rows ListAutorun sleep 500 click ChkAllList \
    rows ListAutorun sleep 500 post ListAutorun $WM_KEYDOWN $VK_HOME 0 sleep 500 post ListAutorun $WM_CONTEXTMENU 0 -1 sleep 1000 \
    capture "$(winepath -w "$shots/$lang-startup.bmp")" \
    post ListAutorun $WM_KEYDOWN $VK_ESCAPE 0 sleep 300 close
  wait "$app" || true
  convert "$shots/$lang-startup.bmp" "$out/$lang-startup.png"
  echo "$out/$lang-startup.png"
done

# The save dialog, opened from the context menu's one item.
nimbrel_ui_font en
LC_ALL=en_US.UTF-8 LANG=en_US.UTF-8 wine "$build/app/Nimbrel.exe" &
app=$!
wine "$driver" wait 30000 sleep 800 click BtnAutorun rows ListAutorun sleep 500 \
  post ListAutorun $WM_CONTEXTMENU 0 -1 sleep 800 \
  post ListAutorun $WM_KEYDOWN $VK_DOWN 0 sleep 300 post ListAutorun $WM_KEYDOWN $VK_RETURN 0 sleep 2500
import -window root "$shots/screen.png"
convert "$shots/screen.png" -trim "$out/save-dialog.png"
echo "$out/save-dialog.png"
kill "$app" 2>/dev/null || true
