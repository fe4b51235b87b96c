#!/usr/bin/env bash
# Prints what nimbrel-service holds on this machine, on loopback, for SQLite and for PostgreSQL:
# the most report uploads per second it holds (every upload stored, 90 % answered within 100 ms,
# so no queue builds up), the 50th and 99th percentile latency at half that rate, and the report
# page's latency, beside the disk's floor measured first in the same folder (47 KB records appended
# and synced one at a time, and one sync per 64). Each store gets a fresh database in a temporary folder: a SQLite file, and a
# throwaway PostgreSQL server with its durable defaults (every upload committed to disk before it
# is answered). Then the same load goes over HTTPS through nginx (deploy/nginx/nimbrel.conf) before
# two services on that PostgreSQL database; without Debian's nginx that part is left out. The load
# generator deletes what it stored after every run, and lets the database clean up after the delete
# (VACUUM, or a full copy of the SQLite log) before the next, so the database never holds more than
# one run.
# Usage: bench/service_load.sh [seconds per run, default 10]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-10}

. "$root/bench/service_bench.sh"
. "$root/scripts/postgresql-throwaway.sh"
service_bench_cleanup() { postgresql_throwaway_stop; }
service_bench_setup load $((1 << 36)) nimbrel-service service_load service_disk_floor
chmod 755 "$work"

# Starts a service on Database writing to Name.out and Name.err; sets started_pid and started_port
# (empty when it did not start).
start_service() {
  local name=$1 database=$2 config=${3:-$work/config.json}
  "$build/nimbrel-service" --config "$config" --data "$root/service/data" --port 0 \
    --database "$database" >"$work/$name.out" 2>"$work/$name.err" &
  started_pid=$!
  started_port=""
  for _ in $(seq 100); do
    started_port=$(grep -o ':[0-9]*/$' "$work/$name.out" 2>/dev/null | tr -d ':/' || true)
    [ -n "$started_port" ] && break
    kill -0 "$started_pid" 2>/dev/null || break
    sleep 0.1
  done
}

# Runs the service on Database and the load generator against it.
measure() {
  local name=$1 database=$2
  echo "== $name"
  start_service service "$database"
  service_pid=$started_pid
  local port=$started_port
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
# Two services on Database behind a throwaway nginx with the shipped site, and the load generator
# against nginx over HTTPS. Each service counts the upload limit of the address nginx passes on.
measure_front() {
  local name=$1 database=$2
  echo "== $name"
  python3 "$root/scripts/service-config.py" "$work/config-front.json" "${bench_settings[@]}" \
    'trusted_proxies=["127.0.0.1"]'
  local config=$work/config-front.json ports=() port="" number
  for number in 1 2; do
    start_service "front$number" "$database" "$config"
    extra_pids+=("$started_pid")
    if [ -z "$started_port" ]; then echo "the service did not start: $(cat "$work/front$number.err")"; return; fi
    ports+=("$started_port")
  done
  mkdir -p "$work/nginx"
  python3 "$root/scripts/nginx-throwaway.py" "$work/nginx" --upstream "127.0.0.1:${ports[0]}" \
    --upstream "127.0.0.1:${ports[1]}" >/dev/null 2>"$work/nginx.err" &
  local nginx_pid=$!
  extra_pids+=("$nginx_pid")
  port=""
  for _ in $(seq 100); do
    kill -0 "$nginx_pid" 2>/dev/null || break
    port=$(sed -n 's|^https://127.0.0.1:\([0-9]*\)/$|\1|p' "$work/nginx/address" 2>/dev/null || true)
    if [ -n "$port" ] && python3 -c 'import socket, sys; socket.create_connection(("127.0.0.1", int(sys.argv[1])), 1)' \
        "$port" 2>/dev/null; then
      break
    fi
    port=""
    sleep 0.1
  done
  if [ -z "$port" ]; then
    echo "nginx did not start: $(cat "$work/nginx.err" "$work/nginx/error.log" 2>/dev/null)"
  else
    "$build/service_load" --port "$port" --database "$database" --seconds "$seconds" --https "$work/nginx/ca.pem"
  fi
  service_bench_stop "${extra_pids[@]}"
  extra_pids=()
}

echo "machine: $(nproc) cores; $(busy) at the start"
"$build/service_disk_floor" "$work"
measure "SQLite (one file, WAL, synchronous=FULL, uploads arriving together in one commit)" "$work/reports.sqlite"
if postgresql_throwaway_start "${TMPDIR:-/tmp}"; then
  measure "PostgreSQL $(basename "$(dirname "$POSTGRESQL_THROWAWAY_BIN")") (fsync and synchronous_commit on)" \
    "$NIMBREL_TEST_POSTGRESQL"
  if command -v nginx >/dev/null || [ -x /usr/sbin/nginx ]; then
    measure_front "nginx (HTTPS, deploy/nginx/nimbrel.conf) before two services on that PostgreSQL" \
      "$NIMBREL_TEST_POSTGRESQL"
  else
    echo "== nginx before two services: left out, nginx is not installed (Debian's nginx package)"
  fi
fi
"$build/service_disk_floor" "$work"
echo "$(busy) at the end"
