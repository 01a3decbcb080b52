#!/usr/bin/env bash
# Cross-builds OstrelDAQEngine.dll, OstrelBoardSim.dll and the tests for Windows x86-64 with
# mingw-w64, checks the DLL's export table against the public header, and runs the whole test
# suite under wine64. Installs what it needs on a Debian machine when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
BUILD=build/windows
export OSTREL_WINEPREFIX="$PWD/$BUILD/wineprefix"

now() { date +%s.%N; }
elapsed() { awk -v start="$1" -v end="$(now)" 'BEGIN { printf "%.1f", end - start }'; }
timings=()
phase_start=$(now)
phase_done() { timings+=("$1 $(elapsed "$phase_start") s"); phase_start=$(now); }
total_start=$phase_start

# The test runner keeps one wine server alive for the whole run (it lingers after the last
# program): stop it, and anything a failed test left running, and wait until it is gone, so
# nothing of this run is left behind.
finish() {
  if [ -x "$WINESERVER" ] && [ -d "$OSTREL_WINEPREFIX" ]; then
    WINEPREFIX="$OSTREL_WINEPREFIX" "$WINESERVER" -k 2>/dev/null || true
    WINEPREFIX="$OSTREL_WINEPREFIX" "$WINESERVER" -w 2>/dev/null || true
  fi
}
trap finish EXIT

echo "=== windows: packages ==="
scripts/install-deps.sh
missing=()
for package in g++-mingw-w64-x86-64-posix wine64 googletest; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -q
  # Without recommends wine64 comes without the 32-bit side and the desktop integration.
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
phase_done install

echo "=== windows: configure ==="
cmake --preset windows >/dev/null
phase_done configure

echo "=== windows: wine prefix ==="
# The build runs the test programs to list their tests; make the prefix first so that its one-time
# creation is not charged to whichever program runs first.
"$BUILD/wine-run.sh" --version
phase_done prefix

echo "=== windows: build ==="
cmake --build --preset windows
phase_done build

echo "=== windows: exports ==="
scripts/check-exports.py --dll "$BUILD/bin/OstrelDAQEngine.dll" \
  --implib "$BUILD/engine/libOstrelDAQEngine.dll.a" --implib "$BUILD/engine/OstrelDAQEngine.lib" \
  --sim-dll "$BUILD/bin/OstrelBoardSim.dll"
# The GCC runtime is linked in statically: no program or DLL of the build may need its DLLs.
for binary in "$BUILD"/bin/*.dll "$BUILD"/bin/*.exe; do
  for dll in $(x86_64-w64-mingw32-objdump -p "$binary" | awk '/DLL Name:/ { print $3 }'); do
    case "${dll,,}" in
      libgcc_s* | libstdc++* | libwinpthread* | libgomp* | libssp*)
        echo "ERROR $binary needs $dll" >&2
        exit 1 ;;
    esac
  done
done
phase_done exports

echo "=== windows: tests under wine ==="
ctest --preset windows
# A C program linked through the import library, run as a user would run it.
"$BUILD/wine-run.sh" "$BUILD/bin/ostrel_demo.exe"
phase_done tests

finish
phase_done "wineserver exit"
echo "=== windows leg: ${timings[*]/%/,} total $(elapsed "$total_start") s ==="
