#!/usr/bin/env bash
# Start-up benchmark under Wine: the time from process start to Nimbrel's main window shown and
# painted, beside the same figure for a bare Win32 window (the floor), as a ratio; the size of
# Nimbrel.exe and the private memory of the running program. Prints; asserts nothing.
# Usage: bench/startup.sh [RUNS]   (default 7)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${NIMBREL_BUILD_DIR:-$root/build-bench}
runs=${1:-7}

"$root/scripts/bootstrap.sh"
cmake -S "$root" -B "$build" -G Ninja -DNIMBREL_TESTS=OFF >/dev/null
cmake --build "$build" --target Nimbrel bench_bare_window bench_startup_timer -j "$(nproc)" >/dev/null

source "$root/scripts/wine-env.sh"
nimbrel_start_display
nimbrel_start_prefix

timer=$build/bench/bench_startup_timer.exe
# One warm-up run each, so that both pay Wine's first-start costs alike.
wine "$timer" "$(winepath -w "$build/bench/bench_bare_window.exe")" NimbrelBenchBare 1 >/dev/null
wine "$timer" "$(winepath -w "$build/app/Nimbrel.exe")" TFrmNimbrel 1 >/dev/null
bare=$(wine "$timer" "$(winepath -w "$build/bench/bench_bare_window.exe")" NimbrelBenchBare "$runs" | tr -d '\r')
app=$(wine "$timer" "$(winepath -w "$build/app/Nimbrel.exe")" TFrmNimbrel "$runs" | tr -d '\r')

value() { sed -n "s/.*$1=\([0-9.]*\).*/\1/p" <<<"$2"; }
bare_ms=$(value start_ms "$bare")
app_ms=$(value start_ms "$app")
echo "start-up, median of $runs runs under Wine"
printf '  bare window   %8.1f ms   private %6s KiB\n' "$bare_ms" "$(value private_kib "$bare")"
printf '  Nimbrel       %8.1f ms   private %6s KiB\n' "$app_ms" "$(value private_kib "$app")"
printf '  ratio         %8.2f\n' "$(echo "$app_ms / $bare_ms" | bc -l)"
printf '  Nimbrel.exe   %8d bytes\n' "$(stat -c %s "$build/app/Nimbrel.exe")"
