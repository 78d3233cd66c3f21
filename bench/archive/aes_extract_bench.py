#!/usr/bin/env python3
"""Times `zarc extract -P` against `7z x -p` on a WinZip AES-256 archive of
about 100 MB made by 7z (deflated), and the same pair on the same files
without encryption, so that the share of AES in the time shows. Whole
processes, several runs, medians, peak memory from /usr/bin/time -v; each
run extracts into a fresh folder.

The files (about 170 MB in 480 files, half text-like, half random, so the
archive of about 100 MB is partly compressible) and the archives are made
once, deterministically apart from 7z's salts, in a temporary folder that
later runs reuse.

usage: bench/archive/aes_extract_bench.py [--tree DIR] [--runs N] [--work DIR]

Without --tree, zarc is built in build/dev-zarc-rel (Release, no
sanitizers).
"""
import argparse
import os
import random
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from extract_bench import text_block  # noqa: E402
from wholeprocess import measure  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
PASSWORD = "bench-Password-1"


def build(tree):
    if not os.path.exists(os.path.join(tree, "build.ninja")):
        subprocess.run(["cmake", "-S", ROOT, "-B", tree, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                        "-DROVEND_SANITIZE=OFF", "-DROVEND_TESTS=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["ninja", "-C", tree, "-j2", "zarc"], check=True, stdout=subprocess.DEVNULL)


def make_files(folder):
    """~170 MB in 480 files of 64 KiB to 640 KiB."""
    done = os.path.join(folder, ".complete")
    if os.path.exists(done):
        return
    rng = random.Random(20240901)
    for i in range(480):
        size = rng.randrange(64 * 1024, 640 * 1024)
        data = rng.randbytes(size) if i % 2 == 0 else text_block(rng, size)
        path = os.path.join(folder, f"set{i % 8}", f"file{i:03}.{'bin' if i % 2 == 0 else 'txt'}")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    open(done, "w").close()


def make_archive(path, files, *options):
    if os.path.exists(path):
        return
    subprocess.run(["7z", "a", "-tzip", "-bd", "-bso0", "-mx=5", *options, path + ".tmp.zip", "set*"], cwd=files,
                   check=True)
    os.replace(path + ".tmp.zip", path)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tree", default=os.path.join(ROOT, "build", "dev-zarc-rel"))
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--work", default=os.path.join(tempfile.gettempdir(), "rovend-aes-bench"))
    args = ap.parse_args()
    build(args.tree)
    zarc = os.path.join(args.tree, "bin", "zarc")
    files = os.path.join(args.work, "files")
    os.makedirs(files, exist_ok=True)
    make_files(files)
    aes = os.path.join(args.work, "aes256.zip")
    plain = os.path.join(args.work, "plain.zip")
    make_archive(aes, files, "-p" + PASSWORD, "-mem=AES256")
    make_archive(plain, files)
    total = sum(os.path.getsize(os.path.join(d, n)) for d, _, names in os.walk(files) for n in names
                if not n.startswith("."))
    dest = os.path.join(args.work, "out")
    print(f"{args.runs} runs each; median seconds, peak KiB; {total / 1e6:.1f} MB unpacked in 480 files")
    for archive, pw in ((aes, ["-P", PASSWORD]), (plain, [])):
        print(f"\n{os.path.basename(archive)}: {os.path.getsize(archive) / 1e6:.1f} MB")
        rows = [
            ("zarc extract", [zarc, "extract", "-q", *pw, archive, "-d", dest]),
            ("7z x", ["7z", "x", "-y", "-bd", "-bso0", *(["-p" + PASSWORD] if pw else []), f"-o{dest}", archive]),
        ]
        for label, cmd in rows:
            wall, peak = measure(cmd, args.runs, dest)
            print(f"  {label:<14} {wall:8.3f} {peak:9,}  {total / wall / 1e6:7.1f} MB/s")


if __name__ == "__main__":
    main()
