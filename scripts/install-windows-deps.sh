#!/bin/sh
# Installs what the Windows leg needs: the mingw-w64 cross compilers (posix
# threads), the Windows headers and import libraries, Wine to run the tests, and
# the GoogleTest sources that the cross build compiles itself, and clang, lld and
# the LLVM tools that build a test caller for Microsoft's ABI. Safe to run again:
# nothing is fetched when every package is already present.
set -eu

packages="g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine64 googletest cmake ninja-build
clang clang-tools-14 lld llvm-14 python3"

# shellcheck disable=SC2086 # the package list is meant to split into words
exec sh "$(dirname "$0")/install-packages.sh" install-windows-deps $packages
