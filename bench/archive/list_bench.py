#!/usr/bin/env python3
"""Times `zarc list` against `unzip -l` and `bsdtar -tf` on a generated
archive of 100,000 small entries: whole processes, several runs, medians,
peak memory from /usr/bin/time -v.

With --many, an archive of N small stored entries (1,000,000 unless
--entries says otherwise) instead, and side by side with unzip, 7z and
bsdtar: list, test, extract (unless --no-extract: a million files take
minutes a run) and one named entry to standard output. --busy keeps the
other core busy meanwhile.

usage: bench/archive/list_bench.py [--zarc PATH] [--entries N] [--runs N]
       bench/archive/list_bench.py --many [--entries N] [--runs N] [--no-extract] [--busy]

Without --zarc, zarc is built in build/bench-archive (Release, no
sanitizers). The archive is written deterministically to
build/bench-archive/list-N.zip (many-N.zip with --many).
"""
import argparse
import os
import shutil
import subprocess
import sys
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wholeprocess import measure, measure_side_by_side  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
TREE = os.path.join(ROOT, "build", "bench-archive")


def build_zarc():
    if not os.path.exists(os.path.join(TREE, "build.ninja")):
        subprocess.run(["cmake", "-S", ROOT, "-B", TREE, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                        "-DROVEND_TESTS=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["ninja", "-C", TREE, "-j2", "zarc"], check=True, stdout=subprocess.DEVNULL)
    return os.path.join(TREE, "bin", "zarc")


def make_archive(path, entries, stored=False):
    """Deterministic: fixed names, contents and times; small files in 100
    folders, deflated (stored with `stored`)."""
    if os.path.exists(path):
        return
    method = zipfile.ZIP_STORED if stored else zipfile.ZIP_DEFLATED
    tmp = path + ".tmp"
    with zipfile.ZipFile(tmp, "w", method) as z:
        for i in range(entries):
            name = f"folder{i % 100:02}/file{i:07}.txt" if stored else f"folder{i % 100:02}/file{i:06}.txt"
            info = zipfile.ZipInfo(name, (2024, 1, 2, 3, 4, 6))
            info.compress_type = method
            z.writestr(info, (f"entry {i} " * (1 + i % (3 if stored else 7))).encode())
    os.replace(tmp, path)


def many(args, zarc):
    archive = os.path.join(TREE, f"many-{args.entries}.zip")
    make_archive(archive, args.entries, stored=True)
    named = f"folder{(args.entries // 2) % 100:02}/file{args.entries // 2:07}.txt"
    out = os.path.join(TREE, "many-out")
    groups = [
        ("list", [([zarc, "list", archive], None), (["unzip", "-l", archive], None),
                  (["7z", "l", archive], None), (["bsdtar", "-tf", archive], None)]),
        ("test", [([zarc, "test", "-q", archive], None), (["unzip", "-tq", archive], None),
                  (["7z", "t", archive], None), (["bsdtar", "-xOf", archive], None)]),
        ("one named", [([zarc, "extract", "-p", archive, named], None), (["unzip", "-p", archive, named], None),
                       (["7z", "e", "-so", archive, named], None), (["bsdtar", "-xOf", archive, named], None)]),
    ]
    if not args.no_extract:
        groups.append(("extract", [([zarc, "extract", "-q", "-o", "-d", out, archive], out),
                                   (["unzip", "-qo", "-d", out, archive], out),
                                   (["7z", "x", "-y", "-o" + out, archive], out),
                                   (["bsdtar", "-xf", archive, "-C", out], out)]))
    busy = subprocess.Popen([sys.executable, "-c", "while True: pass"]) if args.busy else None
    try:
        print(f"archive: {archive} ({os.path.getsize(archive):,} bytes, {args.entries:,} stored entries); "
              f"{args.runs} runs each{'; the other core busy' if busy else ''}; {os.getloadavg()[0]:.1f} load")
        print(f"{'':<10} {'command':<40} {'median s':>9} {'peak KiB':>10}")
        for label, rows in groups:
            rows = [(cmd, d) for cmd, d in rows if shutil.which(cmd[0]) or os.path.exists(cmd[0])]
            results = measure_side_by_side(rows, args.runs)
            for (cmd, _), (wall, peak) in zip(rows, results):
                shown = " ".join(os.path.basename(c) if c in (zarc, archive) else c for c in cmd[:3])
                print(f"{label:<10} {shown:<40} {wall:9.3f} {peak:10,}")
    finally:
        if busy:
            busy.kill()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--zarc")
    ap.add_argument("--entries", type=int)
    ap.add_argument("--runs", type=int, default=7)
    ap.add_argument("--many", action="store_true")
    ap.add_argument("--no-extract", action="store_true")
    ap.add_argument("--busy", action="store_true")
    args = ap.parse_args()
    zarc = args.zarc or build_zarc()
    os.makedirs(TREE, exist_ok=True)
    if args.many:
        args.entries = args.entries or 1000000
        return many(args, zarc)
    args.entries = args.entries or 100000
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
