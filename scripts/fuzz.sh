#!/bin/sh
# Builds the fuzz targets with clang (libFuzzer, address and undefined-behaviour
# sanitizers) in build-fuzz and runs each for a bounded time on a copy of its
# seed corpus. Any crash, leak or abort fails the script; libFuzzer leaves the
# input that caused it in build-fuzz/artifacts/.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]   (default: 60 seconds, every target)
#
# UTILS_FUZZ_BUILD_DIR sets the build folder, UTILS_JOBS the parallel jobs (2).
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${UTILS_FUZZ_BUILD_DIR:-$root/build-fuzz}
jobs=${UTILS_JOBS:-2}
seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=${*:-"xml_load ftplist_check trace_format"}

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DUTILS_BUILD_FUZZ=ON -DUTILS_SANITIZE=address -DUTILS_BUILD_BENCH=OFF -DUTILS_BUILD_TESTS=OFF >/dev/null
for target in $targets; do
  cmake --build "$build" -j "$jobs" --target "${target}_fuzz"
done

mkdir -p "$build/artifacts"
for target in $targets; do
  work="$build/corpus/$target"
  mkdir -p "$work"
  echo "fuzz: $target for ${seconds}s"
  "$build/fuzz/${target}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$build/artifacts/${target}-" -print_final_stats=1 \
    "$work" "$root/fuzz/corpus/$target"
done
