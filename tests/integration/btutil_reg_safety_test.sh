#!/bin/bash
# Hostile input to the real btutil on real registry store files: .reg files
# with a NUL inside a name change nothing and exit with 1, export never follows
# a planted symbolic link, FIFOs are refused without blocking. (The parser's
# unit tests hold every malformed form; integration_registry_store the stores'
# own attacks.)
# Usage: btutil_reg_safety_test.sh PATH_TO_BTUTIL
set -u

btutil=${1:?usage: btutil_reg_safety_test.sh PATH_TO_BTUTIL}
for tool in iconv sha256sum stat timeout mkfifo; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing"; exit 77; }
done
source "$(dirname "$0")/btutil_harness.sh"
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

finish "btutil reg safety"
