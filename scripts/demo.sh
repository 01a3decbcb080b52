#!/usr/bin/env bash
# Builds the library and runs the demo on the simulated board. Quiet: the build's and the package
# manager's output is shown only when they fail. The demo runs in build/demo/, where it writes
# frame.svg, loopback.svg and the calibration's card-data file (CardData_K9T3A.dat); nothing is
# written into the repository root.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake --preset default && cmake --build --preset default -j2 --target ostrel_demo; } \
     >"$log" 2>&1; then
  cat "$log" >&2
  echo "demo: the build failed" >&2
  exit 1
fi
rm -rf build/demo
mkdir -p build/demo
(cd build/demo && ../default/examples/ostrel_demo)
echo
echo "Files the demo wrote (in build/demo/):"
for file in build/demo/*; do
  case "$(basename "$file")" in
    frame.svg) what="one frame of every lane as a scope trace" ;;
    loopback.svg) what="the generator looped back into the ADC lanes" ;;
    CardData_*.dat) what="the DC-offset calibration's card-data file" ;;
    *) what="" ;;
  esac
  echo "  $file${what:+  ($what)}"
done
