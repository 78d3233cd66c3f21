"""Whole-process timing shared by the archive benchmarks: median wall time
and peak resident memory (from /usr/bin/time -v) over several runs."""
import argparse
import atexit
import contextlib
import mmap
import os
import shutil
import statistics
import subprocess
import sys
import time

# Output of earlier runs is set aside here rather than deleted at once.
# ext4 without a journal skips every inode freed in the last minute when it
# makes a file (a buffer-cache lookup each), so a run that follows the
# deletion of the previous run's 1,000 files pays a quadratic scan that no
# tool can avoid and that drowns the tools' own work; on a journalled ext4
# the same run costs a tenth. Set-aside folders are deleted in bulk, once
# they pass a budget, followed by a pause that lets the freed inodes age.
TRASH_BUDGET = int(os.environ.get("BENCH_TRASH_BYTES", 8 << 30))
INODE_AGE = 65  # seconds; the kernel's window is 60 s once written back
_trash = []  # (folder, bytes)


def _folder_bytes(path):
    total = 0
    for top, _, files in os.walk(path):
        for f in files:
            try:
                total += os.lstat(os.path.join(top, f)).st_size
            except OSError:
                pass
    return total


def _purge_trash(wait):
    if not _trash:
        return
    for folder, _ in _trash:
        shutil.rmtree(folder, ignore_errors=True)
    _trash.clear()
    if wait:
        os.sync()
        time.sleep(INODE_AGE)


atexit.register(_purge_trash, False)

# A virtual machine's host may hand memory to the guest only when first
# touched and take back what the guest frees; page cache filled on such
# memory fills at a third of the speed. Touching enough memory just before
# a run, and letting it go, gives every run (and every tool) the same warm
# start that a physical machine always has.
WARM_BYTES = int(os.environ.get("BENCH_WARM_BYTES", 1 << 30))


def warm_memory():
    if WARM_BYTES <= 0:
        return
    m = mmap.mmap(-1, WARM_BYTES)
    for at in range(0, WARM_BYTES, mmap.PAGESIZE):
        m[at] = 1
    m.close()


def set_aside(folder):
    """Moves folder out of the way (to be deleted later in bulk)."""
    if not os.path.lexists(folder):
        return
    n = 0
    while os.path.lexists(f"{folder}.old{n}"):
        n += 1
    os.rename(folder, f"{folder}.old{n}")
    _trash.append((f"{folder}.old{n}", _folder_bytes(f"{folder}.old{n}")))
    if sum(b for _, b in _trash) > TRASH_BUDGET:
        _purge_trash(True)


def _run_once(cmd, fresh_dir):
    """Wall seconds and peak KiB of one run of cmd."""
    if fresh_dir:
        set_aside(fresh_dir)
        os.makedirs(fresh_dir)
        # Written-back pages of the run before must not stall this one.
        os.sync()
    warm_memory()
    start = time.perf_counter()
    r = subprocess.run(["/usr/bin/time", "-v", *cmd], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    wall = time.perf_counter() - start
    if r.returncode != 0:
        sys.exit(f"{' '.join(cmd)} failed:\n{r.stderr[-2000:]}")
    peak = 0
    for line in r.stderr.splitlines():
        if "Maximum resident set size" in line:
            peak = int(line.split()[-1])
    return wall, peak


def measure(cmd, runs, fresh_dir=None):
    """Runs cmd `runs` times after one run that is not counted (it pays for
    the cold cache); fresh_dir, when given, is a new empty folder for each
    run and is gone from its place afterwards."""
    return measure_side_by_side([(cmd, fresh_dir)], runs)[0]


def measure_side_by_side(rows, runs):
    """measure() for several (cmd, fresh_dir) rows, taken in turn run by
    run: what drifts on the machine meanwhile (other work, the host's
    memory, the file system's state) falls on every row alike."""
    walls = [[] for _ in rows]
    peaks = [0 for _ in rows]
    for run in range(runs + 1):
        for i, (cmd, fresh_dir) in enumerate(rows):
            wall, peak = _run_once(cmd, fresh_dir)
            if run == 0:
                continue
            walls[i].append(wall)
            peaks[i] = max(peaks[i], peak)
    for _, fresh_dir in rows:
        if fresh_dir:
            set_aside(fresh_dir)
    return [(statistics.median(w), p) for w, p in zip(walls, peaks)]


@contextlib.contextmanager
def other_core_busy(busy):
    """With busy set, a spinning process keeps one core occupied meanwhile
    (the last one, pinned with taskset where it exists): the tools then
    share what is left, as on a machine at work on something else."""
    if not busy:
        yield
        return
    spin = [sys.executable, "-c", "while True: pass"]
    if shutil.which("taskset"):
        spin = ["taskset", "-c", str(os.cpu_count() - 1)] + spin
    spinner = subprocess.Popen(spin)
    try:
        yield
    finally:
        spinner.kill()
        spinner.wait()


def tree_and_runs(root):
    """The options every archive benchmark takes: the build tree its tools
    are built in (and its archives written to), and the number of runs."""
    ap = argparse.ArgumentParser()
    ap.add_argument("--tree", default=os.path.join(root, "build", "bench-archive"))
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--busy", action="store_true", help="keep one core busy meanwhile")
    return ap.parse_args()
