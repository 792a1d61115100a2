#!/bin/sh
# The main job: install what is missing, build, and run btutil on its embedded
# defaults. Extra arguments go to btutil.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$top/build" --target btutil
exec "$top/build/tools/btutil/btutil" "$@"
