#!/bin/sh
# The whole test suite: install what is missing, then build and test the
# release configuration, the address+undefined and thread sanitizer builds, the
# timing-sensitive tests many times over under load, the Windows DLL under Wine,
# and check the formatting. No test is retried: one that fails now and then is a
# fault to find.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)
started=$(date +%s)

step() { printf '\n== %s (%ss)\n' "$1" "$(($(date +%s) - started))"; }

step "dependencies"
"$top/scripts/install-deps.sh"

step "release build and tests"
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$top/build" -j "$jobs"
ctest --test-dir "$top/build" --output-on-failure -j "$jobs"

step "timing-sensitive tests many times over under load (about two minutes)"
"$top/scripts/stress-tests.sh" -n 200 -j 4 -t 30 "$top/build"

step "fuzzing (about a minute per target)"
"$top/scripts/fuzz.sh" 60

step "address and undefined-behaviour sanitizers"
cmake -S "$top" -B "$top/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DUTILS_SANITIZE=address \
  -DUTILS_BUILD_BENCH=OFF >/dev/null
cmake --build "$top/build-asan" -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir "$top/build-asan" --output-on-failure -j "$jobs"

step "thread sanitizer"
cmake -S "$top" -B "$top/build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DUTILS_SANITIZE=thread \
  -DUTILS_BUILD_BENCH=OFF >/dev/null
cmake --build "$top/build-tsan" -j "$jobs"
ctest --test-dir "$top/build-tsan" --output-on-failure -j "$jobs"

step "Windows DLL under Wine"
"$top/scripts/install-windows-deps.sh"
"$top/scripts/test-windows.sh"

step "formatting"
cd "$top"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

step "done"
