#!/usr/bin/env bash
# Runs one Windows program under Wine in the current WINEPREFIX (ctest's emulator).
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
exec wine "$@"
