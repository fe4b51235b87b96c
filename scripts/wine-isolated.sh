#!/usr/bin/env bash
# Runs one Windows test program in a Wine prefix of its own, which is removed afterwards.
# For tests that end processes: they would otherwise take the shared prefix's programs along.
set -uo pipefail
source "$(dirname "$0")/wine-env.sh"
nimbrel_start_prefix
wine "$@"
