#!/usr/bin/env python3
"""zarc and the compression methods beyond deflate: archives that 7z and zip
write in them extract to 7z's bytes, what zarc writes in each method 7z,
bsdtar and unzip read back, and damaged or unsupported data is said to be so.

usage: zarc_methods_test.py ZARC
"""
import filecmp
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

ZARC = None


def run(*args, cwd=None):
    return subprocess.run(list(args), capture_output=True, cwd=cwd, stdin=subprocess.DEVNULL)


def same_trees(test, left, right):
    compared = filecmp.dircmp(left, right)
    test.assertEqual((compared.left_only, compared.right_only, compared.diff_files), ([], [], []))
    for sub in compared.common_dirs:
        same_trees(test, os.path.join(left, sub), os.path.join(right, sub))


@unittest.skipUnless(shutil.which("7z"), "needs 7z")
class ZarcMethodsTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="zarc-methods-")
        self.tree = os.path.join(self.tmp, "tree")
        os.makedirs(os.path.join(self.tree, "sub"))
        files = {
            "a.txt": b"".join(b"line %d of some text\n" % i for i in range(60000)),
            "sub/noise.bin": os.urandom(300000),
            "sub/zero": b"",
            "sub/runs.bin": (os.urandom(3000) + b"\0" * 50000) * 6 + b"r" * 200000,
        }
        for name, data in files.items():
            with open(os.path.join(self.tree, name), "wb") as f:
                f.write(data)

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def path(self, *names):
        return os.path.join(self.tmp, *names)

    def zarc(self, *args):
        return run(ZARC, *args, cwd=self.tree)

    def test_archives_of_7z_and_zip_extract_to_what_7z_extracts(self):
        makers = {m: ["7z", "a", "-tzip", "-mm=" + m, "-mx9"] for m in ("Deflate64", "BZip2", "LZMA", "xz")}
        if shutil.which("zip"):
            makers["zip-bzip2"] = ["zip", "-qr", "-Z", "bzip2"]
        for name, maker in makers.items():
            with self.subTest(name):
                archive = self.path(name + ".zip")
                r = run(*maker, archive, "a.txt", "sub", cwd=self.tree)
                self.assertEqual(r.returncode, 0, r.stderr)
                r = self.zarc("test", archive)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(run("7z", "x", "-o" + self.path(name, "7z"), archive).returncode, 0)
                r = self.zarc("x", "-q", archive, "-d", self.path(name, "zarc"))
                self.assertEqual(r.returncode, 0, r.stderr)
                same_trees(self, self.path(name, "7z"), self.path(name, "zarc"))
                same_trees(self, self.tree, self.path(name, "zarc"))

    def test_every_written_method_reads_back_in_the_peers(self):
        for method, number in (("bzip2", 12), ("lzma", 14), ("xz", 95), ("zstd", 93), ("store", 0)):
            with self.subTest(method):
                archive = self.path(method + ".zip")
                r = self.zarc("create", "-q", "-Z", method, archive, "a.txt", "sub")
                self.assertEqual(r.returncode, 0, r.stderr)
                # Deflate is the method's fallback nowhere: noise is stored.
                with zipfile.ZipFile(archive) as z:
                    kinds = {i.filename: (i.compress_type, i.extract_version, i.flag_bits & 2) for i in z.infolist()}
                needed = {12: 46, 14: 63, 95: 63, 93: 63, 0: 20}[number]
                self.assertEqual(kinds["a.txt"], (number, needed, 2 if number == 14 else 0))
                self.assertEqual(kinds["sub/noise.bin"][0], 0)
                readers = [["7z", "x", "-o{out}"], ["bsdtar", "-x", "-C", "{out}", "-f"]]
                if method in ("bzip2", "store"):
                    readers.append(["unzip", "-q", "-d", "{out}"])
                for reader in readers:
                    if not shutil.which(reader[0]):
                        continue
                    out = self.path(method, reader[0])
                    os.makedirs(out)
                    r = run(*[a.format(out=out) for a in reader], archive)
                    self.assertEqual(r.returncode, 0, (reader, r.stderr))
                    same_trees(self, self.tree, out)
                r = self.zarc("x", "-q", archive, "-d", self.path(method, "zarc"))
                self.assertEqual(r.returncode, 0, r.stderr)
                same_trees(self, self.tree, self.path(method, "zarc"))

    def test_methods_with_encryption_and_add(self):
        archive = self.path("enc.zip")
        r = self.zarc("create", "-q", "-Z", "lzma", "-P", "pw", "--aes", "256", archive, "a.txt")
        self.assertEqual(r.returncode, 0, r.stderr)
        r = self.zarc("add", "-q", "-Z", "xz", "-P", "pw", archive, "sub")
        self.assertEqual(r.returncode, 0, r.stderr)
        r = run("7z", "x", "-ppw", "-o" + self.path("enc"), archive)
        self.assertEqual(r.returncode, 0, r.stderr)
        same_trees(self, self.tree, self.path("enc"))
        r = self.zarc("list", archive)
        self.assertIn(b"LZMA", r.stdout)
        self.assertIn(b"XZ", r.stdout)
        self.assertEqual(self.zarc("test", "-P", "pw", archive).returncode, 0)

    def test_bzip2_of_many_blocks_and_one_damaged(self):
        # Large enough to be decoded a block on each core.
        words = [b"entry", b"block", b"stream", b"window", b"zone", b"host", b"record"]
        text = b"".join(words[i * 7919 % 7] + b" %d\n" % (i * 104729 % 100003) for i in range(420000))
        with open(os.path.join(self.tree, "large.txt"), "wb") as f:
            f.write(text)
        for maker in (["7z", "a", "-tzip", "-mm=BZip2", "-mx9"], [ZARC, "create", "-q", "-Z", "bzip2", "-9"]):
            with self.subTest(maker[0]):
                archive = self.path(os.path.basename(maker[0]) + "-large.zip")
                self.assertEqual(run(*maker, archive, "large.txt", cwd=self.tree).returncode, 0)
                self.assertEqual(self.zarc("test", "-q", archive).returncode, 0)
                out = self.path(os.path.basename(maker[0]) + "-large")
                r = self.zarc("x", "-q", archive, "-d", out)
                self.assertEqual(r.returncode, 0, r.stderr)
                with open(os.path.join(out, "large.txt"), "rb") as f:
                    self.assertEqual(f.read(), text)
        with zipfile.ZipFile(archive) as z:
            info = z.infolist()[0]
        with open(archive, "r+b") as f:
            f.seek(info.header_offset + 26)
            header = f.read(4)
            # A byte in the middle of the stream, inside one of its later blocks.
            f.seek(info.header_offset + 30 + int.from_bytes(header[0:2], "little") +
                   int.from_bytes(header[2:4], "little") + info.compress_size // 2)
            byte = f.read(1)
            f.seek(-1, 1)
            f.write(bytes([byte[0] ^ 0x10]))
        r = self.zarc("test", archive)
        self.assertEqual(r.returncode, 2)
        self.assertIn(b"large.txt: damaged: BZip2 data is damaged (BZ_DATA_ERROR)", r.stderr)

    def test_damaged_and_unsupported_data_say_so(self):
        archive = self.path("b.zip")
        self.assertEqual(self.zarc("create", "-q", "-Z", "bzip2", archive, "a.txt").returncode, 0)
        with open(archive, "r+b") as f:
            # The data starts after the local header's name and extra field.
            header = f.read(30)
            f.seek(30 + int.from_bytes(header[26:28], "little") + int.from_bytes(header[28:30], "little"))
            f.write(b"XXX")
        r = self.zarc("test", archive)
        self.assertEqual(r.returncode, 2)
        self.assertIn(b"a.txt: damaged: BZip2 data is damaged (BZ_DATA_ERROR_MAGIC", r.stderr)
        ppmd = self.path("ppmd.zip")
        self.assertEqual(run("7z", "a", "-tzip", "-mm=PPMd", ppmd, "a.txt", cwd=self.tree).returncode, 0)
        r = self.zarc("test", ppmd)
        self.assertEqual(r.returncode, 81)
        self.assertIn(b"unsupported compression method PPMd (98)", r.stderr)
        self.assertIn(b"PPMd", self.zarc("list", ppmd).stdout)
        r = self.zarc("create", "-Z", "ppmd", self.path("x.zip"), "a.txt")
        self.assertEqual(r.returncode, 10)
        self.assertFalse(os.path.exists(self.path("x.zip")))


if __name__ == "__main__":
    ZARC = os.path.abspath(sys.argv.pop(1))
    unittest.main()
