#!/usr/bin/env bash
# Installs what the build, the tests and the demo need, when it is missing (Debian packages).
set -euo pipefail
packages=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev
          python3 python3-numpy python3-pytest python3-venv python3-pip python3-setuptools
          python3-wheel pkg-config)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  # Quiet: the package manager's output is shown only when it fails.
  log=$(mktemp)
  if ! { $SUDO apt-get update -q && DEBIAN_FRONTEND=noninteractive \
           $SUDO apt-get install -y -q "${missing[@]}"; } >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    echo "install-deps: could not install ${missing[*]}" >&2
    exit 1
  fi
  rm -f "$log"
fi
