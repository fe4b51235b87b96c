#!/usr/bin/env bash
# Builds the web service (service/) with the host compiler and runs its tests with ctest; exits
# non-zero when a test fails. The page tests start headless Chromium against loopback only.
# Usage: scripts/test-service.sh [extra ctest arguments, e.g. -R Http]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${NIMBREL_SERVICE_BUILD_DIR:-$root/build-service}

"$root/scripts/bootstrap.sh"
cmake -S "$root/service" -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j 2
cd "$build"
exec ctest --output-on-failure -j 2 "$@"
