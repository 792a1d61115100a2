#!/bin/bash
# reg import and export with the real btutil on real registry store files: a file
# that Wine's regedit exported imports and exports again byte for byte; a file
# with lines reg.exe would skip is refused whole, each such line listed. How each
# line reads is the parser's unit tests' job.
# Usage: btutil_reg_import_test.sh PATH_TO_BTUTIL DATA_FOLDER
set -u

btutil=${1:?usage: btutil_reg_import_test.sh PATH_TO_BTUTIL DATA_FOLDER}
data=${2:?usage: btutil_reg_import_test.sh PATH_TO_BTUTIL DATA_FOLDER}
for tool in cmp sha256sum timeout; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing"; exit 77; }
done
source "$(dirname "$0")/btutil_harness.sh"
export UTILS_REGISTRY_MACHINE=$work/machine.db
export UTILS_REGISTRY_USER=$work/user.db

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

# --- every line reg.exe would skip is listed; nothing is imported ------------------
before=$(sha256sum "$UTILS_REGISTRY_USER")
printf 'REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Half]\r\n"Good"="yes"\r\n"Bad"=dword:123456789\r\n"Also"="x" #not a comment here\r\n"Good2"=dword:1\r\n' >"$work/half.reg"
run reg import "$work/half.reg"
check "a file with lines reg.exe skips is refused" exits 1
check "the count" has "$err" "2 malformed lines"
check "the first skipped line" has "$err" "line 4: A dword is 1 to 8 hex digits"
check "the second skipped line" has "$err" "line 5: Only a ; comment may follow the closing quote."
check "nothing was imported" is "$(sha256sum "$UTILS_REGISTRY_USER")" "$before"

printf 'REGEDIT4 FOO\r\n[HKEY_CURRENT_USER\\Software\\Fuzzy]\r\n"V"="x"\r\n' >"$work/fuzzy.reg"
run reg import "$work/fuzzy.reg"
check "a header reg.exe reads nothing of succeeds" exits 0
check "and says nothing was imported" has "$out" "Nothing was imported"
check "and imports nothing" is "$(sha256sum "$UTILS_REGISTRY_USER")" "$before"

finish "btutil reg import"
