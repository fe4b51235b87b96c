#!/usr/bin/env bash
# Stops a test at once when a program it did not start holds the fixed port it needs.
#   port-free.sh PORT
# Exits 0 when nothing accepts connections on 127.0.0.1:PORT (waiting up to a second for the
# server of the test before, which ends with that test); otherwise says who holds the port and
# exits 1.
set -uo pipefail
port=$1
for _ in $(seq 10); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || exit 0
  sleep 0.1
done
owner=$(ss -Hltnp "sport = :$port" 2>/dev/null | grep -o 'users:(.*)' | head -1)
echo "port $port is taken by a program the tests did not start${owner:+: $owner}." >&2
echo "The tests that serve on it or expect nothing there would fail far from the cause; end that program and run them again." >&2
exit 1
