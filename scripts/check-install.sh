#!/usr/bin/env bash
# Installs a build tree into a temporary prefix and builds and runs a small C program against it,
# once with CMake (find_package) and once with pkg-config.
set -euo pipefail
build_dir=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
cmake -S "$source_dir/tests/install_consumer" -B "$work/cmake-build" -G Ninja \
      -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
"$work/cmake-build/consumer"
libdir=$(ls -d "$work/prefix"/lib*/pkgconfig | head -n 1)
export PKG_CONFIG_PATH="$libdir"
cc -o "$work/pkg-consumer" "$source_dir/tests/install_consumer/consumer.c" \
   $(pkg-config --cflags --libs ostrel-daq-engine) -Wl,-rpath,"$(dirname "$libdir")"
"$work/pkg-consumer"
# The installed tool runs with no library path set, also after the tree is moved elsewhere: its
# run path is relative to where it lies.
mv "$work/prefix" "$work/moved"
out=$(env -u LD_LIBRARY_PATH "$work/moved/bin/ostrel-daq" --simulate A006,A001 list)
echo "$out" | grep -q "2 boards on the bus" || { echo "installed tool: unexpected output: $out"; exit 1; }
(cd "$work" && env -u LD_LIBRARY_PATH "$work/moved/bin/ostrel-daq" --simulate A006 acquire 0 \
   --frames 2 --output "$work/frames.npy" >/dev/null)
test -s "$work/frames.npy" || { echo "installed tool wrote no frames"; exit 1; }
echo "install check: CMake and pkg-config consumers ran; the installed tool ran from a moved prefix"
