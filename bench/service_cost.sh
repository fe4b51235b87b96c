#!/usr/bin/env bash
# Prints what one report upload costs nimbrel-service on SQLite at one fixed rate: the service
# process's CPU time (user and kernel) and its context switches per upload, taken from /proc over
# the run of the load generator (a new connection per upload, as the program makes them) up to its
# last answers, before it deletes what it stored; the whole machine's CPU time over the same span;
# and the generator's own line. With --strace, the run is repeated under strace -c -f and its system-call
# table printed (strace slows the service; its times are not the service's own).
# Usage: bench/service_cost.sh [rate, default 1000] [seconds, default 5] [--strace]
# (--strace needs Debian's strace package, which the project's set-up does not install.)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rate=${1:-1000}
seconds=${2:-5}
trace=${3:-}
if [ "$trace" = "--strace" ] && ! command -v strace >/dev/null; then
  echo "service_cost: --strace needs strace (apt-get install strace)" >&2
  exit 2
fi

. "$root/bench/service_bench.sh"
service_bench_setup cost $((1 << 36)) nimbrel-service service_load

# Sums a field of every thread of the service: voluntary_ctxt_switches, nonvoluntary_ctxt_switches.
switches() {
  local total=0 file value
  for file in /proc/"$service_pid"/task/*/status; do
    value=$(awk -v field="$1:" '$1 == field { print $2 }' "$file" 2>/dev/null || echo 0)
    total=$((total + ${value:-0}))
  done
  echo "$total"
}
# The service's user and system CPU time in clock ticks: "user system".
ticks() { awk '{ print $14, $15 }' /proc/"$service_pid"/stat; }

run() {
  local prefix=("$@")
  rm -f "$work"/reports.sqlite*
  "${prefix[@]}" "$build/nimbrel-service" --config "$work/config.json" --data "$root/service/data" --port 0 \
    --database "$work/reports.sqlite" >"$work/service.out" 2>"$work/service.err" &
  service_pid=$!
  local launcher=$service_pid port=""
  for _ in $(seq 100); do
    port=$(grep -o ':[0-9]*/$' "$work/service.out" 2>/dev/null | tr -d ':/' || true)
    [ -n "$port" ] && break
    sleep 0.1
  done
  if [ -z "$port" ]; then echo "the service did not start: $(cat "$work/service.err")"; return 1; fi
  if [ ${#prefix[@]} -gt 0 ]; then
    service_pid=$(pgrep -P "$service_pid" -x nimbrel-service || echo "$service_pid")
  fi
  sleep 0.5
  local voluntary0 involuntary0 user0 system0 voluntary1 involuntary1 user1 system1
  voluntary0=$(switches voluntary_ctxt_switches)
  involuntary0=$(switches nonvoluntary_ctxt_switches)
  read -r user0 system0 < <(ticks)
  local machine0 machine1
  machine0=$(head -n 1 /proc/stat)
  # Read when the uploads have been answered, before the generator deletes what they stored.
  "$build/service_load" --port "$port" --database "$work/reports.sqlite" --seconds "$seconds" --rate "$rate" \
    >"$work/load.out" &
  local load_pid=$!
  sleep "$(python3 -c "print($seconds + 0.6)")"
  machine1=$(head -n 1 /proc/stat)
  voluntary1=$(switches voluntary_ctxt_switches)
  involuntary1=$(switches nonvoluntary_ctxt_switches)
  read -r user1 system1 < <(ticks)
  wait "$load_pid"
  tail -n 1 "$work/load.out"
  local uploads hz
  uploads=$(python3 -c "print(int($rate * $seconds))")
  hz=$(getconf CLK_TCK)
  python3 - "$uploads" "$hz" "$user0" "$system0" "$user1" "$system1" "$voluntary0" "$voluntary1" \
    "$involuntary0" "$involuntary1" "$machine0" "$machine1" <<'PY'
import sys
uploads, hz, u0, s0, u1, s1, v0, v1, i0, i1 = (int(x) for x in sys.argv[1:11])
# /proc/stat's first line: user nice system idle iowait irq softirq steal ...
m0, m1 = ([int(x) for x in line.split()[1:9]] for line in sys.argv[11:13])
busy = sum(m1[i] - m0[i] for i in (0, 1, 2, 5, 6, 7))
total = sum(m1[i] - m0[i] for i in range(8))
per = lambda ticks: ticks / hz / uploads * 1e6
print(f"service per upload: {per(u1 - u0 + s1 - s0):.0f} us CPU ({per(u1 - u0):.0f} user, {per(s1 - s0):.0f} kernel), "
      f"{(v1 - v0) / uploads:.2f} voluntary and {(i1 - i0) / uploads:.2f} involuntary context switches")
print(f"whole machine over the run: {per(busy):.0f} us CPU per upload, {100 * busy / max(total, 1):.0f} % busy "
      "(the load generator and any other work included)")
PY
  kill -TERM "$service_pid" 2>/dev/null || true
  service_pid=$launcher
  wait "$service_pid" 2>/dev/null || true
  service_pid=""
}

echo "load average $(cut -d' ' -f1-3 /proc/loadavg); $rate uploads/s for $seconds s on SQLite"
run
if [ "$trace" = "--strace" ]; then
  run strace -c -f -o "$work/strace.txt"
  head -n 25 "$work/strace.txt"
fi
