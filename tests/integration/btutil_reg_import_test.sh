#!/bin/bash
# reg import and export with the real btutil on real registry store files: a file
# that Wine's regedit exported imports and exports again byte for byte; an import
# is all or nothing.
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

finish "btutil reg import"
