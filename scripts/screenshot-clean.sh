#!/usr/bin/env bash
# A picture of the home card while a clean runs (button captionless and disabled, spinner over
# it), in a Wine prefix of its own: the clean ends that prefix's programs. The driver survives
# through a NoClean.txt beside the program. Saves out/screenshots/clean-running.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${NIMBREL_BUILD_DIR:-$root/build}
out=$root/out/screenshots

"$root/scripts/build-targets.sh" "$build" Nimbrel ui_driver

source "$root/scripts/wine-env.sh"
nimbrel_start_display
nimbrel_start_prefix
mkdir -p "$out"

stage=$(mktemp -d)
nimbrel_cleanup_dirs+=("$stage")
cp "$build/app/Nimbrel.exe" "$build/tools/ui_driver.exe" "$stage/"
printf 'ui_driver.exe*\r\n' > "$stage/NoClean.txt"

LC_ALL=en_US.UTF-8 wine "$stage/Nimbrel.exe" &
app=$!
wine "$stage/ui_driver.exe" wait 30000 sleep 500 click BtnStart sleep 1500 \
  capture "$(winepath -w "$stage/clean.bmp")"
wait "$app" || true
convert "$stage/clean.bmp" "$out/clean-running.png"
echo "$out/clean-running.png"
