#!/usr/bin/env bash
# Builds the library and runs the demo on the simulated board.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target ostrel_demo
./build/default/examples/ostrel_demo
