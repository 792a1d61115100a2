#!/bin/sh
# Line and branch coverage of the library and tools (src/ and tools/) by the
# whole Linux test suite: a Debug build with coverage counters in
# build-coverage, every test run once, then gcovr's summary (and an HTML report
# in build-coverage/coverage/). Slow: not part of every CI run.
#
#   scripts/coverage.sh            (UTILS_JOBS sets the parallel jobs, 2)
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${UTILS_COVERAGE_BUILD_DIR:-$root/build-coverage}
jobs=${UTILS_JOBS:-2}

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
ctest --test-dir "$build" -j "$jobs" --output-on-failure || echo "coverage: some tests failed (see above)" >&2

mkdir -p "$build/coverage"
cd "$root"
gcovr --root "$root" --object-directory "$build" --filter 'src/' --filter 'tools/' \
  --exclude-unreachable-branches --exclude-throw-branches \
  --html-details "$build/coverage/index.html" --print-summary
