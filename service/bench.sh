#!/usr/bin/env bash
# Builds the service and prints its benchmark: uploads and page loads per second over loopback,
# latency, stored size per report and peak memory. Usage: service/bench.sh [uploads, default 2000]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${NIMBREL_SERVICE_BUILD_DIR:-$root/build-service}
cmake -S "$root/service" -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j 2 --target service_bench
exec "$build/service_bench" "$@"
