#!/usr/bin/env bash
# Times `torquelin apply --check` on patches crafted to list a great many
# paths against a tiny tree (made by bench/crafted_patch_tool.cpp, which
# writes the tree too), warm cache, under hyperfine, one row per shape:
#
#   one-path    300,000 removals of the same path
#   long-path   one removal of a path 300,000 levels deep (a 1.2 MB patch)
#   flat        300,000 new empty files in one directory
#   deep        3,000 paths along a chain of 1,000 new directories
#   new-dirs    300,000 new directories
#   attributes  300,000 attribute changes
#
# The checks before a change must stay linear or n log n in what the patch
# lists, so each row should take well under a second: a median above BUDGET
# seconds (default 1) marks the row SLOW and the script exits 1. The CPU time
# beside it is steadier on a busy machine. The last column says how the
# check ended (a patch refused quickly is fine too).
#
#   bench/crafted_patch.sh [SHAPE...]   (default every shape; RUNS=3 timed runs each)
#   BIN=/path/to/torquelin bench/crafted_patch.sh   times another build
set -euo pipefail
cd "$(dirname "$0")/.."

command -v hyperfine >/dev/null || bash scripts/install_packages.sh hyperfine
cmake --build build -j2 --target crafted_patch_tool torquelin >/dev/null
bin=${BIN:-build/bin/torquelin}
tool=build/bin/crafted_patch_tool
budget=${BUDGET:-1}
shapes=("$@")
[ "${#shapes[@]}" -gt 0 ] || shapes=(one-path long-path flat deep new-dirs attributes)

out=$(mktemp -d "${TMPDIR:-/tmp}/torquelin-crafted-XXXXXX")
trap 'rm -rf "$out"' EXIT
summary=()
slow=0
for shape in "${shapes[@]}"; do
  case $shape in
    long-path) "$tool" "$shape" "$out/$shape" "$out/$shape.dov" 300000 ;;
    *) "$tool" "$shape" "$out/$shape" "$out/$shape.dov" ;;
  esac
  # How the check ends: its last status line, or the error's message.
  ended=$("$bin" apply --check "$out/$shape" "$out/$shape.dov" 2>&1 |
    grep -E '^(Message: |The patch can be applied)' | tail -1 | cut -c1-60 || true)
  hyperfine --warmup 1 --runs "${RUNS:-3}" -i --export-json "$out/$shape.json" \
    -n "$shape" "$bin -q apply --check $out/$shape $out/$shape.dov" >/dev/null
  line=$(python3 - "$out/$shape.json" "$shape" "$(stat -c %s "$out/$shape.dov")" "$budget" \
    "$ended" <<'PY'
import json, sys
result = json.load(open(sys.argv[1]))["results"][0]
median, cpu = result["median"], result["user"] + result["system"]
name, size, budget, ended = sys.argv[2], int(sys.argv[3]), float(sys.argv[4]), sys.argv[5]
mark = "SLOW" if median > budget else "ok"
print("%-11s %8.3f s  cpu %8.3f s  %-4s  patch %5.1f MB  %s"
      % (name, median, cpu, mark, size / 1e6, ended))
PY
  )
  [[ $line == *" SLOW "* ]] && slow=1
  summary+=("$line")
done
echo
echo "apply --check: median time, mean CPU time (user + system) of ${RUNS:-3} runs (budget ${budget} s):"
printf '%s\n' "${summary[@]}"
exit "$slow"
