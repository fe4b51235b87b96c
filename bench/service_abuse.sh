#!/usr/bin/env bash
# Prints a report page's latency (50th and 99th percentile, each fetch on a new connection) on an
# idle nimbrel-service, and again while 64 clients send headers a byte a second, 64 send report
# uploads at 4 KB/s and 256 connections sit silent, each reopened as soon as the service closes
# it; and how many uploads were stored meanwhile. Once over HTTP, once over HTTPS (a throwaway
# self-signed certificate). The goal: the p99 under abuse stays within 3 times the idle p99, and
# uploads go on being stored. SQLite store in a temporary folder, the example configuration
# without the per-address limit (all clients come from 127.0.0.1).
# Usage: bench/service_abuse.sh [seconds of page fetches per measurement, default 20]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}

. "$root/bench/service_bench.sh"
service_bench_setup abuse $((1 << 34)) nimbrel-service service_abuse
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost \
  -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1

measure() {
  local name=$1; shift
  echo "== $name"
  "$build/nimbrel-service" --config "$work/config.json" --data "$root/service/data" --port 0 \
    --database "$work/$RANDOM.sqlite" "$@" >"$work/service.out" 2>"$work/service.err" &
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
    local tls=()
    [ $# -gt 0 ] && tls=(--tls)
    "$build/service_abuse" --port "$port" --seconds "$seconds" "${tls[@]}"
  fi
  kill -TERM "$service_pid" 2>/dev/null || true
  wait "$service_pid" || true
  service_pid=""
}

echo "machine: $(nproc) cores; load average $(cut -d' ' -f1-3 /proc/loadavg) at the start"
measure "HTTP"
measure "HTTPS" --cert "$work/cert.pem" --key "$work/key.pem"
echo "load average $(cut -d' ' -f1-3 /proc/loadavg) at the end"
