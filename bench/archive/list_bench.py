#!/usr/bin/env python3
"""Times `zarc list` against `unzip -l` and `bsdtar -tf` on a generated
archive of 100,000 small entries: whole processes, several runs, medians,
peak memory from /usr/bin/time -v.

usage: bench/archive/list_bench.py [--zarc PATH] [--entries N] [--runs N]

Without --zarc, zarc is built in build/bench-archive (Release, no
sanitizers). The archive is written deterministically to
build/bench-archive/list-N.zip.
"""
import argparse
import os
import subprocess
import sys
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wholeprocess import measure  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
TREE = os.path.join(ROOT, "build", "bench-archive")


def build_zarc():
    if not os.path.exists(os.path.join(TREE, "build.ninja")):
        subprocess.run(["cmake", "-S", ROOT, "-B", TREE, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                        "-DROVEND_TESTS=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["ninja", "-C", TREE, "-j2", "zarc"], check=True, stdout=subprocess.DEVNULL)
    return os.path.join(TREE, "bin", "zarc")


def make_archive(path, entries):
    """Deterministic: fixed names, contents and times; deflated small files in 100 folders."""
    if os.path.exists(path):
        return
    tmp = path + ".tmp"
    with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED) as z:
        for i in range(entries):
            info = zipfile.ZipInfo(f"folder{i % 100:02}/file{i:06}.txt", (2024, 1, 2, 3, 4, 6))
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, (f"entry {i} " * (1 + i % 7)).encode())
    os.replace(tmp, path)



def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--zarc")
    ap.add_argument("--entries", type=int, default=100000)
    ap.add_argument("--runs", type=int, default=7)
    args = ap.parse_args()
    zarc = args.zarc or build_zarc()
    os.makedirs(TREE, exist_ok=True)
    archive = os.path.join(TREE, f"list-{args.entries}.zip")
    empty = os.path.join(TREE, "list-0.zip")
    make_archive(archive, args.entries)
    make_archive(empty, 0)

    with zipfile.ZipFile(archive) as z:
        name_chars = sum(len(i.filename) for i in z.infolist())
    print(f"archive: {archive} ({os.path.getsize(archive):,} bytes, {args.entries:,} entries, "
          f"{name_chars / args.entries:.1f} characters per name); {args.runs} runs each")
    print(f"{'command':<16} {'median s':>9} {'peak KiB':>9}")
    results = {}
    for label, cmd in (("zarc list", [zarc, "list", archive]), ("unzip -l", ["unzip", "-l", archive]),
                       ("bsdtar -tf", ["bsdtar", "-tf", archive])):
        wall, peak = measure(cmd, args.runs)
        results[label] = (wall, peak)
        print(f"{label:<16} {wall:9.3f} {peak:9,}")
    _, base = measure([zarc, "list", empty], 3)
    per_entry = (results["zarc list"][1] - base) * 1024 / args.entries
    names = 2 * name_chars / args.entries  # one UTF-16 copy of each name
    print(f"zarc peak memory beyond an empty archive: {per_entry:.0f} bytes per entry, "
          f"{per_entry - names:.0f} beyond one UTF-16 copy of the names ({names:.0f} bytes per entry)")


if __name__ == "__main__":
    main()
