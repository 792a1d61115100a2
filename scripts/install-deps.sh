#!/bin/sh
# Installs the Debian packages that building and testing on Linux need. Safe to
# run again: nothing is fetched when every package is already present.
set -eu

packages="build-essential cmake ninja-build pkg-config libsqlite3-dev sqlite3 libgtest-dev googletest
libbenchmark-dev clang-format util-linux binutils dpkg-dev
libsystemd-dev libbluetooth-dev python3-dbusmock dbus-daemon dbus-bin libglib2.0-bin
libxml2-dev clang libclang-rt-14-dev"

missing=""
for package in $packages; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $package"
  fi
done

if [ -z "$missing" ]; then
  echo "install-deps: all packages present"
  exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
  sudo=""
else
  sudo="sudo"
fi

echo "install-deps: installing$missing"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
# shellcheck disable=SC2086 # the package list is meant to split into words
$sudo apt-get install -y -qq --no-install-recommends $missing </dev/null
