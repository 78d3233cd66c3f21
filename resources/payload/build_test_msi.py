#!/usr/bin/env python3
"""Builds the test installer package so that two builds give the same bytes.

    build_test_msi.py WIXL SOURCE.wxs OUTPUT.msi

wixl puts a fresh package code and the time of the build into the package's
summary information, and the packed file's time into its cabinet. The file
is packed with a fixed time, and the summary's package code and times are
replaced, in place and at their own length, by fixed ones.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

# 2024-01-01 00:00:00 UTC, as the payload's entries have it.
EPOCH = 1704067200
FILETIME = ((EPOCH + 11644473600) * 10_000_000).to_bytes(8, "little")
PACKAGE_CODE = b"{3F6C2B1A-8D4E-4A57-9C21-5E7B0D93A4C6}"
VT_LPSTR, VT_FILETIME = b"\x1e\x00\x00\x00", b"\x40\x00\x00\x00"


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    wixl, source, output = sys.argv[1:]
    with tempfile.TemporaryDirectory() as work:
        for name in os.listdir(os.path.dirname(os.path.abspath(source))):
            path = os.path.join(os.path.dirname(os.path.abspath(source)), name)
            if os.path.isfile(path):
                shutil.copyfile(path, os.path.join(work, name))
                os.utime(os.path.join(work, name), (EPOCH, EPOCH))
        built = os.path.join(work, "package.msi")
        subprocess.run([wixl, "-o", built, os.path.basename(source)], cwd=work, check=True)
        data = bytearray(open(built, "rb").read())
    # The package code, a string property, is followed by the create and
    # last-save times.
    codes = list(re.finditer(re.escape(VT_LPSTR) + rb"\x27\x00\x00\x00(\{[0-9A-F-]{36}\})\x00", data))
    if len(codes) != 1:
        sys.exit(f"{source}: {len(codes)} package codes in wixl's output, not one")
    start = codes[0].start(1)
    data[start:start + len(PACKAGE_CODE)] = PACKAGE_CODE
    at = codes[0].end()
    times = 0
    while times < 2:
        at = data.find(VT_FILETIME, at, at + 64)
        if at < 0:
            sys.exit(f"{source}: the summary's times are not where wixl puts them")
        data[at + 4:at + 12] = FILETIME
        at += 12
        times += 1
    temp = output + ".tmp"
    with open(temp, "wb") as f:
        f.write(data)
    os.replace(temp, output)


if __name__ == "__main__":
    main()
