# Sourced by the service's benchmarks, after `root` is set. service_bench_setup NAME CAP TARGET...
# builds TARGET... into $build (NIMBREL_SERVICE_BUILD_DIR or build-service), makes the folder $work
# and writes $work/config.json: the example configuration without the per-address limit (all load
# comes from 127.0.0.1) and with a storage cap of CAP bytes, those settings kept in $bench_settings
# for further configurations. On exit the service $service_pid (when set) is stopped, then the
# processes in $extra_pids, then service_bench_cleanup runs when the caller defines it, and $work
# is removed.

build=${NIMBREL_SERVICE_BUILD_DIR:-$root/build-service}
service_pid=""
extra_pids=()

service_bench_stop() {  # service_bench_stop PID...
  local pid
  for pid in "$@"; do kill -TERM "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
}

service_bench_exit() {
  if [ -n "$service_pid" ]; then service_bench_stop "$service_pid"; fi
  service_bench_stop "${extra_pids[@]}"
  if declare -F service_bench_cleanup >/dev/null; then service_bench_cleanup; fi
  rm -rf "$work"
}

service_bench_setup() {
  local name=$1 cap=$2
  shift 2
  cmake -S "$root/service" -B "$build" -G Ninja >/dev/null
  cmake --build "$build" -j 2 --target "$@" >/dev/null
  work=$(mktemp -d "${TMPDIR:-/tmp}/nimbrel-$name-XXXXXX")
  trap service_bench_exit EXIT
  trap "exit 130" INT TERM
  bench_settings=(uploads_per_minute_per_address=1000000 storage_cap_bytes="$cap")
  python3 "$root/scripts/service-config.py" "$work/config.json" "${bench_settings[@]}"
}
