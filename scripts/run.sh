#!/usr/bin/env bash
# Builds Nimbrel and starts it under Wine. With a display, it runs until you close it; without
# one, it runs on a virtual display, saves a screenshot to out/nimbrel.png and ends.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${NIMBREL_BUILD_DIR:-$root/build-run}

"$root/scripts/bootstrap.sh"
cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target Nimbrel ui_driver -j "$(nproc)"

if [ -n "${DISPLAY:-}" ] && [ -z "${NIMBREL_HEADLESS:-}" ]; then
  source "$root/scripts/wine-env.sh"
  nimbrel_start_prefix
  wine "$build/app/Nimbrel.exe"
  exit 0
fi

source "$root/scripts/wine-env.sh"
nimbrel_start_display
nimbrel_start_prefix
mkdir -p "$root/out"
shot=$(mktemp -d)
nimbrel_cleanup_dirs+=("$shot")
wine "$build/app/Nimbrel.exe" &
app=$!
wine "$build/tools/ui_driver.exe" wait 30000 sleep 1000 capture "$(winepath -w "$shot/nimbrel.bmp")" close
wait "$app" || true
convert "$shot/nimbrel.bmp" "$root/out/nimbrel.png"
echo "Nimbrel ran; screenshot: $root/out/nimbrel.png"
