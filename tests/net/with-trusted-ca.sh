#!/usr/bin/env bash
# Runs a test program against an HTTPS test server whose certificate comes from a throwaway CA
# that the host trusts for the run (Wine checks chains against the host's CA store only).
#   with-trusted-ca.sh COMMAND...
# Needs root (the host store is changed) and openssl; otherwise it prints why and exits 77, which
# ctest reports as skipped. The CA leaves the store again on every exit, failures included.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "$(id -u)" != 0 ]; then
  echo "SKIPPED: the trusted HTTPS test adds a CA to the host's store and needs root"
  exit 77
fi
for tool in openssl update-ca-certificates; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is not installed"
    exit 77
  fi
done

work=$(mktemp -d /tmp/nimbrel-ca.XXXXXX)
anchor=/usr/local/share/ca-certificates/nimbrel-test-ca-$$.crt
pid=
cleanup() {
  [ -n "$pid" ] && { kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; }
  if [ -e "$anchor" ]; then
    rm -f "$anchor"
    update-ca-certificates >/dev/null 2>&1
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Nimbrel Throwaway Test CA $$" \
  -keyout "$work/ca.key" -out "$work/ca.crt" >/dev/null 2>&1 || exit 1
openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout "$work/server.key" -out "$work/server.csr" \
  >/dev/null 2>&1 || exit 1
printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' \
  > "$work/server.ext"
openssl x509 -req -in "$work/server.csr" -CA "$work/ca.crt" -CAkey "$work/ca.key" -CAcreateserial -days 1 \
  -extfile "$work/server.ext" -out "$work/server.crt" >/dev/null 2>&1 || exit 1
cp "$work/ca.crt" "$anchor"
update-ca-certificates >/dev/null 2>&1 || exit 1

python3 "$here/http_server.py" --port-file "$work/port" --cert "$work/server.crt" --key "$work/server.key" &
pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || { echo "the HTTPS test server did not start" >&2; exit 1; }
export NIMBREL_TEST_TRUSTED_SERVER="https://localhost:$(cat "$work/port")/"
"$@"
