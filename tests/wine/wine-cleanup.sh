#!/bin/sh
# Test fixture cleanup: ends the persistent wineserver of the test prefix and
# every Wine process still running in it. Usage: wine-cleanup.sh WINESERVER
set -eu

wineserver=$1
: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
export WINEPREFIX

"$wineserver" -k </dev/null >/dev/null 2>&1 || true
"$wineserver" -w </dev/null >/dev/null 2>&1 || true
