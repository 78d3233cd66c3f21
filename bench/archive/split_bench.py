#!/usr/bin/env python3
"""Times `zarc test` and `zarc extract` on split archives against `7z t` and
`7z x` (unzip and bsdtar cannot read them), next to zarc on the same data in
one file: about 100 MB in some 1,000 mixed files, split into 10 MB volumes by
`zip -s` (name.z01 ... name.zip) and by `7z -v` (name.zip.001 ...). Whole
processes, several runs, medians, peak memory from /usr/bin/time -v.

usage: bench/archive/split_bench.py [--tree DIR] [--runs N]

Without --tree, zarc is built in build/bench-archive (Release, no
sanitizers), where the archives are also written (deterministically) and
extracted.
"""
import os
import random
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from extract_bench import build, text_block  # noqa: E402
from wholeprocess import measure, tree_and_runs  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


def make_inputs(folder):
    """~100 MB in 1,000 files: text-like and random, 4 KiB to 200 KiB."""
    if os.path.exists(folder):
        return
    rng = random.Random(20241208)
    os.makedirs(folder + ".tmp")
    for i in range(1000):
        size = rng.randrange(4096, 200 * 1024)
        data = rng.randbytes(size) if i % 3 == 0 else text_block(rng, size)
        path = os.path.join(folder + ".tmp", f"set{i % 10}", f"file{i:04}.{'bin' if i % 3 == 0 else 'txt'}")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    os.replace(folder + ".tmp", folder)


def make(tree, inputs):
    """The same data as one archive, as a zip -s set and as 7z pieces; the
    names each is opened by."""
    out = os.path.join(tree, "split")
    if not os.path.exists(os.path.join(out, "done")):
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        run = dict(cwd=inputs, check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["zip", "-q", "-r", os.path.join(out, "whole.zip"), "."], **run)
        subprocess.run(["zip", "-q", "-r", "-s", "10m", os.path.join(out, "infozip.zip"), "."], **run)
        subprocess.run(["7z", "a", "-tzip", "-bd", "-bso0", "-v10m", os.path.join(out, "sevenzip.zip"), "."], **run)
        open(os.path.join(out, "done"), "w").close()
    return (os.path.join(out, "whole.zip"), os.path.join(out, "infozip.zip"),
            os.path.join(out, "sevenzip.zip.001"))


def main():
    args = tree_and_runs(ROOT)
    build(args.tree)
    zarc = os.path.join(args.tree, "bin", "zarc")
    inputs = os.path.join(args.tree, "split-inputs")
    make_inputs(inputs)
    whole, infozip, sevenzip = make(args.tree, inputs)
    total = sum(os.path.getsize(os.path.join(d, n)) for d, _, names in os.walk(inputs) for n in names)
    dest = os.path.join(args.tree, "split-out")
    print(f"{args.runs} runs each; median seconds, peak KiB; {total / 1e6:.1f} MB unpacked")
    for label, archive in (("one file", whole), ("zip -s 10m", infozip), ("7z -v10m", sevenzip)):
        print(f"\n{label}: {os.path.basename(archive)}")
        rows = [
            ("zarc test", [zarc, "test", "-q", archive], None),
            ("7z t", ["7z", "t", "-bd", "-bso0", archive], None),
            ("zarc extract", [zarc, "extract", "-q", archive, "-d", dest], dest),
            ("7z x", ["7z", "x", "-y", "-bd", "-bso0", f"-o{dest}", archive], dest),
        ]
        for name, cmd, d in rows:
            wall, peak = measure(cmd, args.runs, d)
            print(f"  {name:<14} {wall:8.3f} {peak:9,}  {total / wall / 1e6:7.1f} MB/s")


if __name__ == "__main__":
    main()
