#!/usr/bin/env python3
"""Generates the two trees the comparison benchmarks run on, the same every time.

    bench/make_trees.py [DEST]          (default bench/trees)

DEST/older: 20,000 files in 400 directories, about 1.08 GB: mostly 1-64 KiB,
120 files of 1-8 MiB and two of 100 MiB. DEST/newer: the same tree with about
5 % of the files changed (one of the 100 MiB files among them), about 2 %
removed (three whole directories among them) and about 2 % new in three new
directories. Contents come from a seeded generator, so every run writes the
same bytes. Nothing is done when DEST/.complete names this layout already.
"""
import os
import random
import shutil
import sys

LAYOUT = "v1 20000 files, 400 dirs, 5/2/2 %"
SEED = 20261207
TOPS, LEAVES = 20, 19  # 20 directories of 19 each: 400 directories
SMALL_FILES, MID_FILES, HUGE_FILES = 19878, 120, 2
KIB, MIB = 1 << 10, 1 << 20


def log_uniform(rng, low, high):
    return int(low * (high / low) ** rng.random())


class Content:
    """File contents: slices of one seeded pool, each prefixed with its own
    label so that no two files, and no two versions of a file, are alike."""

    def __init__(self):
        self.pool = random.Random(SEED).randbytes(16 * MIB)

    def write(self, path, size, label):
        rng = random.Random(label)
        head = (label + "\n").encode()
        with open(path, "wb") as out:
            out.write(head[:size])
            left = size - min(size, len(head))
            while left > 0:
                n = min(left, len(self.pool) // 2)
                start = rng.randrange(len(self.pool) - n + 1)
                out.write(self.pool[start:start + n])
                left -= n


def plan():
    """The older tree's files as (path, size), and the newer tree's as
    (path, size, version): version 0 is the older content."""
    rng = random.Random(SEED)
    leaves = ["t%02d/s%02d" % (t, s) for t in range(TOPS) for s in range(LEAVES)]
    sizes = ([log_uniform(rng, KIB, 64 * KIB) for _ in range(SMALL_FILES)] +
             [rng.randint(MIB, 8 * MIB) for _ in range(MID_FILES)] +
             [100 * MIB] * HUGE_FILES)
    rng.shuffle(sizes)
    older = [("%s/f%05d.dat" % (leaves[i % len(leaves)], i), size)
             for i, size in enumerate(sizes)]

    gone_dirs = set(rng.sample(leaves, 3))
    in_gone = [p for p, _ in older if p.rsplit("/", 1)[0] in gone_dirs]
    rest = [p for p, _ in older if p.rsplit("/", 1)[0] not in gone_dirs]
    removed = set(in_gone) | set(rng.sample(rest, len(older) // 50 - len(in_gone)))
    kept = [p for p in rest if p not in removed]
    huge = [p for p, size in older if size == 100 * MIB and p not in removed]
    changed = set(rng.sample(kept, len(older) // 20 - 1)) | set(huge[:1])

    newer = []
    for path, size in older:
        if path in removed:
            continue
        if path in changed:
            # A changed file usually grows a little.
            newer.append((path, size + rng.randrange(0, max(1, size // 10)), 1))
        else:
            newer.append((path, size, 0))
    for i in range(len(older) // 50):
        newer.append(("added-%d/n%05d.dat" % (i % 3, i), log_uniform(rng, KIB, 64 * KIB), 0))
    return older, newer


def write_tree(root, files, content):
    made = set()
    for entry in files:
        path, size = entry[0], entry[1]
        version = entry[2] if len(entry) > 2 else 0
        full = os.path.join(root, path)
        parent = os.path.dirname(full)
        if parent not in made:
            os.makedirs(parent, exist_ok=True)
            made.add(parent)
        content.write(full, size, "%s v%d" % (path, version))


def main():
    dest = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "trees")
    marker = os.path.join(dest, ".complete")
    if os.path.exists(marker) and open(marker).read() == LAYOUT:
        return
    for name in ("older", "newer"):
        shutil.rmtree(os.path.join(dest, name), ignore_errors=True)
    older, newer = plan()
    content = Content()
    # The umask must not decide the permissions both trees record.
    os.umask(0o022)
    write_tree(os.path.join(dest, "older"), older, content)
    write_tree(os.path.join(dest, "newer"), newer, content)
    with open(marker, "w") as out:
        out.write(LAYOUT)
    carried = [(p, s) for p, s, v in newer if v == 1 or p.startswith("added-")]
    print("older: %d files, %.2f GB; newer: %d files, %.2f GB; to carry: %d files, %.0f MB"
          % (len(older), sum(s for _, s in older) / 1e9, len(newer),
             sum(s for _, s, _ in newer) / 1e9, len(carried), sum(s for _, s in carried) / 1e6))


if __name__ == "__main__":
    main()
