#!/bin/bash
# End-to-end test of the btutil binary on temporary registry store files: what
# only the real stores, files and process show. A file that Wine's regedit
# exported imports and exports again byte for byte, an export that cannot be
# written, a directory or read-only store refused, the trace settings read at
# start, the help's examples surviving a POSIX shell, a one-time permission used
# up in the user store and a pipe named as a file. The commands' logic, messages
# and refusals (queries, malformed files) are tested on the simulation
# (tests/unit/btutil_*).
# Usage: btutil_cli_test.sh PATH_TO_BTUTIL README DATA_FOLDER
set -u

usage='usage: btutil_cli_test.sh PATH_TO_BTUTIL README DATA_FOLDER'
btutil=${1:?$usage}
readme=${2:?$usage}
data=${3:?$usage}
for tool in od cmp timeout; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing"; exit 77; }
done
source "$(dirname "$0")/btutil_harness.sh"
export UTILS_REGISTRY_MACHINE=$work/machine.db
export UTILS_REGISTRY_USER=$work/user.db

key='HKLM\Software\vorlane'
# --- an export that cannot be written, a directory or a read-only store --------
run reg add "$key" /v Path /d 'C:\Program Files\"Vorlane"'
check "add makes the machine store" exits 0
run reg export "$key" "$work/no/such/dir/x.reg"
check "export to an unwritable place fails with 1" fails 1 "Cannot write"
run reg import /tmp
check "a directory is not imported" fails 1 "Cannot read /tmp: not a regular file"
if [ "$(id -u)" != 0 ]; then
  chmod a-w "$UTILS_REGISTRY_MACHINE"
  run reg add "$key" /v LogDebug /t REG_DWORD /d 1 /f
  check "a read-only machine store refuses with 1" fails 1 "Access is denied."
  chmod u+w "$UTILS_REGISTRY_MACHINE"
fi

# --- the help's and the README's examples survive a POSIX shell -----------------
run --help
overview=$out
# Parsed by sh, an example keeps every backslash.
examples=$( (printf '%s\n' "$overview"; for t in $("$btutil" help --topics | tr ' ' '+'); do
  "$btutil" help $(printf '%s' "$t" | tr '+' ' '); done) | sed -n 's/^  \(btutil .*\)/\1/p' | grep '\\')
examples="$examples
$(sed -n 's/^    \(btutil .*\)/\1/p' "$readme" | sed 's/ *#.*//')"
check "examples were found" [ "$(printf '%s\n' "$examples" | grep -c 'HKLM')" -ge 3 ]
while IFS= read -r example; do
  [ -n "$example" ] || continue
  example=${example%% | *}  # the btutil command of a pipeline (a pipeline would not run set in this shell)
  parsed=$(sh -c 'eval "set -- $1"; printf "%s" "$*"' sh "$example" 2>/dev/null)
  check "example survives sh: $example" is "$(printf '%s' "$parsed" | tr -cd '\\' | wc -c)" \
    "$(printf '%s' "$example" | tr -cd '\\' | wc -c)"
done <<EOF
$examples
EOF
# What an unquoted key path turns into in a shell gets a hint to quote it.
run reg query HKLM\Software\vorlane
check "an unquoted key path is refused" regrefused 'unknown root "HKLMSoftwarevorlane"'
check "with a hint to quote it" has "$err" "quote it"
run --version
check "--version" has "$out" "btutil (utils) "

# --- trace lines: LogDebug read at start, --trace for one run ------------------
device=66:77:88:99:aa:bb
line='[4][utils][EnableNewServices] BluetoothFindFirstRadio failed'
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/no-bus   # no radio: a level-4 line
: >"$work/debug.log"
run reg delete "$key" /v LogDebug /f
run services enable $device
check "no radio is the system's refusal" exits 3
check "without LogDebug no trace line is written" is "$(cat "$work/debug.log")" ""
UTILS_DEBUG_OUTPUT='' run --trace 0x4 services enable $device
check "--trace shows the lines on standard error" has "$err" "$line"
run --trace=4 services enable $device
check "--trace with UTILS_DEBUG_OUTPUT set writes there" grep -qF "$line" "$work/debug.log"
run reg query "$key" /v LogDebug
check "--trace wrote nothing to the registry" exits 1
: >"$work/debug.log"
run reg add "$key" /v LogDebug /t REG_DWORD /d 4 /f
run services enable $device
check "LogDebug is read at start" grep -qF "$line" "$work/debug.log"
: >"$work/debug.log"
run --trace 0 services enable $device
check "--trace 0 silences LogDebug for the run" is "$(cat "$work/debug.log")" ""
run --trace 4x services enable $device  # main passes a malformed mask on to the refusal
check "a malformed mask is refused" refused 'The trace mask "4x"'
unset DBUS_SYSTEM_BUS_ADDRESS

# --- permit and services on the real stores, ftplist on a pipe -----------------
radio=00:11:22:33:44:55
run permit grant $radio $device 0x1105 --once
check "grant writes to the user store" exits 0
run permit show $radio $device
check "show decodes a one-time permission" has "$out" "  request 0x1105   once"
run permit check $radio $device 0x1105
check "check answers yes and uses the permission up" exits 0
run permit check $radio $device 0x1105
check "a used-up permission answers no" exits 1
run reg add 'HKLM\SOFTWARE\Vorlane\Pelmora\Supported' /v '{0000110B-0000-1000-8000-00805F9B34FB}' /t REG_DWORD /d 1 /f
run services supported 0x110b
check "services supported reads the machine store" is "$code:$out" \
  "0:{0000110B-0000-1000-8000-00805F9B34FB} (Audio Sink) is supported."
"$btutil" ftplist pack --lead /inbox -- -0 $'two\nlines' >"$work/block.bin"
run ftplist unpack --lead -0 <(cat "$work/block.bin")
check "unpack reads a pipe named as FILE, -0 keeps a line break" is "$(od -An -c "$work/stdout" | tr -s ' ')" \
  "$(printf '/inbox\0-0\0two\nlines\0' | od -An -c | tr -s ' ')"

# --- round trip of a file exported by Wine's regedit /E ---------------------------
run reg import "$data/wine_regedit_export.reg"
check "the Wine export imports" exits 0
run reg export 'HKCU\Software\RoundTrip' "$work/again.reg"
check "and exports" exits 0
check "to the same bytes" cmp "$data/wine_regedit_export.reg" "$work/again.reg"
run reg import "$work/again.reg"
check "its own export imports again" exits 0
run reg export 'HKCU\Software\RoundTrip' "$work/third.reg" /y
check "to the same bytes again" cmp "$data/wine_regedit_export.reg" "$work/third.reg"

finish "btutil"
