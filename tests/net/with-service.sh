#!/usr/bin/env bash
# Runs a test program with the real web service (nimbrel-service, host build) on loopback, on a
# fresh SQLite file and the example configuration, and stops it after.
#   with-service.sh --port N -- COMMAND...
# The command sees NIMBREL_TEST_SERVICE (http://127.0.0.1:N/). The service is built first when
# needed (into NIMBREL_SERVICE_BUILD_DIR, default build-service/); a host without its compiler
# or libraries skips the test (exit 77) with the reason.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${NIMBREL_SERVICE_BUILD_DIR:-$root/build-service}
port=""
while [ $# -gt 0 ]; do
  case "$1" in
    --port) port=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "with-service.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
[ -n "$port" ] || { echo "with-service.sh: --port is required" >&2; exit 2; }

if ! { cmake -S "$root/service" -B "$build" -G Ninja >/dev/null &&
       cmake --build "$build" -j 2 --target nimbrel-service >/dev/null; }; then
  echo "with-service.sh: the web service cannot be built on this host; skipped" >&2
  exit 77
fi

work=$(mktemp -d /tmp/nimbrel-service.XXXXXX)
pid=""
cleanup() {
  if [ -n "$pid" ]; then kill -TERM "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT

bash "$here/port-free.sh" "$port" || exit 1
"$build/nimbrel-service" --listen 127.0.0.1 --port "$port" --config "$root/service/config.example.json" \
  --data "$root/service/data" --database "$work/reports.sqlite" >"$work/out" 2>"$work/err" &
pid=$!
for _ in $(seq 100); do
  grep -q "127.0.0.1:$port" "$work/out" 2>/dev/null && break
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "with-service.sh: the service did not start: $(cat "$work/err")" >&2
    exit 1
  fi
  sleep 0.1
done
export NIMBREL_TEST_SERVICE="http://127.0.0.1:$port/"

"$@"
