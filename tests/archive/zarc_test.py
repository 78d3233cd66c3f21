#!/usr/bin/env python3
"""zarc as a user of unzip meets it: failures that are reported as such,
names, permissions, the options and the exit statuses.

usage: zarc_test.py ZARC
"""
import os
import resource
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import unittest
import zipfile

import tools_test

ZARC = None
MALFORMED = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "malformed")


def zarc(*args, limit=None):
    def limited():
        # A file that may not grow past `limit`: writes then fail with EFBIG
        # rather than the signal ending the process.
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

    return subprocess.run([ZARC, *args], capture_output=True, text=True, encoding="utf-8",
                          stdin=subprocess.DEVNULL, preexec_fn=limited if limit else None)


class ZarcTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="zarc-")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def path(self, *names):
        return os.path.join(self.tmp, *names)

    def make(self, name, entries, method=zipfile.ZIP_DEFLATED, comment=b""):
        """An archive of (name or ZipInfo, data) pairs."""
        path = self.path(name)
        with zipfile.ZipFile(path, "w", method) as z:
            z.comment = comment
            for info, data in entries:
                z.writestr(info, data)
        return path

    def read(self, *names):
        with open(self.path(*names), "rb") as f:
            return f.read()

    def test_full_disk_is_a_failure(self):
        archive = self.make("full.zip", [("small.txt", b"s" * 1000), ("big.bin", os.urandom(600000)),
                                         ("after.txt", b"a")], zipfile.ZIP_STORED)
        result = zarc("extract", archive, "-d", self.path("out"), limit=256 * 1024)
        self.assertEqual(result.returncode, 50, result.stderr)
        self.assertIn("full.zip: big.bin: writing failed: File too large", result.stderr)
        self.assertIn("stopped: 1 more selected entry was not processed", result.stderr)
        self.assertIn("1 file extracted, 1 failed", result.stdout)
        self.assertEqual(sorted(os.listdir(self.path("out"))), ["small.txt"])

    def test_damaged_archive_is_reported(self):
        archive = self.make("whole.zip", [("one.txt", b"1" * 1000), ("empty.txt", b""),
                                          ("two.bin", os.urandom(5000))], zipfile.ZIP_STORED)
        data = open(archive, "rb").read()
        cut = self.path("cut.zip")
        with open(cut, "wb") as f:
            f.write(data[:3000])
        for command in ("test", "extract"):
            result = zarc(command, cut, "-d", self.path("out")) if command == "extract" else zarc(command, cut)
            self.assertEqual(result.returncode, 2, result.stderr)
            self.assertIn("cut.zip: warning: the central directory is missing or damaged", result.stderr)
            self.assertIn("two.bin: cannot be read: its data is cut off", result.stderr)
            self.assertIn("empty.txt: cannot be read: the rebuilt directory takes", result.stderr)
            self.assertIn("1 file %s, 2 failed" % ("tested" if command == "test" else "extracted"), result.stdout)
        self.assertEqual(os.listdir(self.path("out")), ["one.txt"])
        self.assertEqual(zarc("list", cut).returncode, 2)
        # Block padding behind the end record, as bsdtar writes to a pipe, is no damage.
        padded = self.path("padded.zip")
        with open(padded, "wb") as f:
            f.write(data + bytes(10240 - len(data) % 10240))
        result = zarc("test", padded)
        self.assertEqual((result.returncode, result.stderr), (0, ""))

    def test_damaged_parts_fail_alone(self):
        def run(name, *args):
            return zarc(*args, os.path.join(MALFORMED, name), *(["-d", self.path("out")] if args[0] == "extract" else []))

        offset = run("zip_directory_offset_past_end.zip", "test")
        self.assertEqual(offset.returncode, 2, offset.stderr)
        self.assertIn("the end record is damaged: it puts the central directory at offset 1465, past the end of the "
                      "archive", offset.stderr)
        self.assertIn("3 files tested, 0 failed", offset.stdout)
        # The first entry's header is gone; the two behind it still come out.
        local = run("zip_local_header_past_end.zip", "extract", "-q")
        self.assertEqual(local.returncode, 2, local.stderr)
        self.assertIn("a.txt: damaged: its data cannot be read", local.stderr)
        self.assertEqual(sorted(os.listdir(self.path("out"))), ["b.txt", "c.txt"])
        shutil.rmtree(self.path("out"))
        # An empty entry pointing into another's data: nothing to fail a check, but no header either.
        for command in ("test", "extract"):
            missing = run("zip_local_header_missing.zip", command)
            self.assertEqual(missing.returncode, 2, missing.stderr)
            self.assertIn("empty.txt: damaged: no local header at offset 60", missing.stderr)
            self.assertIn("2 files %s, 1 failed" % ("tested" if command == "test" else "extracted"), missing.stdout)
        self.assertFalse(os.path.exists(self.path("out", "empty.txt")))
        shutil.rmtree(self.path("out"))
        crc = "zip_crc_mismatch.zip"
        self.assertEqual(run(crc, "extract", "-q").returncode, 2)
        self.assertFalse(os.path.exists(self.path("out", "b.txt")))
        shutil.rmtree(self.path("out"))
        kept = run(crc, "extract", "-q", "--keep-damaged")
        self.assertEqual(kept.returncode, 2, kept.stderr)
        self.assertIn("b.txt: damaged: written as decoded", kept.stderr)
        self.assertIn("2 files extracted, 1 failed", kept.stdout)
        self.assertEqual(self.read("out", "b.txt"), b"xbb\n")
        piped = zarc("extract", "-p", "--keep-damaged", os.path.join(MALFORMED, crc), "b.txt")
        self.assertEqual((piped.returncode, piped.stdout), (2, "xbb\n"))
        # No codec, nothing decoded to keep: the file the user has stays.
        unknown = bytearray(open(self.make("m.zip", [("u.txt", b"data")], zipfile.ZIP_STORED), "rb").read())
        for at in (unknown.find(b"PK\x03\x04") + 8, unknown.find(b"PK\x01\x02") + 10):
            unknown[at:at + 2] = (77).to_bytes(2, "little")
        with open(self.path("m.zip"), "wb") as f:
            f.write(unknown)
        with open(self.path("out", "u.txt"), "wb") as f:
            f.write(b"MINE")
        kept = zarc("extract", "-q", "-o", "--keep-damaged", self.path("m.zip"), "-d", self.path("out"))
        self.assertEqual(kept.returncode, 81, kept.stderr)
        self.assertIn("u.txt: unsupported compression method", kept.stderr)
        self.assertEqual(self.read("out", "u.txt"), b"MINE")

    def test_names_utf8_and_collisions(self):
        archive = self.make("names.zip", [("папка/файл.txt", b"first"), ("a/same.txt", b"a"), ("b/same.txt", b"b")])
        self.assertEqual(zarc("extract", archive, "-d", self.path("out")).returncode, 0)
        self.assertEqual(self.read("out", "папка", "файл.txt"), b"first")
        # As the setup program reads them, the UTF-8 bytes go through code pages 866 and 1251.
        listed = zarc("list", "--setup-names", archive).stdout
        self.assertNotIn("файл", listed)
        # Without folders two entries meet in one file: the second does not replace the first.
        result = zarc("extract", "-j", "-o", archive, "-d", self.path("flat"))
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("names.zip: b/same.txt: not extracted: an earlier entry", result.stderr)
        self.assertEqual(self.read("flat", "same.txt"), b"a")
        self.assertEqual(sorted(os.listdir(self.path("flat"))), ["same.txt", "файл.txt"])
        # Names of one byte a unit and of UTF-16 are shown alike, control characters as ^X.
        shown = self.make("shown.zip", [("caf\u00e9\x01\x7f\u0085.txt", b"x"), ("папка/\u00e9.txt", b"y")])
        self.assertEqual(zarc("list", "-1", shown).stdout, "caf\u00e9^A^?\u0085.txt\nпапка/\u00e9.txt\n")
        self.assertIn("  caf\u00e9^A^?\u0085.txt\n", zarc("list", shown).stdout)

    def test_unix_zip_names_read_as_peers_show_them(self):
        # Info-ZIP on Unix stores the name's bytes, UTF-8 here, without the flag.
        os.makedirs(self.path("src"))
        with open(self.path("src", "файл.txt"), "wb") as f:
            f.write(b"unix")
        subprocess.run(["zip", "-q", "-X", "../unix.zip", "файл.txt"], cwd=self.path("src"), check=True,
                       env=dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8"))
        with zipfile.ZipFile(self.path("unix.zip")) as z:
            self.assertEqual(z.infolist()[0].flag_bits & 0x800, 0)
        self.assertIn("файл.txt", zarc("list", self.path("unix.zip")).stdout)
        self.assertNotIn("файл.txt", zarc("list", "--setup-names", self.path("unix.zip")).stdout)
        # Changing the archive keeps the name whole.
        with open(self.path("new.txt"), "wb") as f:
            f.write(b"new")
        self.assertEqual(zarc("add", self.path("unix.zip"), self.path("new.txt")).returncode, 0)
        with zipfile.ZipFile(self.path("unix.zip")) as z:
            self.assertIn("файл.txt", z.namelist())

    def test_unix_permissions(self):
        def info(name, mode):
            i = zipfile.ZipInfo(name)
            i.external_attr = mode
            return i

        archive = self.make("modes.zip", [
            (info("secret", 0o100600 << 16), b"s"), (info("run.sh", 0o100755 << 16), b"#!/bin/sh\n"),
            (info("suid", 0o104755 << 16), b"x"), (info("link", 0o120777 << 16), b"target"),
            (info("readonly.txt", 0x01), b"r"), (info("plain.txt", 0x20), b"p")])
        os.umask(0o022)
        result = zarc("extract", archive, "-d", self.path("out"))
        self.assertEqual(result.returncode, 0, result.stderr)

        def mode(name):
            return stat.S_IMODE(os.lstat(self.path("out", name)).st_mode)

        self.assertEqual(mode("secret"), 0o600)
        self.assertEqual(mode("run.sh"), 0o755)
        self.assertEqual(mode("suid"), 0o755)  # never set-user-id
        self.assertEqual(os.readlink(self.path("out", "link")), "target")
        self.assertEqual(mode("readonly.txt"), 0o444)
        self.assertEqual(mode("plain.txt"), 0o644)

    def test_overwrite_choices(self):
        old = zipfile.ZipInfo("f.txt", (2000, 1, 1, 0, 0, 0))
        archive = self.make("f.zip", [(old, b"archived")])
        target = self.path("out", "f.txt")

        def existing(data, mtime):
            os.makedirs(self.path("out"), exist_ok=True)
            with open(target, "wb") as f:
                f.write(data)
            os.utime(target, (mtime, mtime))

        existing(b"mine", 2000000000)  # newer than the entry
        result = zarc("extract", "-n", archive, "-d", self.path("out"))
        self.assertEqual((result.returncode, self.read("out", "f.txt")), (0, b"mine"))
        self.assertIn("0 files extracted, 1 kept, 0 failed", result.stdout)
        self.assertEqual(zarc("extract", "-u", archive, "-d", self.path("out")).returncode, 0)
        self.assertEqual(self.read("out", "f.txt"), b"mine")
        existing(b"mine", 900000000)  # older
        self.assertEqual(zarc("extract", "-u", archive, "-d", self.path("out")).returncode, 0)
        self.assertEqual(self.read("out", "f.txt"), b"archived")
        existing(b"mine", 900000000)
        self.assertEqual(zarc("extract", "-o", archive, "-d", self.path("out")).returncode, 0)
        self.assertEqual(self.read("out", "f.txt"), b"archived")
        self.assertEqual(zarc("extract", "-o", "-n", archive).returncode, 10)
        # No terminal and no choice given: the user's file stays, as with
        # unzip and 7z, and the run does not pass for a clean one.
        existing(b"mine", 900000000)
        result = zarc("extract", archive, "-d", self.path("out"))
        self.assertEqual((result.returncode, self.read("out", "f.txt")), (1, b"mine"))
        self.assertIn("f.txt: not replaced", result.stderr)
        # On a terminal the user is asked; a new name keeps both.
        existing(b"mine", 900000000)
        term = tools_test.Terminal("extract", archive, "-d", self.path("out"))
        self.assertIsNotNone(term.read_until("f.txt? [y]es, [n]o, [A]ll, [N]one, [r]ename: "), term.shown)
        term.type("r\n")
        self.assertIsNotNone(term.read_until("new name: "), term.shown)
        term.type("g.txt\n")
        code, shown = term.finish()
        self.assertEqual(code, 0, shown)
        self.assertEqual((self.read("out", "f.txt"), self.read("out", "g.txt")), (b"mine", b"archived"))

    def test_stdout_verbose_and_list(self):
        commented = zipfile.ZipInfo("two.bin")
        commented.comment = b"entry comment"
        entries = [("d/", b""), ("d/one.txt", b"one\n"), (commented, bytes(range(256)))]
        archive = self.make("p.zip", entries, comment=b"the archive's comment\nsecond line")
        piped = subprocess.run([ZARC, "extract", "-p", archive], capture_output=True)
        self.assertEqual((piped.returncode, piped.stdout, piped.stderr), (0, b"one\n" + bytes(range(256)), b""))

        result = zarc("extract", "-v", archive, "-d", self.path("out"))
        self.assertEqual(result.stdout.splitlines()[:3],
                         ["   creating: d/", "  inflating: d/one.txt", " extracting: two.bin"])
        self.assertEqual(zarc("test", "-v", archive).stdout.splitlines()[0], "    testing: d/one.txt   OK")

        listed = zarc("list", archive, "*.txt", "nothing*")
        self.assertEqual(listed.returncode, 11)
        self.assertIn("p.zip: nothing*: no entry matches", listed.stderr)
        self.assertIn("the archive's comment\nsecond line\n", listed.stdout)
        names = [e["name"] for e in tools_test.parse_listing(listed.stdout)]
        self.assertEqual(names, ["d/one.txt"])
        self.assertIn("comment: entry comment", zarc("list", archive).stdout)
        self.assertEqual(zarc("extract", archive, "-d", self.path("none"), "*.doc").returncode, 11)
        empty = self.make("empty.zip", [])
        self.assertEqual(zarc("list", empty).returncode, 0)
        result = zarc("test", empty)
        self.assertEqual(result.returncode, 1)
        self.assertIn("empty.zip: warning: the archive holds no entries", result.stderr)

    def test_unsupported_method_help_and_version(self):
        archive = self.make("ppmd.zip", [("b.txt", b"ppmd " * 100)], zipfile.ZIP_STORED)
        with open(archive, "r+b") as f:  # said to be PPMd, which zarc does not decode
            data = bytearray(f.read())
            data[8] = data[data.rfind(b"PK\x01\x02") + 10] = 98
            f.seek(0)
            f.write(data)
        result = zarc("test", archive)
        self.assertEqual(result.returncode, 81, result.stderr)
        self.assertIn("ppmd.zip: b.txt: unsupported compression method PPMd (98)", result.stderr)
        version = zarc("--version")
        self.assertEqual(version.returncode, 0)
        self.assertRegex(version.stdout, r"^zarc \d+\.\d+\.\d+ \(archive engine 5\.01\)\n$")
        for command in ("list", "test", "extract"):
            helped = zarc(command, "--help")
            self.assertEqual(helped.returncode, 0)
            self.assertIn("usage: zarc " + command, helped.stdout)
            self.assertIn("exit status:", helped.stdout)
        self.assertIn("-p ", zarc("extract", "--help").stdout)
        self.assertEqual(zarc("list", "-p", archive).returncode, 10)
        blocked = zarc("extract", archive, "-d", archive)  # a file where the folder would go
        self.assertEqual(blocked.returncode, 1)
        self.assertIn('Cannot create directory "%s/": Not a directory (native error 20)' % archive, blocked.stderr)
        folder = zarc("test", self.tmp)
        self.assertEqual(folder.returncode, 9)
        self.assertIn(": is a folder, not an archive", folder.stderr)


if __name__ == "__main__":
    ZARC = tools_test.ZARC = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
