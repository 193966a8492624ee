#!/usr/bin/env bash
# Runs every test through CTest. The desktop tests run on Qt's offscreen
# platform, so no display is needed.
#
#   scripts/test.sh [CTEST ARGS...]             the normal build in build/
#   scripts/test.sh --sanitize [CTEST ARGS...]  engine, platform and command-line
#       tests built with AddressSanitizer and UBSan in build-asan/; any report
#       from either fails the run
#   scripts/test.sh --tsan [GTEST ARGS...]      engine and platform tests (the
#       scan, file ids, fingerprint, apply, runner, compact encoder: every
#       threaded part) built with ThreadSanitizer in build-tsan/; any report
#       fails the run
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

if [ "${1:-}" = "--tsan" ]; then
  shift
  if [ ! -f build-tsan/build.ninja ]; then
    cmake -S . -B build-tsan -G Ninja -DTORQUELIN_TSAN=ON -DTORQUELIN_GUI=OFF \
      -DTORQUELIN_BENCH=OFF
  fi
  # Only what the run needs: the threads are the engine's and the
  # platform's; the command line starts none of its own.
  cmake --build build-tsan -j2 --target platform_tests engine_tests
  export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"
  build-tsan/tests/platform_tests "$@"
  # LargeFile digests 4 GiB on one thread: time spent with nothing for the
  # sanitizer to see.
  build-tsan/tests/engine_tests --gtest_filter='-LargeFile.*' "$@"
  # The threaded suites again, so that more interleavings are seen.
  build-tsan/tests/engine_tests --gtest_repeat=2 \
    --gtest_filter='WorkerThreads.*:CollectTree.*:FileIdsTest.*:FileIdsFromListedSizes.*:BuildSnapshot.*:CalculateFingerprint.*:RunJob.*:ParallelEncoding.*:CompactWriter.*' \
    "$@"
  exit
fi

if [ ! -f build/build.ninja ]; then
  cmake -S . -B build -G Ninja
fi
cmake --build build
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure "$@"
