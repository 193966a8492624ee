#!/usr/bin/env bash
# Builds the fuzz targets in build-fuzz/ (clang; libFuzzer, ASan and UBSan)
# and runs each for SECONDS (default 60), one per core at a time.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]   targets: patch_reader vault_reader
#                                           ignore_filter history
#
# Each target starts from its committed seeds in fuzz/corpus/<target>/ and
# keeps what it learns in build-fuzz/corpus/<target>/, so later runs resume.
# A crash, leak, hang (over 10 s per input) or an allocation over 256 MB stops
# the run; the input is saved as build-fuzz/artifacts/<target>-* and the
# script fails.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(patch_reader vault_reader ignore_filter history)
fi

bash scripts/install_packages.sh clang libclang-rt-14-dev

if [ ! -f build-fuzz/build.ninja ]; then
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DTORQUELIN_FUZZ=ON \
    -DTORQUELIN_GUI=OFF -DTORQUELIN_TESTS=OFF -DTORQUELIN_BENCH=OFF
fi
cmake --build build-fuzz -j2 --target "${targets[@]/%/_fuzz}"

mkdir -p build-fuzz/artifacts
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# One target per core at a time, each into its own log, shown in order.
fuzz_one() {
  local t=$1
  "build-fuzz/bin/${t}_fuzz" "build-fuzz/corpus/$t" "fuzz/corpus/$t" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 -malloc_limit_mb=256 \
    -artifact_prefix="build-fuzz/artifacts/$t-" -print_final_stats=1 >"build-fuzz/logs/$t.log" 2>&1
}
mkdir -p build-fuzz/logs
running=0
for t in "${targets[@]}"; do
  mkdir -p "build-fuzz/corpus/$t"
  if [ "$running" -ge "$(nproc)" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  fuzz_one "$t" &
  running=$((running + 1))
done
wait || true
failed=0
for t in "${targets[@]}"; do
  echo "== $t: ${seconds}s"
  grep -E '^(#[0-9]+[[:space:]]+DONE|stat::|==|SUMMARY|INFO: Seed|.*ERROR)' "build-fuzz/logs/$t.log" || true
  # A saved artifact is the sign of a finding, whatever libFuzzer's status.
  if compgen -G "build-fuzz/artifacts/$t-*" >/dev/null; then
    echo "FAILED: $t saved $(ls build-fuzz/artifacts/$t-* | head -1)"
    failed=1
  fi
done
exit "$failed"
