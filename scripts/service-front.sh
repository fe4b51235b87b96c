#!/usr/bin/env bash
# Builds the web service and runs the deployment of deploy/nginx/nimbrel.conf on this machine, to try:
# a throwaway PostgreSQL server, two services on its database and nginx before them on
# https://127.0.0.1:8443/ (or the port given), with a certificate made for 127.0.0.1 and localhost.
# Prints the addresses and the certificate to trust, then runs until Ctrl+C (or SIGTERM), when
# everything stops and the temporary folder with the database goes.
# Usage: scripts/service-front.sh [HTTPS port, default 8443]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${NIMBREL_SERVICE_BUILD_DIR:-$root/build-service}
port=${1:-8443}

"$root/scripts/bootstrap.sh"
cmake -S "$root/service" -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j 2 --target nimbrel-service

work=$(mktemp -d "${TMPDIR:-/tmp}/nimbrel-front-XXXXXX")
chmod 755 "$work"
pids=()
. "$root/scripts/postgresql-throwaway.sh"
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  postgresql_throwaway_stop
  rm -rf "$work"
}
trap cleanup EXIT
trap "exit 130" INT TERM

if ! postgresql_throwaway_start "${TMPDIR:-/tmp}"; then
  echo "service-front: needs Debian's postgresql package: $NIMBREL_TEST_POSTGRESQL_SKIP" >&2
  exit 1
fi

# The example configuration, with nginx's address among the trusted proxies so that each client has
# its own upload limit.
python3 "$root/scripts/service-config.py" "$work/config.json" 'trusted_proxies=["127.0.0.1"]'

# Starts one service on a free port; sets started_port (empty when it did not start).
start_service() {
  local name=$1 config=$2
  "$build/nimbrel-service" --config "$config" --data "$root/service/data" --listen 127.0.0.1 --port 0 \
    --database "$NIMBREL_TEST_POSTGRESQL" >"$work/$name.out" 2>"$work/$name.err" &
  local pid=$!
  pids+=("$pid")
  started_port=""
  for _ in $(seq 100); do
    started_port=$(grep -o ':[0-9]*/$' "$work/$name.out" 2>/dev/null | tr -d ':/' || true)
    [ -n "$started_port" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
}

config=$work/config.json
start_service first "$config"
first=$started_port
[ -n "$first" ] || { cat "$work/first.err" >&2; exit 1; }
start_service second "$config"
second=$started_port
[ -n "$second" ] || { cat "$work/second.err" >&2; exit 1; }

mkdir "$work/nginx"
status=0
python3 "$root/scripts/nginx-throwaway.py" "$work/nginx" --port "$port" \
  --upstream "127.0.0.1:$first" --upstream "127.0.0.1:$second" >/dev/null 2>"$work/nginx.err" &
pids+=($!)
nginx_pid=$!
for _ in $(seq 100); do
  if ! kill -0 "$nginx_pid" 2>/dev/null; then wait "$nginx_pid" || status=$?; break; fi
  [ -f "$work/nginx/nginx.pid" ] && python3 -c 'import socket, sys; socket.create_connection(("127.0.0.1", int(sys.argv[1])), 1)' "$port" 2>/dev/null && break
  sleep 0.1
done
if ! kill -0 "$nginx_pid" 2>/dev/null; then
  echo "service-front: nginx did not start: $(cat "$work/nginx.err" "$work/nginx/error.log" 2>/dev/null)" >&2
  exit $((status == 77 ? 77 : 1))
fi

base=https://127.0.0.1:$port
cat <<TEXT
nginx (deploy/nginx/nimbrel.conf), HTTPS:
  Home page:        $base/nimbrel
  Report upload:    $base/report.php     (POST, answers {"pk":"KEY"})
  Report page:      $base/?report=KEY
  Start-up answer:  $base/api.init.php
  Certificate:      $work/nginx/ca.pem   (e.g. curl --cacert it)
  Logs:             $work/nginx/access.log, $work/nginx/error.log
Services behind it: http://127.0.0.1:$first/ and http://127.0.0.1:$second/
PostgreSQL:         throwaway server, database "nimbrel"
Ctrl+C stops everything and removes $work.
TEXT
wait "$nginx_pid" || true
