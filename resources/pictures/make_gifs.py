#!/usr/bin/env python3
"""Draws the window's two GIF pictures.

spinner.gif: the installer-running indicator, 32 x 32, six frames of 27 x 27
at 3, 2: a ring of six dots whose dark head moves on by one dot per frame,
around a core that grows over the cycle. Delays 10, 10, 10, 10, 10, 20
hundredths, "keep" disposal for frames 0 to 4 and none for frame 5, index
255 transparent, repeating for ever.

banner.gif: the unpacking screen's decoration, 300 x 67, one frame: a blue
plate with a badge and the name, index 255 transparent around it.

Both use a global map of 256 entries (background 221 and 253) and a comment
of 17 bytes. Each frame's data is coded with an LZW coder of our own and
brought to a set size: where the art codes shorter, some strings are cut
short (every cut costs one more code) until the size matches, so that the
pictures keep their sizes in bytes, and their blocks, when the art changes.
The output is the same bytes on every run.
"""
import math
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
TRANSPARENT = 255
FACE = (240, 240, 240)  # the button face the pictures stand on


# --- GIF writing -------------------------------------------------------------

class CodeWriter:
    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.bits = 0

    def put(self, code, width):
        self.acc |= code << self.bits
        self.bits += width
        while self.bits >= 8:
            self.out.append(self.acc & 0xFF)
            self.acc >>= 8
            self.bits -= 8

    def finish(self):
        if self.bits:
            self.out.append(self.acc & 0xFF)
        return bytes(self.out)


def lzw(pixels, code_size=8, cuts=0, stride=1):
    """GIF LZW of `pixels`. The first `cuts` chances to extend a string that
    fall on a multiple of `stride` are not taken: the string ends there."""
    clear, eoi = 1 << code_size, (1 << code_size) + 1
    writer = CodeWriter()
    width = code_size + 1
    next_code = eoi + 1
    table = {}

    def output(code):
        nonlocal width
        writer.put(code, width)
        # The width grows once the next free code no longer fits, as the
        # decoder sees it one code later.
        if next_code >= (1 << width) and width < 12 and code != clear:
            width += 1

    output(clear)
    chance = 0
    current = pixels[0]
    for pixel in pixels[1:]:
        key = (current, pixel)
        code = table.get(key)
        if code is not None:
            cut = cuts > 0 and chance % stride == 0
            chance += 1
            if not cut:
                current = code
                continue
            cuts -= 1
        output(current)
        if next_code >= 4095:
            output(clear)
            width = code_size + 1
            next_code = eoi + 1
            table = {}
        else:
            table.setdefault(key, next_code)
            next_code += 1
        current = pixel
    output(current)
    output(eoi)
    return writer.finish()


def sub_blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out.append(len(chunk))
        out += chunk
    out.append(0)
    return bytes(out)


def coded_to_size(pixels, size):
    """Frame data of exactly `size` bytes, or the nearest above it."""
    natural = lzw(pixels)
    if len(natural) >= size:
        return natural
    best = natural
    for stride in (1, 2, 3, 5, 7, 11, 13):
        low, high = 0, len(pixels)
        # Sizes grow with the number of cuts, a byte or so at a time: look
        # for the fewest cuts that reach the size, then a few around it.
        while low < high:
            mid = (low + high) // 2
            if len(lzw(pixels, cuts=mid, stride=stride)) < size:
                low = mid + 1
            else:
                high = mid
        for cuts in range(max(low - 3, 0), low + 4):
            data = lzw(pixels, cuts=cuts, stride=stride)
            if len(data) == size:
                return data
            if len(data) > size and (len(best) < size or len(data) < len(best)):
                best = data
    return best


def color_map(entries):
    table = bytearray()
    for i in range(256):
        table += bytes(entries.get(i, (0, 0, 0)))
    return bytes(table)


def header(width, height, background, entries):
    return b"GIF89a" + struct.pack("<HHBBB", width, height, 0xF7, background, 0) + color_map(entries)


def comment(text):
    data = text.encode("ascii")
    assert len(data) == 17
    return b"\x21\xFE" + sub_blocks(data)


def loop_forever():
    return b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00"


def graphic_control(disposal, delay):
    return b"\x21\xF9\x04" + struct.pack("<BHBB", disposal << 2 | 1, delay, TRANSPARENT, 0)


def image(left, top, width, height, data):
    return b"\x2C" + struct.pack("<HHHHB", left, top, width, height, 0) + b"\x08" + sub_blocks(data)


# --- drawing -----------------------------------------------------------------

SAMPLES = 6


def coverage(inside, x, y):
    """How much of pixel (x, y) lies inside the shape, from 0 to 1."""
    hits = 0
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            if inside(x + (sx + 0.5) / SAMPLES, y + (sy + 0.5) / SAMPLES):
                hits += 1
    return hits / (SAMPLES * SAMPLES)


def most_covered(cover, count):
    """The `count` pixels of `cover` (x, y -> coverage) that the shape covers
    most; ties go to the pixel nearer the top left, so that a larger count
    always takes a superset."""
    ranked = sorted(cover, key=lambda p: (-cover[p], p[1], p[0]))
    return set(ranked[:count])


def blend(color, amount, base=FACE):
    return tuple(round(c * amount + b * (1 - amount)) for c, b in zip(color, base))


class Palette:
    """Colours by first use, kept clear of the reserved indices."""

    def __init__(self, reserved):
        self.entries = dict(reserved)
        self.index = {}
        self.next = 0

    def __call__(self, color):
        if color not in self.index:
            while self.next in self.entries:
                self.next += 1
            assert self.next < 256, "too many colours"
            self.index[color] = self.next
            self.entries[self.next] = color
        return self.index[color]


def levels(amount, steps):
    """Coverage rounded to `steps` levels, never below the first."""
    return max(1, round(amount * steps)) / steps


# --- the spinner ---------------------------------------------------------------

SPIN = 27
DOTS = 6
RING_RADIUS = 9.6
DOT_RADIUS = 3.2
SHADES = [(22, 72, 150), (52, 104, 178), (92, 136, 196), (128, 162, 208), (158, 184, 218), (182, 202, 226)]
CORE = (46, 150, 84)
# Transparent pixels per frame: 534 down to 505 as the core grows.
SPIN_TRANSPARENT = [534, 528, 522, 516, 511, 505]
SPIN_DATA = 1794  # bytes of frame data of all six frames together


def spinner_frames(palette):
    centre = SPIN / 2
    dots = [(centre + RING_RADIUS * math.sin(2 * math.pi * d / DOTS),
             centre - RING_RADIUS * math.cos(2 * math.pi * d / DOTS)) for d in range(DOTS)]

    def dot_of(x, y):
        for d, (dx, dy) in enumerate(dots):
            if math.hypot(x - dx, y - dy) <= DOT_RADIUS:
                return d
        return None

    ring = {(x, y): coverage(lambda px, py: dot_of(px, py) is not None, x, y)
            for y in range(SPIN) for x in range(SPIN)}
    ring_set = most_covered(ring, sum(1 for v in ring.values() if v >= 0.5))
    owner = {p: dot_of(p[0] + 0.5, p[1] + 0.5) for p in ring_set}
    for p in ring_set:  # edge pixels whose centre misses: the nearest dot
        if owner[p] is None:
            owner[p] = min(range(DOTS), key=lambda d: math.hypot(p[0] + 0.5 - dots[d][0], p[1] + 0.5 - dots[d][1]))
    # The core grows outward: pixels nearest the centre come first.
    by_distance = sorted(((x, y) for y in range(SPIN) for x in range(SPIN) if (x, y) not in ring_set),
                         key=lambda p: (math.hypot(p[0] + 0.5 - centre, p[1] + 0.5 - centre), p[1], p[0]))
    frames = []
    for k in range(DOTS):
        opaque = SPIN * SPIN - SPIN_TRANSPARENT[k]
        core_set = set(by_distance[:opaque - len(ring_set)])
        core_radius = math.sqrt(len(core_set) / math.pi)
        pixels = []
        for y in range(SPIN):
            for x in range(SPIN):
                p = (x, y)
                if p in ring_set:
                    # Each dot lit from its top left, fading into the face at
                    # its edge.
                    shade = SHADES[(k - owner[p]) % DOTS]
                    dx, dy = dots[owner[p]]
                    light = max(0.0, 1 - math.hypot(x + 0.5 - dx + 1, y + 0.5 - dy + 1) / (DOT_RADIUS + 1))
                    lit = blend(shade, 1 - 0.5 * round(light * 5) / 5, (255, 255, 255))
                    pixels.append(palette(blend(lit, levels(ring[p], 8))))
                elif p in core_set:
                    d = math.hypot(x + 0.5 - centre, y + 0.5 - centre)
                    edge = max(0.25, min(1.0, core_radius + 0.5 - d))
                    pixels.append(palette(blend(CORE, levels(edge, 4))))
                else:
                    pixels.append(TRANSPARENT)
        frames.append(pixels)
    return frames


def spinner():
    palette = Palette({221: FACE, TRANSPARENT: (255, 255, 255)})
    frames = spinner_frames(palette)
    # The data bytes shared out as evenly as the frames allow; a frame that
    # cannot meet its share exactly passes the difference on.
    share = [SPIN_DATA // DOTS + (1 if i < SPIN_DATA % DOTS else 0) for i in range(DOTS)]
    for shift in (0, 1, -1, 2, -2, 3, -3):
        targets = share[:]
        targets[-2] += shift
        targets[-1] -= shift
        data, carry = [], 0
        for f, target in zip(frames, targets):
            data.append(coded_to_size(f, target + carry))
            carry += target - len(data[-1])
        if carry == 0:
            break
    assert all(256 <= len(d) <= 510 for d in data), "each frame takes two sub-blocks"
    out = header(32, 32, 221, palette.entries) + loop_forever() + comment("Rovend spinner v1")
    for i, d in enumerate(data):
        out += graphic_control(1 if i < 5 else 0, 10 if i < 5 else 20) + image(3, 2, SPIN, SPIN, d)
    return out + b"\x3B"


# --- the banner ----------------------------------------------------------------

BANNER_W, BANNER_H = 300, 67
BANNER_TRANSPARENT = 7972
BANNER_DATA = 3673

GLYPHS = {
    "Р": ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    "О": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "В": ["11110", "10001", "10001", "11110", "10001", "10001", "11110"],
    "Е": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "Н": ["10001", "10001", "10001", "11111", "10001", "10001", "10001"],
    "Д": ["00110", "01010", "01010", "01010", "01010", "11111", "10001"],
}


def banner_pixels(palette):
    badge = (36, 33.5, 31.0)
    plate = (20.0, 14.0, 296.0, 54.0, 11.0)  # left, top, right, bottom, corner radius

    def in_plate(x, y):
        left, top, right, bottom, r = plate
        if not (left <= x <= right and top <= y <= bottom):
            return False
        cx = min(max(x, left + r), right - r)
        cy = min(max(y, top + r), bottom - r)
        return math.hypot(x - cx, y - cy) <= r

    def in_badge(x, y):
        return math.hypot(x - badge[0], y - badge[1]) <= badge[2]

    cover = {(x, y): coverage(lambda px, py: in_plate(px, py) or in_badge(px, py), x, y)
             for y in range(BANNER_H) for x in range(BANNER_W)}
    shape = most_covered(cover, BANNER_W * BANNER_H - BANNER_TRANSPARENT)

    text = set()
    scale, x0, y0 = 4, 92, 20
    for n, letter in enumerate("РОВЕНД"):
        for gy, row in enumerate(GLYPHS[letter]):
            for gx, bit in enumerate(row):
                if bit == "1":
                    for sy in range(scale):
                        for sx in range(scale):
                            text.add((x0 + n * 6 * scale + gx * scale + sx, y0 + gy * scale + sy))
    shadow = {(x + 2, y + 2) for x, y in text}

    def tick(x, y):
        # The badge's white tick: two strokes.
        def segment(ax, ay, bx, by):
            dx, dy = bx - ax, by - ay
            t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
            return math.hypot(x - ax - t * dx, y - ay - t * dy)
        return min(segment(22, 34, 32, 44), segment(32, 44, 51, 22)) <= 3.6

    pixels = []
    for y in range(BANNER_H):
        for x in range(BANNER_W):
            p = (x, y)
            if p not in shape:
                pixels.append(TRANSPARENT)
                continue
            edge = levels(cover[p], 4)
            d = math.hypot(x + 0.5 - badge[0], y + 0.5 - badge[1])
            if d <= badge[2] + 1:
                if d >= badge[2] - 4:
                    color = (250, 250, 250)  # the badge's rim
                elif tick(x + 0.5, y + 0.5):
                    color = (255, 255, 255)
                else:
                    light = round((1 - d / badge[2]) * 12) / 12
                    color = (round(20 + 40 * light), round(110 + 60 * light), round(60 + 30 * light))
            elif p in text:
                color = (255, 255, 255)
            elif p in shadow:
                color = (16, 44, 96)
            else:
                # Left to right from deep blue to teal, in steps, with a
                # lighter band across the top.
                t = round((x - 20) / 276 * 24) / 24
                base = (round(26 + 20 * t), round(70 + 80 * t), round(150 + 20 * t))
                if y < 24:
                    base = blend(base, 0.82, (255, 255, 255))
                # Fine guilloche waves, as on certificates.
                if math.sin((x + 5 * math.sin(y / 4.0)) / 4.5) > 0.9:
                    base = blend(base, 0.86, (255, 255, 255))
                color = base
            pixels.append(palette(blend(color, edge)))
    return pixels


def banner():
    palette = Palette({253: FACE, TRANSPARENT: (255, 255, 255)})
    pixels = banner_pixels(palette)
    data = coded_to_size(pixels, BANNER_DATA)
    assert 14 * 255 < len(data) <= 15 * 255, "the frame takes 15 sub-blocks"
    return (header(BANNER_W, BANNER_H, 253, palette.entries) + comment("Rovend banner v.1") +
            graphic_control(0, 0) + image(0, 0, BANNER_W, BANNER_H, data) + b"\x3B")


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else HERE
    for name, make in (("spinner.gif", spinner), ("banner.gif", banner)):
        data = make()
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
        print("%s: %d bytes" % (name, len(data)))


if __name__ == "__main__":
    main()
