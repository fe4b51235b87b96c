#!/usr/bin/env bash
# Startup page benchmark under Wine, on a prefix seeded with 300 services, 200 Run values and 40
# startup files: the first LoadAutorun (collection and rows) beside a floor program that makes the
# same system calls (version resources and icon extraction included) and builds nothing, as a
# ratio; and a reload beside the first load, each until its result is in. The page collects on a
# worker; a watchdog thread measures the longest time the main thread is blocked during a load.
# Prints; asserts nothing.
# Usage: bench/startup_page.sh [RUNS]   (default 5)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${NIMBREL_BUILD_DIR:-$root/build-bench}
runs=${1:-5}

"$root/scripts/bootstrap.sh"
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja -DNIMBREL_TESTS=OFF >/dev/null
cmake --build "$build" --target bench_startup_page -j "$(nproc)" >/dev/null

source "$root/scripts/wine-env.sh"
nimbrel_start_display
nimbrel_start_prefix

bench=$build/bench/bench_startup_page.exe
wine "$bench" seed
# One warm-up of each, so that both pay Wine's first-start costs alike.
wine "$bench" floor 1 >/dev/null
floor=$(wine "$bench" floor "$runs" | tr -d '\r')
page=$(wine "$bench" page "$runs" | tr -d '\r')

value() { sed -n "s/.*$1=\([0-9.]*\).*/\1/p" <<<"$2"; }
floor_ms=$(value floor_ms "$floor")
floor_own=$(value floor_own_ms "$floor")
first_ms=$(value first_ms "$page")
first_own=$(value first_own_ms "$page")
reload_ms=$(value reload_ms "$page")
reload_own=$(value reload_own_ms "$page")
ratio() { echo "$1 / $2" | bc -l; }
echo "Startup page, median of $runs runs under Wine ($(value entries "$floor") entries, $(value rows "$page") rows)"
echo "(\"beside collection\": the time less CollectAutorun itself, whose service-manager calls vary"
echo " several-fold from run to run under Wine)"
printf '                               total        beside collection\n'
printf '  floor (system calls only)   %8.1f ms   %8.1f ms\n' "$floor_ms" "$floor_own"
printf '  first LoadAutorun           %8.1f ms   %8.1f ms\n' "$first_ms" "$first_own"
printf '  reload                      %8.1f ms   %8.1f ms\n' "$reload_ms" "$reload_own"
printf '  first / floor               %8.2f      %8.2f      (goal <= 1.5)\n' "$(ratio "$first_ms" "$floor_ms")" "$(ratio "$first_own" "$floor_own")"
printf '  reload / first              %8.2f      %8.2f      (goal <= 0.5)\n' "$(ratio "$reload_ms" "$first_ms")" "$(ratio "$reload_own" "$first_own")"
printf '  longest main-thread block   %8.1f ms   first load, %.1f ms reload   (goal <= 200)\n' \
  "$(value first_block_ms "$page")" "$(value reload_block_ms "$page")"
