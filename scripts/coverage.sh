#!/bin/sh
# Line and branch coverage of the library and tools (src/ and tools/) by the
# Linux test suite: a Debug build with coverage counters in build-coverage,
# the tests run once, then gcovr's summary (and an HTML report in
# build-coverage/coverage/). Slow: not part of every CI run.
#
#   scripts/coverage.sh                     the whole suite
#   scripts/coverage.sh 'unit_xml|integration_xml' --json before.json
#                                           only the tests ctest -R selects,
#                                           with the covered lines and branches
#                                           kept for scripts/coverage-compare.py
#
# UTILS_JOBS sets the parallel jobs (2); UTILS_COVERAGE_BUILD_DIR the build.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${UTILS_COVERAGE_BUILD_DIR:-$root/build-coverage}
jobs=${UTILS_JOBS:-2}
tests=
json=
while [ $# -gt 0 ]; do
  case $1 in
    --json) json=$2; shift 2 ;;
    -*) echo "coverage: unknown option $1" >&2; exit 2 ;;
    *) tests=$1; shift ;;
  esac
done
case $json in ''|/*) ;; *) json=$(pwd)/$json ;; esac

if ! command -v gcovr >/dev/null 2>&1; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "coverage: gcovr is missing (apt-get install gcovr, as root)" >&2
    exit 1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q gcovr >/dev/null
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DUTILS_COVERAGE=ON -DUTILS_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs"
find "$build" -name '*.gcda' -delete
# Coverage is measured, not judged here: a failing test still counts what it ran.
set -- --test-dir "$build" -j "$jobs" --output-on-failure
[ -n "$tests" ] && set -- "$@" -R "$tests"
ctest "$@" || echo "coverage: some tests failed (see above)" >&2

mkdir -p "$build/coverage"
cd "$root"
set -- --root "$root" --object-directory "$build" --filter 'src/' --filter 'tools/' \
  --exclude-unreachable-branches --exclude-throw-branches \
  --html-details "$build/coverage/index.html" --print-summary
[ -n "$json" ] && set -- "$@" --json "$json"
# Search only the coverage build for counters: gcovr follows symbolic links,
# and a Wine prefix in the tree links to the whole file system.
gcovr "$@" "$build"
