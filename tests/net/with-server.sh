#!/usr/bin/env bash
# Runs a test program with the test server of http_server.py on loopback, and stops it after.
#   with-server.sh [--port N] [--tls] -- COMMAND...
# The command sees NIMBREL_TEST_SERVER (http://127.0.0.1:PORT/) and NIMBREL_TEST_CLOSED_PORT (a
# port nobody listens on); with --tls also NIMBREL_TEST_TLS_SERVER (https://localhost:PORT/, a
# self-signed certificate nobody trusts), or NIMBREL_TEST_TLS_SKIP with the reason when openssl
# is missing. --port serves on that fixed port (the ctest resource lock keeps it ours; a program
# that is not a test holding it stops the test at once).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
port=0
tls=0
while [ $# -gt 0 ]; do
  case "$1" in
    --port) port=$2; shift 2 ;;
    --tls) tls=1; shift ;;
    --) shift; break ;;
    *) echo "with-server.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

work=$(mktemp -d /tmp/nimbrel-http.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

# start_server PORTFILE [ARGS...]: starts the server and waits until it has written its port.
start_server() {
  local file=$1
  shift
  python3 "$here/http_server.py" --port-file "$file" "$@" &
  pids+=($!)
  for _ in $(seq 150); do
    [ -s "$file" ] && return 0
    kill -0 "${pids[-1]}" 2>/dev/null || break
    sleep 0.1
  done
  echo "with-server.sh: the test server did not start" >&2
  return 1
}

if [ "$port" != 0 ]; then bash "$here/port-free.sh" "$port" || exit 1; fi
start_server "$work/port" --port "$port" || exit 1
export NIMBREL_TEST_SERVER="http://127.0.0.1:$(cat "$work/port")/"
NIMBREL_TEST_CLOSED_PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()')
export NIMBREL_TEST_CLOSED_PORT

if [ "$tls" = 1 ]; then
  if command -v openssl >/dev/null; then
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=localhost" \
      -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" \
      -keyout "$work/self.key" -out "$work/self.crt" >/dev/null 2>&1
    start_server "$work/tls-port" --cert "$work/self.crt" --key "$work/self.key" || exit 1
    export NIMBREL_TEST_TLS_SERVER="https://localhost:$(cat "$work/tls-port")/"
  else
    export NIMBREL_TEST_TLS_SKIP="openssl is not installed on the host"
  fi
fi

"$@"
