#!/usr/bin/env python3
"""What zarc keeps of a file beyond its data: exact times in every time
zone, folder times, symbolic links, owners and names, against archives of
zip, 7z and its own.

usage: zarc_fidelity_test.py ZARC
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

ZARC = None
ZONES = ("America/Los_Angeles", "UTC", "Asia/Tokyo")
# 2024-03-01 12:00:00 UTC, with a fraction the NTFS block keeps.
WHEN = 1709294400


def run(*args, tz="UTC", cwd=None, **user):
    return subprocess.run(list(args), capture_output=True, text=True, encoding="utf-8", cwd=cwd,
                          stdin=subprocess.DEVNULL, env=dict(os.environ, TZ=tz), **user)


def zarc(*args, tz="UTC", cwd=None, **user):
    return run(ZARC, *args, tz=tz, cwd=cwd, **user)


def link_info(name, mode=0o777):
    info = zipfile.ZipInfo(name, (2024, 3, 1, 12, 0, 0))
    info.create_system = 3
    info.external_attr = (0o120000 | mode) << 16
    return info


def folder_and_file(path, folder, extra):
    """An archive of FOLDER/ and FOLDER/a.txt, both with the extra field EXTRA."""
    with zipfile.ZipFile(path, "w") as z:
        for name, data in ((folder + "/", ""), (folder + "/a.txt", "a\n")):
            info = zipfile.ZipInfo(name, (2024, 3, 1, 12, 0, 0))
            info.extra = extra
            z.writestr(info, data)


class Case(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="zarc-fidelity-")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def path(self, *names):
        return os.path.join(self.tmp, *names)


class FidelityTest(Case):
    def tree(self):
        """A folder `src` with a file and a folder of known times."""
        os.makedirs(self.path("src", "sub"))
        with open(self.path("src", "sub", "a.txt"), "w") as f:
            f.write("a\n")
        os.utime(self.path("src", "sub", "a.txt"), ns=(WHEN * 10**9, WHEN * 10**9 + 123456700))
        os.utime(self.path("src", "sub"), (WHEN - 3600, WHEN - 3600))
        os.utime(self.path("src"), (WHEN - 7200, WHEN - 7200))

    def archives(self):
        """The tree as zip, 7z (with NTFS times) and zarc wrote it, in New York."""
        self.tree()
        made = {}
        for tool, command in (("zip", ["zip", "-qr", "zip.zip", "src"]),
                              ("7z", ["7z", "a", "-tzip", "-mtc=on", "-bd", "7z.zip", "src"]),
                              ("zarc", [ZARC, "create", "zarc.zip", "src"])):
            if not shutil.which(command[0]):
                continue
            result = run(*command, tz="America/New_York", cwd=self.tmp)
            self.assertEqual(result.returncode, 0, result.stderr)
            made[tool] = self.path(tool + ".zip")
        return made

    def test_times_are_exact_in_every_zone(self):
        for tool, archive in self.archives().items():
            for tz in ZONES:
                with self.subTest(tool=tool, tz=tz):
                    out = self.path("out-" + tool + "-" + tz.replace("/", "-"))
                    result = zarc("extract", archive, "-d", out, tz=tz)
                    self.assertEqual(result.returncode, 0, result.stderr)
                    self.assertEqual(int(os.stat(os.path.join(out, "src", "sub", "a.txt")).st_mtime), WHEN)
                    # Folders get their times after their contents.
                    self.assertEqual(int(os.stat(os.path.join(out, "src", "sub")).st_mtime), WHEN - 3600)
                    self.assertEqual(int(os.stat(os.path.join(out, "src")).st_mtime), WHEN - 7200)
                    listing = zarc("list", archive, tz=tz).stdout
                    local = time.strftime("%Y-%m-%d %H:%M:%S", self.local(WHEN, tz))
                    self.assertRegex(listing, local + r" .*src/sub/a\.txt")
                    self.assertIn("2024-03-01 12:00:00", zarc("list", "--utc", archive, tz=tz).stdout)
        self.assertIn("zarc", self.archives_made)

    def local(self, when, tz):
        saved = os.environ.get("TZ")
        os.environ["TZ"] = tz
        time.tzset()
        try:
            return time.localtime(when)
        finally:
            if saved is None:
                del os.environ["TZ"]
            else:
                os.environ["TZ"] = saved
            time.tzset()

    @property
    def archives_made(self):
        return [name[:-4] for name in os.listdir(self.tmp) if name.endswith(".zip")]

    def test_ntfs_times_keep_their_fraction(self):
        if not shutil.which("7z"):
            self.skipTest("no 7z")
        archive = self.archives()["7z"]
        result = zarc("extract", archive, "-d", self.path("out"), tz="Asia/Tokyo")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(os.stat(self.path("out", "src", "sub", "a.txt")).st_mtime_ns, WHEN * 10**9 + 123456700)

    def test_zarc_archives_are_exact_for_peers(self):
        archive = self.archives()["zarc"]
        for tz in ZONES:
            with self.subTest(tz=tz):
                out = self.path("unzip-" + tz.replace("/", "-"))
                result = run("unzip", "-q", archive, "-d", out, tz=tz)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(int(os.stat(os.path.join(out, "src", "sub", "a.txt")).st_mtime), WHEN)
        # The extended time stamp holds the modification time alone: the
        # access time moves as the file is read.
        with zipfile.ZipFile(archive) as z:
            info = z.getinfo("src/sub/a.txt")
            self.assertIn(struct.pack("<HHBI", 0x5455, 5, 1, WHEN), info.extra)

    def test_access_times_from_the_local_header(self):
        """zip keeps the access time in the local header only."""
        accessed = WHEN - 30 * 86400
        local = struct.pack("<HHBII", 0x5455, 9, 3, WHEN, accessed)
        # The central copy keeps the flags and the modification time; an
        # empty block of no one's fills the rest.
        central = struct.pack("<HHBIHH", 0x5455, 5, 3, WHEN, 0xCAFE, 0)
        path = self.path("atime.zip")
        folder_and_file(path, "d", local)
        with open(path, "rb") as f:
            data = f.read()
        start = data.find(b"PK\x01\x02")
        with open(path, "wb") as f:
            f.write(data[:start] + data[start:].replace(local, central))
        for tz in ("America/Los_Angeles", "Asia/Tokyo"):
            with self.subTest(tz=tz):
                out = self.path("out-" + tz.replace("/", "-"))
                result = zarc("extract", path, "-d", out, tz=tz)
                self.assertEqual(result.returncode, 0, result.stderr)
                for name in ("d/a.txt", "d"):
                    st = os.stat(os.path.join(out, name))
                    self.assertEqual((int(st.st_mtime), int(st.st_atime)), (WHEN, accessed), name)

    def test_a_date_that_is_no_moment_is_named(self):
        """Files keep their data and the run says which times it could not give."""
        path = self.path("nodate.zip")
        with zipfile.ZipFile(path, "w") as z:
            for name, data in (("d/", ""), ("d/a.txt", "a\n"), ("b.txt", "b\n")):
                z.writestr(zipfile.ZipInfo(name, (1980, 0, 0, 0, 0, 0) if name != "b.txt" else (2024, 3, 1, 12, 0, 0)),
                           data)
        result = zarc("extract", path, "-d", self.path("out"))
        self.assertEqual(result.returncode, 1, result.stderr)
        for name in ("d/a.txt", "d/"):
            self.assertIn(f"{name}: time not set: the archive gives no valid date for it", result.stderr)
        self.assertNotIn("b.txt", result.stderr)
        self.assertIn("0 failed, 2 warnings", result.stdout)
        with open(self.path("out", "d", "a.txt")) as f:
            self.assertEqual(f.read(), "a\n")

    def test_newer_and_older_across_zones(self):
        """Zipped in New York; the user's copy edited an hour later."""
        with open(self.path("a.txt"), "w") as f:
            f.write("archived\n")
        os.utime(self.path("a.txt"), (WHEN, WHEN))
        self.assertEqual(run("zip", "-q", "ny.zip", "a.txt", tz="America/New_York", cwd=self.tmp).returncode, 0)
        for tz in ZONES:
            with self.subTest(tz=tz):
                for offset, kept in ((3600, True), (-3600, False)):
                    out = self.path("x")
                    shutil.rmtree(out, ignore_errors=True)
                    os.makedirs(out)
                    with open(os.path.join(out, "a.txt"), "w") as f:
                        f.write("mine\n")
                    os.utime(os.path.join(out, "a.txt"), (WHEN + offset, WHEN + offset))
                    result = zarc("extract", "-u", self.path("ny.zip"), "-d", out, tz=tz)
                    self.assertEqual(result.returncode, 0, result.stderr)
                    with open(os.path.join(out, "a.txt")) as f:
                        self.assertEqual(f.read(), "mine\n" if kept else "archived\n")
                # add -u takes the file changed after the entry, and only it.
                shutil.copy(self.path("ny.zip"), self.path("u.zip"))
                os.utime(self.path("a.txt"), (WHEN, WHEN))
                zarc("add", "-u", "u.zip", "a.txt", tz=tz, cwd=self.tmp)
                with open(self.path("u.zip"), "rb") as f, open(self.path("ny.zip"), "rb") as g:
                    self.assertEqual(f.read(), g.read())
                with open(self.path("a.txt"), "w") as f:
                    f.write("edited\n")
                os.utime(self.path("a.txt"), (WHEN + 1800, WHEN + 1800))
                result = zarc("add", "-u", "u.zip", "a.txt", tz=tz, cwd=self.tmp)
                self.assertEqual(result.returncode, 0, result.stderr)
                with zipfile.ZipFile(self.path("u.zip")) as z:
                    self.assertEqual(z.read("a.txt"), b"edited\n")
                with open(self.path("a.txt"), "w") as f:
                    f.write("archived\n")


class LinkTest(Case):
    def test_links_are_stored_as_links(self):
        os.makedirs(self.path("src", "sub"))
        with open(self.path("src", "file.txt"), "w") as f:
            f.write("data\n")
        os.symlink("file.txt", self.path("src", "to-file"))
        os.symlink("sub", self.path("src", "to-folder"))
        os.symlink("missing", self.path("src", "dangling"))
        result = zarc("create", "l.zip", "src", cwd=self.tmp)
        self.assertEqual(result.returncode, 0, result.stderr)
        with zipfile.ZipFile(self.path("l.zip")) as z:
            for name, target in (("src/to-file", b"file.txt"), ("src/to-folder", b"sub"), ("src/dangling", b"missing")):
                info = z.getinfo(name)
                self.assertEqual(info.external_attr >> 28, 0o12, name)
                self.assertEqual(z.read(name), target)
        listing = zarc("list", self.path("l.zip")).stdout
        self.assertRegex(listing, r"\.\.\.lA .*src/to-folder -> sub\n")
        out = self.path("out")
        result = zarc("extract", self.path("l.zip"), "-d", out)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(os.readlink(os.path.join(out, "src", "to-file")), "file.txt")
        self.assertEqual(os.readlink(os.path.join(out, "src", "dangling")), "missing")
        self.assertTrue(os.path.isdir(os.path.join(out, "src", "to-folder")))
        # -L stores what a link points to; a dangling one has nothing.
        result = zarc("create", "-L", "f.zip", "src", cwd=self.tmp)
        with zipfile.ZipFile(self.path("f.zip")) as z:
            self.assertEqual(z.read("src/to-file"), b"data\n")
            self.assertNotIn("src/dangling", z.namelist())

    def test_links_out_of_the_destination_become_files(self):
        outside = self.path("outside")
        os.makedirs(outside)
        archive = self.path("evil.zip")
        with zipfile.ZipFile(archive, "w") as z:
            z.writestr(link_info("abs"), outside)
            z.writestr(link_info("d/up"), "../../outside")
            z.writestr(link_info("d/ok"), "../abs")
            # Each lexically inside, but `p` -> `..` and then `p/../x` climbs twice.
            z.writestr(link_info("q/p"), "..")
            z.writestr(link_info("via"), "q/p/../outside")
        out = self.path("out")
        result = zarc("extract", archive, "-d", out)
        self.assertEqual(result.returncode, 1, result.stderr)
        for name, text in (("abs", outside), ("d/up", "../../outside"), ("via", "q/p/../outside")):
            path = os.path.join(out, name)
            self.assertFalse(os.path.islink(path), name)
            with open(path) as f:
                self.assertEqual(f.read(), text)
            self.assertIn(name + ": link to '" + text + "' leads out of the destination", result.stderr)
        self.assertEqual(os.readlink(os.path.join(out, "d", "ok")), "../abs")
        self.assertEqual(os.readlink(os.path.join(out, "q", "p")), "..")
        shutil.rmtree(out)
        result = zarc("extract", "--unsafe-links", archive, "-d", out)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(os.readlink(os.path.join(out, "abs")), outside)

    def test_no_entry_is_written_through_a_link(self):
        """Even a link that is let out is made after every other entry."""
        outside = self.path("outside")
        os.makedirs(outside)
        archive = self.path("through.zip")
        with zipfile.ZipFile(archive, "w") as z:
            z.writestr(link_info("l"), outside)
            z.writestr("l/planted.txt", "x")
        result = zarc("extract", "--unsafe-links", archive, "-d", self.path("out"))
        self.assertEqual(os.listdir(outside), [])
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertTrue(os.path.isfile(self.path("out", "l", "planted.txt")))

    def test_owners(self):
        """As root without asking, as tar does; as anyone else with -X only,
        as unzip -X, which then names what it could not give."""
        owner = struct.pack("<HHBBIBI", 0x7875, 11, 1, 4, 1234, 4, 5678)
        archive = self.path("o.zip")
        folder_and_file(archive, "src", owner)
        root = os.geteuid() == 0
        if root:
            result = zarc("extract", archive, "-d", self.path("plain"))
            self.assertEqual(result.returncode, 0, result.stderr)
            for name in ("src", "src/a.txt"):
                st = os.stat(self.path("plain", name))
                self.assertEqual((st.st_uid, st.st_gid), (1234, 5678), name)
            # Someone else, who may not give files away.
            os.chmod(self.tmp, 0o755)
            user = {"user": 65534, "group": 65534, "extra_groups": []}
        else:
            user = {}
        someone = os.geteuid() if not root else 65534
        out = self.path("theirs")
        os.makedirs(out)
        os.chmod(out, 0o777)
        result = zarc("extract", archive, "-d", out, **user)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(os.stat(os.path.join(out, "src", "a.txt")).st_uid, someone)
        shutil.rmtree(os.path.join(out, "src"))
        result = zarc("extract", "-X", archive, "-d", out, **user)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("src/a.txt: owner not set: Operation not permitted", result.stderr)
        self.assertIn("0 failed, 2 warnings", result.stdout)
        with open(os.path.join(out, "src", "a.txt")) as f:
            self.assertEqual(f.read(), "a\n")

    @unittest.skipUnless(hasattr(os, "geteuid") and os.geteuid() == 0, "needs root")
    def test_owners_written_on_create(self):
        os.makedirs(self.path("src"))
        with open(self.path("src", "owned.txt"), "w") as f:
            f.write("o\n")
        os.chown(self.path("src", "owned.txt"), 1234, 5678)
        self.assertEqual(zarc("create", "o.zip", "src", cwd=self.tmp).returncode, 0)
        # unzip reads the block as zip writes it.
        self.assertEqual(run("unzip", "-qX", self.path("o.zip"), "-d", self.path("unzip")).returncode, 0)
        st = os.stat(self.path("unzip", "src", "owned.txt"))
        self.assertEqual((st.st_uid, st.st_gid), (1234, 5678))


class NamesAndDamageTest(Case):
    def patched(self, name, entries, replacements, method=zipfile.ZIP_STORED, create_system=3):
        """An archive of (name, data) pairs with byte strings replaced in it."""
        path = self.path(name)
        with zipfile.ZipFile(path, "w", method) as z:
            for entry, data in entries:
                info = zipfile.ZipInfo(entry, (2024, 3, 1, 12, 0, 0))
                info.create_system = create_system
                info.external_attr = (0o40755 << 16) | 0x10 if entry.endswith("/") else 0o100644 << 16
                z.writestr(info, data)
        with open(path, "rb") as f:
            data = f.read()
        for old, new in replacements:
            data = data.replace(old, new)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_one_encoding_per_archive(self):
        # "Ёлка" in code page 866 happens to be well-formed UTF-8 ("𫪠");
        # "файл" is not: the archive's names are all code-page text.
        archive = self.patched("cp866.zip", [("QQQQ/", ""), ("QQQQ/WWWW.txt", "x")],
                               [(b"QQQQ", bytes.fromhex("f0abaaa0")), (b"WWWW", bytes.fromhex("e4a0a9ab"))])
        listing = zarc("list", archive).stdout
        self.assertIn("Ёлка/\n", listing)
        self.assertIn("Ёлка/файл.txt\n", listing)
        # All well-formed: UTF-8, as before.
        archive = self.patched("utf8.zip", [("QQQQ/", "")], [(b"QQQQ", bytes.fromhex("f0abaaa0"))])
        self.assertIn("\U0002baa0/\n", zarc("list", archive).stdout)

    def test_empty_name_components_are_dropped(self):
        archive = self.patched("empty.zip", [("a//b.txt", "b"), ("c/.//d.txt", "d")], [])
        result = zarc("extract", archive, "-d", self.path("out"))
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(self.path("out", "a", "b.txt")) as f:
            self.assertEqual(f.read(), "b")
        self.assertTrue(os.path.isfile(self.path("out", "c", "d.txt")))

    def test_what_is_wrong_is_said(self):
        crc = zipfile.crc32(b"good data")
        archive = self.patched("crc.zip", [("a.txt", "good data")], [(b"good data", b"gooD data")])
        result = zarc("test", archive)
        self.assertEqual(result.returncode, 2)
        self.assertIn("a.txt: damaged: bad CRC-32 %08x (should be %08x)" % (zipfile.crc32(b"gooD data"), crc),
                      result.stderr)
        result = zarc("extract", "--keep-damaged", archive, "-d", self.path("kept"))
        self.assertIn("a.txt: damaged: written as decoded, but bad CRC-32", result.stderr)
        # Two central headers of one local header: the second reads the
        # first one's data.
        path = self.patched("bomb.zip", [("one.txt", "1" * 100), ("two.txt", "2" * 100)], [])
        with open(path, "rb") as f:
            data = bytearray(f.read())
        second = data.rfind(b"PK\x01\x02")
        data[second + 42:second + 46] = b"\0\0\0\0"
        with open(path, "wb") as f:
            f.write(data)
        self.assertIn("overlaps another entry (possible zip bomb)", zarc("test", path).stderr)
        # A file in the way of a folder.
        archive = self.patched("notdir.zip", [("a", "file"), ("a/b.txt", "b")], [])
        result = zarc("extract", archive, "-d", self.path("nd"))
        self.assertEqual(result.returncode, 1)
        self.assertIn("nd/a/\": Not a directory", result.stderr)


if __name__ == "__main__":
    ZARC = os.path.abspath(sys.argv.pop(1))
    unittest.main()
