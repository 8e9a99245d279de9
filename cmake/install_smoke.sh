#!/usr/bin/env bash
# Installs the build tree into a temporary prefix, then builds and runs the
# example against it twice: through find_package(Orovox) and through pkg-config.
# Usage: install_smoke.sh <build dir> <source dir> [<c++ compiler> [<flags>]]
set -euo pipefail
build=$1 source=$2 cxx=${3:-c++} flags=${4:-}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
cmake -S "$source/examples" -B "$tmp/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$tmp/prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
ninja -C "$tmp/cmake" >/dev/null
# The host takes the build tree's library while it exists, else the
# installed one through the run path that the package adds.
out=$(OROVOX_LIBRARY= "$tmp/cmake/realtime")
printf '%s\n' "$out" | sed -n 1,3p
printf '%s\n' "$out" | grep -q "mouth"
# shellcheck disable=SC2046,SC2086
"$cxx" $flags "$source/examples/realtime.cpp" -o "$tmp/realtime_pc" \
  $(PKG_CONFIG_PATH="$tmp/prefix/lib/pkgconfig" pkg-config --cflags --libs orovox)
# And the installed library itself, named explicitly.
out=$(OROVOX_LIBRARY="$tmp/prefix/lib/liborovox.so.0" "$tmp/realtime_pc")
printf '%s\n' "$out" | grep -q "mouth"
echo "install smoke: ok"
