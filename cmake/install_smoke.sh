#!/usr/bin/env bash
# Installs the build tree into a temporary prefix, then builds and runs the
# example against it twice: through find_package(Orovox) and through pkg-config.
# Usage: install_smoke.sh <build dir> <source dir>
set -euo pipefail
build=$1 source=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
cmake -S "$source/examples" -B "$tmp/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$tmp/prefix" >/dev/null
ninja -C "$tmp/cmake" >/dev/null
# Outside the build tree the host must find the installed library.
OROVOX_LIBRARY= "$tmp/cmake/realtime" | head -3
PKG_CONFIG_PATH="$tmp/prefix/lib/pkgconfig" c++ "$source/examples/realtime.cpp" -o "$tmp/realtime_pc" \
  $(PKG_CONFIG_PATH="$tmp/prefix/lib/pkgconfig" pkg-config --cflags --libs orovox)
"$tmp/realtime_pc" | grep -q "mouth"
echo "install smoke: ok"
