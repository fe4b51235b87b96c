#!/usr/bin/env bash
# Builds and runs the registry watcher benchmark under Wine: CPU time of idle watchers (this
# process and the wineserver, which answers every re-arming), change latency and stop time,
# for RegistryMonitor ("event"), the 10 ms re-arming loop it replaced ("poll") and no watcher.
# Usage: bench/registry_watch.sh [BUILD_DIR] [WATCHERS] [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-base}
watchers=${2:-64}
seconds=${3:-5}

[ -f "$build/build.ninja" ] || bash "$root/scripts/configure.sh" "$build"
cmake --build "$build" --target nimbrel_base -j2 >/dev/null
exe="$build/bench/registry_watch.exe"
mkdir -p "$build/bench"
x86_64-w64-mingw32-g++-posix -std=c++20 -O2 -municode -Wall -Wextra -Wpedantic -Werror \
  -DUNICODE -D_UNICODE -DNOMINMAX -DWIN32_LEAN_AND_MEAN -D_WIN32_WINNT=0x0A00 -I"$root" \
  "$root/bench/registry_watch.cpp" "$build/base/libnimbrel_base.a" \
  -static -static-libgcc -static-libstdc++ -luser32 -ladvapi32 -lshell32 -lversion -o "$exe"

source "$root/scripts/wine-env.sh"
nimbrel_start_display
nimbrel_start_prefix

# The wineserver of this prefix: the process whose working folder is the prefix's server folder
# (server-<device>-<inode> of the prefix, under a temporary folder).
server_name="server-$(printf '%x' "$(stat -c %d "$WINEPREFIX")")-$(printf '%x' "$(stat -c %i "$WINEPREFIX")")"
server_pid=""
for proc in /proc/[0-9]*; do
  cwd=$(readlink "$proc/cwd" 2>/dev/null || true)
  if [ "${cwd##*/}" = "$server_name" ]; then server_pid=${proc#/proc/}; fi
done
[ -n "$server_pid" ] || echo "(wineserver not found: its CPU time is not measured)"
server_ticks() {
  if [ -n "$server_pid" ] && [ -r "/proc/$server_pid/stat" ]; then
    awk '{print $14 + $15}' "/proc/$server_pid/stat"
  else
    echo 0
  fi
}
hz=$(getconf CLK_TCK)

echo "registry watchers under Wine: $watchers watchers, $seconds s idle"
for mode in none event poll; do
  before=$(server_ticks)
  wine "$exe" "$mode" "$watchers" "$seconds" | tr -d '\r'
  after=$(server_ticks)
  echo "mode=$mode wineserver_cpu_ms_whole_run=$(( (after - before) * 1000 / hz ))"
done
