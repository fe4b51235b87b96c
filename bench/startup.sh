#!/usr/bin/env bash
# Start-up benchmark under Wine: the time from process start to Nimbrel's main window shown and
# painted, beside two floors, as ratios: a bare Win32 window, and the same top-level window with
# the same child windows as Nimbrel's home card (classes, styles, fonts; no logic), which is what
# Nimbrel's window costs at the least here. Then the size of Nimbrel.exe and the private memory
# of the running program after its window is painted, with its live threads (each costs about
# 1 MB under Wine) (goals: ratios <= 1.3 to the bare window and <= 1.1 to the child windows,
# 1,000,000 bytes, 8 MB). Nimbrel is measured three times: with
# the web service answering its start-up check at once, with the service down (nothing listens),
# and with the service answering after 5 s; the check runs beside the window and must not delay
# it. The benchmark build asks a local test service on port 18090. Then the longest time the main
# window's thread is blocked while large start-up answers are read and merged (in-process, the
# answer handed over without the network). Prints; asserts nothing.
# Usage: bench/startup.sh [RUNS]   (default 7)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${NIMBREL_BUILD_DIR:-$root/build-bench}
runs=${1:-7}

"$root/scripts/bootstrap.sh"
port=18090
cmake -S "$root" -B "$build" -G Ninja -DNIMBREL_TESTS=OFF -DNIMBREL_SERVICE_URL="http://127.0.0.1:$port/" \
  -DNIMBREL_LINK_URL="http://127.0.0.1:$port" >/dev/null
cmake --build "$build" --target Nimbrel bench_bare_window bench_child_window bench_startup_timer \
  bench_check_answer -j 2 >/dev/null

source "$root/scripts/wine-env.sh"
nimbrel_start_display
nimbrel_start_prefix

timer=$build/bench/bench_startup_timer.exe
exe=$(winepath -w "$build/app/Nimbrel.exe")
bare_exe=$(winepath -w "$build/bench/bench_bare_window.exe")
child_exe=$(winepath -w "$build/bench/bench_child_window.exe")

# The test server: an answer with the update bar and list rows (no update, so no prompt opens).
service=http://127.0.0.1:$port
python3 "$root/tests/net/http_server.py" --port "$port" &
nimbrel_cleanup_pids+=($!)
control() {  # control WHAT BODY
  python3 -c 'import sys, urllib.request; urllib.request.urlopen(urllib.request.Request(sys.argv[1], data=sys.argv[2].encode()))' \
    "$service/control/$1?path=/api.init.php" "$2"
}
for _ in $(seq 50); do control delay 0 2>/dev/null && break; sleep 0.1; done
control answer '{"notify":"http://127.0.0.1/notice","file_white":["a.exe*"],"name_white":["A"],"name_black":["B"]}'

# One warm-up run each, so that both pay Wine's first-start costs alike.
wine "$timer" "$bare_exe" NimbrelBenchBare 1 >/dev/null
wine "$timer" "$child_exe" NimbrelBenchChild 1 >/dev/null
wine "$timer" "$exe" TFrmNimbrel 1 >/dev/null
value() { sed -n "s/.*$1=\([0-9.]*\).*/\1/p" <<<"$2"; }
bare=$(wine "$timer" "$bare_exe" NimbrelBenchBare "$runs" | tr -d '\r')
bare_ms=$(value start_ms "$bare")
echo "start-up, median of $runs runs under Wine: process start to the main window shown and painted"
echo "  (ratios: to the bare window / to the child windows)"
child=$(wine "$timer" "$child_exe" NimbrelBenchChild "$runs" | tr -d '\r')
child_ms=$(value start_ms "$child")
printf '  bare window                       %8.1f ms                          private %6s KiB, %s threads\n' \
  "$bare_ms" "$(value private_kib "$bare")" "$(value threads "$bare")"
printf '  child windows of the home card    %8.1f ms  ratio %4.2f              private %6s KiB, %s threads\n' \
  "$child_ms" "$(echo "$child_ms / $bare_ms" | bc -l)" "$(value private_kib "$child")" "$(value threads "$child")"
# measure LABEL: Nimbrel against the service as it is set now.
measure() {
  local app app_ms
  app=$(wine "$timer" "$exe" TFrmNimbrel "$runs" | tr -d '\r')
  app_ms=$(value start_ms "$app")
  printf '  Nimbrel, %-24s %8.1f ms  ratio %4.2f / %4.2f  private %6s KiB, %s threads\n' "$1" "$app_ms" \
    "$(echo "$app_ms / $bare_ms" | bc -l)" "$(echo "$app_ms / $child_ms" | bc -l)" "$(value private_kib "$app")" \
    "$(value threads "$app")"
}
measure "service answering"
control delay 5
measure "service answering in 5 s"
kill "${nimbrel_cleanup_pids[-1]}" 2>/dev/null || true
measure "service down"
printf '  Nimbrel.exe   %8d bytes\n' "$(stat -c %s "$build/app/Nimbrel.exe")"
echo "start-up answers, median of $runs runs under Wine: the main window's longest block (goal <= 50 ms)"
wine "$build/bench/bench_check_answer.exe" "$runs" | tr -d '\r' | sed 's/^/  /'
