#!/usr/bin/env bash
# Builds and runs the Bundle page benchmark under Wine on a fresh prefix seeded with 2,000
# uninstall registrations across the four keys: GetInstall against a floor that only reads,
# the time from a registry change to the reloaded list, reloads per burst of 200 changes, and
# the CPU time of the idle page with its four watchers. Prints; asserts nothing.
# Usage: bench/bundle_page.sh [BUILD_DIR] [REGISTRATIONS] [ROUNDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
registrations=${2:-2000}
rounds=${3:-7}

[ -f "$build/build.ninja" ] || bash "$root/scripts/configure.sh" "$build"
cmake --build "$build" --target bench_bundle_page -j2 >/dev/null
exe="$build/bench/bench_bundle_page.exe"

source "$root/scripts/wine-env.sh"
nimbrel_start_display
nimbrel_start_prefix

# The wineserver of this prefix answers every registry call; its CPU time while the page idles
# is printed beside the program's own.
server_name="server-$(printf '%x' "$(stat -c %d "$WINEPREFIX")")-$(printf '%x' "$(stat -c %i "$WINEPREFIX")")"
server_pid=""
for proc in /proc/[0-9]*; do
  cwd=$(readlink "$proc/cwd" 2>/dev/null || true)
  if [ "${cwd##*/}" = "$server_name" ]; then server_pid=${proc#/proc/}; fi
done
server_ticks() {
  if [ -n "$server_pid" ] && [ -r "/proc/$server_pid/stat" ]; then awk '{print $14 + $15}' "/proc/$server_pid/stat"; else echo 0; fi
}
hz=$(getconf CLK_TCK)

echo "Bundle page benchmark under Wine: $registrations registrations, $rounds rounds"
wine "$exe" seed "$registrations" | tr -d '\r'
wine "$exe" inventory "$rounds" | tr -d '\r'
before=$(server_ticks)
wine "$exe" page "$rounds" | tr -d '\r'
after=$(server_ticks)
echo "page wineserver_cpu_ms_whole_page_run=$(( (after - before) * 1000 / hz ))"
