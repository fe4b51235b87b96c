#!/usr/bin/env bash
# Builds Nimbrel with its tests and runs every test under Wine on a virtual display.
# Usage: scripts/test.sh [extra ctest arguments]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${NIMBREL_BUILD_DIR:-$root/build}

"$root/scripts/bootstrap.sh"

cmake -S "$root" -B "$build" -G Ninja \
  -DNIMBREL_SERVICE_URL=http://127.0.0.1:18080/ -DNIMBREL_LINK_URL=http://127.0.0.1:18080 >/dev/null
cmake --build "$build" -j "$(nproc)"

source "$root/scripts/wine-env.sh"
nimbrel_start_display
nimbrel_start_prefix

cd "$build"
# Tests that end processes boot prefixes of their own (a wineserver sees only its own prefix's
# processes), so they can run beside the others.
ctest --output-on-failure -j "$(nproc)" "$@"
