#!/usr/bin/env bash
# Times the desktop window (driven offscreen through its own code path by
# window_bench) against `torquelin -q` doing the same job on the same tree,
# warm cache, best of RUNS (default 3):
#
#   fingerprint   100,000 tiny files  (bench/make_trees.py --many 100000, older)
#   apply         a patch of 40,000 new files applied to an empty directory
#                 (bench/make_trees.py --many 40000, newer)
#
# Goal for the window: at most 2 x the command line's time + 0.5 s.
#   bench/window_vs_cli.sh            (the build in build/ needs TORQUELIN_BENCH and the GUI)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${RUNS:-3}
trees=bench/trees
cli=build/bin/torquelin
window=build/bin/window_bench
cmake --build build -j2 --target torquelin window_bench >/dev/null
python3 bench/make_trees.py --many 100000 "$trees" >/dev/null
python3 bench/make_trees.py --many 40000 "$trees" >/dev/null

# best COMMAND...: the shortest wall time of $runs runs, after one warm-up;
# $prepare (if set) runs untimed before each.
prepare=true
best() {
  $prepare && "$@" >/dev/null 2>&1
  local least=""
  for _ in $(seq "$runs"); do
    local start end took
    $prepare
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    took=$(echo "$end - $start" | bc -l)
    if [ -z "$least" ] || [ "$(echo "$took < $least" | bc -l)" = 1 ]; then least=$took; fi
  done
  printf '%.3f' "$least"
}

row() {
  local name=$1 ours=$2 theirs=$3
  printf '%-12s window %6ss   command line %6ss   ratio %5.2f   goal %6.3fs %s\n' "$name" "$ours" \
    "$theirs" "$(echo "$ours / $theirs" | bc -l)" "$(echo "2 * $theirs + 0.5" | bc -l)" \
    "$([ "$(echo "$ours <= 2 * $theirs + 0.5" | bc -l)" = 1 ] && echo met || echo MISSED)"
}

many=$trees/many-100000/older
[ "$($window fingerprint "$many" | tail -1)" = "$($cli -q fingerprint "$many")" ] ||
  { echo "the window's fingerprint differs from the command line's" >&2; exit 1; }
row fingerprint "$(best "$window" fingerprint "$many")" "$(best "$cli" -q fingerprint "$many")"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/empty"
"$cli" -q create-patch "$work/empty" "$trees/many-40000/newer" "$work/40000.dov"
fresh() { rm -rf "$work/target" && mkdir "$work/target"; }
prepare=fresh
row apply "$(best "$window" apply "$work/target" "$work/40000.dov")" \
  "$(best "$cli" -q apply "$work/target" "$work/40000.dov")"
