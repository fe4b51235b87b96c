#!/usr/bin/env bash
# Installs what is missing, configures BUILD_DIR for tests if it is new, and builds the targets.
# Usage: scripts/build-targets.sh BUILD_DIR TARGET...
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1
shift
"$root/scripts/bootstrap.sh"
[ -f "$build/CMakeCache.txt" ] || "$root/scripts/configure.sh" "$build"
cmake --build "$build" --target "$@" -j "$(nproc)" >/dev/null
