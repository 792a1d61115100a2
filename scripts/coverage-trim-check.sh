#!/bin/sh
# Did a change to the tests lose coverage? Runs the tests that REGEX selects
# (ctest -R) twice over the same library and tool sources: once with the tests
# of BASE, once with the tests of HEAD, then lists every line and branch of
# src/ and tools/ that the first run reached and the second did not.
#
#   scripts/coverage-trim-check.sh BASE REGEX
#
# BASE must differ from HEAD only in tests/ and fuzz/ (rebase first), and the
# working tree must be clean there. Exit 1 when coverage was lost.
set -eu

if [ $# -ne 2 ]; then
  echo "usage: scripts/coverage-trim-check.sh BASE REGEX" >&2
  exit 2
fi
base=$1
tests=$2
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if ! git diff --quiet "$base" HEAD -- . ':!tests' ':!fuzz'; then
  echo "coverage-trim-check: $base and HEAD differ outside tests/ and fuzz/" >&2
  exit 2
fi
if [ -n "$(git status --porcelain -- tests fuzz)" ]; then
  echo "coverage-trim-check: commit or remove the changes in tests/ and fuzz/ first" >&2
  exit 2
fi
out=${UTILS_COVERAGE_BUILD_DIR:-$root/build-coverage}
mkdir -p "$out"

restore() {
  git reset -q HEAD -- tests fuzz
  git checkout -q HEAD -- tests fuzz
  git clean -fdq -- tests fuzz
}
trap restore EXIT
git checkout -q "$base" -- tests fuzz
sh scripts/coverage.sh "$tests" --json "$out/before.json"
restore
sh scripts/coverage.sh "$tests" --json "$out/after.json"
trap - EXIT
python3 scripts/coverage-compare.py "$out/before.json" "$out/after.json"
