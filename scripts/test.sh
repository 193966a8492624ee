#!/usr/bin/env bash
# Runs every test through CTest. The desktop tests run on Qt's offscreen
# platform, so no display is needed.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ ! -f build/build.ninja ]; then
  cmake -S . -B build -G Ninja
fi
cmake --build build
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure "$@"
