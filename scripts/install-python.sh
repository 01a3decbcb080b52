#!/usr/bin/env bash
# Builds the Python package `ostrel` as a wheel that carries the native libraries and installs it,
# offline, with what Debian provides. Usage:
#   scripts/install-python.sh                 into the virtual environment build/venv (made with
#                                             Debian's python3 and its numpy)
#   scripts/install-python.sh --venv DIR      into the virtual environment DIR (made if missing)
#   scripts/install-python.sh --system        into Debian's /usr/bin/python3 (as root)
#   scripts/install-python.sh --wheel-only    only build the wheel
# The wheel is build/python/dist/ostrel-<version>-<tags>.whl. Build and install output is shown
# only when a step fails. For tests: --from-build DIR takes the libraries of an existing build tree
# instead of building, --work DIR puts the wheel in DIR/dist instead of build/python/dist.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
python=/usr/bin/python3
target=venv
venv=$root/build/venv
from_build=""
work=$root/build/python
while [ $# -gt 0 ]; do
  case "$1" in
    --venv) [ $# -ge 2 ] || { echo "install-python: --venv needs a folder" >&2; exit 2; }
            venv=$(realpath -m "$2"); shift 2 ;;
    --system) target=system; shift ;;
    --wheel-only) target=none; shift ;;
    --from-build) [ $# -ge 2 ] || { echo "install-python: --from-build needs a folder" >&2; exit 2; }
                  from_build=$(realpath "$2"); shift 2 ;;
    --work) [ $# -ge 2 ] || { echo "install-python: --work needs a folder" >&2; exit 2; }
            work=$(realpath -m "$2"); shift 2 ;;
    -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "install-python: unknown argument '$1' (see --help)" >&2; exit 2 ;;
  esac
done

log=$(mktemp)
trap 'rm -f "$log"' EXIT
# Runs a step quietly; shows its output when it fails.
step() {
  local what=$1; shift
  if ! "$@" >"$log" 2>&1; then
    echo "install-python: $what failed:" >&2
    cat "$log" >&2
    exit 1
  fi
}

scripts/install-deps.sh
if [ -z "$from_build" ]; then
  step "configuring the build" cmake --preset default
  step "building the libraries" cmake --build --preset default -j2 \
    --target OstrelDAQEngine OstrelBoardSim ostrel-daq
  from_build=$root/build/default
fi

rm -rf "$work/stage" "$work/src" "$work/dist"
mkdir -p "$work"
step "staging the libraries" cmake --install "$from_build" --prefix "$work/stage"
cp -r python "$work/src"
rm -rf "$work/src/tests" "$work/src/bench" "$work/src/ostrel/lib"
find "$work/src" -name __pycache__ -prune -exec rm -rf {} +
mkdir -p "$work/src/ostrel/lib"
# Each library under its run-time name (its soname); the engine finds the simulator beside it.
for library in libOstrelDAQEngine libOstrelBoardSim; do
  real=$(ls "$work"/stage/lib*/"$library".so.*.*.* | head -n 1)
  cp "$real" "$work/src/ostrel/lib/$library.so.${real##*.so.}"
  soname=$(objdump -p "$real" | awk '/SONAME/ { print $2 }')
  mv "$work/src/ostrel/lib/$library.so.${real##*.so.}" "$work/src/ostrel/lib/$soname"
done
step "building the wheel" "$python" -m pip wheel --no-build-isolation --no-deps --no-index \
  --wheel-dir "$work/dist" "$work/src"
wheel=$(ls "$work"/dist/ostrel-*.whl)
rm -rf "$work/src" "$work/stage"
echo "wheel: ${wheel#"$root"/}"
rmdir "$work" 2>/dev/null || true

case "$target" in
  venv)
    if [ ! -x "$venv/bin/python" ]; then
      # Debian's numpy comes from the system's site packages.
      step "creating the virtual environment" "$python" -m venv --system-site-packages "$venv"
    fi
    step "installing the wheel" "$venv/bin/python" -m pip install --no-index --no-deps \
      --force-reinstall "$wheel"
    echo "installed into the virtual environment ${venv#"$root"/}: run ${venv#"$root"/}/bin/python"
    ;;
  system)
    step "installing the wheel" "$python" -m pip install --no-index --no-deps \
      --force-reinstall --break-system-packages "$wheel"
    echo "installed for $python"
    ;;
esac
