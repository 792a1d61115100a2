#!/bin/sh
# Installs the build tree into a staging folder, builds and runs a consumer
# against it with CMake and with pkg-config, then builds the Debian package,
# unpacks it into a throw-away root and runs btutil from there.
# Usage: test_install.sh BUILD_DIR SOURCE_DIR
set -eu
build=$1
here=$2/tests/packaging
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
expected="00:1a:7d:da:71:13 Unknown type: 0x1234"

echo "-- install into a staging folder"
cmake --install "$build" --prefix "$work/stage" >/dev/null
libdir=$(cd "$work/stage" && ls -d lib*/ | head -n 1)
libdir=${libdir%/}
for f in bin/btutil sbin/vrlbusd include/utils/utils.h include/utils/utils/trace.h \
         lib/systemd/system/vrlbusd.service share/man/man1/btutil.1 share/man/man8/vrlbusd.8 \
         share/bash-completion/completions/btutil etc/pam.d/utils-unlock; do
  [ -e "$work/stage/$f" ] || { echo "missing from the installation: $f"; exit 1; }
done
grep -q -- '--allow-opcode' "$work/stage/share/man/man8/vrlbusd.8" \
  || { echo "the manual page of vrlbusd does not document --allow-opcode"; exit 1; }
soname=$(objdump -p "$work/stage/$libdir/libutils.so" | awk '/SONAME/ {print $2}')
[ "$soname" = "libutils.so.0" ] || { echo "unexpected SONAME: $soname"; exit 1; }
grep -q "^ExecStart=$work/stage/sbin/vrlbusd " "$work/stage/lib/systemd/system/vrlbusd.service" \
  || { echo "the unit does not start the installed vrlbusd"; exit 1; }

echo "-- consumer built with find_package(utils CONFIG)"
cmake -S "$here/consumer" -B "$work/cmake-consumer" -DCMAKE_PREFIX_PATH="$work/stage" >/dev/null
cmake --build "$work/cmake-consumer" >/dev/null
got=$(LD_LIBRARY_PATH="$work/stage/$libdir" "$work/cmake-consumer/consumer")
[ "$got" = "$expected" ] || { echo "CMake consumer printed: $got"; exit 1; }

echo "-- consumer built with pkg-config"
flags=$(PKG_CONFIG_PATH="$work/stage/$libdir/pkgconfig" pkg-config --define-prefix --cflags --libs utils)
# shellcheck disable=SC2086 # the flags are meant to split into words
c++ -std=c++17 -o "$work/pc-consumer" "$here/consumer/consumer.cpp" $flags
got=$(LD_LIBRARY_PATH="$work/stage/$libdir" "$work/pc-consumer")
[ "$got" = "$expected" ] || { echo "pkg-config consumer printed: $got"; exit 1; }

echo "-- Debian package"
(cd "$build" && cpack -G DEB -B "$work/packages" >/dev/null)
deb=$(ls "$work"/packages/*.deb)
dpkg-deb -I "$deb" | sed -n '/Package:/p;/Version:/p;/Depends:/p'
dpkg-deb -I "$deb" | grep -q 'Depends:.*libsqlite3' || { echo "the package does not depend on libsqlite3"; exit 1; }
dpkg-deb -I "$deb" | grep -q 'Depends:.*bluez' || { echo "the package does not depend on bluez"; exit 1; }
dpkg -x "$deb" "$work/root"
pkglib=$(dirname "$(find "$work/root" -name 'libutils.so.0' | head -n 1)")
LD_LIBRARY_PATH="$pkglib" "$work/root/usr/bin/btutil" --help | head -n 1
LD_LIBRARY_PATH="$pkglib" "$work/root/usr/bin/btutil" --help >/dev/null
# bash-completion loads a command's completion from its completionsdir on first use.
completion="$work/root/usr/share/bash-completion/completions/btutil"
[ -f "$completion" ] || { echo "the package has no bash completion for btutil"; exit 1; }
bash -c '. "$1" && complete -p btutil' sh "$completion" | grep -q -- '-F _btutil' \
  || { echo "the packaged completion does not register itself for btutil"; exit 1; }
grep -q "^ExecStart=/usr/sbin/vrlbusd " "$work/root/lib/systemd/system/vrlbusd.service" \
  || grep -q "^ExecStart=/usr/sbin/vrlbusd " "$work/root/usr/lib/systemd/system/vrlbusd.service" \
  || { echo "the packaged unit does not start /usr/sbin/vrlbusd"; exit 1; }
grep -q "^@include common-auth" "$work/root/etc/pam.d/utils-unlock" \
  || { echo "the package has no PAM service utils-unlock in /etc/pam.d"; exit 1; }
dpkg-deb -I "$deb" conffiles | grep -q "^/etc/pam.d/utils-unlock$" \
  || { echo "the PAM service is not a conffile"; exit 1; }
echo "packaging: all checks passed"
