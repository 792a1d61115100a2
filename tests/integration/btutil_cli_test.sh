#!/bin/bash
# End-to-end test of the btutil binary on temporary registry store files: what
# only the real stores, files and process show. A file that Wine's regedit
# exported imports and exports again byte for byte, an export that cannot be
# written, a directory or read-only store refused, the trace settings read at
# start, the help's examples surviving a POSIX shell, a one-time permission used
# up in the user store, a pipe named as a file, and hostile files, links and
# FIFOs. The commands' logic, messages and refusals (queries, malformed files)
# are tested on the simulation (tests/unit/btutil_*).
# Usage: btutil_cli_test.sh PATH_TO_BTUTIL README DATA_FOLDER
set -u

usage='usage: btutil_cli_test.sh PATH_TO_BTUTIL README DATA_FOLDER'
btutil=${1:?$usage}
readme=${2:?$usage}
data=${3:?$usage}
for tool in od cmp timeout iconv sha256sum stat mkfifo; do
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

# --- hostile input, on stores in folders of their own ------------------------------
# .reg files with a NUL inside a name change nothing and exit with 1, export never
# follows a planted symbolic link, FIFOs are refused without blocking. (The
# parser's unit tests hold every malformed form; integration_registry_store the
# stores' own attacks.)
export UTILS_REGISTRY_MACHINE=$work/machine/registry/machine.db
export UTILS_REGISTRY_USER=$work/home/config/utils/registry.db
stores() { sha256sum "$UTILS_REGISTRY_MACHINE" "$UTILS_REGISTRY_USER"; }
mode() { stat -c %a "$1"; }
# utf16 FILE: the UTF-8 text on stdin as UTF-16LE with its byte order mark.
utf16() { { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE; } >"$1"; }

run reg add 'HKLM\Software\Vendor' /v Important /t REG_DWORD /d 7 /f
run reg add 'HKLM\Software\Vendor\Legacy' /v Keep /d yes /f
run reg add 'HKCU\Software\Vendor' /v Mine /d 1 /f
check "the stores are made" exits 0

# --- crafted UTF-16 files: NUL inside names --------------------------------------
before=$(stores)
n=0
for body in $'[-HKEY_CURRENT_USER\\\x01x]' \
  $'[HKEY_LOCAL_MACHINE\\Software\\Vendor]\r\n"Important\x01.old"=-'; do
  n=$((n + 1))
  # \x01 stands for the NUL: iconv turns it into 01 00, sed makes that 00 00.
  printf 'Windows Registry Editor Version 5.00\r\n\r\n%s\r\n' "$body" | utf16 "$work/nul$n.reg"
  LC_ALL=C sed -i 's/\x01\x00/\x00\x00/g' "$work/nul$n.reg"
  run reg import "$work/nul$n.reg"
  check "UTF-16 file $n with a NUL in a name is refused" regrefused "The line holds a NUL character"
  check "UTF-16 file $n says nothing was imported" has "$err" "Nothing was imported."
done
printf 'Windows Registry Editor Version 5.00\r\n\r\n[-HKEY_CURRENT_USER\\\0x]\r\n' >"$work/nul-utf8.reg"
run reg import "$work/nul-utf8.reg"
check "UTF-8 file with a NUL is refused" exits 1
check "the NUL files changed no store" is "$(stores)" "$before"
run reg query 'HKLM\Software\Vendor' /v Important
check "Important is still there" has "$out" "0x7"
run reg query 'HKLM\Software\Vendor\Legacy'
check "Legacy is still there" exits 0

# --- a surrogate pair reaches the store ------------------------------------------
printf 'Windows Registry Editor Version 5.00\r\n[HKCU\\S]\r\n"\xf0\x9f\x98\x80"="pair"\r\n' | utf16 "$work/pair.reg"
run reg import "$work/pair.reg"
check "a proper surrogate pair imports" exits 0
check "those files changed nothing else" is "$(sha256sum "$UTILS_REGISTRY_MACHINE")" "$(echo "$before" | head -1)"

# --- export never follows or replaces a symbolic link --------------------------------------
echo "victim" >"$work/victim"
ln -s "$work/victim" "$work/out.reg.btutil-partial"
run reg export 'HKLM\Software\Vendor' "$work/out.reg"
check "export beside a planted link" exits 0
check "the planted link's target is untouched" is "$(cat "$work/victim")" "victim"
check "the export is a regular file" test -f "$work/out.reg" -a ! -L "$work/out.reg"
ln -s "$work/victim" "$work/link.reg"
run reg export 'HKLM\Software\Vendor' "$work/link.reg" /y
check "export to a symbolic link is refused" regrefused "link.reg: it is a symbolic link"
check "the link's target is untouched" is "$(cat "$work/victim")" "victim"
check "the link stays a link" test -L "$work/link.reg"
ln -s "$work/nothing-here" "$work/dangling.reg"
run reg export 'HKLM\Software\Vendor' "$work/dangling.reg"
check "export to a dangling link is refused" regrefused "symbolic link"
check "the dangling link's target was not created" test ! -e "$work/nothing-here"
mkfifo "$work/fifo.reg"
run reg export 'HKLM\Software\Vendor' "$work/fifo.reg" /y
check "export to a FIFO is refused without blocking" regrefused "not a regular file"
chmod 640 "$work/out.reg"
run reg export 'HKLM\Software\Vendor' "$work/out.reg" /y
check "export over an existing file" exits 0
check "the replaced file keeps its mode" is "$(mode "$work/out.reg")" 640
(umask 077 && "$btutil" reg export 'HKLM\Software\Vendor' "$work/private.reg" >/dev/null)
check "a new export follows the umask" is "$(mode "$work/private.reg")" 600
check "no temporary file is left" is "$(find "$work" -maxdepth 1 -name '*.tmp-*' | wc -l)" 0

# --- import from a FIFO does not block ---------------------------------------------
run reg import "$work/fifo.reg"
check "import from a FIFO fails at once" exits 1
check "import from a FIFO says why" has "$err" "not a regular file"

finish "btutil"
