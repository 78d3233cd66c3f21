#!/usr/bin/env python3
"""zarc's writing commands as a user of zip and 7z meets them: archives that
every peer reads back, changes that keep the archive whole when they fail,
and the exit statuses.

usage: zarc_write_test.py ZARC
"""
import os
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest
import zipfile

ZARC = None


def run(*args, limit=None, cwd=None, stdin=subprocess.DEVNULL):
    def limited():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

    return subprocess.run(list(args), capture_output=True, cwd=cwd, stdin=stdin,
                          preexec_fn=limited if limit else None)


class ZarcWriteTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="zarc-write-")
        self.tree = os.path.join(self.tmp, "tree")
        os.makedirs(os.path.join(self.tree, "sub", "empty"))
        self.files = {
            "tree/a.txt": b"".join(b"line %d of some text\n" % i for i in range(20000)),
            "tree/sub/noise.bin": os.urandom(100000),
            "tree/sub/\u0444\u0430\u0439\u043b \u4e2d.txt": b"unicode name",
            "tree/sub/zero": b"",
        }
        for name, data in self.files.items():
            with open(os.path.join(self.tmp, name), "wb") as f:
                f.write(data)

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def zarc(self, *args, **kw):
        return run(ZARC, *args, cwd=self.tmp, **kw)

    def peers_accept(self, archive):
        path = os.path.join(self.tmp, archive)
        for tool in (["unzip", "-tqq"], ["7z", "t"], ["bsdtar", "-tf"]):
            if shutil.which(tool[0]):
                r = run(*tool, path)
                self.assertEqual(r.returncode, 0, (tool, r.stdout, r.stderr))
        with zipfile.ZipFile(path) as z:
            self.assertIsNone(z.testzip())
            return {i.filename: z.read(i) for i in z.infolist() if not i.is_dir()}

    def test_create_reads_back_in_every_tool_at_every_level(self):
        for level in ("-0", "-1", "-6", "-9"):
            archive = "t%s.zip" % level
            r = self.zarc("create", level, archive, "tree")
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(self.peers_accept(archive), self.files)
            names = zipfile.ZipFile(os.path.join(self.tmp, archive)).namelist()
            self.assertIn("tree/sub/empty/", names)
            if shutil.which("7z"):
                out = os.path.join(self.tmp, "x" + level)
                self.assertEqual(run("7z", "x", "-o" + out, os.path.join(self.tmp, archive)).returncode, 0)
                with open(os.path.join(out, "tree/sub/\u0444\u0430\u0439\u043b \u4e2d.txt"), "rb") as f:
                    self.assertEqual(f.read(), b"unicode name")

    def test_unix_modes_are_kept_as_zip_keeps_them(self):
        os.chmod(os.path.join(self.tree, "a.txt"), 0o755)
        os.chmod(os.path.join(self.tree, "sub", "noise.bin"), 0o600)
        os.chmod(os.path.join(self.tree, "sub", "empty"), 0o700)
        self.assertEqual(self.zarc("create", "m.zip", "tree").returncode, 0)
        with zipfile.ZipFile(os.path.join(self.tmp, "m.zip")) as z:
            info = {i.filename: i for i in z.infolist()}
        self.assertEqual(info["tree/a.txt"].create_system, 3)
        self.assertEqual(info["tree/a.txt"].external_attr >> 16, 0o100755)
        self.assertEqual(info["tree/sub/noise.bin"].external_attr >> 16, 0o100600)
        self.assertEqual(info["tree/sub/empty/"].external_attr >> 16, 0o40700)
        self.assertTrue(info["tree/sub/empty/"].external_attr & 0x10)
        # Both unzip and zarc give the modes back.
        for tool in (["unzip", "-q", "m.zip", "-d", "by-unzip"], [ZARC, "extract", "-q", "m.zip", "-d", "by-zarc"]):
            if not shutil.which(tool[0]):
                continue
            self.assertEqual(run(*tool, cwd=self.tmp).returncode, 0, tool)
            out = os.path.join(self.tmp, tool[-1], "tree")
            self.assertEqual(os.stat(os.path.join(out, "a.txt")).st_mode & 0o777, 0o755, tool)
            self.assertEqual(os.stat(os.path.join(out, "sub", "noise.bin")).st_mode & 0o777, 0o600, tool)

    def test_add_update_freshen_delete_rename_comment(self):
        self.assertEqual(self.zarc("create", "a.zip", "tree/a.txt").returncode, 0)
        self.assertEqual(self.zarc("add", "a.zip", "tree/sub/*.bin").returncode, 0)
        self.assertEqual(set(self.peers_accept("a.zip")), {"tree/a.txt", "tree/sub/noise.bin"})
        # -f takes only files that have entries; -u new ones too, but only newer.
        os.utime(os.path.join(self.tree, "a.txt"), (2000000000, 2000000000))
        r = self.zarc("add", "-f", "-v", "a.zip", "tree")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.decode().split(), ["adding:", "tree/a.txt"])
        r = self.zarc("add", "-u", "-v", "a.zip", "tree")
        self.assertNotIn(b"tree/a.txt", r.stdout)
        self.assertIn(b"tree/sub/zero", r.stdout)
        self.assertEqual(self.zarc("delete", "a.zip", "*.bin", "-x", "nothing").returncode, 0)
        self.assertEqual(self.zarc("rename", "a.zip", "tree/a.txt", "renamed.txt").returncode, 0)
        self.assertEqual(self.zarc("comment", "a.zip", "the comment").returncode, 0)
        with zipfile.ZipFile(os.path.join(self.tmp, "a.zip")) as z:
            self.assertEqual(z.comment, b"the comment")
            self.assertNotIn("tree/sub/noise.bin", z.namelist())
            self.assertEqual(z.read("renamed.txt"), self.files["tree/a.txt"])
        self.peers_accept("a.zip")

    def test_the_archive_never_goes_into_itself(self):
        r = run(ZARC, "create", "self.zip", ".", cwd=self.tree)
        self.assertEqual(r.returncode, 0, r.stderr)
        r = run(ZARC, "add", "self.zip", ".", cwd=self.tree)
        self.assertEqual(r.returncode, 0, r.stderr)
        names = zipfile.ZipFile(os.path.join(self.tree, "self.zip")).namelist()
        self.assertNotIn("self.zip", names)
        self.assertIn("a.txt", names)

    def test_split_archives_are_read_back_by_7z_and_zarc(self):
        r = self.zarc("create", "--split", "64k", "--numbered", "-1", "s.zip", "tree")
        self.assertEqual(r.returncode, 0, r.stderr)
        pieces = sorted(n for n in os.listdir(self.tmp) if n.startswith("s.zip."))
        self.assertGreater(len(pieces), 2)
        self.assertEqual(pieces[0], "s.zip.001")
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "s.zip")))
        self.assertTrue(all(os.path.getsize(os.path.join(self.tmp, n)) <= 65536 for n in pieces))
        if shutil.which("7z"):
            self.assertEqual(run("7z", "t", os.path.join(self.tmp, "s.zip.001")).returncode, 0)
        r = run(ZARC, "extract", "-q", os.path.join(self.tmp, "s.zip.001"), "-d", os.path.join(self.tmp, "out"))
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(os.path.join(self.tmp, "out", "tree", "a.txt"), "rb") as f:
            self.assertEqual(f.read(), self.files["tree/a.txt"])
        self.assertEqual(self.zarc("create", "--split", "64k", "--numbered", "s.zip", "tree").returncode, 10)
        self.assertEqual(self.zarc("create", "--split", "1k", "t.zip", "tree").returncode, 10)
        self.assertEqual(self.zarc("create", "--numbered", "t.zip", "tree").returncode, 10)

    def test_split_archives_are_written_as_zip_splits_them(self):
        r = self.zarc("create", "--split", "64k", "-1", "z.zip", "tree")
        self.assertEqual(r.returncode, 0, r.stderr)
        volumes = sorted(n for n in os.listdir(self.tmp) if n.startswith("z.z"))
        self.assertGreater(len(volumes), 2)
        self.assertEqual(volumes[0], "z.z01")
        self.assertEqual(volumes[-1], "z.zip")
        self.assertTrue(all(os.path.getsize(os.path.join(self.tmp, n)) <= 65536 for n in volumes))
        last = os.path.join(self.tmp, "z.zip")
        if shutil.which("7z"):
            self.assertEqual(run("7z", "t", last).returncode, 0)
        if shutil.which("zip"):
            joined = os.path.join(self.tmp, "joined.zip")
            self.assertEqual(run("zip", "-q", "-s", "0", last, "--out", joined).returncode, 0)
        r = run(ZARC, "extract", "-q", last, "-d", os.path.join(self.tmp, "out"))
        self.assertEqual(r.returncode, 0, r.stderr)
        for name, data in self.files.items():
            with open(os.path.join(self.tmp, "out", name), "rb") as f:
                self.assertEqual(f.read(), data, name)
        self.assertEqual(self.zarc("create", "--split", "64k", "z.zip", "tree").returncode, 10)

    def test_statuses(self):
        self.assertEqual(self.zarc("create", "s.zip", "missing").returncode, 11)
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "s.zip")))  # nothing left behind
        self.assertEqual(self.zarc("create", "s.zip", "tree/a.txt", "missing").returncode, 11)
        self.assertEqual(self.zarc("create", "s.zip", "tree").returncode, 10)  # exists already
        self.assertEqual(self.zarc("delete", "s.zip", "nothing").returncode, 11)
        self.assertEqual(self.zarc("delete", "none.zip", "a").returncode, 9)
        self.assertEqual(self.zarc("rename", "s.zip", "nothing", "x").returncode, 11)
        self.assertEqual(self.zarc("create", "-Z", "t.zip", "tree").returncode, 10)
        with open(os.path.join(self.tmp, "text.zip"), "wb") as f:
            f.write(b"not an archive at all")
        self.assertEqual(self.zarc("add", "text.zip", "tree").returncode, 9)
        with open(os.path.join(self.tmp, "text.zip"), "rb") as f:
            self.assertEqual(f.read(), b"not an archive at all")

    def test_encrypted_archives_open_with_the_password_in_the_peers(self):
        for option in ([], ["--zipcrypto"], ["--aes", "128"], ["--aes", "256"]):
            archive = "e%s.zip" % "".join(option)
            r = self.zarc("create", "-P", "secret", *option, archive, "tree")
            self.assertEqual(r.returncode, 0, r.stderr)
            path = os.path.join(self.tmp, archive)
            if shutil.which("7z"):
                self.assertEqual(run("7z", "t", "-psecret", path).returncode, 0, option)
                self.assertNotEqual(run("7z", "t", "-pother", path).returncode, 0, option)
            r = run(ZARC, "test", "-P", "secret", path)
            self.assertEqual(r.returncode, 0, r.stderr)
            if option[:1] == ["--aes"]:
                continue
            if shutil.which("unzip"):
                self.assertEqual(run("unzip", "-tqq", "-P", "secret", path).returncode, 0)
            with zipfile.ZipFile(path) as z:
                z.setpassword(b"secret")
                self.assertEqual(z.read("tree/a.txt"), self.files["tree/a.txt"])
        self.assertEqual(self.zarc("create", "-e", "n.zip", "tree").returncode, 10)  # no terminal to ask on

    def test_a_full_disk_leaves_the_archive_as_it_was(self):
        self.assertEqual(self.zarc("create", "f.zip", "tree/a.txt").returncode, 0)
        with open(os.path.join(self.tmp, "f.zip"), "rb") as f:
            before = f.read()
        r = self.zarc("add", "-0", "f.zip", "tree", limit=len(before) + 50000)
        self.assertEqual(r.returncode, 50, r.stderr)
        self.assertIn(b"left as it was", r.stderr)
        with open(os.path.join(self.tmp, "f.zip"), "rb") as f:
            self.assertEqual(f.read(), before)
        self.assertEqual([n for n in os.listdir(self.tmp) if n.startswith(("~za", ".f.zip.zarc-"))], [])


if __name__ == "__main__":
    ZARC = os.path.abspath(sys.argv.pop(1))
    unittest.main()
