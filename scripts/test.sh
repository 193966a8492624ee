#!/usr/bin/env bash
# Runs every test through CTest. The desktop tests run on Qt's offscreen
# platform, so no display is needed.
#
#   scripts/test.sh [CTEST ARGS...]             the normal build in build/
#   scripts/test.sh --sanitize [CTEST ARGS...]  engine, platform and command-line
#       tests built with AddressSanitizer and UBSan in build-asan/; any report
#       from either fails the run
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = "--sanitize" ]; then
  shift
  if [ ! -f build-asan/build.ninja ]; then
    cmake -S . -B build-asan -G Ninja -DTORQUELIN_SANITIZE=ON -DTORQUELIN_GUI=OFF \
      -DTORQUELIN_BENCH=OFF
  fi
  cmake --build build-asan -j2
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  ctest --test-dir build-asan --output-on-failure -j2 "$@"
  exit
fi

if [ ! -f build/build.ninja ]; then
  cmake -S . -B build -G Ninja
fi
cmake --build build
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure "$@"
