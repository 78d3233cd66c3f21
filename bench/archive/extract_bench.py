#!/usr/bin/env python3
"""Times `zarc extract` against `unzip -qo`, `bsdtar -xf` and `7z x`, and
`zarc test` against `unzip -tq` and `7z t`, on two generated archives: about
200 MB of some 2,000 mixed compressible and incompressible files (deflated)
and 100 MB stored. Whole processes, several runs, medians, peak memory from
/usr/bin/time -v; plus the limit figure: inflate and CRC-32 of the same data
in one process, writing nothing (inflate_limit). The tools take turns run
by run, so that what drifts on the machine falls on all of them.

usage: bench/archive/extract_bench.py [--tree DIR] [--runs N] [--busy]

With --busy one core is kept busy by a spinning process meanwhile.

Without --tree, zarc and inflate_limit are built in build/bench-archive
(Release, no sanitizers), where the archives are also written
(deterministically) and extracted.
"""
import argparse
import os
import random
import subprocess
import sys
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wholeprocess import measure_side_by_side, other_core_busy  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


def build(tree):
    if not os.path.exists(os.path.join(tree, "build.ninja")):
        subprocess.run(["cmake", "-S", ROOT, "-B", tree, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                        "-DROVEND_TESTS=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["ninja", "-C", tree, "-j2", "zarc", "inflate_limit"], check=True, stdout=subprocess.DEVNULL)


def text_block(rng, size):
    words = ["archive", "entry", "deflate", "window", "certificate", "zone", "host", "setup", "stream", "record"]
    out = []
    n = 0
    while n < size:
        line = " ".join(rng.choice(words) for _ in range(12)) + f" {rng.randrange(10**6)}\n"
        out.append(line)
        n += len(line)
    return "".join(out).encode()[:size]


def make_mixed(path):
    """~200 MB in ~2,000 files: text-like and random, sizes 4 KiB to 400 KiB."""
    if os.path.exists(path):
        return
    rng = random.Random(20240601)
    with zipfile.ZipFile(path + ".tmp", "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
        for i in range(2000):
            size = rng.randrange(4096, 400 * 1024)
            data = rng.randbytes(size) if i % 3 == 0 else text_block(rng, size)
            info = zipfile.ZipInfo(f"set{i % 20:02}/file{i:04}.{'bin' if i % 3 == 0 else 'txt'}",
                                   (2024, 6, 1, 12, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, data)
    os.replace(path + ".tmp", path)


def make_stored(path):
    """100 MB stored, 1,000 files of 100 KiB."""
    if os.path.exists(path):
        return
    rng = random.Random(7)
    with zipfile.ZipFile(path + ".tmp", "w", zipfile.ZIP_STORED) as z:
        for i in range(1000):
            z.writestr(zipfile.ZipInfo(f"stored/file{i:04}.bin", (2024, 6, 1, 12, 0, 0)), rng.randbytes(102400))
    os.replace(path + ".tmp", path)



def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tree", default=os.path.join(ROOT, "build", "bench-archive"))
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--busy", action="store_true", help="keep one core busy meanwhile")
    args = ap.parse_args()
    build(args.tree)
    zarc = os.path.join(args.tree, "bin", "zarc")
    limit = os.path.join(args.tree, "bin", "inflate_limit")
    mixed = os.path.join(args.tree, "extract-mixed.zip")
    stored = os.path.join(args.tree, "extract-stored.zip")
    make_mixed(mixed)
    make_stored(stored)
    dest = os.path.join(args.tree, "extract-out")
    print(f"{args.runs} runs each; median seconds, peak KiB" + ("; one core kept busy" if args.busy else ""))
    for archive in (mixed, stored):
        with zipfile.ZipFile(archive) as z:
            total = sum(i.file_size for i in z.infolist())
            count = len(z.infolist())
        print(f"\n{os.path.basename(archive)}: {os.path.getsize(archive) / 1e6:.1f} MB, {count} entries, "
              f"{total / 1e6:.1f} MB unpacked")
        rows = [
            ("zarc extract", [zarc, "extract", "-q", archive, "-d", dest + "-zarc"], dest + "-zarc"),
            ("unzip -qo", ["unzip", "-qo", archive, "-d", dest + "-unzip"], dest + "-unzip"),
            ("bsdtar -xf", ["bsdtar", "-xf", archive, "-C", dest + "-bsdtar"], dest + "-bsdtar"),
            ("7z x", ["7z", "x", "-y", "-bd", "-bso0", f"-o{dest}-7z", archive], dest + "-7z"),
            ("zarc test", [zarc, "test", "-q", archive], None),
            ("unzip -tq", ["unzip", "-tq", archive], None),
            ("7z t", ["7z", "t", "-bd", "-bso0", archive], None),
            ("limit", [limit, archive], None),
        ]
        with other_core_busy(args.busy):
            results = measure_side_by_side([(cmd, d) for _, cmd, d in rows], args.runs)
        times = {}
        for (label, _, _), (wall, peak) in zip(rows, results):
            times[label] = wall
            print(f"  {label:<14} {wall:8.3f} {peak:9,}  {total / wall / 1e6:7.1f} MB/s")
        peer, fastest = min(((label, times[label]) for label in ("unzip -qo", "bsdtar -xf", "7z x")),
                            key=lambda p: p[1])
        print(f"  zarc extract / {peer}: {times['zarc extract'] / fastest:.2f}; "
              f"zarc test / 7z t: {times['zarc test'] / times['7z t']:.2f}; "
              f"uptime: {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
