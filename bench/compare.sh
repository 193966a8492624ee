#!/usr/bin/env bash
# Times torquelin side by side with a standard tool doing the same work on the
# two generated trees of bench/make_trees.py (built once under bench/trees/),
# warm cache, under hyperfine, and prints the ratio of the medians per row.
#
#   bench/compare.sh [ROW...]        (default every row; RUNS=5 timed runs each)
set -euo pipefail
cd "$(dirname "$0")/.."

install_missing() {  # command package
  command -v "$1" >/dev/null && return
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$2"
}
install_missing hyperfine hyperfine
install_missing rsync rsync

bin=build/bin/torquelin
[ -x "$bin" ] || cmake --build build --target torquelin
python3 bench/make_trees.py bench/trees
older=bench/trees/older
newer=bench/trees/newer
out=$(mktemp -d bench/trees/run.XXXXXX)
trap 'rm -rf "$out"' EXIT

# The rows: a name, our command, the other tool's command, and optionally a
# command hyperfine runs before every timed run of either.
names=() ours=() theirs=() prepares=()
row() { names+=("$1"); ours+=("$2"); theirs+=("$3"); prepares+=("${4:-}"); }

# rsync's batch that turns older into newer: newer is the source and older
# the destination, which --only-write-batch leaves untouched. -c decides by
# content, as we do; -W ships whole files, as a patch does.
row create-patch \
  "$bin -q create-patch $older $newer $out/patch.dov" \
  "rsync -rcW --delete --only-write-batch=$out/rsync.batch $newer/ $older/"

echo "trees: $older ($(find "$older" -type f | wc -l) files, $(du -sh "$older" | cut -f1))," \
  "$newer ($(find "$newer" -type f | wc -l) files, $(du -sh "$newer" | cut -f1))"
summary=()
for i in "${!names[@]}"; do
  name=${names[$i]}
  if [ $# -gt 0 ] && [[ " $* " != *" $name "* ]]; then continue; fi
  prepare=()
  [ -n "${prepares[$i]}" ] && prepare=(--prepare "${prepares[$i]}")
  hyperfine --warmup 1 --runs "${RUNS:-5}" "${prepare[@]}" --export-json "$out/$name.json" \
    -n torquelin "${ours[$i]}" -n other "${theirs[$i]}"
  summary+=("$(python3 - "$out/$name.json" "$name" <<'PY'
import json, sys
r = {x["command"]: x["median"] for x in json.load(open(sys.argv[1]))["results"]}
print("%-16s torquelin %7.3f s   other %7.3f s   ratio %.2f"
      % (sys.argv[2], r["torquelin"], r["other"], r["torquelin"] / r["other"]))
PY
)")
done
echo
echo "Medians (ratio = torquelin / other):"
printf '%s\n' "${summary[@]}"
