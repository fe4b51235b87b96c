#!/usr/bin/env bash
# Runs the tests of a built folder under Wine: one throwaway prefix with its wineserver kept up
# for the whole run, on a virtual display of its own.
# Usage: scripts/ctest-wine.sh BUILD_DIR [extra ctest arguments]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
shift

source "$root/scripts/wine-env.sh"
nimbrel_start_display
nimbrel_start_prefix

# The desktop and its shell start once, before the first test, and stay for the whole run (see
# tests/support/desktop_keeper.cpp); the keeper ends with the prefix's wineserver.
wine "$build/tests/desktop_keeper.exe" >/dev/null 2>&1 &
nimbrel_cleanup_pids+=($!)

cd "$build"
# Tests that end processes boot prefixes of their own (a wineserver sees only its own prefix's
# processes), so they can run beside the others.
ctest --output-on-failure -j "$(nproc)" "$@"
