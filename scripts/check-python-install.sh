#!/usr/bin/env bash
# Builds the wheel from a build tree, installs it into a fresh virtual environment and runs the
# README's Python example there from an empty folder, with no library path or variable set: what a
# new user gets from scripts/install-python.sh.
set -euo pipefail
build_dir=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$source_dir/scripts/install-python.sh" --from-build "$build_dir" --work "$work/wheel" \
  --venv "$work/venv" >/dev/null
/usr/bin/python3 "$source_dir/python/tests/readme_example.py" "$source_dir/README.md" \
  >"$work/example.py"
mkdir "$work/empty"
cd "$work/empty"
output=$(env -u OSTREL_LIBRARY_DIR -u PYTHONPATH -u LD_LIBRARY_PATH "$work/venv/bin/python" \
         "$work/example.py")
echo "$output" | grep -q "(2, 2, 65536)" || { echo "unexpected output: $output"; exit 1; }
location=$(env -u OSTREL_LIBRARY_DIR -u PYTHONPATH "$work/venv/bin/python" -c \
           "import ostrel._library as l; print(l.engine._name)")
case "$location" in
  "$work/venv/"*) ;;
  *) echo "the installed package loaded the engine from $location, not from itself"; exit 1 ;;
esac
echo "python install check: the wheel installed and the README example ran ($location)"
