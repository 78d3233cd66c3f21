#!/usr/bin/env python3
"""Times `zarc list` against `unzip -l` and `bsdtar -tf` on a generated
archive of 100,000 small entries: whole processes, several runs, medians,
peak memory from /usr/bin/time -v.

With --many, an archive of N small stored entries (1,000,000 unless
--entries says otherwise) instead, and side by side with unzip, 7z and
bsdtar: list, test, extract (unless --no-extract) and one named entry to
standard output, then zarc's peaks in decimal megabytes with what each
entry adds to them beyond an archive of none. --busy keeps the other core
busy meanwhile.

Extraction of a million files is taken into a memory file system
(--extract-dir, /dev/shm by default) so that a run costs the tools' work
rather than the disk's, once per tool unless --extract-runs says
otherwise, each run cut off after --timeout seconds: a tool cut off is
shown as such, never left out. Each run's folder is deleted before the
next (a million files in memory are gigabytes).

usage: bench/archive/list_bench.py [--zarc PATH] [--entries N] [--runs N]
       bench/archive/list_bench.py --many [--entries N] [--runs N] [--no-extract] [--busy]
                                   [--only list,test,named,extract] [--extract-dir DIR]
                                   [--extract-runs N] [--timeout S]

Without --zarc, zarc is built in build/bench-archive (Release, no
sanitizers). The archive is written deterministically to
build/bench-archive/list-N.zip (many-N.zip with --many).
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wholeprocess import measure, measure_side_by_side, other_core_busy, warm_memory  # noqa: E402

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


def timed_extract(cmd, out, timeout):
    """Wall seconds and peak KiB of one extraction into a fresh `out`, or
    None for the seconds when it was cut off after `timeout`."""
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    warm_memory()
    start = time.perf_counter()
    p = subprocess.Popen(["/usr/bin/time", "-v", *cmd], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    try:
        _, err = p.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        p.kill()
        p.communicate()
        shutil.rmtree(out, ignore_errors=True)
        return None, 0
    wall = time.perf_counter() - start
    shutil.rmtree(out, ignore_errors=True)
    if p.returncode != 0:
        sys.exit(f"{' '.join(cmd)} failed:\n{err[-2000:]}")
    peak = max((int(line.split()[-1]) for line in err.splitlines() if "Maximum resident set size" in line), default=0)
    return wall, peak


def many(args, zarc):
    archive = os.path.join(TREE, f"many-{args.entries}.zip")
    make_archive(archive, args.entries, stored=True)
    named = f"folder{(args.entries // 2) % 100:02}/file{args.entries // 2:07}.txt"
    shm = "/dev/shm" if os.path.isdir("/dev/shm") else TREE
    out = os.path.join(args.extract_dir or shm, f"list-bench-{os.getpid()}")
    only = set(args.only.split(",")) if args.only else {"list", "test", "named", "extract"}
    groups = []
    if "list" in only:
        groups.append(("list", [[zarc, "list", archive], ["unzip", "-l", archive], ["7z", "l", archive],
                                ["bsdtar", "-tf", archive]]))
    if "test" in only:
        groups.append(("test", [[zarc, "test", "-q", archive], ["unzip", "-tq", archive], ["7z", "t", archive],
                                ["bsdtar", "-xOf", archive]]))
    if "named" in only:
        groups.append(("one named", [[zarc, "extract", "-p", archive, named], ["unzip", "-p", archive, named],
                                     ["7z", "e", "-so", archive, named], ["bsdtar", "-xOf", archive, named]]))
    extract = [[zarc, "extract", "-q", "-o", "-d", out, archive], ["unzip", "-qo", "-d", out, archive],
               ["7z", "x", "-y", "-o" + out, archive], ["bsdtar", "-xf", archive, "-C", out]]
    with other_core_busy(args.busy):
        print(f"archive: {archive} ({os.path.getsize(archive):,} bytes, {args.entries:,} stored entries); "
              f"{args.runs} runs each{'; the other core busy' if args.busy else ''}; {os.getloadavg()[0]:.1f} load")
        print(f"{'':<10} {'command':<40} {'median s':>9} {'peak KiB':>10}")

        def shown(cmd):
            return " ".join(os.path.basename(c) if c in (zarc, archive) else c for c in cmd[:3])

        zarc_peaks = {}
        for label, cmds in groups:
            rows = [(cmd, None) for cmd in cmds if shutil.which(cmd[0]) or os.path.exists(cmd[0])]
            results = measure_side_by_side(rows, args.runs)
            for (cmd, _), (wall, peak) in zip(rows, results):
                print(f"{label:<10} {shown(cmd):<40} {wall:9.3f} {peak:10,}", flush=True)
                if cmd[0] == zarc:
                    zarc_peaks[label] = peak
        if zarc_peaks:
            # The targets are in decimal megabytes; what an entry costs is
            # what the peak grows by beyond an archive of none.
            empty = os.path.join(TREE, "many-0.zip")
            make_archive(empty, 0, stored=True)
            _, base = measure([zarc, "list", empty], 3)
            for label, peak in zarc_peaks.items():
                print(f"zarc {label}: peak {peak * 1024 / 1e6:.1f} MB, "
                      f"{(peak - base) * 1024 / args.entries:.0f} bytes per entry beyond an empty archive")
        if "extract" in only and not args.no_extract:
            print(f"extract into {os.path.dirname(out)}, {args.extract_runs} run(s) each, "
                  f"cut off after {args.timeout:g} s; {os.getloadavg()[0]:.1f} load", flush=True)
            rows = [cmd for cmd in extract if shutil.which(cmd[0]) or os.path.exists(cmd[0])]
            walls = [[] for _ in rows]
            peaks = [0 for _ in rows]
            cut = [False for _ in rows]
            for _ in range(args.extract_runs):  # taken in turn, as the other groups are
                for i, cmd in enumerate(rows):
                    if cut[i]:
                        continue
                    wall, peak = timed_extract(cmd, out, args.timeout)
                    if wall is None:
                        cut[i] = True
                    else:
                        walls[i].append(wall)
                        peaks[i] = max(peaks[i], peak)
            for i, cmd in enumerate(rows):
                if cut[i]:
                    print(f"{'extract':<10} {shown(cmd):<40} {'> ' + format(args.timeout, 'g'):>9} {'cut off':>10}")
                else:
                    print(f"{'extract':<10} {shown(cmd):<40} {statistics.median(walls[i]):9.3f} {peaks[i]:10,}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--zarc")
    ap.add_argument("--entries", type=int)
    ap.add_argument("--runs", type=int, default=7)
    ap.add_argument("--many", action="store_true")
    ap.add_argument("--no-extract", action="store_true")
    ap.add_argument("--busy", action="store_true")
    ap.add_argument("--only", help="with --many: the groups to run (list,test,named,extract)")
    ap.add_argument("--extract-dir", help="with --many: where the extractions go (a memory file system by default)")
    ap.add_argument("--extract-runs", type=int, default=1)
    ap.add_argument("--timeout", type=float, default=300, help="with --many: seconds an extraction may take")
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
