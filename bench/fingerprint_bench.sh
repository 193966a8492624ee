#!/usr/bin/env bash
# Fingerprints a generated tree of 20,000 files (about 1 GiB) with
# `torquelin fingerprint` (on every core, and on one hashing thread) and
# hashes the same files with two `openssl dgst -sha1` processes at a time and
# with `sha1sum`, side by side under hyperfine, warm cache. Prints the
# medians and their ratio to the OpenSSL pipeline.
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

for tool in hyperfine openssl; do
  command -v $tool >/dev/null || {
    sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get install -y -qq $tool
  }
done
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
list="find $tree -type f -name '*.bin' -print0"
hyperfine --warmup 1 --runs "${RUNS:-7}" --export-json "$json" \
  -n torquelin "$bin -q fingerprint $tree" \
  -n torquelin-1-thread "TORQUELIN_HASH_THREADS=1 $bin -q fingerprint $tree" \
  -n openssl-P2 "$list | xargs -0 -P2 -n256 openssl dgst -sha1 >/dev/null" \
  -n sha1sum "$list | xargs -0 sha1sum >/dev/null"
python3 - "$json" <<'PY'
import json, sys
r = {x["command"]: x["median"] for x in json.load(open(sys.argv[1]))["results"]}
base = r["openssl-P2"]
for name, median in r.items():
    print("%-20s median %.3f s  ratio to openssl-P2 %.2f" % (name, median, median / base))
PY
