#!/usr/bin/env bash
# Installs the Debian packages Torquelin builds with, then configures and
# builds into build/ with CMake and Ninja.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ libpugixml-dev qt6-base-dev libgtest-dev libbenchmark-dev)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

# Git keeps only the executable bit, so the sample tree's read-only file is
# made read-only here.
chmod a-w examples/newer/docs/license.txt

cmake -S . -B build -G Ninja "$@"
cmake --build build
