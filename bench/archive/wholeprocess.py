"""Whole-process timing shared by the archive benchmarks: median wall time
and peak resident memory (from /usr/bin/time -v) over several runs."""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time


def measure(cmd, runs, fresh_dir=None):
    """Runs cmd `runs` times after one run that is not counted (it pays for
    the cold cache and for the file system's clean-up of whatever ran
    before); fresh_dir, when given, is emptied before each run."""
    walls, peaks = [], []
    for run in range(runs + 1):
        if fresh_dir:
            shutil.rmtree(fresh_dir, ignore_errors=True)
            os.makedirs(fresh_dir)
            # Written-back pages of the run before must not stall this one.
            os.sync()
        start = time.perf_counter()
        r = subprocess.run(["/usr/bin/time", "-v", *cmd], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                           text=True)
        wall = time.perf_counter() - start
        if r.returncode != 0:
            sys.exit(f"{' '.join(cmd)} failed:\n{r.stderr[-2000:]}")
        if run == 0:
            continue
        walls.append(wall)
        for line in r.stderr.splitlines():
            if "Maximum resident set size" in line:
                peaks.append(int(line.split()[-1]))
    if fresh_dir:
        shutil.rmtree(fresh_dir, ignore_errors=True)
    return statistics.median(walls), max(peaks)


def tree_and_runs(root):
    """The options every archive benchmark takes: the build tree its tools
    are built in (and its archives written to), and the number of runs."""
    ap = argparse.ArgumentParser()
    ap.add_argument("--tree", default=os.path.join(root, "build", "bench-archive"))
    ap.add_argument("--runs", type=int, default=5)
    return ap.parse_args()
