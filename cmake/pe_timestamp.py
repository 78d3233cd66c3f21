#!/usr/bin/env python3
"""Gives a Windows executable the time stamp of its sources.

    pe_timestamp.py PROGRAM.exe SOURCE_DIR

The linker stamps the time of the link into the PE header, so that two
builds of the same sources differ. The stamp becomes SOURCE_DATE_EPOCH when
it is set, else the time of the last commit of SOURCE_DIR; without either
the linker's stamp stays.
"""
import os
import struct
import subprocess
import sys


def epoch(source_dir):
    if os.environ.get("SOURCE_DATE_EPOCH", "").isdigit():
        return int(os.environ["SOURCE_DATE_EPOCH"])
    try:
        out = subprocess.run(["git", "-C", source_dir, "log", "-1", "--format=%ct"], capture_output=True,
                             text=True, check=True).stdout.strip()
        return int(out)
    except (OSError, subprocess.CalledProcessError, ValueError):
        return None


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    program, source_dir = sys.argv[1:]
    stamp = epoch(source_dir)
    if stamp is None:
        return
    data = bytearray(open(program, "rb").read())
    if data[:2] != b"MZ" or len(data) < 0x40:
        sys.exit(f"{program}: not a Windows executable")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0" or len(data) < pe + 24 + 68:
        sys.exit(f"{program}: not a PE executable")
    struct.pack_into("<I", data, pe + 8, stamp & 0xFFFFFFFF)  # the COFF header's TimeDateStamp
    # The linker's checksum covered its own stamp: it is made again.
    at = pe + 24 + 64
    if struct.unpack_from("<I", data, at)[0]:
        struct.pack_into("<I", data, at, checksum(data, at))
    temp = program + ".tmp"
    with open(temp, "wb") as f:
        f.write(data)
    os.chmod(temp, os.stat(program).st_mode)
    os.replace(temp, program)


def checksum(data, at):
    """The PE image checksum: 16-bit words summed with end-around carry,
    the checksum field itself left out, plus the file's length."""
    padded = bytes(data[:at]) + b"\0\0\0\0" + bytes(data[at + 4:]) + (b"\0" if len(data) % 2 else b"")
    total = 0
    for (word,) in struct.iter_unpack("<H", padded):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


if __name__ == "__main__":
    main()
