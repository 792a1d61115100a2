#!/bin/sh
# Installs the Debian packages that building and testing on Linux need. Safe to
# run again: nothing is fetched when every package is already present.
set -eu

packages="build-essential cmake ninja-build pkg-config libsqlite3-dev sqlite3 libgtest-dev googletest
libbenchmark-dev clang-format util-linux binutils dpkg-dev
libsystemd-dev libbluetooth-dev python3-dbusmock dbus-daemon dbus-bin libglib2.0-bin
libxml2-dev clang libclang-rt-14-dev nlohmann-json3-dev
libpam0g-dev libpam-wrapper pinentry-tty
systemd bluez"

# shellcheck disable=SC2086 # the package list is meant to split into words
exec sh "$(dirname "$0")/install-packages.sh" install-deps $packages
