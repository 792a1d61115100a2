#!/bin/sh
# The manual-page generator: btutil's page has a section for every command and
# every operation with a text of its own, and a tool whose command help fails
# (or prints nothing) fails the generator, and so the build.
# Usage: man_page_test.sh GENERATOR BTUTIL
set -eu
generator=$1
btutil=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cmake -DTOOL="$btutil" -DNAME=btutil -DSECTION=1 -DVERSION=0 -DOUTPUT="$work/btutil.1" -P "$generator"
for command in $("$btutil" help --topics | grep -v ' '); do
  grep -qx ".SS $command" "$work/btutil.1" || fail "the page has no section for $command"
done
grep -qx '.SS reg add' "$work/btutil.1" || fail "the page has no section for reg add"
grep -q '^  3  refused by the system' "$work/btutil.1" || fail "the page lacks the exit codes"

# A stand-in tool whose "broken" command fails its help, or prints none.
cat >"$work/tool" <<'TOOL'
#!/bin/sh
case "$*" in
  --help) printf 'tool: a stand-in.\n\nUsage:\n  tool good   works\n  tool broken fails\n' ;;
  "good --help") echo "Usage: tool good" ;;
  "broken --help") if [ "$MODE" = ok ]; then echo "Usage: tool broken"; elif [ "$MODE" = fails ]; then exit 2; fi ;;
  *) exit 2 ;;
esac
TOOL
chmod +x "$work/tool"
MODE=ok cmake -DTOOL="$work/tool" -DNAME=tool -DOUTPUT="$work/tool.1" -P "$generator" >/dev/null 2>&1 \
  || fail "the stand-in with working help made no page"
grep -qx '.SS broken' "$work/tool.1" || fail "the stand-in's page lacks a command"
for mode in fails silent; do
  rm -f "$work/tool.2"
  if MODE=$mode cmake -DTOOL="$work/tool" -DNAME=tool -DOUTPUT="$work/tool.2" -P "$generator" >"$work/log" 2>&1; then
    fail "a command whose help $mode made a page"
  fi
  grep -q 'tool broken --help' "$work/log" || fail "the error does not name the failing help: $(cat "$work/log")"
  [ ! -e "$work/tool.2" ] || fail "a page was written although a help $mode"
done
echo "man page: all checks passed"
