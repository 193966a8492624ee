#!/usr/bin/env python3
"""Compact patches of real upgrades side by side with the delta tools users know.

For every data set of bench/fetch_upgrades.sh (DIR/NAME/older, DIR/NAME/newer)
it prints, per row:

  ours       size of the compact patch and the time to make it: `torquelin
             create-patch --compact --level N`, the whole job (both scans,
             the comparison, the contents encoded on the hashing threads,
             the file flushed and renamed into place)
  per-file   sum of `zstd --patch-from OLD NEW -19 --long` over the changed
             files plus `zstd -19` of the new files (symbolic links as their
             target text, as a patch carries them)
  tree       `zstd --patch-from -19 --long` of a tar of each whole tree
  rsync      `rsync -a -c --delete --only-write-batch` batch size and time
             (-c: by content, as we decide; npm tarballs give every file the
             same time stamp, so rsync's quick check would miss changes)
  zstd-12    `zstd -12`, one process per file, over the changed and new files:
             the time creation must not exceed (timed in turn with ours, run
             by run, so that both meet the same load on a shared machine)
  decode     reading our patch back against the older tree, every content
             checked by its id (`compact_tool --read-only`, built with the
             benchmarks), beside `rsync --read-batch` of the batch on a fresh
             copy
  apply      `torquelin apply` of our patch on a fresh copy of the older tree
             (the whole job: both fingerprint checks, staging every content
             as it is decoded, the commit), beside the same `rsync
             --read-batch`

  bench/compare_compact.py [--dir DIR] [--level N] [--runs N] [NAME...]
"""
import argparse
import hashlib
import os
import shutil
import statistics
import subprocess
import sys
import tarfile
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def files_of(tree):
    """Relative path -> content bytes source: ('link', text) or ('file', path)."""
    out = {}
    for directory, _, names in os.walk(tree):
        for name in names:
            path = os.path.join(directory, name)
            rel = os.path.relpath(path, tree)
            if os.path.islink(path):
                out[rel] = ("link", os.readlink(path).encode("utf-8", "surrogateescape"))
            else:
                out[rel] = ("file", path)
    return out


def content(entry):
    kind, value = entry
    if kind == "link":
        return value
    with open(value, "rb") as f:
        return f.read()


def zstd_size(args, data=None):
    result = subprocess.run(["zstd", "-q", "-c"] + args, input=data, capture_output=True,
                            check=True)
    return len(result.stdout)


def timed(command, runs, prepare=None):
    times = []
    for _ in range(runs):
        if prepare:
            prepare()
        start = time.perf_counter()
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def reference_figures(older, newer, work, runs):
    old, new = files_of(older), files_of(newer)
    changed = [p for p in sorted(new) if p in old and content(new[p]) != content(old[p])]
    added = [p for p in sorted(new) if p not in old]
    per_file = 0
    stage = os.path.join(work, "stage")
    os.makedirs(stage, exist_ok=True)
    to_compress = []
    for i, path in enumerate(changed + added):
        # Links and files alike as plain files, so that zstd reads what a
        # patch carries.
        staged_new = os.path.join(stage, "%d.new" % i)
        with open(staged_new, "wb") as f:
            f.write(content(new[path]))
        to_compress.append(staged_new)
        if path in old:
            staged_old = os.path.join(stage, "%d.old" % i)
            with open(staged_old, "wb") as f:
                f.write(content(old[path]))
            per_file += zstd_size(["-19", "--long=31", "--patch-from", staged_old, staged_new])
        else:
            per_file += zstd_size(["-19", staged_new])

    def zstd12():
        start = time.perf_counter()
        for path in to_compress:
            subprocess.run(["zstd", "-q", "-f", "-12", path, "-o", path + ".zst"], check=True)
        return time.perf_counter() - start

    old_tar, new_tar = os.path.join(work, "older.tar"), os.path.join(work, "newer.tar")
    for tree, tar in ((older, old_tar), (newer, new_tar)):
        with tarfile.open(tar, "w") as t:
            t.add(tree, arcname=".")
    tree_size = zstd_size(["-19", "--long=31", "--patch-from", old_tar, new_tar])

    batch = os.path.join(work, "rsync.batch")
    target = os.path.join(work, "target")
    shutil.copytree(older, target, symlinks=True)

    def clear_batch():
        for suffix in ("", ".sh"):
            if os.path.exists(batch + suffix):
                os.remove(batch + suffix)

    rsync_time = timed(["rsync", "-a", "-c", "--delete", "--only-write-batch=" + batch,
                        newer + "/", target + "/"], runs, clear_batch)
    rsync_size = os.path.getsize(batch)

    def fresh_target():
        shutil.rmtree(target)
        shutil.copytree(older, target, symlinks=True)

    read_time = timed(["rsync", "-a", "-c", "--delete", "--read-batch=" + batch, target + "/"],
                      runs, fresh_target)
    return {"files": len(changed) + len(added), "per_file": per_file, "tree": tree_size,
            "rsync": rsync_size, "rsync_time": rsync_time, "zstd12": zstd12,
            "read_time": read_time}


def ours(older, newer, work, runs, level, zstd12):
    """Size, creation time and decode time of our compact patch, and the
    zstd-12 time taken in turn with ours, so that both see the same load."""
    program = os.path.join(ROOT, "build", "bin", "torquelin")
    tool = os.path.join(ROOT, "build", "bin", "compact_tool")
    patch = os.path.join(work, "ours.dov")
    creates, decodes, applies, others = [], [], [], []
    target = os.path.join(work, "applied")
    for _ in range(runs):
        others.append(zstd12())
        if os.path.exists(patch):
            os.remove(patch)
        command = [program, "-q", "create-patch", "--compact", "--level", str(level), older, newer,
                   patch]
        start = time.perf_counter()
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        creates.append(time.perf_counter() - start)
        if os.path.exists(tool):
            result = subprocess.run([tool, older, newer, patch, "--read-only", "1"],
                                    capture_output=True, text=True)
            if result.returncode != 0 or "FAILURES" in result.stdout:
                sys.exit("reading the patch of %s back failed:\n%s%s" %
                         (newer, result.stdout, result.stderr))
            decodes.append(float(result.stdout.split()[0]))
        if os.path.exists(target):
            shutil.rmtree(target)
        shutil.copytree(older, target, symlinks=True)
        start = time.perf_counter()
        subprocess.run([program, "-q", "apply", target, patch], check=True,
                       stdout=subprocess.DEVNULL)
        applies.append(time.perf_counter() - start)
    return {"size": os.path.getsize(patch), "create": statistics.median(creates),
            "decode": statistics.median(decodes) if decodes else None,
            "apply": statistics.median(applies),
            "zstd12_time": statistics.median(others)}


def main():
    subprocess.run(["bash", os.path.join(ROOT, "scripts", "install_packages.sh"), "zstd", "rsync"],
                   check=True)
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", default=os.path.join(ROOT, "bench", "trees", "upgrades"))
    parser.add_argument("--level", type=int, default=None,
                        help="zstd level for ours (default: the codec's own)")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("names", nargs="*")
    args = parser.parse_args()
    names = args.names or sorted(n for n in os.listdir(args.dir)
                                 if os.path.isdir(os.path.join(args.dir, n, "newer")))
    level = args.level
    if level is None:
        with open(os.path.join(ROOT, "engine", "patch", "content_encoder.h")) as header:
            for line in header:
                if "kDefaultCompactLevel =" in line:
                    level = int(line.split("=")[1].strip(" ;\n"))
    rows = []
    for name in names:
        older = os.path.join(args.dir, name, "older")
        newer = os.path.join(args.dir, name, "newer")
        with tempfile.TemporaryDirectory(dir=args.dir) as work:
            ref = reference_figures(older, newer, work, args.runs)
            our = ours(older, newer, work, args.runs, level, ref["zstd12"])
        rows.append((name, ref, our))
        sys.stderr.write("done: %s\n" % name)

    print("level %d, median of %d runs; sizes in bytes, times in seconds" % (level, args.runs))
    print("%-11s %5s | %9s %9s %5s | %9s %9s %5s | %7s %7s %5s | %7s %7s %5s | %7s %5s" %
          ("data set", "files", "ours", "per-file", "x", "tree", "rsync", "x", "create",
           "zstd-12", "x", "decode", "read-b", "x", "apply", "x"))
    for name, ref, our in rows:
        decode = our["decode"]
        print("%-11s %5d | %9d %9d %5.2f | %9d %9d %5.2f | %7.3f %7.3f %5.2f | %7s %7.3f %5s"
              " | %7.3f %5.2f" %
              (name, ref["files"], our["size"], ref["per_file"], our["size"] / ref["per_file"],
               ref["tree"], ref["rsync"], our["size"] / ref["rsync"], our["create"],
               our["zstd12_time"], our["create"] / our["zstd12_time"],
               "-" if decode is None else "%.3f" % decode, ref["read_time"],
               "-" if decode is None else "%.2f" % (decode / ref["read_time"]),
               our["apply"], our["apply"] / ref["read_time"]))
    print("rsync batch creation times: " +
          ", ".join("%s %.3f" % (name, ref["rsync_time"]) for name, ref, _ in rows))


if __name__ == "__main__":
    main()
