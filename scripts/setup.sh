#!/usr/bin/env bash
# Installs the Debian packages Torquelin builds with, then configures and
# builds into build/ with CMake and Ninja.
set -euo pipefail
cd "$(dirname "$0")/.."

# Only the desktop program needs Qt: with -DTORQUELIN_GUI=OFF among the
# arguments it is left out.
qt=(qt6-base-dev)
for arg in "$@"; do
  case $arg in
    -DTORQUELIN_GUI=* | -DTORQUELIN_GUI:BOOL=*)
      case ${arg#*=} in
        [Oo][Ff][Ff] | 0 | [Nn] | [Nn][Oo] | [Ff][Aa][Ll][Ss][Ee]) qt=() ;;
        *) qt=(qt6-base-dev) ;;
      esac
      ;;
  esac
done

bash scripts/install_packages.sh cmake ninja-build g++ pkg-config libpugixml-dev libzstd-dev \
  "${qt[@]}" libgtest-dev libbenchmark-dev python3 nlohmann-json3-dev
# Packaging: dpkg-dev and file let `cpack -G DEB` compute the package's
# dependencies; lintian checks the package, and the others validate the
# manual pages, menu entry and metainfo in the tests.
bash scripts/install_packages.sh dpkg-dev file groff-base desktop-file-utils appstream lintian

# Git keeps only the executable bit, so the sample tree's read-only file is
# made read-only here.
chmod a-w examples/newer/docs/license.txt

cmake -S . -B build -G Ninja "$@"
cmake --build build
