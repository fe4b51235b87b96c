#!/usr/bin/env bash
# Saves screenshots of the service's pages, taken by the page tests in headless Chromium, to
# out/service-shots/: the report page in Korean, English and Arabic, and entry pages.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export NIMBREL_SERVICE_SHOTS=$root/out/service-shots
exec "$root/scripts/test-service.sh" -R BrowserTest
