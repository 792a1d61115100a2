#!/bin/sh
# Scores vrlbusd's systemd unit with systemd-analyze's offline security check:
# the overall exposure must be 2.0 or less ("OK" or better).
# Usage: unit_security_test.sh UNIT_TEMPLATE
set -eu
template=$1
if ! command -v systemd-analyze >/dev/null 2>&1; then
  echo "skipped: systemd-analyze is not installed"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sed -e 's|@UTILS_VRLBUSD_PATH@|/usr/sbin/vrlbusd|' -e 's|@UTILS_DOC_PATH@|/usr/share/doc/libutils-bt|' \
  "$template" > "$work/vrlbusd.service"
# It exits non-zero when the score is above its own threshold; the score is
# what counts here. A run that gives no score is a failure, not a skip.
systemd-analyze security --offline=true "$work/vrlbusd.service" > "$work/report" 2>&1 || true
grep -v '^✓' "$work/report"
score=$(sed -n 's/.*Overall exposure level for vrlbusd.service: \([0-9.]*\).*/\1/p' "$work/report")
[ -n "$score" ] || { cat "$work/report"; echo "no exposure level in the report"; exit 1; }
if awk -v s="$score" 'BEGIN { exit !(s <= 2.0) }'; then
  echo "vrlbusd.service exposure $score: 2.0 or better"
else
  echo "vrlbusd.service exposure $score is above 2.0"
  exit 1
fi
