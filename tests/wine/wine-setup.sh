#!/bin/sh
# Test fixture setup: makes the Wine prefix in $WINEPREFIX ready and starts a
# persistent wineserver, so that each test program starts in a fraction of a
# second. Usage: wine-setup.sh WINE WINESERVER
#
# Every Wine command has its standard streams sent to /dev/null: Wine's service
# processes inherit them, and ctest would otherwise wait for those pipes to close.
set -eu

wine=$1
wineserver=$2
: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
export WINEPREFIX

quiet() { "$@" </dev/null >/dev/null 2>&1; }

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  quiet "$wine" wineboot -i
  # The null graphics driver lets hidden top-level windows exist without a display.
  quiet "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f
  quiet "$wine" winecfg /v win10
  # Stop the prefix's processes and wait until the registry is on disk.
  quiet "$wineserver" -k || true
  quiet "$wineserver" -w || true
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-setup: initialising $WINEPREFIX failed" >&2
    exit 1
  fi
fi

# A server left running (by an interrupted run) keeps serving the prefix.
quiet "$wineserver" -p || true
quiet "$wine" wineboot
