#!/usr/bin/env bash
# Fingerprints a generated tree of 20,000 files (about 1 GiB) with
# `torquelin fingerprint` and hashes the same files with `sha1sum`, side by
# side under hyperfine, warm cache. Prints both times and their ratio.
#
#   bench/fingerprint_bench.sh [FILES] [TOTAL_MIB]     (defaults 20000 1024)
#
# The tree is generated once under bench/trees/ (git-ignored) and reused.
set -euo pipefail
cd "$(dirname "$0")/.."

files=${1:-20000}
total_mib=${2:-1024}
tree="bench/trees/t${files}-${total_mib}m"
bin=build/bin/torquelin

command -v hyperfine >/dev/null || {
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get install -y -qq hyperfine
}
[ -x "$bin" ] || cmake --build build --target torquelin

if [ ! -f "$tree/.complete" ]; then
  rm -rf "$tree"
  python3 - "$tree" "$files" "$total_mib" <<'PY'
import math, os, random, sys
root, files, total = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]) << 20
rng = random.Random(20261207)
# Log-uniform sizes from 100 bytes to 4 MiB, scaled so they add up to total:
# many small files and a few large ones, as in a source or document tree.
raw = [math.exp(rng.uniform(math.log(100), math.log(4 << 20))) for _ in range(files)]
scale = total / sum(raw)
block = os.urandom(8 << 20)
per_dir = 100
for i, r in enumerate(raw):
    d = os.path.join(root, "d%02d" % (i // (per_dir * 10)), "s%d" % ((i // per_dir) % 10))
    if i % per_dir == 0:
        os.makedirs(d, exist_ok=True)
    size = min(int(r * scale), len(block))
    start = rng.randrange(0, len(block) - size + 1)
    with open(os.path.join(d, "f%05d.bin" % i), "wb") as f:
        f.write(block[start:start + size])
open(os.path.join(root, ".complete"), "w").close()
PY
fi

echo "tree: $tree ($(find "$tree" -type f -name '*.bin' | wc -l) files, $(du -sh "$tree" | cut -f1))"
json=$(mktemp)
trap 'rm -f "$json"' EXIT
hyperfine --warmup 1 --runs "${RUNS:-5}" --export-json "$json" \
  -n torquelin "$bin -q fingerprint $tree" \
  -n sha1sum "find $tree -type f -name '*.bin' -print0 | xargs -0 sha1sum >/dev/null"
python3 - "$json" <<'PY'
import json, sys
r = {x["command"]: x["mean"] for x in json.load(open(sys.argv[1]))["results"]}
print("torquelin %.3f s, sha1sum %.3f s, ratio torquelin/sha1sum = %.2f"
      % (r["torquelin"], r["sha1sum"], r["torquelin"] / r["sha1sum"]))
PY
