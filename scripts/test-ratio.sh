#!/bin/sh
# Non-blank lines of the tests (tests/, fuzz/) against those of the library
# and tools (src/, include/, tools/): sources and scripts, not test data.
set -eu
cd "$(dirname "$0")/.."
count() {
  git ls-files -- "$@" | grep -E '\.(c|cpp|h|sh|py|cmake)$|CMakeLists\.txt$' |
    xargs grep -cv '^[[:space:]]*$' | awk -F: '{ s += $NF } END { print s + 0 }'
}
code=$(count src include tools)
tests=$(count tests fuzz)
echo "tests $tests lines, code $code lines: $(( tests * 100 / code ))%"
