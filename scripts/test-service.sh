#!/usr/bin/env bash
# Builds the web service (service/) with the host compiler and runs its tests with ctest; exits
# non-zero when a test fails. The page tests start headless Chromium against loopback only. The
# PostgreSQL tests run against a throwaway server started here and stopped on exit; without
# Debian's postgresql package they are skipped with the reason printed, and so are the tests of
# nginx before two services without Debian's nginx.
# Usage: scripts/test-service.sh [extra ctest arguments, e.g. -R Http]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${NIMBREL_SERVICE_BUILD_DIR:-$root/build-service}

"$root/scripts/bootstrap.sh"
cmake -S "$root/service" -B "$build" -G Ninja -DNIMBREL_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build "$build" -j 2

. "$root/scripts/postgresql-throwaway.sh"
trap postgresql_throwaway_stop EXIT
trap "exit 130" INT TERM
# A throwaway server: its data need not reach the disk.
postgresql_throwaway_start "${TMPDIR:-/tmp}" -c fsync=off -c synchronous_commit=off -c full_page_writes=off || true
if ! command -v nginx >/dev/null && [ ! -x /usr/sbin/nginx ]; then
  echo "nginx: not installed (Debian's nginx package); the tests of the front before the services are skipped" >&2
fi

cd "$build"
status=0
ctest --output-on-failure -j 2 "$@" || status=$?
exit $status
