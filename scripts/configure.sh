#!/usr/bin/env bash
# Configures a build folder for tests: the web service and the link host point at loopback.
# Usage: scripts/configure.sh BUILD_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$root" -B "$1" -G Ninja \
  -DNIMBREL_SERVICE_URL=http://127.0.0.1:18080/ -DNIMBREL_LINK_URL=http://127.0.0.1:18080 >/dev/null
