#!/bin/bash
# btutil's bash completion, generated from its help as the build does, and then
# asked as bash asks it: commands, operations, options of each command that the
# overview lists, registry roots for reg's key paths, file names where a
# command takes a file. A help that fails fails the generator.
# Usage: completion_test.sh GENERATOR BTUTIL
set -u
generator=$1
btutil=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
  echo "FAIL: $*"
  failed=$((failed + 1))
}

cmake -DTOOL="$btutil" -DNAME=btutil -DOUTPUT="$work/btutil" -P "$generator" || { echo "FAIL: generator"; exit 1; }
bash -n "$work/btutil" || { echo "FAIL: the completion is no valid bash"; exit 1; }
# shellcheck source=/dev/null
. "$work/btutil"
complete -p btutil | grep -q -- '-F _btutil' || fail "no completion is registered for btutil"

# complete LINE: what TAB offers at the end of LINE (a trailing space starts a new word).
complete_line() {
  read -r -a COMP_WORDS <<<"$1"
  [[ $1 == *' ' ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _btutil
  [ ${#COMPREPLY[@]} -eq 0 ] || printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' '
}
expect() {
  local got
  got=$(complete_line "$1")
  [ "$got" = "$2" ] || fail "\"$1\" offers \"$got\", expected \"$2\""
}
expect_has() {
  local got
  got=$(complete_line "$1")
  [[ " $got" == *" $2 "* ]] || fail "\"$1\" offers \"$got\", without $2"
}

# Every command of the overview, and nothing that is not one.
listed=$("$btutil" --help | sed -n 's/^  btutil \([a-z][a-z]*\).*/\1/p' | sort -u | tr '\n' ' ')
offered=$(complete_line "btutil " | tr ' ' '\n' | grep -v '^-' | grep -v '^$' | sort -u | tr '\n' ' ')
[ "$offered" = "$listed" ] || fail "commands offered: $offered; listed: $listed"
expect "btutil r" "radio reg rssi "
expect "btutil --" "--help --trace --version "
expect "btutil --trace 0x4 re" "reg "
expect "btutil --trace=0x4 re" "reg "
expect "btutil reg " "--help add delete export help import query "
expect "btutil REG q" "query "
expect "btutil permit " "--help allow-all check grant help revoke show "
expect "btutil help s" "services stack "
expect "btutil help reg " "add delete export import query "

# Options: each command's own, --help everywhere, reg's slash switches.
expect "btutil reg query 'HKLM\\x' --" "--help --json "
expect "btutil reg query 'HKLM\\x' /v" "/v /ve "
expect "btutil paired --" "--help --json --notify "
expect "btutil permit grant --" "--always --help --once --until "
expect "btutil ftplist unpack -" "--help --lead -0 "
for command in radio stack addr; do expect_has "btutil $command --" "--json"; done
for command in ${listed/help /}; do expect_has "btutil $command -" "--help"; done

# Registry roots for a key path (any case, keeping the user's quote), until one is typed.
expect "btutil reg query " "'HKCU\\ 'HKEY_CURRENT_USER\\ 'HKEY_LOCAL_MACHINE\\ 'HKLM\\ "
expect "btutil reg add hkl" "'HKLM\\ "
expect "btutil reg delete \"HKEY_C" "\"HKEY_CURRENT_USER\\ "
expect "btutil reg query 'HKLM\\Software' /v LogDebug " ""
expect "btutil decode " ""

# File names where a command takes a file, not elsewhere.
touch "$work/settings.xml" "$work/settings.reg"
expect "btutil xml check $work/settings.x" "$work/settings.xml "
expect "btutil reg import $work/settings.r" "$work/settings.reg "
expect "btutil addr $work/settings.x" ""

# What is typed is never run or expanded as a pattern.
cd "$work" || exit 1
for line in "btutil reg query '\$(touch ran)" "btutil help \$(touch ran) " "btutil xml check \`touch ran\`" \
  "btutil reg add HK*" "btutil \$(touch ran)"; do
  complete_line "$line" >/dev/null
done
[ ! -e "$work/ran" ] || fail "completing ran a command that was typed"
expect "btutil reg add HK*" ""
cd - >/dev/null || exit 1

# A help that fails stops the generator, and no completion is written.
cat >"$work/tool" <<'TOOL'
#!/bin/sh
case "$*" in
  "help --topics") printf 'good\nbroken\n' ;;
  "help broken") exit 2 ;;
  *) echo "Usage: tool good [--flag]" ;;
esac
TOOL
chmod +x "$work/tool"
if cmake -DTOOL="$work/tool" -DNAME=tool -DOUTPUT="$work/tool.bash" -P "$generator" >"$work/log" 2>&1; then
  fail "a failing help made a completion"
fi
grep -q 'tool help broken' "$work/log" || fail "the error does not name the failing help: $(cat "$work/log")"
[ ! -e "$work/tool.bash" ] || fail "a completion was written although a help failed"

[ "$failed" -eq 0 ] || exit 1
echo "completion: all checks passed"
