#!/usr/bin/env python3
"""Archives made by real tools, listed by zarc and compared with Python's
zipfile on names, sizes, CRC-32 and times.

usage: tools_test.py ZARC
"""
import io
import os
import pty
import select
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

ZARC = None


def zarc(*args):
    # No terminal on stdin: a rejected password is never asked for.
    return subprocess.run([ZARC, *args], capture_output=True, text=True, encoding="utf-8",
                          stdin=subprocess.DEVNULL)


class Terminal:
    """zarc on a pseudo-terminal: everything it shows, and answers typed at it."""

    def __init__(self, *args):
        self.master, slave = os.openpty()
        self.proc = subprocess.Popen([ZARC, *args], stdin=slave, stdout=slave, stderr=slave)
        os.close(slave)
        self.shown = b""
        self.mark = 0  # where the next read_until starts looking

    def read_until(self, text, timeout=30):
        """What was shown up to the next `text` after the last one found; None if it never came."""
        want = text.encode()
        while self.shown.find(want, self.mark) < 0:
            ready, _, _ = select.select([self.master], [], [], timeout)
            if not ready:
                return None
            try:
                data = os.read(self.master, 4096)
            except OSError:  # the other side closed: the program ended
                data = b""
            if not data:
                return None
            self.shown += data
        self.mark = self.shown.find(want, self.mark) + len(want)
        return self.shown[:self.mark]

    def type(self, text):
        os.write(self.master, text.encode())

    def finish(self, timeout=30):
        self.read_until("\0", timeout)  # everything to the end
        code = self.proc.wait(timeout)
        os.close(self.master)
        return code, self.shown.decode("utf-8", "replace")


def parse_listing(out):
    """Entries of a zarc listing: the lines between the two rules."""
    lines = out.splitlines()
    rules = [i for i, line in enumerate(lines) if line.startswith("----------")]
    assert len(rules) == 2, out
    entries = []
    for line in lines[rules[0] + 1:rules[1]]:
        if line.lstrip().startswith("comment: "):
            continue
        length, method, size, ratio, date, time, crc, attr, enc, name = line.split(None, 9)
        entries.append(dict(name=name, length=int(length), size=int(size), method=method, date=date,
                            time=time, crc=int(crc, 16), attr=attr, encrypted=enc == "Yes"))
    return entries


def utc_time(extra):
    """The modification time an NTFS or extended time stamp block keeps, in UTC seconds, or None."""
    found = {}
    at = 0
    while at + 4 <= len(extra):
        tag, size = struct.unpack_from("<HH", extra, at)
        data = extra[at + 4:at + 4 + size]
        if tag == 0x000A and len(data) >= 32 and struct.unpack_from("<HH", data, 4) == (1, 24):
            found.setdefault("ntfs", struct.unpack_from("<Q", data, 8)[0] // 10**7 - 11644473600)
        elif tag == 0x5455 and len(data) >= 5 and data[0] & 1:
            found.setdefault("ut", struct.unpack_from("<I", data, 1)[0])
        at += 4 + size
    return found.get("ntfs", found.get("ut"))


def expected(path):
    def when(i):
        # zarc shows a time kept in UTC in local time, else the MS-DOS fields.
        seconds = utc_time(i.extra)
        return time.localtime(seconds)[:6] if seconds is not None else i.date_time

    with zipfile.ZipFile(path) as z:
        return [dict(name=i.filename, length=i.file_size, size=i.compress_size, crc=i.CRC,
                     date="%04d-%02d-%02d" % when(i)[:3], time="%02d:%02d:%02d" % when(i)[3:],
                     encrypted=bool(i.flag_bits & 1))
                for i in z.infolist()]


def files_under(root):
    """Every file under root: its name from there (with "/") -> its bytes."""
    found = {}
    for where, _, names in os.walk(root):
        for name in names:
            path = os.path.join(where, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, root).replace(os.sep, "/")] = f.read()
    return found


def require(tool):
    path = shutil.which(tool)
    if not path:
        raise AssertionError(f"{tool} is missing (scripts/packages.txt installs it)")
    return path


class ToolsTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="zarc-tools-")
        self.src = os.path.join(self.tmp, "src")
        os.makedirs(os.path.join(self.src, "docs", "deep", "er"))
        os.makedirs(os.path.join(self.src, "empty-folder"))
        files = {
            "readme.txt": b"hello\n" * 3,
            "empty.txt": b"",
            "docs/text.txt": b"The quick brown fox jumps over the lazy dog.\n" * 400,
            "docs/deep/er/random.bin": os.urandom(70000),
            "docs/with space.dat": bytes(range(256)) * 20,
        }
        for name, data in files.items():
            with open(os.path.join(self.src, name), "wb") as f:
                f.write(data)
            # Even seconds: DOS times keep two-second steps, and tools round differently.
            os.utime(os.path.join(self.src, name), (1700000000, 1700000000))

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def check(self, archive, *options):
        result = zarc("list", *options, archive)
        self.assertEqual(result.returncode, 0, result.stderr)
        got = parse_listing(result.stdout)
        want = expected(archive)
        self.assertEqual(len(got), len(want))
        for g, w in zip(got, want):
            for key in ("name", "length", "size", "crc", "date", "time", "encrypted"):
                self.assertEqual(g[key], w[key], f"{key} of {w['name']} in {os.path.basename(archive)}")
        summary = result.stdout.splitlines()[-1].split()
        self.assertEqual(int(summary[0]), sum(w["length"] for w in want))
        self.assertEqual(int(summary[-2]), len(want))
        return got

    def check_extract(self, archive, *options):
        """zarc extract gives the same files, bytes and times as unzip."""
        mine, theirs = self.out("x-zarc"), self.out("x-unzip")
        for d in (mine, theirs):
            shutil.rmtree(d, ignore_errors=True)
        result = zarc("extract", "-q", *options, archive, "-d", mine)
        self.assertEqual(result.returncode, 0, result.stderr)
        # unzip ends with 1 after warnings such as bytes in front of the zip data.
        status = subprocess.run([require("unzip"), "-q", "-o", archive, "-d", theirs]).returncode
        self.assertIn(status, (0, 1))
        files = 0
        for root, dirs, names in os.walk(theirs):
            for name in names:
                path = os.path.join(root, name)
                rel = os.path.relpath(path, theirs)
                other = os.path.join(mine, rel)
                self.assertTrue(os.path.isfile(other), rel)
                with open(path, "rb") as a, open(other, "rb") as b:
                    self.assertEqual(a.read(), b.read(), rel)
                self.assertEqual(int(os.stat(path).st_mtime), int(os.stat(other).st_mtime), rel)
                files += 1
            for name in dirs:
                self.assertTrue(os.path.isdir(os.path.join(mine, os.path.relpath(os.path.join(root, name), theirs))))
        self.assertGreater(files, 0)
        result = zarc("test", archive)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(" 0 failed", result.stdout)

    def out(self, name):
        return os.path.join(self.tmp, name)

    def test_info_zip(self):
        require("zip")
        archive = self.out("infozip.zip")
        subprocess.run(["zip", "-q", "-r", archive, "."], cwd=self.src, check=True)
        got = self.check(archive)
        self.check_extract(archive)
        self.assertIn("empty-folder/", [g["name"] for g in got])
        # unzip agrees on the names too.
        names = subprocess.run([require("unzip"), "-Z1", archive], capture_output=True, text=True,
                               check=True).stdout.split("\n")
        self.assertEqual([g["name"] for g in got], [n for n in names if n])

    def test_info_zip_zip64_behind_a_stub_its_offsets_do_not_count(self):
        require("zip")
        plain = self.out("zip64.zip")
        subprocess.run(["zip", "-q", "-r", "-fz", plain, "."], cwd=self.src, check=True)
        archive = self.out("stub-zip64.zip")
        with open(archive, "wb") as f, open(plain, "rb") as z:
            f.write(b"MZ" + bytes(4094) + z.read())
        self.check(archive)
        self.check_extract(archive)

    def test_7z(self):
        archive = self.out("7z.zip")
        subprocess.run([require("7z"), "a", "-tzip", "-bd", "-bso0", archive, "."], cwd=self.src, check=True)
        self.check(archive)
        self.check_extract(archive)

    def test_bsdtar(self):
        archive = self.out("bsdtar.zip")
        subprocess.run([require("bsdtar"), "--format", "zip", "-cf", archive, "."], cwd=self.src, check=True)
        self.check(archive)
        self.check_extract(archive)
        # Streamed to a pipe, every entry carries a data descriptor.
        piped = self.out("bsdtar-piped.zip")
        with open(piped, "wb") as f:
            p = subprocess.Popen([require("bsdtar"), "--format", "zip", "-cf", "-", "."], cwd=self.src,
                                 stdout=subprocess.PIPE)
            shutil.copyfileobj(p.stdout, f)
            p.stdout.close()
            self.assertEqual(p.wait(), 0)
        self.check(piped)
        self.check_extract(piped)

    def test_python_zip64_descriptors_and_utf8_names(self):
        class Unseekable(io.RawIOBase):
            def __init__(self, f):
                self.f = f

            def writable(self):
                return True

            def write(self, b):
                return self.f.write(b)

        archive = self.out("python.zip")
        with open(archive, "wb") as raw, zipfile.ZipFile(Unseekable(raw), "w") as z:
            z.writestr(zipfile.ZipInfo("stored.txt", (2020, 2, 29, 23, 59, 58)), b"stored" * 10)
            info = zipfile.ZipInfo("deflated.txt", (1999, 12, 31, 1, 2, 4))
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, b"deflate me " * 1000)
            with z.open(zipfile.ZipInfo("forced64.bin", (2024, 5, 6, 7, 8, 10)), "w", force_zip64=True) as f:
                f.write(os.urandom(5000))
        got = self.check(archive)
        self.check_extract(archive)
        self.assertTrue(all(g["method"] in ("Stored", "Defl:N") for g in got))

        utf8 = self.out("python-utf8.zip")
        with zipfile.ZipFile(utf8, "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr("папка/файл.txt", b"cyrillic")
            z.writestr("ελληνικά €.txt", b"greek")
        # Names flagged UTF-8 are read as UTF-8, as every peer reads them;
        # as the setup program reads them, only the ANSI code page can.
        self.check(utf8)
        self.check(utf8, "--setup-names", "--no-oem", "--ansi-cp", "65001")
        plain = parse_listing(zarc("list", "--setup-names", utf8).stdout)
        self.assertNotEqual(plain[0]["name"], "папка/файл.txt")

    def test_python_zip64_end_record_for_many_entries(self):
        archive = self.out("many.zip")
        with zipfile.ZipFile(archive, "w") as z:
            for i in range(70000):
                z.writestr(zipfile.ZipInfo(f"f{i:05}", (2001, 1, 1, 0, 0, 0)), b"")
        got = self.check(archive)
        self.assertEqual(got[-1]["name"], "f69999")

    def test_extract_masks_and_failed_entries(self):
        archive = self.out("mixed.zip")
        with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr("keep/a.txt", b"a" * 1000)
            z.writestr("keep/b.log", b"b" * 1000)
            z.writestr("skip/c.txt", b"c" * 1000)
            z.writestr("../escape.txt", b"evil")
        dest = self.out("dest")
        result = zarc("extract", archive, "-d", dest, "*.txt", "-x", "skip/*")
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertEqual(sorted(os.listdir(dest)), ["keep"])
        self.assertEqual(os.listdir(os.path.join(dest, "keep")), ["a.txt"])
        self.assertFalse(os.path.exists(self.out("escape.txt")))
        self.assertIn(": ../escape.txt: refused: the name leaves the destination", result.stderr)
        self.assertIn("1 failed", result.stdout)
        # A damaged entry fails the test.
        with open(archive, "rb") as f:
            data = bytearray(f.read())
        at = data.index(b"keep/a.txt") + len(b"keep/a.txt")
        data[at + 5] ^= 0xFF  # inside the deflated data of the first entry
        damaged = self.out("damaged.zip")
        with open(damaged, "wb") as f:
            f.write(bytes(data))
        result = zarc("test", damaged)
        self.assertEqual(result.returncode, 2)
        self.assertIn("damaged.zip: keep/a.txt: damaged: ", result.stderr)

    def test_failures_exit_non_zero_with_the_message(self):
        result = zarc("list", self.out("absent.zip"))
        self.assertEqual(result.returncode, 9)
        self.assertIn('File "' + self.out("absent.zip") + '" not found (native error 12)', result.stderr)
        self.assertFalse(os.path.exists(self.out("absent.zip")))
        text = self.out("text.zip")
        with open(text, "w") as f:
            f.write("not a zip\n")
        result = zarc("list", text)
        self.assertEqual(result.returncode, 9)
        self.assertIn("text.zip: Invalid archive file. (native error 35)", result.stderr)
        self.assertNotIn("zarc: zarc", result.stderr)
        self.assertEqual(zarc().returncode, 10)
        self.assertEqual(zarc("frobnicate", text).returncode, 10)

    def split_sets(self):
        """Split archives of both naming schemes: (the names to open it by, the name 7z opens)."""
        many = os.path.join(self.src, "many")
        os.makedirs(many)
        for i in range(300):  # a central directory longer than a volume
            with open(os.path.join(many, "entry-%03d.txt" % i), "wb") as f:
                f.write(b"entry %d\n" % i)
        # Stored, it crosses three 64 KiB volumes.
        with open(os.path.join(self.src, "large.bin"), "wb") as f:
            f.write(os.urandom(150000))
        sets = []
        for tag, options in (("deflated", ["-s", "64k"]), ("stored", ["-s", "64k", "-0"]),
                             ("zip64", ["-s", "100k", "-fz"])):
            archive = self.out(tag + ".zip")
            subprocess.run([require("zip"), "-q", "-r", *options, archive, "."], cwd=self.src, check=True)
            self.assertTrue(os.path.exists(self.out(tag + ".z02")), tag)
            sets.append(([archive, self.out(tag + ".z01")], archive))
        for tag, options in (("7z-deflated", ["-v64k"]), ("7z-stored", ["-v100k", "-mx0"])):
            archive = self.out(tag + ".zip")
            subprocess.run([require("7z"), "a", "-tzip", "-bd", "-bso0", *options, archive, "."], cwd=self.src,
                           check=True)
            pieces = sorted(n for n in os.listdir(self.tmp) if n.startswith(tag + ".zip."))
            self.assertGreater(len(pieces), 2, tag)
            sets.append(([self.out(pieces[0]), self.out(pieces[-1])], self.out(pieces[0])))
        return sets

    def test_split_archives_read_by_either_name_as_7z_reads_them(self):
        sets = self.split_sets()
        want = files_under(self.src)
        for names, for_7z in sets:
            theirs = self.out("x-7z")
            shutil.rmtree(theirs, ignore_errors=True)
            subprocess.run([require("7z"), "x", "-bd", "-bso0", "-o" + theirs, for_7z], check=True)
            self.assertEqual(files_under(theirs), want, for_7z)
            for name in names:
                label = os.path.basename(name)
                listed = zarc("list", name)
                self.assertEqual(listed.returncode, 0, label + listed.stderr)
                self.assertNotIn("warning", listed.stderr, label)
                self.assertEqual(len([e for e in parse_listing(listed.stdout) if not e["name"].endswith("/")]),
                                 len(want), label)
                tested = zarc("test", "-q", name)
                self.assertEqual(tested.returncode, 0, label + tested.stderr)
                mine = self.out("x-zarc")
                shutil.rmtree(mine, ignore_errors=True)
                result = zarc("extract", "-q", name, "-d", mine)
                self.assertEqual(result.returncode, 0, label + result.stderr)
                self.assertEqual(files_under(mine), want, label)

    def test_a_missing_volume_is_named(self):
        sets = self.split_sets()
        for names, _ in sets:
            zip_named = names[1].endswith(".z01")
            missing = names[1][:-3] + "z02" if zip_named else names[0][:-3] + "002"
            os.rename(missing, missing + ".away")
            for name in names:
                result = zarc("test", "-q", name)
                self.assertEqual(result.returncode, 3, name)  # the archive cannot be read to its end
                self.assertIn("cannot find volume " + missing, result.stderr, name)
                self.assertEqual(result.stderr.count("cannot find volume"), 1, name)
            os.rename(missing + ".away", missing)


class PasswordTest(unittest.TestCase):
    """Encrypted archives of 7z (AES-256) and Info-ZIP (classic) through -P and the terminal prompt."""

    FILES = {"a.txt": b"first entry\n" * 500, "sub/b.bin": os.urandom(30000), "c.txt": b"third"}
    SKIPPED = "skipped, wrong or missing password"

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="zarc-password-")
        self.src = os.path.join(self.tmp, "src")
        os.makedirs(os.path.join(self.src, "sub"))
        for name, data in self.FILES.items():
            with open(os.path.join(self.src, name), "wb") as f:
                f.write(data)

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    WRONG = ("Nope4321", "Open123", "")

    def archives(self, password):
        """The two kinds of archive of FILES. The classic header checks one
        byte, so one wrong password in 256 passes it and the entry fails on
        its CRC instead: an archive is made again until the wrong passwords
        of these tests are turned away by the check."""
        names = sorted(self.FILES)
        commands = {
            "7z-aes256": lambda path: [require("7z"), "a", "-tzip", "-bd", "-bso0", "-p" + password, "-mem=AES256",
                                       path, *names],
            "zip-classic": lambda path: [require("zip"), "-q", "-P", password, path, *names],
        }
        made = {}
        for kind, command in commands.items():
            path = os.path.join(self.tmp, kind + ".zip")
            for attempt in range(10):
                if os.path.exists(path):
                    os.remove(path)
                subprocess.run(command(path), cwd=self.src, check=True)
                if all(zarc("test", "-P", w, path).stderr.count(self.SKIPPED) == len(self.FILES)
                       for w in self.WRONG):
                    break
            made[kind] = path
        return made

    def written(self, dest):
        return files_under(dest)

    def test_password_option_right_wrong_and_missing(self):
        for kind, archive in self.archives("Open1234").items():
            with self.subTest(kind):
                dest = os.path.join(self.tmp, kind + "-right")
                result = zarc("extract", "-q", "-P", "Open1234", archive, "-d", dest)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(self.written(dest), self.FILES)
                self.assertEqual(zarc("test", "-P", "Open1234", archive).returncode, 0)
                for options in [["-P", w] for w in self.WRONG] + [[]]:
                    dest = os.path.join(self.tmp, kind + "-wrong")
                    shutil.rmtree(dest, ignore_errors=True)
                    result = zarc("extract", "-q", *options, archive, "-d", dest)
                    self.assertEqual(result.returncode, 82, options)
                    self.assertEqual(result.stderr.count(self.SKIPPED), 3, result.stderr)
                    self.assertIn("3 failed", result.stdout)
                    self.assertEqual(self.written(dest), {}, options)
                    result = zarc("test", *options, archive)
                    self.assertEqual(result.returncode, 82, options)
                    self.assertEqual(result.stderr.count(self.SKIPPED), 3, result.stderr)

    def test_only_entries_of_the_given_password_are_written(self):
        archive = os.path.join(self.tmp, "two.zip")
        subprocess.run([require("zip"), "-q", "-P", "Open1234", archive, "a.txt"], cwd=self.src, check=True)
        subprocess.run([require("7z"), "a", "-tzip", "-bd", "-bso0", "-pOther999", "-mem=AES256", archive,
                        "c.txt"], cwd=self.src, check=True)
        subprocess.run([require("zip"), "-q", archive, "sub/b.bin"], cwd=self.src, check=True)
        dest = os.path.join(self.tmp, "two")
        result = zarc("extract", "-q", "-P", "Open1234", archive, "-d", dest)
        self.assertEqual(result.returncode, 1)
        self.assertIn("c.txt: " + self.SKIPPED, result.stderr)
        self.assertEqual(result.stderr.count(self.SKIPPED), 1, result.stderr)
        self.assertEqual(self.written(dest), {"a.txt": self.FILES["a.txt"], "sub/b.bin": self.FILES["sub/b.bin"]})

    def test_terminal_prompt_without_echo(self):
        for kind, archive in self.archives("Open1234").items():
            with self.subTest(kind):
                dest = os.path.join(self.tmp, kind + "-tty")
                term = Terminal("extract", archive, "-d", dest)
                prompt = "[%s] a.txt password: " % archive
                self.assertIsNotNone(term.read_until(prompt), term.shown)
                term.type("Nope4321\n")
                # Asked again for the same entry; the right answer then serves the others too.
                self.assertIsNotNone(term.read_until("a.txt: wrong password"), term.shown)
                self.assertIsNotNone(term.read_until(prompt), term.shown)
                term.type("Open1234\n")
                code, shown = term.finish()
                self.assertEqual(code, 0, shown)
                self.assertEqual(shown.count("password: "), 2, shown)
                self.assertNotIn("Nope4321", shown)
                self.assertNotIn("Open1234", shown)
                self.assertEqual(self.written(dest), self.FILES)

    def test_terminal_empty_answer_and_end_of_input_skip(self):
        archive = self.archives("Open1234")["7z-aes256"]
        dest = os.path.join(self.tmp, "tty-skip")
        term = Terminal("extract", archive, "-d", dest)
        self.assertIsNotNone(term.read_until("a.txt password: "), term.shown)
        term.type("\n")
        self.assertIsNotNone(term.read_until("a.txt: " + self.SKIPPED), term.shown)
        self.assertIsNotNone(term.read_until("c.txt password: "), term.shown)
        term.type("\x04")  # end of input: the rest are skipped without asking
        code, shown = term.finish()
        self.assertEqual(code, 82, shown)
        self.assertEqual(shown.count(self.SKIPPED), 3, shown)
        self.assertEqual(shown.count("password: "), 2, shown)
        self.assertIn("3 failed", shown)
        self.assertEqual(self.written(dest), {})
        # A wrong -P is reported, not asked about, even on a terminal.
        term = Terminal("test", "-P", "Nope4321", archive)
        code, shown = term.finish()
        self.assertEqual(code, 82, shown)
        self.assertNotIn("password: ", shown)
        self.assertEqual(shown.count(self.SKIPPED), 3, shown)


if __name__ == "__main__":
    ZARC = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
