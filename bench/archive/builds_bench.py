#!/usr/bin/env python3
"""Times two builds of zarc side by side, run by run, on the work of the
extraction and creation benchmarks: extract and test of the mixed and the
stored archive, and create -6 of the mixed tree, whole and split into
volumes. Meant for a change that
must not slow anything down: build the tools at the commit before it and
at the commit after it, and compare them in one go, so that the machine's
drift falls on both alike.

usage: bench/archive/builds_bench.py --before TREE --after TREE [--runs N] [--work DIR]

TREE is a build tree holding bin/zarc (e.g. made by
`cmake --workflow --preset tools` in a checkout of each commit).
"""
import argparse
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from extract_bench import make_mixed, make_stored  # noqa: E402
from wholeprocess import measure_side_by_side  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--before", required=True)
    ap.add_argument("--after", required=True)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--work", default=os.path.join(ROOT, "build", "bench-builds"))
    args = ap.parse_args()
    zarcs = {name: os.path.join(tree, "bin", "zarc") for name, tree in (("before", args.before), ("after", args.after))}
    for path in zarcs.values():
        if not os.access(path, os.X_OK):
            sys.exit(f"builds_bench: {path}: no zarc there")
    os.makedirs(args.work, exist_ok=True)
    mixed = os.path.join(args.work, "extract-mixed.zip")
    stored = os.path.join(args.work, "extract-stored.zip")
    make_mixed(mixed)
    make_stored(stored)
    source = os.path.join(args.work, "mixed")
    if not os.path.isdir(source):
        subprocess.run(["unzip", "-qo", mixed, "-d", source + ".tmp"], check=True)
        os.replace(source + ".tmp", source)

    # (label, command for a zarc and an output folder, whether it writes)
    tasks = []
    for archive in (mixed, stored):
        short = os.path.basename(archive).removeprefix("extract-").removesuffix(".zip")
        tasks.append((f"extract {short}", lambda z, o, a=archive: [z, "extract", "-q", a, "-d", o], True))
        tasks.append((f"test {short}", lambda z, o, a=archive: [z, "test", "-q", a], False))
    # zarc create stores names relative to the current folder.
    tasks.append(("create -6 mixed", lambda z, o: ["sh", "-c", f'cd "{source}" && exec "$0" create -q -6 "$1" .', z,
                                                    os.path.join(o, "x.zip")], True))
    # Split sets: volumes cut between records as zip -s cuts them, and
    # numbered pieces cut at any byte.
    for label, options in (("create --split", "--split 1m"), ("create --numbered", "--split 1m --numbered")):
        tasks.append((label, lambda z, o, options=options: [
            "sh", "-c", f'cd "{source}" && exec "$0" create -q -6 {options} "$1" .', z, os.path.join(o, "x.zip")],
            True))

    print(f"{args.runs} runs each, taken in turn; median seconds, peak KiB")
    print(f"{'work':<18} {'before':>8} {'after':>8} {'after/before':>13} {'peak before':>12} {'peak after':>11}")
    for label, make, writes in tasks:
        rows = []
        for name in ("before", "after"):
            folder = os.path.join(args.work, f"out-{name}")
            rows.append((make(zarcs[name], folder), folder if writes else None))
        (tb, pb), (ta, pa) = measure_side_by_side(rows, args.runs)
        print(f"{label:<18} {tb:8.3f} {ta:8.3f} {ta / tb:13.2f} {pb:12,} {pa:11,}")


if __name__ == "__main__":
    main()
