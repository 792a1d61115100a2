#!/bin/bash
# Imports a generated software-hive-shaped registry file (about 10,000 keys and
# 22,000 values, 5 MB of UTF-16) with `btutil reg import` into fresh stores, and,
# where Wine is installed, with Wine's `regedit /S` into a scratch Wine prefix,
# side by side. Prints the wall-clock seconds of each round and their median.
# Usage: reg_import_bench.sh PATH_TO_BTUTIL [ROUNDS]
set -u

btutil=${1:?usage: reg_import_bench.sh PATH_TO_BTUTIL [ROUNDS]}
rounds=${2:-3}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'WINEPREFIX=$work/wineprefix /usr/lib/wine/wineserver -k >/dev/null 2>&1; rm -rf "$work"' EXIT

python3 "$here/make_hive_reg.py" "$work/hive.reg" 10000 || exit 1

# median FILE: the median of the numbers in FILE, one a line.
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# seconds COMMAND...: runs the command and prints its wall-clock seconds.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || { echo "FAILED: $*" >&2; return 1; }
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f\n", b - a }'
}

: >"$work/btutil.times"
for round in $(seq "$rounds"); do
  rm -rf "$work/store"
  export UTILS_REGISTRY_MACHINE=$work/store/machine.db UTILS_REGISTRY_USER=$work/store/user.db
  t=$(seconds "$btutil" reg import "$work/hive.reg") || exit 1
  echo "btutil reg import, round $round: $t s"
  echo "$t" >>"$work/btutil.times"
done
echo "btutil reg import: median $(median "$work/btutil.times") s ($(du -k "$work/store/machine.db" | cut -f1) KiB store)"

wine=$(command -v wine || command -v wine64 || ls /usr/lib/wine/wine64 2>/dev/null)
if [ -z "$wine" ]; then
  echo "Wine is not installed: no side-by-side figure (scripts/install-windows-deps.sh installs it)."
  exit 0
fi
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d" DISPLAY=
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
"$wine" wineboot -i </dev/null >/dev/null 2>&1
"$wineserver" -w
"$wineserver" -p
: >"$work/wine.times"
for round in $(seq "$rounds"); do
  "$wine" reg delete 'HKLM\Software\BenchHive' /f </dev/null >/dev/null 2>&1
  t=$(seconds "$wine" regedit /S "$work/hive.reg" </dev/null) || exit 1
  echo "wine regedit /S, round $round: $t s"
  echo "$t" >>"$work/wine.times"
done
echo "wine regedit /S: median $(median "$work/wine.times") s (writes the prefix's files later, not durable on return)"
