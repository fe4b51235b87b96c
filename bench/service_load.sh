#!/usr/bin/env bash
# Prints what nimbrel-service holds on this machine, on loopback, for SQLite and for PostgreSQL:
# the most report uploads per second it holds (every upload stored, 90 % answered within 100 ms,
# so no queue builds up), the 50th and 99th percentile latency at half that rate, and the report
# page's latency. Each store gets a fresh database in a temporary folder: a SQLite file, and a
# throwaway PostgreSQL server with its durable defaults (every upload committed to disk before it
# is answered). The load generator deletes what it stored after every 10 s run, so the database
# never holds more than one run.
# Usage: bench/service_load.sh [seconds per run, default 10]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${NIMBREL_SERVICE_BUILD_DIR:-$root/build-service}
seconds=${1:-10}

cmake -S "$root/service" -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j 2 --target nimbrel-service service_load >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/nimbrel-load-XXXXXX")
service_pid=""
. "$root/scripts/postgresql-throwaway.sh"
cleanup() {
  if [ -n "$service_pid" ]; then kill -TERM "$service_pid" 2>/dev/null || true; wait "$service_pid" 2>/dev/null || true; fi
  postgresql_throwaway_stop
  rm -rf "$work"
}
trap cleanup EXIT
trap "exit 130" INT TERM

# The example configuration without the per-address limit (all load comes from 127.0.0.1) and with
# room for a run's reports.
python3 - "$root/service/config.example.json" "$work/config.json" <<'PY'
import json, sys
config = json.load(open(sys.argv[1], encoding="utf-8"))
config["uploads_per_minute_per_address"] = 1000000
config["storage_cap_bytes"] = 1 << 36
json.dump(config, open(sys.argv[2], "w", encoding="utf-8"), ensure_ascii=False)
PY

# Runs the service on Database and the load generator against it.
measure() {
  local name=$1 database=$2
  echo "== $name"
  "$build/nimbrel-service" --config "$work/config.json" --data "$root/service/data" --port 0 \
    --database "$database" >"$work/service.out" 2>"$work/service.err" &
  service_pid=$!
  local port=""
  for _ in $(seq 100); do
    port=$(grep -o ':[0-9]*/$' "$work/service.out" 2>/dev/null | tr -d ':/' || true)
    [ -n "$port" ] && break
    sleep 0.1
  done
  if [ -z "$port" ]; then
    echo "the service did not start: $(cat "$work/service.err")"
  else
    "$build/service_load" --port "$port" --database "$database" --seconds "$seconds"
  fi
  kill -TERM "$service_pid" 2>/dev/null || true
  wait "$service_pid" || true
  service_pid=""
}

# How busy the machine is with other work: the load average, and the share of time in which some
# task waited for a processor (the kernel's pressure figure, when it has one).
busy() {
  echo "load average $(cut -d' ' -f1-3 /proc/loadavg), CPU pressure $(grep -o 'avg60=[0-9.]*' /proc/pressure/cpu 2>/dev/null | head -n 1 || echo unknown)"
}
echo "machine: $(nproc) cores; $(busy) at the start"
measure "SQLite (one file, WAL, synchronous=NORMAL)" "$work/reports.sqlite"
if postgresql_throwaway_start "${TMPDIR:-/tmp}"; then
  measure "PostgreSQL $(basename "$(dirname "$POSTGRESQL_THROWAWAY_BIN")") (fsync and synchronous_commit on)" \
    "$NIMBREL_TEST_POSTGRESQL"
fi
echo "$(busy) at the end"
