#!/usr/bin/env bash
# Builds everything and runs the whole test suite: Release, then AddressSanitizer + UBSan, then
# ThreadSanitizer, then the libFuzzer targets for a fixed time each (OSTREL_FUZZ_SECONDS, default
# 180), then the Windows DLLs and tests cross-built with mingw-w64 and run under wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
for preset in default asan tsan; do
  echo "=== $preset ==="
  started=$SECONDS
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
  echo "=== $preset: $((SECONDS - started)) s ==="
done
echo "=== fuzz ==="
started=$SECONDS
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
scripts/fuzz.sh
echo "=== fuzz: $((SECONDS - started)) s ==="
echo "=== exports ==="
scripts/check-exports.py --so build/default/engine/libOstrelDAQEngine.so
scripts/test-windows.sh
