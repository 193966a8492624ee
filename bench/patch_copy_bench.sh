#!/usr/bin/env bash
# Copy throughput of writing a patch against cat of the same files into one
# file. Makes 1 GiB of random content (8 files of 128 MiB) in a scratch
# directory, times both with hyperfine, and deletes everything afterwards.
# The patch writer flushes the finished file to the device (fsync) before and
# after it sets the completion flag, so cat is timed both plain and followed
# by the same flush (coreutils `sync FILE`).
#   usage: bench/patch_copy_bench.sh [BUILD_DIR] [FILES] [MIB_PER_FILE]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
files=${2:-8}
mib=${3:-128}
tool="$build/bin/patch_copy_tool"
[ -x "$tool" ] || cmake --build "$build" --target patch_copy_tool
command -v hyperfine >/dev/null || { echo "hyperfine is needed (apt-get install hyperfine)"; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/torquelin-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/src"
for i in $(seq 1 "$files"); do
  head -c "$((mib * 1048576))" /dev/urandom >"$work/src/f$i.bin"
done
echo "content: $files files x $mib MiB in $work/src"

hyperfine --warmup 1 --runs 5 --export-markdown "$work/result.md" \
  --prepare "rm -f '$work/out.dov' '$work/out.cat'" \
  -n "patch writer" "'$tool' '$work/src' '$work/out.dov'" \
  -n "cat" "cat '$work'/src/* > '$work/out.cat'" \
  -n "cat + sync" "cat '$work'/src/* > '$work/out.cat' && sync '$work/out.cat'"
cat "$work/result.md"
