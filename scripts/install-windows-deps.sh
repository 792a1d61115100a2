#!/bin/sh
# Installs what the Windows leg needs: the mingw-w64 cross compilers (posix
# threads), the Windows headers and import libraries, Wine to run the tests, and
# the GoogleTest sources that the cross build compiles itself. Safe to run again:
# nothing is fetched when every package is already present.
set -eu

packages="g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine64 googletest cmake ninja-build"

missing=""
for package in $packages; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $package"
  fi
done

if [ -z "$missing" ]; then
  echo "install-windows-deps: all packages present"
  exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
  sudo=""
else
  sudo="sudo"
fi

echo "install-windows-deps: installing$missing"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
# shellcheck disable=SC2086 # the package list is meant to split into words
$sudo apt-get install -y -qq --no-install-recommends $missing
