#!/usr/bin/env python3
"""What a writing command pays for being safe against other runs: zarc's
lock beside the archive and its look for the files of a killed run, on the
smallest change there is (one small file added to a small archive, which
replaces its entry each time), in an empty folder and in a folder of many
other files, side by side with Info-ZIP's zip doing the same (no lock, no
look). With --busy the other core runs a busy loop meanwhile.

usage: bench/archive/writers_bench.py [--tree TREE] [--before TREE] [--runs N] [--files N] [--busy]

--before: also a zarc of another build tree (one without the lock, say), in
the same runs.
"""
import argparse
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wholeprocess import measure_side_by_side  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


def folder(path, others):
    """A folder with a small archive, the small file added to it, and
    `others` empty files beside them."""
    os.makedirs(path, exist_ok=True)
    with open(os.path.join(path, "small.txt"), "wb") as f:
        f.write(b"a small change\n" * 100)
    present = sum(1 for n in os.listdir(path) if n.startswith("other"))
    for i in range(present, others):
        open(os.path.join(path, "other%06d" % i), "wb").close()
    return path


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tree", default=os.path.join(ROOT, "build", "bench-archive"))
    ap.add_argument("--runs", type=int, default=9)
    ap.add_argument("--files", type=int, default=100000)
    ap.add_argument("--busy", action="store_true")
    ap.add_argument("--before")
    args = ap.parse_args()
    zarc = os.path.abspath(os.path.join(args.tree, "bin", "zarc"))
    if not os.access(zarc, os.X_OK):
        sys.exit(f"writers_bench: {zarc}: no zarc there")
    work = os.path.abspath(os.path.join(args.tree, "bench-writers"))
    tools = [("zarc add", [zarc, "add", "-q"])]
    if args.before:
        tools.append(("before", [os.path.abspath(os.path.join(args.before, "bin", "zarc")), "add", "-q"]))
    if shutil.which("zip"):
        tools.append(("zip", ["zip", "-q"]))
    rows, labels = [], []
    for name, others in (("empty", 0), ("large", args.files)):
        where = folder(os.path.join(work, name), others)
        for tool, cmd in tools:
            archive = os.path.join(where, tool.split()[0] + ".zip")
            subprocess.run(cmd + [archive, os.path.join(where, "small.txt")], check=True, stdout=subprocess.DEVNULL)
            rows.append((cmd + [archive, os.path.join(where, "small.txt")], None))
            labels.append(f"{tool:9} folder of {others:6} other files")
    busy = subprocess.Popen([sys.executable, "-c", "while True: pass"]) if args.busy else None
    try:
        results = measure_side_by_side(rows, args.runs)
    finally:
        if busy:
            busy.kill()
            busy.wait()
    print(f"one small file added, median of {args.runs} runs{', the other core busy' if args.busy else ''}")
    for label, (wall, peak) in zip(labels, results):
        print(f"  {label}  {wall * 1000:7.1f} ms  {peak / 1024:6.1f} MiB")


if __name__ == "__main__":
    main()
