#!/usr/bin/env bash
# Builds Nimbrel with its tests and runs every test under Wine on a virtual display.
# Usage: scripts/test.sh [extra ctest arguments, e.g. -R base_tests]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${NIMBREL_BUILD_DIR:-$root/build}

"$root/scripts/bootstrap.sh"
"$root/scripts/configure.sh" "$build"
cmake --build "$build" -j "$(nproc)"
exec "$root/scripts/ctest-wine.sh" "$build" "$@"
