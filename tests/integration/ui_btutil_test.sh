#!/bin/bash
# End-to-end test of btutil lang and btutil unlock on the real binary: the
# language from the locale variables and a language library on disk found
# through the registry store; the password prompt through a pinentry stand-in,
# PAM through pam_wrapper and pam_matrix, and the tests' unlock component
# loaded by its bare name.
# Usage: ui_btutil_test.sh BTUTIL LANG_LIBRARY PASSDB
# (run with pam_wrapper preloaded and the unlock component on LD_LIBRARY_PATH)
set -u

btutil=${1:?usage: ui_btutil_test.sh BTUTIL LANG_LIBRARY PASSDB}
lang_library=${2:?usage: ui_btutil_test.sh BTUTIL LANG_LIBRARY PASSDB}
passdb=${3:?usage: ui_btutil_test.sh BTUTIL LANG_LIBRARY PASSDB}
source "$(dirname "$0")/btutil_harness.sh"
export UTILS_REGISTRY_MACHINE=$work/machine.db
export UTILS_REGISTRY_USER=$work/user.db
unset LANGUAGE LC_ALL LC_MESSAGES

# --- lang ---------------------------------------------------------------------
LANG=fr_FR.UTF-8 run lang
check "lang without settings answers no" exits 1
check "lang names the language" has "$out" "User interface language: 1036 (0x40c)"
check "lang names its library" has "$out" "Language library: VskStackFRA.dll"
check "lang would load nothing" has "$out" "Would load: nothing"

suite='HKLM\SOFTWARE\Vorlane\Pelmora'
mkdir -p "$work/inst/langs"
run reg add "$suite" /v InstallDir /t REG_SZ /d "$work/inst" /f
check "InstallDir stored" exits 0
run reg add "$suite\\Lang" /v DisableLangFromLocal /t REG_DWORD /d 0 /f
check "Lang key stored" exits 0

library=$work/inst/langs/VskStackFRA.so
LANG=fr_FR.UTF-8 run lang
check "a missing library does not load" exits 1
check "the path is under langs with the shared-object suffix" has "$out" "Would load: $library"
check "the missing library is said not to load" has "$out" "Loads: no"

cp "$lang_library" "$library"
LANG=fr_FR.UTF-8 run lang --json
check "the library loads" exits 0
check "lang --json gives the language" has "$out" '"language": 1036'
check "lang --json gives the path" has "$out" "\"path\": \"$library\""
check "lang --json says it loads" has "$out" '"loads": true'
LANG=ar_SA.UTF-8 run lang
check "Arabic reads right to left" has "$out" "Message boxes: right to left"
LC_ALL=C run lang
check "C is English, which has no library" has "$out" "Language library: none for this language"
LC_ALL=C run lang --json
check "English in JSON" has "$out" '"library": null'
check "nothing to load for English" exits 1

# A file that is not a library does not load; the Lang setting's path does.
echo "not a library" >"$work/inst/langs/VskStackGER.so"
LANGUAGE=de run lang
check "a file that is not a library does not load" has "$out" "Loads: no"
run reg add "$suite\\Lang" /v DisableLangFromLocal /t REG_DWORD /d 1 /f
run reg add "$suite\\Lang" /v VskStack /t REG_SZ /d "$work/inst/Custom.dll" /f
cp "$lang_library" "$work/inst/Custom.so"
LC_ALL=C run lang
check "the Lang setting's library loads as its shared object" has "$out" "Would load: $work/inst/Custom.so"
check "whatever the language" exits 0
run reg add "$suite\\Lang" /v DisableLangFromLocal /t REG_DWORD /d 0 /f

# A FIFO where the library should be is refused, not waited on.
rm "$library"
mkfifo "$library"
LANG=fr_FR.UTF-8 run lang
check "a FIFO as the library does not load and does not hang" exits 1
check "the FIFO is said not to load" has "$out" "Loads: no"

run lang extra
check "lang takes no arguments" refused "lang"
run help lang
check "help lang gives its exit codes" has "$out" "1  no language library loads"

# --- unlock -------------------------------------------------------------------
run unlock --context x12
check "a context that is not a number" refused "is not a number"
run unlock --help
check "unlock's exit codes" has "$out" "1  not unlocked"
if [ -n "${UTILS_NO_PAM_WRAPPER:-}" ]; then
  finish "ui btutil (unlock not tested: no pam_wrapper)" || exit 1
  exit 77
fi
printf '%s:s3cret:utils-unlock\n' "$(id -un)" >"$passdb"
export UTILS_PINENTRY=$(cd "$(dirname "$0")" && pwd)/ui_pinentry_standin.sh STANDIN_LOG=$work/pinentry.log

STANDIN_PIN=s3cret run unlock --context 0x1234
check "the right password unlocks" exits 0
check "unlock says so" has "$out" "Unlocked"
STANDIN_PIN=wrong run unlock
check "a wrong password does not unlock" exits 1
check "unlock says not unlocked" has "$out" "Not unlocked"
check "the password is not in the debug output" bash -c "! grep -q s3cret '$UTILS_DEBUG_OUTPUT' 2>/dev/null"

finish "ui btutil"
