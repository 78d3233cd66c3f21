#!/usr/bin/env python3
"""Times `zarc create` against `zip -6 -r`, `7z a -tzip -mx=5` and
`bsdtar -a -cf x.zip` on the mixed tree behind the extraction benchmark
(about 200 MB in some 2,000 compressible and incompressible files): whole
processes, medians of several runs in one go, peak memory, and the size of
what each writes.

The tools take turns run by run, each writing into a folder of its own.

usage: bench/archive/create_bench.py [--tree DIR] [--runs N] [--busy]
"""
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from extract_bench import build, make_mixed  # noqa: E402
from wholeprocess import measure_side_by_side, other_core_busy, tree_and_runs  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


def main():
    args = tree_and_runs(ROOT)
    # The tools run from inside the tree they archive.
    args.tree = os.path.abspath(args.tree)
    build(args.tree)
    zarc = os.path.join(args.tree, "bin", "zarc")
    work = os.path.join(args.tree, "create-bench")
    os.makedirs(work, exist_ok=True)
    mixed = os.path.join(work, "mixed.zip")
    make_mixed(mixed)
    source = os.path.join(work, "mixed")
    if not os.path.isdir(source):
        subprocess.run(["unzip", "-qo", mixed, "-d", source + ".tmp"], check=True)
        os.replace(source + ".tmp", source)
    total = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(source) for f in fs)
    def out(label):
        return os.path.join(work, "out-" + label.split()[0])

    tools = [
        ("zarc create -6", [zarc, "create", "-q", "-6", os.path.join(out("zarc"), "x.zip"), "."]),
        ("zip -6 -r", ["zip", "-6", "-r", "-q", os.path.join(out("zip"), "x.zip"), "."]),
        ("7z a -tzip -mx=5", ["7z", "a", "-tzip", "-mx=5", os.path.join(out("7z"), "x.zip"), "."]),
        ("bsdtar -a -cf", ["bsdtar", "-a", "-cf", os.path.join(out("bsdtar"), "x.zip"), "."]),
    ]
    tools = [t for t in tools if shutil.which(t[1][0])]
    print(f"{total / 1e6:.0f} MB in the mixed tree; {args.runs} runs, medians"
          + ("; one core kept busy" if args.busy else ""))
    print(f"{'tool':<20} {'time s':>8} {'MB/s':>8} {'peak MB':>8} {'output MB':>10}")
    results = {}
    cwd = os.getcwd()
    os.chdir(source)
    try:
        with other_core_busy(args.busy):
            measured = measure_side_by_side([(cmd, out(label)) for label, cmd in tools], args.runs)
        for (label, cmd), (wall, peak) in zip(tools, measured):
            size = written_size(cmd, out(label))
            results[label] = (wall, peak, size)
            print(f"{label:<20} {wall:8.2f} {total / wall / 1e6:8.0f} {peak / 1024:8.0f} {size / 1e6:10.2f}")
    finally:
        os.chdir(cwd)
    if "zarc create -6" in results and "zip -6 -r" in results:
        print(f"zarc / zip -6 time: {results['zarc create -6'][0] / results['zip -6 -r'][0]:.2f}, "
              f"size: {results['zarc create -6'][2] / results['zip -6 -r'][2]:.4f}")
    if "zarc create -6" in results and "7z a -tzip -mx=5" in results:
        print(f"zarc / 7z time: {results['zarc create -6'][0] / results['7z a -tzip -mx=5'][0]:.2f}")
    print(f"load average: {os.getloadavg()[0]:.2f}")


def written_size(cmd, out_dir):
    """The size of what cmd writes, on a run of its own (the timed runs'
    folders are set aside)."""
    shutil.rmtree(out_dir, ignore_errors=True)
    os.makedirs(out_dir)
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
    size = os.path.getsize(os.path.join(out_dir, "x.zip"))
    shutil.rmtree(out_dir, ignore_errors=True)
    return size


if __name__ == "__main__":
    main()
