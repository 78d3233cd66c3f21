#!/usr/bin/env python3
"""Writes the fuzzer's seed archives into fuzz/corpus/archive/ (run once;
the seeds are committed)."""
import io
import os
import struct
import zipfile

out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "corpus", "archive")
os.makedirs(out, exist_ok=True)


def save(name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)


def build(entries, comment=b"", **kw):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", **kw) as z:
        for name, data, method in entries:
            info = zipfile.ZipInfo(name, (2021, 3, 4, 5, 6, 8))
            info.compress_type = method
            z.writestr(info, data)
        z.comment = comment
    return buf.getvalue()


D, S = zipfile.ZIP_DEFLATED, zipfile.ZIP_STORED
plain = build([("a.txt", b"alpha" * 20, D), ("dir/", b"", S), ("dir/b.bin", bytes(range(64)), S)])
save("plain.zip", plain)
save("comment.zip", build([("c", b"c", S)], comment=b"archive comment"))
save("empty.zip", build([]))
save("prefixed.zip", b"MZ" + b"\0" * 60 + plain)
save("trailing.zip", plain + b"junk")

# Data descriptors (written to an unseekable stream).
class Unseekable(io.RawIOBase):
    def __init__(self, f):
        self.f = f

    def writable(self):
        return True

    def write(self, b):
        return self.f.write(b)


raw = io.BytesIO()
with zipfile.ZipFile(Unseekable(raw), "w") as z:
    z.writestr("streamed.txt", b"streamed" * 8)
    with z.open("forced64", "w", force_zip64=True) as f:
        f.write(b"64" * 10)
save("descriptors.zip", raw.getvalue())

# Zip64 end structures, made small by hand: one entry, Zip64 block, locator.
name = b"z64"
local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, 0, 0, 0, 0x5A21, 0, 0xFFFFFFFF, 0xFFFFFFFF, len(name), 20)
local += name + struct.pack("<HHQQ", 1, 16, 0, 0)
central = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 45, 45, 0, 0, 0, 0x5A21, 0, 0xFFFFFFFF, 0xFFFFFFFF,
                      len(name), 28, 0, 0, 0, 0x20, 0xFFFFFFFF)
central += name + struct.pack("<HHQQQ", 1, 24, 0, 0, 0)
end64_at = len(local) + len(central)
end64 = struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, 1, 1, len(central), len(local))
locator = struct.pack("<IIQI", 0x07064B50, 0, end64_at, 1)
end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
save("zip64.zip", local + central + end64 + locator + end)

# Unicode name and AES blocks in the central directory.
def with_extra(extra, name=b"x.txt", method=0, flags=0):
    local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flags, method, 0, 0x5A21, 0, 1, 1, len(name), 0) + name + b"!"
    central = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, flags, method, 0, 0x5A21, 0, 1, 1, len(name),
                          len(extra), 0, 0, 0, 0x20, 0) + name + extra
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, len(central), len(local), 0)
    return local + central + end


uname = "имя.txt".encode("utf-16-le")
save("unicode.zip", with_extra(struct.pack("<HH4sI", 0x554E, 8 + len(uname), b"NUCX", len(uname) // 2) + uname,
                               name="\xa8\xac\xef.txt".encode("latin-1")))
save("aes.zip", with_extra(struct.pack("<HHH2sBH", 0x9901, 7, 2, b"AE", 3, 8), method=99, flags=1))

# Encrypted entries, made by 7z and Info-ZIP with the password the fuzzer
# sets, so that decryption and its checks run past the password.
import shutil
import subprocess
import tempfile
import zlib

PASSWORD = "fuzz"
text = b" ".join([b"alpha", b"beta", b"gamma", b"entry", b"key"] * 12) + b"\n"
with tempfile.TemporaryDirectory() as tmp:
    with open(os.path.join(tmp, "t.txt"), "wb") as f:
        f.write(text)
    with open(os.path.join(tmp, "r.bin"), "wb") as f:
        f.write(bytes((i * 37 + 11) & 0xFF for i in range(40)))

    def tool(name, *args, stdin=None):
        subprocess.run(args, cwd=tmp, check=True, input=stdin, stdout=subprocess.DEVNULL)
        with open(os.path.join(tmp, name), "rb") as f:
            data = f.read()
        os.remove(os.path.join(tmp, name))
        return data

    def seven(name, method, *files, store=False):
        return tool(name, "7z", "a", "-tzip", "-bd", "-mtc=off", "-p" + PASSWORD, "-mem=" + method,
                    *(["-mm=Copy"] if store else []), name, *files)

    if shutil.which("7z") and shutil.which("zip"):
        save("aes128-ae2.zip", seven("a.zip", "AES128", "t.txt"))
        save("aes256-ae2.zip", seven("a.zip", "AES256", "t.txt", "r.bin"))
        # AE-1: the same entry judged by its CRC, which 7z leaves out of AE-2.
        ae1 = bytearray(seven("a.zip", "AES256", "t.txt", store=True))
        crc = struct.pack("<I", zlib.crc32(text))
        ae1[14:18] = crc
        central = ae1.index(b"PK\x01\x02")
        ae1[central + 16:central + 20] = crc
        at = ae1.find(b"\x01\x99\x07\x00")
        while at >= 0:
            ae1[at + 4:at + 6] = b"\x01\x00"
            at = ae1.find(b"\x01\x99\x07\x00", at + 1)
        save("aes256-ae1.zip", bytes(ae1))
        save("classic.zip", tool("a.zip", "zip", "-q", "-P", PASSWORD, "a.zip", "t.txt", "r.bin"))
        # From a pipe: a data descriptor, so the header checks against the time.
        save("classic-descriptor.zip", tool("a.zip", "zip", "-q", "-P", PASSWORD, "a.zip", "-", stdin=text))
    else:
        print("7z or zip missing: encrypted seeds left as they are")


# Split sets for the volume mode of the fuzzer: the seed is the volumes one
# after the other and a last byte that asks for volumes of 64 bytes (named
# ".z01" ... ".zip", or ".001" ... with 4 set, or disks of a spanned set
# with 0x80 set). Offsets count within each
# volume, as Info-ZIP writes them. The end record (and the Zip64 locator)
# must lie wholly in the last volume: the last entry grows until they do.
def split_set(entries, volume, zip64=False):
    for pad in range(2 * volume):
        padded = entries[:-1] + [(entries[-1][0], entries[-1][1] + b"p" * pad)]
        seed = split_bytes(padded, volume, zip64)
        tail = 22 + (20 if zip64 else 0)
        if (len(seed) - tail) // volume == (len(seed) - 1) // volume and len(seed) % volume != 0:
            return seed
    raise AssertionError("no length keeps the end record whole")


def split_bytes(entries, volume, zip64):
    out = bytearray(struct.pack("<I", 0x08074B50))
    where = []
    for name, data in entries:
        where.append(divmod(len(out), volume))
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 0, 0, 0x5A21, zlib.crc32(data), len(data), len(data),
                           len(name), 0) + name + data
    cd_disk, cd_offset = divmod(len(out), volume)
    cd = bytearray()
    for (name, data), (disk, offset) in zip(entries, where):
        extra = struct.pack("<HHQQQI", 1, 28, len(data), len(data), offset, disk) if zip64 else b""
        cd += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 0, 0, 0x5A21, zlib.crc32(data),
                          0xFFFFFFFF if zip64 else len(data), 0xFFFFFFFF if zip64 else len(data), len(name),
                          len(extra), 0, 0xFFFF if zip64 else disk, 0, 0x20,
                          0xFFFFFFFF if zip64 else offset) + name + extra
    out += cd
    last = (len(out) + (76 if zip64 else 0) + 22 - 1) // volume
    if zip64:
        z_disk, z_offset = divmod(len(out), volume)
        out += struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, last, cd_disk, len(entries), len(entries),
                           len(cd), cd_offset)
        out += struct.pack("<IIQI", 0x07064B50, z_disk, z_offset, last + 1)
    out += struct.pack("<IHHHHIIH", 0x06054B50, 0xFFFF if zip64 else last, 0xFFFF if zip64 else cd_disk,
                       0xFFFF if zip64 else 0, 0xFFFF if zip64 else len(entries),
                       0xFFFFFFFF if zip64 else len(cd), 0xFFFFFFFF if zip64 else cd_offset, 0)
    return bytes(out)


split_entries = [(b"one.bin", bytes((i * 7 + 3) & 0xFF for i in range(150))), (b"two.txt", b"two"),
                 (b"three.txt", b"three" * 9)]
save("split-z.zip", split_set(split_entries, 64) + bytes([(1 << 3) | 2]))
save("split-numbered.zip", split_set(split_entries, 64) + bytes([(1 << 3) | 4 | 2]))
save("split-zip64.zip", split_set(split_entries, 64, zip64=True) + bytes([(1 << 3) | 2]))
save("spanned.zip", split_set(split_entries, 64) + bytes([0x80 | (1 << 3) | 2]))
save("pieces.zip", plain + bytes([(1 << 3) | 4 | 2]))
