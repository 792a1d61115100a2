#!/bin/bash
# End-to-end test of the btutil binary on temporary registry store files: what
# only the real stores, files and process show. Values of every type through the
# store files, export and import files in UTF-16 and UTF-8, a malformed import
# that leaves both stores as they were, a read-only store, the trace settings read
# at start, and the help's examples surviving a POSIX shell. The commands' logic,
# messages and refusals are tested on the simulation (tests/unit/btutil_*).
# Usage: btutil_cli_test.sh PATH_TO_BTUTIL README
set -u

btutil=${1:?usage: btutil_cli_test.sh PATH_TO_BTUTIL README}
readme=${2:?usage: btutil_cli_test.sh PATH_TO_BTUTIL README}
for tool in od; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing"; exit 77; }
done
source "$(dirname "$0")/btutil_harness.sh"
export UTILS_REGISTRY_MACHINE=$work/machine.db
export UTILS_REGISTRY_USER=$work/user.db

# --- the load step and the self-demonstration read the stores -----------------
run
check "demo on empty stores" answers 0 "log level mask 0x0, application trace mask 0x0"
key='HKLM\Software\vorlane'
run reg add "$key" /v LogDebug /t REG_DWORD /d 12 /f
check "add reports success" is "$code:$out" "0:The operation completed successfully."
run reg add "$key" /v EnableAppDebug /t REG_DWORD /d 0x10003 /f
run
check "demo shows the stored settings" has "$out" "    LogDebug        REG_DWORD    0xc"
check "demo shows the library's masks" has "$out" "log level mask 0xC, application trace mask 0x3"
check "the trace mask is announced on the debug output" grep -q "AppDebug=3" "$work/debug.log"
run reg add "$key" /v LogDebug /t REG_DWORD /d 3
check "an existing value in the store needs /f" regrefused "already exists"

# --- every type through the store ---------------------------------------------
run reg add "HKEY_LOCAL_MACHINE\\software\\VORLANE" /v Blob /t REG_BINARY /d 000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f
check "add binary under the long root name" exits 0
run reg add "$key" /v Big /t REG_QWORD /d 0x0102030405060708
run reg add "$key" /v Path /d 'C:\Program Files\"Vorlane"'
run reg add "$key" /ve /d 'défaut'
run reg add "$key\\Devices\\00:11:22:33:44:55"
check "add key without value" exits 0
run reg query "$key"
check "query lists values and subkeys" is "$out" $'\nHKEY_LOCAL_MACHINE\\Software\\vorlane
    (Default)    REG_SZ    défaut
    Big    REG_QWORD    0x102030405060708
    Blob    REG_BINARY    000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F
    EnableAppDebug    REG_DWORD    0x10003
    LogDebug    REG_DWORD    0xc
    Path    REG_SZ    C:\\Program Files\\"Vorlane"

HKEY_LOCAL_MACHINE\\Software\\vorlane\\Devices'

# --- export, delete, and the export imported back ------------------------------
run reg query "$key" /s
tree_before=$out
run reg export "$key" "$work/vorlane.reg"
check "export" exits 0
check "export starts with the UTF-16LE byte order mark" is "$(od -An -tx1 -N2 "$work/vorlane.reg" | tr -d ' ')" "fffe"
run reg export "$key" "$work/no/such/dir/x.reg"
check "export to an unwritable place fails with 1" fails 1 "Cannot write"
run reg delete "$key" /v Blob /f
run reg query "$key" /v Blob
check "a deleted value is gone (exit 1)" fails 1 "was not found"
run reg delete "$key" /f
run reg query "$key"
check "a deleted key is gone (exit 1)" fails 1 "unable to find the specified registry key"
run reg import "$work/vorlane.reg"
check "import the UTF-16 export" exits 0
run reg query "$key" /s
check "the round trip restores the tree" is "$out" "$tree_before"

# --- import in UTF-8, with deletions ------------------------------------------
cat >"$work/plain.reg" <<'REG'
Windows Registry Editor Version 5.00

; a comment
[HKEY_CURRENT_USER\Software\Vorlane\Pelmora]
"InstallDir"="/opt/vorlane\\pelmora"
"Accent"="été 日本"
"Blob"=hex:01,02,03,\
  04,05
"Flags"=dword:0000000A

[-HKEY_LOCAL_MACHINE\Software\vorlane\Devices]
[HKEY_LOCAL_MACHINE\Software\vorlane]
"EnableAppDebug"=-
REG
run reg import "$work/plain.reg"
check "import UTF-8 without mark" exits 0
run reg query 'HKCU\Software\Vorlane\Pelmora'
check "UTF-8 import values" is "$out" $'\nHKEY_CURRENT_USER\\Software\\Vorlane\\Pelmora
    Accent    REG_SZ    été 日本
    Blob    REG_BINARY    0102030405
    Flags    REG_DWORD    0xa
    InstallDir    REG_SZ    /opt/vorlane\\pelmora'
run reg query "$key\\Devices"
check "[-KEY] deleted the key" exits 1
run reg query "$key" /v EnableAppDebug
check "\"name\"=- deleted the value" exits 1

# --- a malformed import writes nothing; a read-only store refuses --------------
run reg query HKLM /s
machine_before=$out
run reg query HKCU /s
user_before=$out
cat >"$work/bad.reg" <<'REG'
Windows Registry Editor Version 5.00

[-HKEY_CURRENT_USER\Software\Vorlane]
[HKEY_LOCAL_MACHINE\Software\vorlane]
"LogDebug"=dword:00000001
"Blob"=hex:01,02,\
  03,4x
REG
run reg import "$work/bad.reg"
check "malformed import is refused" regrefused "bad.reg: 1 malformed line"
run reg query HKLM /s
check "malformed import left the machine store" is "$out" "$machine_before"
run reg query HKCU /s
check "malformed import left the user store" is "$out" "$user_before"
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

# --- permit, services and ftplist on the real stores and files ----------------
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

finish "btutil"
