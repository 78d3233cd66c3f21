#!/usr/bin/env python3
"""Draws the status mark: a green round badge with a white tick.

Writes check.ico, an icon file with two 24 x 24 images of 32 bits per pixel
with alpha (the second a lighter shade, for a highlighted state). The output
is deterministic: the same bytes on every run.
"""
import math
import os
import struct
import sys

SIZE = 24
SUPERSAMPLE = 8


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def render(light):
    cx = cy = SIZE / 2
    radius = SIZE / 2 - 0.75
    tick = [(6.6, 12.4), (10.3, 16.2), (17.6, 8.2)]
    half_stroke = 1.45
    top = (70, 190, 90) if light else (52, 168, 72)
    bottom = (24, 120, 44) if light else (18, 104, 36)
    pixels = []
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SUPERSAMPLE):
                for sx in range(SUPERSAMPLE):
                    px = x + (sx + 0.5) / SUPERSAMPLE
                    py = y + (sy + 0.5) / SUPERSAMPLE
                    d = math.hypot(px - cx, py - cy)
                    if d > radius:
                        continue
                    on_tick = min(segment_distance(px, py, *tick[i], *tick[i + 1])
                                  for i in range(len(tick) - 1)) <= half_stroke
                    if on_tick:
                        color = (255, 255, 255)
                    elif d > radius - 1.0:
                        color = tuple(int(c * 0.8) for c in bottom)  # rim
                    else:
                        t = py / SIZE
                        color = tuple(int(top[i] * (1 - t) + bottom[i] * t) for i in range(3))
                    for i in range(3):
                        acc[i] += color[i]
                    acc[3] += 1
            n = SUPERSAMPLE * SUPERSAMPLE
            coverage = acc[3] / n
            if acc[3]:
                r, g, b = (round(acc[i] / acc[3]) for i in range(3))
            else:
                r = g = b = 0
            row.append((r, g, b, round(coverage * 255)))
        pixels.append(row)
    return pixels


def dib(pixels):
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colors = b"".join(bytes((b, g, r, a)) for row in reversed(pixels) for (r, g, b, a) in row)
    mask_stride = ((SIZE + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + colors + bytes(mask)


def main():
    images = [dib(render(False)), dib(render(True))]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for data in images:
        out += struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "check.ico")
    with open(target, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
