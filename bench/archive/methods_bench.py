#!/usr/bin/env python3
"""Times the decoding of each compression method beyond deflate: `zarc test`
and `zarc extract` of an archive of that method against its reference tool
on the same data (`bzip2 -d`, `xz -d`, `xz --format=lzma -d`, `zstd -d`; `7z
t` for Deflate64, which has no tool of its own) and against `7z x` of the
same archive. The data are the first 100 files of extract_bench.py's mixed
set (about 20 MB of text and noise); the archives are made by zarc -Z, the
Deflate64 one by 7z. The reference tools decode the archive's own streams
put end to end (the entries it holds compressed, not the noise it stores);
for LZMA, whose zip form is not the .lzma format, the tool's own stream of
the same files. One more BZip2 archive holds a single large text file (24
MB, about 27 blocks of bzip2 -9), whose blocks zarc decodes two at a time
with a second core free, as 7z does.

Each figure is taken twice: with the machine as it is, and on one core
(every command under `taskset -c 0`) with a spinning process on that core
too, as when the other core is busy.

usage: bench/archive/methods_bench.py [--tree DIR] [--runs N]
"""
import os
import random
import signal
import struct
import subprocess
import sys
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from extract_bench import build, text_block  # noqa: E402
from wholeprocess import measure_side_by_side, tree_and_runs  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
FILES = 100

# method: how zarc writes it (None: 7z), the reference stream's suffix, how
# the tool makes it and how it decodes it.
METHODS = {
    "bzip2": (["-Z", "bzip2", "-9"], ".bz2", ["bzip2", "-9", "-c"], ["bzip2", "-dc"]),
    "lzma": (["-Z", "lzma", "-6"], ".lzma", ["xz", "--format=lzma", "-6", "-c"], ["xz", "--format=lzma", "-dc"]),
    "xz": (["-Z", "xz", "-6"], ".xz", ["xz", "-6", "-c"], ["xz", "-dc"]),
    "zstd": (["-Z", "zstd", "-6"], ".zst", ["zstd", "-3", "-q", "-c"], ["zstd", "-dcq"]),
    "deflate64": (None, None, None, None),
    "bzip2-large": (["-Z", "bzip2", "-9"], ".bz2", ["bzip2", "-9", "-c"], ["bzip2", "-dc"]),
}
LARGE = 24 * 1000 * 1000


def make_tree(folder):
    """The first FILES files of extract_bench.py's mixed set."""
    if os.path.exists(folder):
        return
    rng = random.Random(20240601)
    os.makedirs(folder + ".tmp")
    for i in range(FILES):
        size = rng.randrange(4096, 400 * 1024)
        data = rng.randbytes(size) if i % 3 == 0 else text_block(rng, size)
        name = os.path.join(folder + ".tmp", f"set{i % 20:02}", f"file{i:04}.{'bin' if i % 3 == 0 else 'txt'}")
        os.makedirs(os.path.dirname(name), exist_ok=True)
        with open(name, "wb") as f:
            f.write(data)
    os.rename(folder + ".tmp", folder)


def make_large(folder):
    """One text file of LARGE bytes."""
    if os.path.exists(folder):
        return
    os.makedirs(folder + ".tmp")
    with open(os.path.join(folder + ".tmp", "large.txt"), "wb") as f:
        f.write(text_block(random.Random(20261209), LARGE))
    os.rename(folder + ".tmp", folder)


def files_of(folder):
    return sorted(os.path.relpath(os.path.join(top, f), folder) for top, _, fs in os.walk(folder) for f in fs)


def read_file(folder, name):
    with open(os.path.join(folder, name), "rb") as f:
        return f.read()


def raw_streams(archive, target):
    if os.path.exists(target):
        return
    with open(archive, "rb") as f:
        raw = f.read()
    with zipfile.ZipFile(archive) as z, open(target + ".tmp", "wb") as out:
        for info in z.infolist():
            if info.compress_type == 0:
                continue
            at = info.header_offset
            name, extra = struct.unpack("<HH", raw[at + 26:at + 30])
            start = at + 30 + name + extra
            out.write(raw[start:start + info.compress_size])
    os.rename(target + ".tmp", target)


def make_inputs(tree, zarc, sources):
    made = {}
    for method, (zarc_args, suffix, pack, _) in METHODS.items():
        source = sources["large" if method.endswith("-large") else "mixed"]
        names = files_of(source)
        archive = os.path.join(tree, f"methods-{method}.zip")
        if not os.path.exists(archive):
            if zarc_args is None:
                subprocess.run(["7z", "a", "-tzip", "-mm=Deflate64", "-mx5", "-bd", "-bso0", archive + ".tmp.zip",
                                *names], cwd=source, check=True)
            else:
                subprocess.run([zarc, "create", "-q", *zarc_args, archive + ".tmp.zip", *names], cwd=source,
                               check=True)
            os.rename(archive + ".tmp.zip", archive)
        stream = None
        if suffix:
            stream = os.path.join(tree, f"methods-{method}-entries{suffix}")
            if method != "lzma":
                # The entries' own streams, end to end, as the tools read
                # concatenated streams: the very data zarc decodes.
                raw_streams(archive, stream)
            elif not os.path.exists(stream):
                # Zip's LZMA is not the .lzma format: the tool's own stream
                # of the same files.
                with zipfile.ZipFile(archive) as z, open(stream + ".tmp", "wb") as out:
                    data = b"".join(read_file(source, i.filename) for i in z.infolist() if i.compress_type != 0)
                    subprocess.run(pack, input=data, stdout=out, check=True)
                os.rename(stream + ".tmp", stream)
        made[method] = (archive, stream)
    return made


def run_all(made, zarc, tree, runs, pinned):
    prefix = ["taskset", "-c", "0"] if pinned else []
    dest = os.path.join(tree, "methods-out")
    for method, (archive, stream) in made.items():
        with zipfile.ZipFile(archive) as z:
            total = sum(i.file_size for i in z.infolist())
        reference = METHODS[method][3]
        rows = [
            ("zarc test", [zarc, "test", "-q", archive], None),
            ("zarc extract", [zarc, "extract", "-q", archive, "-d", dest + "-zarc"], dest + "-zarc"),
            (" ".join(reference) if reference else "7z t",
             [*reference, stream] if reference else ["7z", "t", "-bd", "-bso0", archive], None),
            ("7z x", ["7z", "x", "-y", "-bd", "-bso0", f"-o{dest}-7z", archive], dest + "-7z"),
        ]
        results = measure_side_by_side([(prefix + cmd, d) for _, cmd, d in rows], runs)
        print(f"\n{method}: {os.path.getsize(archive) / 1e6:.1f} MB archive, {total / 1e6:.1f} MB unpacked")
        times = {}
        for (label, _, _), (wall, peak) in zip(rows, results):
            times[label] = wall
            print(f"  {label:<24} {wall:8.3f} s {peak:9,} KiB  {total / wall / 1e6:7.1f} MB/s")
        ref = rows[2][0]
        print(f"  zarc test / {ref}: {times['zarc test'] / times[ref]:.2f}; "
              f"zarc extract / 7z x: {times['zarc extract'] / times['7z x']:.2f}")


def main():
    # Stopped, it still stops its spinning process.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    args = tree_and_runs(ROOT)
    build(args.tree)
    zarc = os.path.join(args.tree, "bin", "zarc")
    sources = {"mixed": os.path.join(args.tree, "methods-tree"), "large": os.path.join(args.tree, "methods-large")}
    make_tree(sources["mixed"])
    make_large(sources["large"])
    made = make_inputs(args.tree, zarc, sources)
    print(f"{args.runs} runs each; median seconds, peak KiB; load: {os.getloadavg()[0]:.2f}")
    print("\n== free core")
    run_all(made, zarc, args.tree, args.runs, False)
    print("\n== one core, shared with a spinning process")
    spinner = subprocess.Popen(["taskset", "-c", "0", sys.executable, "-c", "while True: pass"])
    try:
        run_all(made, zarc, args.tree, args.runs, True)
    finally:
        spinner.kill()
        spinner.wait()


if __name__ == "__main__":
    main()
