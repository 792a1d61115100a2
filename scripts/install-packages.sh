#!/bin/sh
# Installs the Debian packages named as arguments that are not installed yet.
# Safe to run again: nothing is fetched when every package is already present.
#   install-packages.sh LABEL PACKAGE...
set -eu

label=$1
shift

missing=""
for package in "$@"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $package"
  fi
done

if [ -z "$missing" ]; then
  echo "$label: all packages present"
  exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
  sudo=""
else
  sudo="sudo"
fi

echo "$label: installing$missing"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
# shellcheck disable=SC2086 # the package list is meant to split into words
$sudo apt-get install -y -qq --no-install-recommends $missing </dev/null
