#!/usr/bin/env python3
"""gifx as a user of giftext and ImageMagick meets it: frames composed as
ImageMagick composes them, raw frames, frame selection, bad inputs and the
logical screen as stored and as widened.

usage: gifx_test.py GIFX
"""
import os
import random
import resource
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import unittest

GIFX = None


def gifx(*args, stdin=None):
    return subprocess.run([GIFX, *args], capture_output=True, input=stdin)


def lzw_literal(pixels, min_size=2):
    """LZW data that spells every pixel as its own code, widening as a decoder does."""
    clear, end = 1 << min_size, (1 << min_size) + 1
    bits, nbits, out = 0, 0, bytearray()
    width, next_code, first = min_size + 1, end + 1, True

    def put(code):
        nonlocal bits, nbits
        bits |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8

    put(clear)
    for p in pixels:
        put(p)
        if first:
            first = False
        elif next_code < 4096:
            next_code += 1
            if next_code >= 1 << width and width < 12:
                width += 1
        if next_code >= 4000:
            put(clear)
            width, next_code, first = min_size + 1, end + 1, True
    put(end)
    if nbits:
        out.append(bits & 0xFF)
    blocks = b"".join(bytes([len(out[i:i + 255])]) + out[i:i + 255] for i in range(0, len(out), 255))
    return bytes([min_size]) + blocks + b"\0"


def gif(screen, frames):
    """A GIF with a 4-colour global map; frames are (left, top, w, h, delay, pixels)."""
    data = b"GIF89a" + struct.pack("<HHBBB", *screen, 0x81, 0, 0)
    data += bytes([0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255])
    for left, top, w, h, delay, pixels in frames:
        data += b"\x21\xF9\x04\x00" + struct.pack("<H", delay) + b"\0\0"
        data += b"\x2C" + struct.pack("<HHHHB", left, top, w, h, 0) + lzw_literal(pixels)
    return data + b"\x3B"


class GifxTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="gifx-")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.tmp, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def test_frames_composed_as_imagemagick_composes_them(self):
        anim = self.path("anim.gif")
        subprocess.run(["convert", "-seed", "3", "-delay", "5", "-size", "60x40", "plasma:fractal",
                        "(", "-size", "20x10", "xc:lime", ")",
                        "(", "-size", "30x30", "xc:none", "-fill", "red", "-draw", "circle 15,15 20,20", ")",
                        "-set", "dispose", "Previous", "-loop", "2", "-layers", "Optimize", anim], check=True)
        out = self.path("out")
        os.makedirs(out)
        self.write("out/frame-007.png", b"left by an earlier run")
        self.write("out/mine.txt", b"not ours")
        self.assertEqual(gifx("frames", anim, out).returncode, 0)
        subprocess.run(["convert", anim, "-coalesce", "PNG32:" + self.path("ref-%d.png")], check=True)
        for i in range(3):
            diff = subprocess.run(["compare", "-metric", "AE", os.path.join(out, "frame-%03d.png" % i),
                                   self.path("ref-%d.png" % i), "null:"], capture_output=True, text=True)
            self.assertEqual(diff.stderr.strip(), "0", "frame %d" % i)
        self.assertEqual(sorted(os.listdir(out)), ["frame-000.png", "frame-001.png", "frame-002.png", "mine.txt"])
        # Raw frames of a selection: each frame alone, at its own size.
        result = gifx("frames", "--raw", "--frames", "1-2,9", anim, out)
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"no frame 9 (it has 3)", result.stderr)
        self.assertEqual(sorted(os.listdir(out)), ["mine.txt", "raw-001.png", "raw-002.png"])
        size = subprocess.run(["identify", "-format", "%wx%h", os.path.join(out, "raw-001.png")],
                              capture_output=True, text=True, check=True).stdout
        info = gifx("info", anim).stdout.decode()
        self.assertIn("frame 1: %s at" % size.replace("x", " x "), info)

    def test_bad_inputs_are_errors_not_descriptions(self):
        text = self.write("text.gif", b"not a picture at all\n")
        for args, message in [(("info", self.tmp), b"is a folder"), (("info", text), b"not a GIF file"),
                              (("info", self.path("missing.gif")), b"No such file or directory"),
                              (("frames", self.tmp, self.path("o")), b"is a folder")]:
            result = gifx(*args)
            self.assertEqual((result.returncode, result.stdout), (1, b""), args)
            self.assertIn(message, result.stderr)
        whole = gif((4, 4), [(0, 0, 4, 4, 10, [1] * 16), (0, 0, 4, 4, 10, [2] * 16)])
        cut = self.write("cut.gif", whole[:len(whole) - 18])  # inside the second frame's descriptor
        result = gifx("info", cut)
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"frame 0: 4 x 4", result.stdout)
        self.assertIn(b"gifx: " + cut.encode() + b": ", result.stderr)
        self.assertNotIn(b"error", result.stdout)
        self.assertIn(b"load: stopped before the end", result.stdout)
        self.assertEqual(gifx().returncode, 2)
        self.assertEqual(gifx("info", "--bogus").returncode, 2)
        self.assertEqual(gifx("frames", "--frames", "x", cut, self.tmp).returncode, 2)

    def test_info_screen_delays_stdin_and_several_files(self):
        # A frame reaching past the stored screen widens it.
        wide = gif((2, 2), [(1, 1, 3, 2, 0, [1] * 6), (0, 0, 1, 1, 2, [3])])
        one = self.write("one.gif", wide)
        result = gifx("info", "-", one, stdin=wide)
        self.assertEqual(result.returncode, 0, result.stderr)
        out = result.stdout.decode()
        self.assertIn("file: (standard input)\n", out)
        self.assertEqual(out.count("logical screen: 2 x 2 as stored, 4 x 3 as widened to cover the frames\n"), 2)
        self.assertIn("delay 0/100 s (the engine plays 120 ms)", out)
        self.assertIn("delay 2/100 s (the engine plays 36 ms)", out)
        two = self.write("two.gif", wide)
        result = gifx("frames", one, two, self.path("many"))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(sorted(os.listdir(self.path("many"))), ["one", "two"])
        self.assertEqual(sorted(os.listdir(self.path("many/one"))), ["frame-000.png", "frame-001.png"])
        self.assertRegex(gifx("--version").stdout.decode(), r"^gifx \d+\.\d+\.\d+\n$")

    def test_picture_that_cannot_be_written_is_an_error(self):
        # Noise does not compress: the PNG outgrows a file size limit of 4 KiB.
        noise = random.Random(5)
        big = self.write("big.gif", gif((256, 256), [(0, 0, 256, 256, 0, [noise.randrange(4) for _ in range(65536)])]))

        def limited():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))

        result = subprocess.run([GIFX, "frames", big, self.path("out")], capture_output=True, preexec_fn=limited)
        self.assertEqual(result.returncode, 1, result.stdout)
        self.assertIn(b"cannot write", result.stderr)
        self.assertEqual(os.listdir(self.path("out")), [])  # no half-written picture


    def malformed(self, name):
        return os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "malformed", name)

    def warnings(self, result):
        return [line for line in result.stderr.decode().splitlines() if ": frame " in line]

    def test_damaged_files_say_so_in_both_commands(self):
        for name, message in [("gif_code_size_0.gif", "frame 0: Invalid LZW code size"),
                              ("gif_code_size_12.gif", "frame 0: Invalid LZW code size"),
                              ("gif_first_code_not_clear.gif", "frame 0: LZW data does not begin with a clear code"),
                              ("gif_code_beyond_next_entry.gif", "frame 0: LZW code out of range"),
                              ("gif_cut_after_subblock.gif", "frame 0: Image data ends before the last pixel")]:
            path = self.malformed(name)
            info = gifx("info", path)
            self.assertEqual(info.returncode, 3, name)
            self.assertNotIn(b"warnings: none", info.stdout)
            self.assertIn(message, info.stderr.decode(), name)
            out = self.path(name)
            frames = gifx("frames", path, out)
            self.assertEqual((frames.returncode, self.warnings(frames)), (3, self.warnings(info)), name)
            self.assertEqual(os.listdir(out), ["frame-000.png"])
            self.assertEqual(gifx("info", "--strict", path).returncode, 1, name)
            strict = gifx("frames", "--strict", path, self.path("strict"))
            self.assertEqual(strict.returncode, 1, name)
            self.assertFalse(os.path.exists(self.path("strict")) and os.listdir(self.path("strict")), name)
        # A sound file stays sound, also under --strict; damage of one file
        # does not hide the failure of another.
        sound = self.write("sound.gif", gif((2, 1), [(0, 0, 2, 1, 0, [1, 2])]))
        self.assertEqual(gifx("info", "--strict", sound).returncode, 0)
        self.assertEqual(gifx("info", self.malformed("gif_code_size_0.gif"), sound).returncode, 3)
        self.assertEqual(gifx("info", self.malformed("gif_code_size_0.gif"), self.path("none.gif")).returncode, 1)

    def test_tiny_gif_of_huge_frames_loads_in_little_memory(self):
        # Four frames of 16384 x 16384 in a few dozen bytes.
        path = self.malformed("gif_tiny_huge_frames.gif")
        self.assertLess(os.path.getsize(path), 100)
        with open(self.path("out"), "wb") as out, open(self.path("err"), "wb") as err:
            child = subprocess.Popen([GIFX, "info", path], stdout=out, stderr=err)
            # Reaped here, so that its own peak memory is what comes back.
            _, status, usage = os.wait4(child.pid, 0)
            child.returncode = os.waitstatus_to_exitcode(status)
        with open(self.path("out"), "rb") as out, open(self.path("err"), "rb") as err:
            out, err = out.read(), err.read()
        self.assertEqual(child.returncode, 3, err)
        self.assertLess(usage.ru_maxrss, 50 * 1024)  # kilobytes
        self.assertEqual(out.count(b"x 16384 at 0,0"), 4)
        self.assertEqual(err.decode().count("Image data ends before the last pixel"), 4)

    def test_raw_frames_of_a_huge_screen(self):
        huge = self.write("huge.gif", gif((65535, 65535), [(0, 0, 2, 1, 0, [1, 2])]))
        composed = gifx("frames", huge, self.path("c"))
        self.assertEqual(composed.returncode, 1)
        self.assertIn(b"too large to compose", composed.stderr)
        raw = gifx("frames", "--raw", huge, self.path("r"))
        self.assertEqual(raw.returncode, 0, raw.stderr)
        self.assertEqual(os.listdir(self.path("r")), ["raw-000.png"])


if __name__ == "__main__":
    GIFX = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
