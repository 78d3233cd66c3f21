#!/usr/bin/env python3
"""Makes the archives of this folder, each by the tool named in its name:
7z (Deflate64, BZip2, LZMA, XZ), zip -Z bzip2, Python's zipfile (BZip2,
LZMA) and the zstd tool (Zstandard, methods 93 and 20, its frames put into
zip records here). Every archive holds the same two files: a text, and data
whose matches reach past 32 KiB and run past 258 bytes, which only Deflate64
of the deflate kinds can say in one match.

usage: make.py   (in this folder; needs 7z, zip and zstd)
"""
import os
import random
import shutil
import struct
import subprocess
import tempfile
import zipfile
import zlib


def contents():
    text = b"".join(b"line %d of a text that repeats itself with small changes\n" % i for i in range(120))
    rng = random.Random(24)
    block = bytes(rng.getrandbits(8) for _ in range(1500))
    far = block + b"\0" * 40000 + block + b"x" * 70000 + block
    return {"text.txt": text, "far.bin": far}


def zstd_zip(path, files, method):
    """A zip of zstd frames made by the zstd tool, with plain records."""
    out, central = bytearray(), bytearray()
    for name, data in files.items():
        packed = subprocess.run(["zstd", "-q", "-c", "-19"], input=data, capture_output=True, check=True).stdout
        crc = zlib.crc32(data)
        local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 63, 0, method, 0, 0x21, crc, len(packed), len(data),
                            len(name), 0)
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 63, 63, 0, method, 0, 0x21, crc, len(packed),
                               len(data), len(name), 0, 0, 0, 0, 0, len(out)) + name.encode()
        out += local + name.encode() + packed
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(files), len(files), len(central), len(out), 0)
    with open(path, "wb") as f:
        f.write(out + central + end)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    files = contents()
    work = tempfile.mkdtemp()
    try:
        for name, data in files.items():
            with open(os.path.join(work, name), "wb") as f:
                f.write(data)
        names = sorted(files)
        for method in ("Deflate64", "BZip2", "LZMA", "xz"):
            target = os.path.join(here, "7z-%s.zip" % method.lower())
            if os.path.exists(target):
                os.remove(target)
            subprocess.run(["7z", "a", "-tzip", "-mm=" + method, "-mx9", target, *names], cwd=work, check=True,
                           capture_output=True)
        target = os.path.join(here, "zip-bzip2.zip")
        if os.path.exists(target):
            os.remove(target)
        subprocess.run(["zip", "-q", "-Z", "bzip2", target, *names], cwd=work, check=True)
        for method, kind in ((zipfile.ZIP_BZIP2, "bzip2"), (zipfile.ZIP_LZMA, "lzma")):
            with zipfile.ZipFile(os.path.join(here, "python-%s.zip" % kind), "w", method) as z:
                for name in names:
                    z.writestr(name, files[name])
        zstd_zip(os.path.join(here, "zstd-93.zip"), files, 93)
        zstd_zip(os.path.join(here, "zstd-20.zip"), files, 20)
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
