#!/usr/bin/env bash
# Times torquelin side by side with a standard tool doing the same work on the
# two generated trees of bench/make_trees.py (built once under bench/trees/),
# warm cache, under hyperfine, and prints the ratio of the medians per row:
#
#   sha1          SHA-1 of 2 MiB buffers on one core: ours (portable and on
#                 the SHA instructions) against OpenSSL (Google Benchmark)
#   fingerprint   torquelin fingerprint OLDER   vs  two `openssl dgst -sha1`
#                 processes at a time over the same files
#   create-patch  torquelin create-patch        vs  rsync -rcW --delete --only-write-batch
#   apply         torquelin apply (both fingerprint checks on) on a fresh copy
#                 of OLDER  vs  rsync -rc --delete --read-batch on a fresh copy
#
# The same three jobs on a tree of many tiny files (make_trees.py --many
# 100000: 0-200 bytes in directories of 1,000), where the cost per entry
# decides:
#
#   many-fingerprint   vs  find | xargs -0 -P2 -n1024 sha1sum
#   many-create-patch  vs  rsync -rcW --delete --only-write-batch
#   many-apply         vs  rsync -rcW --delete --read-batch, both on a fresh copy
#   many-memory        peak memory (GNU time's maximum resident set) of a
#                      fingerprint of MEMORY_FILES files (default 1,000,000)
#                      less that of an empty tree, per entry, and the same
#                      for a create-patch per entry it holds (both trees);
#                      once, no ratio
#
#   bench/compare.sh [ROW...]        (default every row; RUNS=5 timed runs each)
#
# With BEFORE=PATH (another build's torquelin binary, say of an older
# commit) every timed row runs that binary too, in the same hyperfine, and
# prints its median and the ratio of ours to it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install_packages.sh hyperfine rsync openssl time
wanted() { [ "$#" -eq 1 ] || [[ " ${*:2} " == *" $1 "* ]]; }
cmake --build build -j2 --target torquelin >/dev/null
if wanted sha1 "$@"; then
  # sha1_bench has an OpenSSL row only when it is built with the headers.
  if ! dpkg-query -W -f='${Status}' libssl-dev 2>/dev/null | grep -q "install ok installed"; then
    bash scripts/install_packages.sh libssl-dev
    cmake -S . -B build >/dev/null
  fi
  cmake --build build -j2 --target sha1_bench >/dev/null
fi
bin=build/bin/torquelin
if wanted fingerprint "$@" || wanted create-patch "$@" || wanted apply "$@"; then
  python3 bench/make_trees.py bench/trees
fi
older=bench/trees/older
newer=bench/trees/newer
out=$(mktemp -d bench/trees/run.XXXXXX)
trap 'rm -rf "$out"' EXIT
summary=()

if wanted sha1 "$@"; then
  build/bin/sha1_bench --benchmark_filter='/2097152$' --benchmark_repetitions="${RUNS:-5}" \
    --benchmark_report_aggregates_only=true --benchmark_format=json >"$out/sha1.json"
  summary+=("$(python3 - "$out/sha1.json" <<'PY'
import json, sys
mbs = {b["run_name"].split("_")[1].split("/")[0]: b["bytes_per_second"] / 1e6
       for b in json.load(open(sys.argv[1]))["benchmarks"] if b["aggregate_name"] == "median"}
other = mbs.get("Sha1OpenSsl")
for name in ("Sha1Portable", "Sha1ShaInstructions"):
    if name in mbs:
        line = "%-26s torquelin %7.0f MB/s   openssl %7.0f MB/s" % (
            "sha1 " + name[4:], mbs[name], other or 0)
        if other:
            line += "   ratio %.2f (throughput)" % (mbs[name] / other)
        print(line)
PY
)")
fi

# The rows: a name, our command, the other tool's command, and optionally a
# command hyperfine runs before every timed run of either.
names=() ours=() theirs=() prepares=()
row() { names+=("$1"); ours+=("$2"); theirs+=("$3"); prepares+=("${4:-}"); }

row fingerprint \
  "$bin -q fingerprint $older" \
  "find $older -type f -print0 | xargs -0 -P2 -n256 openssl dgst -sha1 >/dev/null"

# rsync's batch that turns older into newer: newer is the source and older
# the destination, which --only-write-batch leaves untouched. -c decides by
# content, as we do; -W ships whole files, as a patch does.
row create-patch \
  "$bin -q create-patch $older $newer $out/patch.dov" \
  "rsync -rcW --delete --only-write-batch=$out/rsync.batch $newer/ $older/"

# Both apply the same change to a fresh copy of older, made before every run.
row apply \
  "$bin -q apply $out/target $out/apply.dov" \
  "rsync -rc --delete --read-batch=$out/apply.batch $out/target/" \
  "rm -rf $out/target && cp -a $older $out/target"

if wanted apply "$@"; then
  "$bin" -q create-patch "$older" "$newer" "$out/apply.dov"
  rsync -rcW --delete --only-write-batch="$out/apply.batch" "$newer/" "$older/"
fi

many=bench/trees/many-100000
if wanted many-fingerprint "$@" || wanted many-create-patch "$@" || wanted many-apply "$@"; then
  python3 bench/make_trees.py --many 100000 bench/trees
fi
row many-fingerprint \
  "$bin -q fingerprint $many/older" \
  "find $many/older -type f -print0 | xargs -0 -P2 -n1024 sha1sum >/dev/null"
row many-create-patch \
  "$bin -q create-patch $many/older $many/newer $out/many.dov" \
  "rsync -rcW --delete --only-write-batch=$out/many.batch $many/newer/ $many/older/"
row many-apply \
  "$bin -q apply $out/many-target $out/many-apply.dov" \
  "rsync -rcW --delete --read-batch=$out/many-apply.batch $out/many-target/" \
  "rm -rf $out/many-target && cp -a $many/older $out/many-target"
if wanted many-apply "$@"; then
  "$bin" -q create-patch "$many/older" "$many/newer" "$out/many-apply.dov"
  rsync -rcW --delete --only-write-batch="$out/many-apply.batch" "$many/newer/" "$many/older/"
fi

[ -d "$older" ] && echo "trees: $older ($(find "$older" -type f | wc -l) files, $(du -sh "$older" | cut -f1))," \
  "$newer ($(find "$newer" -type f | wc -l) files, $(du -sh "$newer" | cut -f1))"
for i in "${!names[@]}"; do
  name=${names[$i]}
  wanted "$name" "$@" || continue
  prepare=()
  [ -n "${prepares[$i]}" ] && prepare=(--prepare "${prepares[$i]}")
  before=()
  [ -n "${BEFORE:-}" ] && before=(-n before "${ours[$i]/#$bin/$BEFORE}")
  hyperfine --warmup 1 --runs "${RUNS:-5}" "${prepare[@]}" --export-json "$out/$name.json" \
    -n torquelin "${ours[$i]}" -n other "${theirs[$i]}" "${before[@]}"
  summary+=("$(python3 - "$out/$name.json" "$name" <<'PY'
import json, sys
r = {x["command"]: x["median"] for x in json.load(open(sys.argv[1]))["results"]}
line = ("%-26s torquelin %7.3f s      other %7.3f s      ratio %.2f"
        % (sys.argv[2], r["torquelin"], r["other"], r["torquelin"] / r["other"]))
if "before" in r:
    line += "      before %7.3f s  ratio to before %.2f" % (r["before"], r["torquelin"] / r["before"])
print(line)
PY
)")
done
if wanted many-memory "$@"; then
  files=${MEMORY_FILES:-1000000}
  python3 bench/make_trees.py --many "$files" bench/trees
  mkdir -p "$out/empty"
  peak() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
  base=$(peak "$bin" -q fingerprint "$out/empty")
  start=$(date +%s.%N)
  full=$(peak "$bin" -q fingerprint "bench/trees/many-$files/older")
  took=$(echo "$(date +%s.%N) - $start" | bc)
  entries=$(find "bench/trees/many-$files/older" -mindepth 1 | wc -l)
  summary+=("$(printf '%-26s torquelin %7.0f MB peak, %.0f bytes per entry above an empty tree (%d entries, %.1f s)' \
    many-memory "$(echo "$full / 1024" | bc -l)" "$(echo "($full - $base) * 1024 / $entries" | bc -l)" \
    "$entries" "$took")")
  base=$(peak "$bin" -q create-patch "$out/empty" "$out/empty" "$out/empty.dov")
  start=$(date +%s.%N)
  full=$(peak "$bin" -q create-patch "bench/trees/many-$files/older" "bench/trees/many-$files/newer" "$out/memory.dov")
  took=$(echo "$(date +%s.%N) - $start" | bc)
  entries=$((entries + $(find "bench/trees/many-$files/newer" -mindepth 1 | wc -l)))
  summary+=("$(printf '%-26s torquelin %7.0f MB peak, %.0f bytes per entry held above empty trees (%d entries, %.1f s)' \
    many-memory-patch "$(echo "$full / 1024" | bc -l)" "$(echo "($full - $base) * 1024 / $entries" | bc -l)" \
    "$entries" "$took")")
fi
echo
echo "Medians (ratio = torquelin / other; for sha1, of throughputs):"
printf '%s\n' "${summary[@]}"
