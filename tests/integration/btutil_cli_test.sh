#!/bin/bash
# End-to-end test of the btutil binary on temporary registry store files:
# add/query/delete, export and import round trips in UTF-16 and UTF-8, bad input
# with its exit codes and messages, and nothing written by a malformed import.
# Usage: btutil_cli_test.sh PATH_TO_BTUTIL README
set -u

btutil=${1:?usage: btutil_cli_test.sh PATH_TO_BTUTIL README}
readme=${2:?usage: btutil_cli_test.sh PATH_TO_BTUTIL README}
for tool in iconv od; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing"; exit 77; }
done
source "$(dirname "$0")/btutil_harness.sh"
export UTILS_REGISTRY_MACHINE=$work/machine.db
export UTILS_REGISTRY_USER=$work/user.db

# --- the self-demonstration on empty stores -----------------------------------
run
check "demo exits 0" exits 0
check "demo reads LogDebug" has "$out" "    LogDebug        (not set)"
check "demo shows the masks" has "$out" "log level mask 0x0, application trace mask 0x0"
check "demo converts the address" has "$out" "BT2Lptstr       00:1a:7d:da:71:13"
check "demo decodes" has "$out" 'XAD_Decode(0x1234, "DWORD")  Unknown type: 0x1234'

# --- add and query ------------------------------------------------------------
key='HKLM\Software\vorlane'
run reg add "$key" /v LogDebug /t REG_DWORD /d 12 /f
check "add LogDebug" exits 0
check "add reports success" is "$out" "The operation completed successfully."
run reg add "$key" /v EnableAppDebug /t REG_DWORD /d 0x10003 /f
check "add EnableAppDebug" exits 0
run reg query "$key" /v LogDebug
check "query one value" is "$out" $'\nHKEY_LOCAL_MACHINE\\Software\\vorlane\n    LogDebug    REG_DWORD    0xc'

run
check "demo shows the stored settings" has "$out" "    LogDebug        REG_DWORD    0xc"
check "demo shows the library's masks" has "$out" "log level mask 0xC, application trace mask 0x3"
check "the trace mask is announced on the debug output" grep -q "AppDebug=3" "$work/debug.log"

run reg add "$key" /v LogDebug /t REG_DWORD /d 3
check "an existing value needs /f" refused "already exists"
run reg query "$key" /v LogDebug
check "the refused add changed nothing" has "$out" "REG_DWORD    0xc"

run reg add "HKEY_LOCAL_MACHINE\\software\\VORLANE" /v Blob /t REG_BINARY /d 000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f
check "add binary under the long root name" exits 0
run reg add "$key" /v Big /t REG_QWORD /d 0x0102030405060708
check "add qword" exits 0
run reg add "$key" /v Path /d 'C:\Program Files\"Vorlane"'
check "add string" exits 0
run reg add "$key" /ve /d 'défaut'
check "add default value" exits 0
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
run reg query 'hklm\software' /s
check "recursive query" exits 0
check "recursive query reaches the leaf" has "$out" $'\nHKEY_LOCAL_MACHINE\\software\\vorlane\\Devices\\00:11:22:33:44:55'
run reg query HKLM /v logdebug /s
check "search by value name" has "$out" "End of search: 1 match(es) found."

# --- export -------------------------------------------------------------------
run reg query "$key" /s
tree_before=$out
check "the tree to compare is not empty" has "$tree_before" "LogDebug    REG_DWORD    0xc"
run reg export "$key" "$work/vorlane.reg"
check "export" exits 0
check "export starts with the UTF-16LE byte order mark" is "$(od -An -tx1 -N2 "$work/vorlane.reg" | tr -d ' ')" "fffe"
iconv -f UTF-16LE -t UTF-8 <(tail -c +3 "$work/vorlane.reg") >"$work/exported.txt" 2>/dev/null
check "export is UTF-16LE" [ -s "$work/exported.txt" ]
check "export has CRLF line ends" grep -q $'^Windows Registry Editor Version 5.00\r$' "$work/exported.txt"
check "export writes dwords" grep -q $'^"LogDebug"=dword:0000000c\r$' "$work/exported.txt"
check "export writes qwords" grep -q $'^"Big"=hex(b):08,07,06,05,04,03,02,01\r$' "$work/exported.txt"
check "export escapes strings" grep -qF '"Path"="C:\\Program Files\\\"Vorlane\""' "$work/exported.txt"
check "export writes the default value as @" grep -qF '@="défaut"' "$work/exported.txt"
check "export wraps long hex" grep -q $'^  16,17,18,19,1a,1b,1c,1d,1e,1f\r$' "$work/exported.txt"
check "export writes subkeys" grep -qF '[HKEY_LOCAL_MACHINE\Software\vorlane\Devices\00:11:22:33:44:55]' "$work/exported.txt"
run reg export "$key" "$work/vorlane.reg"
check "export keeps an existing file without /y" refused "/y"
run reg export "$key" "$work/no/such/dir/x.reg"
check "export to an unwritable place fails with 3" exits 3
check "export says why" has "$err" "Cannot write"

# --- delete, then import the export back ---------------------------------------
run reg delete "$key" /v Blob
check "delete needs /f" refused "/f"
run reg delete "$key" /v Blob /f
check "delete a value" exits 0
run reg query "$key" /v Blob
check "a deleted value is gone (exit 1)" exits 1
check "missing value message" has "$err" "was not found"
run reg delete "$key" /f
check "delete the tree" exits 0
run reg query "$key"
check "a deleted key is gone (exit 1)" exits 1
check "missing key message" has "$err" "unable to find the specified registry key"
run reg import "$work/vorlane.reg"
check "import the UTF-16 export" exits 0
run reg query "$key" /s
check "the round trip restores the tree" is "$out" "$tree_before"

# --- import in UTF-8, with and without byte order mark -------------------------
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

printf '\xef\xbb\xbfWindows Registry Editor Version 5.00\r\n\r\n[HKCU\\Software\\Bom]\r\n"A"="with mark"\r\n' >"$work/bom.reg"
run reg import "$work/bom.reg"
check "import UTF-8 with mark" exits 0
run reg query 'HKCU\Software\Bom' /v A
check "UTF-8 with mark value" has "$out" "A    REG_SZ    with mark"

printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wide]\r\n"W"="\xc3\xa9\xe6\x97\xa5"\r\n"Q"=hex(b):ff,00,00,00,00,00,00,00\r\n' \
  | iconv -f UTF-8 -t UTF-16LE >"$work/wide.body"
{ printf '\xff\xfe'; cat "$work/wide.body"; } >"$work/wide.reg"
run reg import "$work/wide.reg"
check "import hand-made UTF-16LE" exits 0
run reg query 'HKCU\Software\Wide'
check "UTF-16LE import values" is "$out" $'\nHKEY_CURRENT_USER\\Software\\Wide\n    Q    REG_QWORD    0xff\n    W    REG_SZ    é日'

# --- a malformed import writes nothing -----------------------------------------
run reg query HKLM /s
machine_before=$out
run reg query HKCU /s
user_before=$out
check "the stores to compare are not empty" has "$machine_before$user_before" "vorlane"
cat >"$work/bad.reg" <<'REG'
Windows Registry Editor Version 5.00

[-HKEY_CURRENT_USER\Software\Vorlane]
[HKEY_LOCAL_MACHINE\Software\vorlane]
"LogDebug"=dword:00000001
"Blob"=hex:01,02,\
  03,4x
REG
run reg import "$work/bad.reg"
check "malformed import is refused" refused "bad.reg: 1 malformed line"
check "malformed import names the line" has "$err" "line 7: Bad hex data at \"4x\""
check "malformed import says nothing was imported" has "$err" "Nothing was imported."
run reg query HKLM /s
check "malformed import left the machine store" is "$out" "$machine_before"
run reg query HKCU /s
check "malformed import left the user store" is "$out" "$user_before"
printf 'AREGEDIT4\r\n[HKEY_CURRENT_USER\\X]\r\n' >"$work/old.reg"
run reg import "$work/old.reg"
check "a header reg.exe does not take is refused" refused "old.reg, line 1: The file must start"
run reg import "$work/missing.reg"
check "a missing file fails with 3" exits 3
run reg query HKCU\\X
check "refused imports created nothing" exits 1

# --- bad command lines ---------------------------------------------------------
run frobnicate
check "unknown command" refused 'Unknown command "frobnicate"'
run reg add 'HKXX\Software' /v A
check "unknown root" refused 'unknown root "HKXX"'
run reg add "$key" /v A /t REG_DWORDX /d 1
check "bad type" refused 'Invalid type "REG_DWORDX"'
run reg add "$key" /v A /t REG_DWORD /d 0x1g
check "bad number" refused 'Invalid data "0x1g"'
run reg add "$key" /v A /t REG_DWORD /d 4294967296
check "number too large" refused "at most 0xFFFFFFFF"
run reg add "$key" /v A /t REG_BINARY /d 0a0
check "odd hex digits" refused "pairs of hex digits"
run reg query
check "missing key argument" refused "needs 1 argument, 0 given"
run reg add "$key" /v
check "missing option value" refused "The option /v needs a value."
run reg add "$key" /v A /q
check "unknown option" refused 'Unknown option or unexpected argument "/q".'
run reg import /tmp
check "a /path is a path, not a switch" exits 3
check "a directory is not imported" has "$err" "Cannot read /tmp: not a regular file"
run reg delete HKLM /f
check "a root cannot be deleted" refused "root key cannot be deleted"
run reg query 'HKCU\Software\Nothing'
check "missing key exits 1" exits 1
check "missing key message names it" has "$err" 'HKEY_CURRENT_USER\Software\Nothing'
run addr 00:11:22
check "bad address" refused "Invalid address"
run decode twelve
check "bad decode value" refused 'Invalid value "twelve"'
if [ "$(id -u)" != 0 ]; then
  chmod a-w "$UTILS_REGISTRY_MACHINE"
  run reg add "$key" /v LogDebug /t REG_DWORD /d 1 /f
  check "a read-only machine store refuses with 3" exits 3
  check "read-only message" has "$err" "Access is denied."
  chmod u+w "$UTILS_REGISTRY_MACHINE"
fi

# --- help, addr, decode --------------------------------------------------------
run --help
check "--help" exits 0
check "--help shows usage and examples" has "$out" "btutil reg add 'HKLM\Software\vorlane' /v LogDebug /t REG_DWORD /d 12 /f"
overview=$out
# Every command that the overview lists answers --help, -h and "help COMMAND" alike.
commands=$(printf '%s\n' "$overview" | sed -n 's/^  btutil \([a-z][a-z]*\).*/\1/p' | grep -vx help | sort -u)
check "the overview lists the commands" [ "$(printf '%s\n' "$commands" | wc -l)" -ge 14 ]
check "the overview lists xml" has "$commands" xml
for command in $commands; do
  run "$command" --help
  check "$command --help" exits 0
  check "$command --help has its exit codes" has "$out" $'Exit status:\n  0  '
  text=$out
  run "$command" -h
  check "$command -h" is "$out" "$text"
  run help "$command"
  check "help $command" is "$out" "$text"
done
run frobnicate
check "the unknown-command hint names xml" has "$err" "xml"

# Examples survive a POSIX shell: parsed by sh, a line keeps every backslash.
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
check "an unquoted key path is refused" refused 'unknown root "HKLMSoftwarevorlane"'
check "with a hint to quote it" has "$err" "quote it"
run reg --help
check "reg --help" has "$out" "Usage: btutil reg OPERATION"
run reg import /?
check "reg import /?" has "$out" "Usage: btutil reg import FILE"
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
run --trace 4x services enable $device
check "a malformed mask is refused" refused 'The trace mask "4x"'
run --version
check "--version" has "$out" "btutil (utils) "
unset DBUS_SYSTEM_BUS_ADDRESS

run addr 00-1A-7D-DA-71-13
check "addr from text" is "$out" $'Text:    00:1a:7d:da:71:13\nBtAddr:  0x001A7DDA7113\nBdAddr:  00 1A 7D DA 71 13'
run addr 0x1A7DDA7113
check "addr from value" is "$out" $'Text:    00:1a:7d:da:71:13\nBtAddr:  0x001A7DDA7113\nBdAddr:  00 1A 7D DA 71 13'
run decode 0x12345 DWORD
check "decode" is "$out" "Unknown type: 0x00012345"

# --- permit, services and ftplist on the real stores --------------------------
# json EXPRESSION: stdout is one JSON document (d) for which the Python expression holds.
json() {
  python3 -c 'import json, sys; d = json.loads(sys.stdin.read()); sys.exit(0 if eval(sys.argv[1]) else 1)' "$1" \
    <<<"$out"
}
radio=00:11:22:33:44:55
run permit grant $radio $device 0x1105 --once
check "grant says what it wrote" is "$out" \
  "Granted request 0x1105 of 66:77:88:99:AA:BB on radio $radio once (the request it permits uses it up)."
run permit show $radio $device
check "show decodes a one-time permission" has "$out" "  request 0x1105   once"
run permit show $radio $device --json
check "show --json is one document" json 'd["requests"][0]["code"] == 0x1105 and d["requests"][0]["grants"]'
run permit check $radio $device 0x1105
check "check answers yes and uses the permission up" exits 0
run permit check $radio $device 0x1105
check "a used-up permission answers no" exits 1
run permit $radio $device 0x1105
check "the check is an explicit operation" refused "needs an operation"
run permit frobnicate $radio $device
check "an unknown permit operation is named" refused 'frobnicate'
list='HKLM\SOFTWARE\Vorlane\Pelmora\Supported'
run reg add "$list" /v '{0000110B-0000-1000-8000-00805F9B34FB}' /t REG_DWORD /d 1 /f
for form in 0000110b-0000-1000-8000-00805f9b34fb 0x110b 110B '{0000110b-0000-1000-8000-00805f9b34fb}'; do
  run services supported "$form"
  check "services supported $form" is "$code:$out" \
    "0:{0000110B-0000-1000-8000-00805F9B34FB} (Audio Sink) is supported."
done
run services supported 0x1105
check "an unlisted class is not supported" exits 1
run services list --json
check "services list --json" json 'd["exists"] and d["services"] == [{"service": "{0000110B-0000-1000-8000-00805F9B34FB}", "name": "Audio Sink", "status": "supported"}]'
"$btutil" ftplist pack --lead /inbox -- -0 $'two\nlines' >"$work/block.bin"
run ftplist unpack --lead -0 "$work/block.bin"
check "unpack FILE -0 keeps a line break in a name" is "$(od -An -c "$work/stdout" | tr -s ' ')" \
  "$(printf '/inbox\0-0\0two\nlines\0' | od -An -c | tr -s ' ')"
run ftplist unpack --lead "$work/block.bin"
check "a name with a line break needs -0" refused "holds a line break"
run ftplist unpack --lead -0 <(cat "$work/block.bin")
check "unpack reads a pipe named as FILE" exits 0
run reg add 'HKCU\Software\Json' /v Numbers /t REG_MULTI_SZ /d 'one\0two' /f
run reg query 'HKCU\Software\Json' --json
check "reg query --json on the store" json 'd["keys"][0]["values"] == [{"name": "Numbers", "type": "REG_MULTI_SZ", "data": ["one", "two"]}]'
run addr 00:1a:7d:da:71:13 --json
check "addr --json" json 'd["value"] == 0x1A7DDA7113'
run ftplist unpack "$work"
check "a folder as FILE is the system's refusal" exits 3
run ftplist unpack "$work/missing.bin"
check "a missing FILE is the system's refusal" exits 3

finish "btutil"
