#!/usr/bin/env bash
# Builds and runs every test: the web service's on the host, then Nimbrel's under Wine on a
# virtual display.
# Usage: scripts/test.sh [extra ctest arguments for the program's tests, e.g. -R base_tests; with
# arguments the web service's tests are left out]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${NIMBREL_BUILD_DIR:-$root/build}

"$root/scripts/bootstrap.sh"
# The web service first (host build, its own ctest run); a failure there stops the run.
if [ $# -eq 0 ]; then
  "$root/scripts/test-service.sh"
fi
"$root/scripts/configure.sh" "$build"
cmake --build "$build" -j "$(nproc)"
exec "$root/scripts/ctest-wine.sh" "$build" "$@"
