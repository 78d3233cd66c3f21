#!/usr/bin/env python3
"""Draws the program's own icon: a certificate with a gold seal on a blue
tile, so that Explorer, the task bar and the consent prompt do not show the
green status mark.

Writes app.ico with 16, 32 and 48 pixel images (32 bits per pixel with
alpha, as bitmaps) and a 256 pixel one (PNG, as Vista and later read it).
The output is deterministic: the same bytes on every run.
"""
import math
import os
import struct
import sys
import zlib

SIZES = (16, 32, 48, 256)


def rounded_box(px, py, x0, y0, x1, y1, r):
    """Inside a rounded rectangle (coordinates in units of the icon, 0..1)."""
    cx = min(max(px, x0 + r), x1 - r)
    cy = min(max(py, y0 + r), y1 - r)
    return math.hypot(px - cx, py - cy) <= r and x0 <= px <= x1 and y0 <= py <= y1


def colour_at(px, py):
    """The icon's colour at a point, as (r, g, b) or None where it is clear."""
    # The seal over the sheet's lower right corner.
    seal = math.hypot(px - 0.70, py - 0.70)
    if seal <= 0.17:
        if seal >= 0.13:
            return (176, 122, 20)
        return (236, 184, 48) if (px - 0.70) + (py - 0.70) < 0.04 else (214, 158, 34)
    # Ribbons below the seal.
    for x in (0.64, 0.76):
        if abs(px - x) <= 0.04 and 0.80 <= py <= 0.97 - abs(px - x) * 0.5:
            return (190, 40, 40)
    # The sheet with its lines of text.
    if rounded_box(px, py, 0.18, 0.14, 0.82, 0.80, 0.04):
        for y in (0.28, 0.40, 0.52):
            if abs(py - y) <= 0.025 and 0.28 <= px <= (0.72 if y < 0.5 else 0.50):
                return (120, 140, 170)
        return (250, 252, 255)
    # The tile.
    if rounded_box(px, py, 0.02, 0.02, 0.98, 0.98, 0.16):
        t = py
        return (int(40 * (1 - t) + 16 * t), int(110 * (1 - t) + 60 * t), int(200 * (1 - t) + 140 * t))
    return None


def render(size):
    samples = 4 if size >= 128 else 8
    pixels = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    c = colour_at((x + (sx + 0.5) / samples) / size, (y + (sy + 0.5) / samples) / size)
                    if c:
                        acc[0] += c[0]
                        acc[1] += c[1]
                        acc[2] += c[2]
                        acc[3] += 1
            if acc[3]:
                row.append(tuple(round(acc[i] / acc[3]) for i in range(3)) + (round(255 * acc[3] / samples ** 2),))
            else:
                row.append((0, 0, 0, 0))
        pixels.append(row)
    return pixels


def bitmap_image(pixels):
    size = len(pixels)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = b"".join(bytes((b, g, r, a)) for row in reversed(pixels) for (r, g, b, a) in row)
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + xor + bytes(mask)


def png_image(pixels):
    size = len(pixels)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    raw = b"".join(b"\0" + bytes(v for p in row for v in p) for row in pixels)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "app.ico")
    images = [png_image(render(s)) if s == 256 else bitmap_image(render(s)) for s in SIZES]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        data += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    data += b"".join(images)
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
