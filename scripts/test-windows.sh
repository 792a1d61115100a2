#!/bin/sh
# The Windows leg: cross-builds utils.dll and the test programs with mingw-w64 and
# runs the whole test suite under Wine (a private prefix in the build folder).
#
#   scripts/install-windows-deps.sh   # once: compilers, Wine, GoogleTest sources
#   scripts/test-windows.sh           # configure, build, test
#
# UTILS_WINDOWS_BUILD_DIR sets the build folder (default build-windows),
# UTILS_JOBS the parallel jobs (default 2). Extra arguments go to ctest.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${UTILS_WINDOWS_BUILD_DIR:-$root/build-windows}
jobs=${UTILS_JOBS:-2}

seconds() { date +%s; }
begin=$(seconds)

# The differential test of btutil reg against Wine's reg runs the Linux btutil:
# the release build's (UTILS_LINUX_BUILD_DIR, default build), built here if needed.
linux_build=${UTILS_LINUX_BUILD_DIR:-$root/build}

cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DUTILS_BUILD_TESTS=ON -DUTILS_LINUX_BTUTIL="$linux_build/tools/btutil/btutil"
[ -f "$linux_build/CMakeCache.txt" ] ||
  cmake -S "$root" -B "$linux_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
configured=$(seconds)

cmake --build "$linux_build" -j "$jobs" --target btutil
cmake --build "$build" -j "$jobs"
built=$(seconds)

status=0
ctest --test-dir "$build" --output-on-failure --no-tests=error -j "$jobs" --timeout 300 "$@" || status=$?
tested=$(seconds)

echo "test-windows: configure $((configured - begin)) s, build $((built - configured)) s," \
  "tests $((tested - built)) s, total $((tested - begin)) s"
exit "$status"
