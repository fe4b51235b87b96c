#!/usr/bin/env bash
# Builds the web service and runs it on 127.0.0.1:8080 with the example configuration and its
# SQLite file in out/, until Ctrl+C (or SIGTERM).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${NIMBREL_SERVICE_BUILD_DIR:-$root/build-service}
base=http://127.0.0.1:8080

"$root/scripts/bootstrap.sh"
cmake -S "$root/service" -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j 2 --target nimbrel-service
mkdir -p "$root/out"

cat <<TEXT
Start-up answer:  $base/api.init.php   (headers User-Version, User-Language, User-Command)
Report upload:    $base/report.php     (POST, answers {"pk":"KEY"})
Report page:      $base/?report=KEY
Entry page:       $base/entry/hkcu/OneDrive
Home page:        $base/nimbrel
TEXT
exec "$build/nimbrel-service" --listen 127.0.0.1 --port 8080 \
  --config "$root/service/config.example.json" --database "$root/out/service.sqlite"
