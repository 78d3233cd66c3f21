#!/usr/bin/env python3
"""Builds the payload archive the setup carries.

    make_payload.py OUTPUT.zip FILE...

Every file goes in at the archive's root under its own name, deflated, with
the archive attribute (0x20) and an NTFS extra field holding its three file
times, as the setup expects them. Entry times are fixed, so the archive
depends on the files' contents only.
"""
import os
import struct
import sys
import zipfile

# 2024-01-01 00:00:00 UTC, as a DOS time and as an NTFS time.
DOS_TIME = (2024, 1, 1, 0, 0, 0)
NTFS_TIME = (1704067200 + 11644473600) * 10_000_000
ARCHIVE_ATTRIBUTE = 0x20


def ntfs_extra():
    times = struct.pack("<QQQ", NTFS_TIME, NTFS_TIME, NTFS_TIME)  # modified, accessed, created
    attribute = struct.pack("<HH", 0x0001, len(times)) + times
    body = struct.pack("<I", 0) + attribute  # reserved, then the times attribute
    return struct.pack("<HH", 0x000A, len(body)) + body


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    output, files = sys.argv[1], sys.argv[2:]
    temp = output + ".tmp"
    with zipfile.ZipFile(temp, "w") as archive:
        for path in sorted(files, key=lambda p: os.path.basename(p).lower()):
            info = zipfile.ZipInfo(os.path.basename(path), DOS_TIME)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 0  # MS-DOS/Windows attributes
            info.external_attr = ARCHIVE_ATTRIBUTE
            info.extra = ntfs_extra()
            with open(path, "rb") as f:
                archive.writestr(info, f.read(), compresslevel=9)
    os.replace(temp, output)


if __name__ == "__main__":
    main()
