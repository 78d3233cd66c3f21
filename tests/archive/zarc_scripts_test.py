#!/usr/bin/env python3
"""zarc in pipes and scripts, and zip's everyday options for create and add:
archives through standard input and output that the peers read, listings
for scripts, and options that choose, move, test and sync files.

usage: zarc_scripts_test.py ZARC
"""
import json
import os
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

ZARC = None


class ZarcScriptsTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="zarc-scripts-")
        self.files = {
            "tree/a.txt": b"alpha\n" * 1000,
            "tree/b.log": b"beta",
            "tree/sub/c.txt": b"gamma",
        }
        os.makedirs(os.path.join(self.tmp, "tree", "sub", "empty"))
        for name, data in self.files.items():
            self.write(name, data)

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def write(self, name, data, when=None):
        path = os.path.join(self.tmp, name)
        with open(path, "wb") as f:
            f.write(data)
        if when:
            os.utime(path, (when, when))

    def zarc(self, *args, stdin=subprocess.DEVNULL, env=None, limit=None):
        def limited():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

        return subprocess.run([ZARC, *args], capture_output=True, cwd=self.tmp, stdin=stdin,
                              env=env, preexec_fn=limited if limit else None)

    def path(self, name):
        return os.path.join(self.tmp, name)

    def names(self, archive):
        with zipfile.ZipFile(self.path(archive)) as z:
            return sorted(z.namelist())

    def test_archives_through_pipes(self):
        # Written to a pipe, kept by cat: every peer reads it.
        made = subprocess.run(f"'{ZARC}' create - tree | cat > piped.zip", shell=True, cwd=self.tmp,
                              capture_output=True)
        self.assertEqual(made.returncode, 0, made.stderr)
        archive = self.path("piped.zip")
        for tool in (["unzip", "-tqq"], ["7z", "t"], ["bsdtar", "-tf"]):
            if shutil.which(tool[0]):
                r = subprocess.run(tool + [archive], capture_output=True)
                self.assertEqual(r.returncode, 0, (tool, r.stdout, r.stderr))
        with zipfile.ZipFile(archive) as z:
            self.assertIsNone(z.testzip())
            self.assertEqual({n: z.read(n) for n in self.files}, self.files)

        # Read from a pipe and from a redirected file alike; nothing is left
        # in the temporary folder.
        spool = os.path.join(self.tmp, "spool")
        os.mkdir(spool)
        env = dict(os.environ, TMPDIR=spool)
        with open(archive, "rb") as f:
            data = f.read()
        tested = subprocess.run([ZARC, "test", "-"], input=data, capture_output=True, cwd=self.tmp, env=env)
        self.assertEqual(tested.returncode, 0, tested.stderr)
        self.assertIn(b"-: 3 files tested", tested.stdout)
        with open(archive, "rb") as f:
            listed = self.zarc("list", "-1", "-", stdin=f)
        self.assertEqual(listed.stdout.decode().split(),
                         ["tree/", "tree/a.txt", "tree/b.log", "tree/sub/", "tree/sub/c.txt", "tree/sub/empty/"])
        out = subprocess.run(f"cat piped.zip | '{ZARC}' extract -qq -d out -", shell=True, cwd=self.tmp,
                             capture_output=True, env=env)
        self.assertEqual((out.returncode, out.stdout, out.stderr), (0, b"", b""))
        for name, content in self.files.items():
            with open(self.path(os.path.join("out", name)), "rb") as f:
                self.assertEqual(f.read(), content)
        self.assertEqual(os.listdir(spool), [])

        # No room to keep the pipe's bytes: said, and a failure.
        full = subprocess.run([ZARC, "test", "-"], input=data + b"\0" * 300000, capture_output=True,
                              cwd=self.tmp, env=env,
                              preexec_fn=lambda: (signal.signal(signal.SIGXFSZ, signal.SIG_IGN),
                                                  resource.setrlimit(resource.RLIMIT_FSIZE, (65536, 65536))))
        self.assertEqual(full.returncode, 50, full.stderr)
        self.assertIn(b"cannot keep standard input", full.stderr)
        self.assertEqual(os.listdir(spool), [])
        missing = subprocess.run([ZARC, "list", "-"], input=data, capture_output=True, cwd=self.tmp,
                                 env=dict(os.environ, TMPDIR=self.path("no-such-folder")))
        self.assertNotEqual(missing.returncode, 0)
        self.assertIn(b"temporary file", missing.stderr)

        # An archive for standard output that cannot be made writes nothing.
        empty = self.zarc("create", "-", "no-such-file")
        self.assertNotEqual(empty.returncode, 0)
        self.assertEqual(empty.stdout, b"")

    def test_listings_for_scripts(self):
        with zipfile.ZipFile(self.path("s.zip"), "w") as z:
            info = zipfile.ZipInfo('say "hi"\\\x01.txt', (2024, 6, 1, 12, 30, 10))
            info.comment = "a \"quoted\" comment\n".encode()
            info.external_attr = (0o100640 << 16) | 0x20
            info.create_system = 3
            z.writestr(info, b"hello", zipfile.ZIP_DEFLATED)
            z.writestr(zipfile.ZipInfo("dir/", (2024, 6, 1, 12, 30, 10)), b"")
        env = dict(os.environ, TZ="UTC")
        r = self.zarc("list", "--json", "s.zip", env=env)
        self.assertEqual(r.returncode, 0, r.stderr)
        lines = r.stdout.decode().splitlines()
        self.assertEqual(len(lines), 2)
        first = json.loads(lines[0])
        self.assertEqual(first, {
            "name": 'say "hi"\\\x01.txt', "size": 5, "packed_size": first["packed_size"], "method": "Defl:N",
            "crc32": "%08x" % zipfile.crc32(b"hello"), "time": "2024-06-01T12:30:10Z", "attributes": "....A",
            "unix_mode": 0o100640, "link_target": None, "encrypted": False, "comment": 'a "quoted" comment\n'})
        self.assertEqual(json.loads(lines[1])["name"], "dir/")
        # The same entry, written in another zone, is another instant.
        tokyo = json.loads(self.zarc("list", "--json", "s.zip", env=dict(os.environ, TZ="Asia/Tokyo"))
                           .stdout.decode().splitlines()[0])
        self.assertEqual(tokyo["time"], "2024-06-01T03:30:10Z")
        names = self.zarc("list", "-1", "s.zip", "dir*")
        self.assertEqual(names.stdout, b"dir/\n")
        self.assertEqual(self.zarc("list", "-1", "s.zip", "nothing*").returncode, 11)
        bare = self.zarc("list", "-qq", "s.zip").stdout.decode().splitlines()
        self.assertEqual(len(bare), 3)  # the entry, its comment, the folder; no headings

    def test_named_entries_out_of_many(self):
        with zipfile.ZipFile(self.path("many.zip"), "w") as z:
            for i in range(2000):
                z.writestr("d%d/f%04d.txt" % (i % 10, i), b"entry %d" % i)
            z.writestr("D3/F0013.TXT", b"same name, other case")
            z.writestr("Папка/Файл.txt", b"cyrillic")
            z.writestr("𝒜/файл.txt", b"astral")
        r = self.zarc("extract", "-p", "many.zip", "d3/f0013.txt", "f0026.txt")
        self.assertEqual((r.returncode, r.stdout), (0, b"entry 13entry 26same name, other case"), r.stderr)
        # Names outside ASCII, and with characters beyond the 16-bit range,
        # are found in any case.
        r = self.zarc("extract", "-p", "many.zip", "папка/фАЙЛ.TXT",
                      "𝒜/Файл.txt")
        self.assertEqual((r.returncode, r.stdout), (0, b"cyrillicastral"), r.stderr)
        self.assertEqual(self.zarc("list", "-1", "many.zip", "F1999.TXT.").stdout, b"")
        self.assertEqual(self.zarc("list", "-1", "many.zip", "d9\\f1999.txt").stdout, b"d9/f1999.txt\n")
        missing = self.zarc("test", "many.zip", "f5000.txt")
        self.assertEqual(missing.returncode, 11)
        self.assertNotIn(b"holds no entries", missing.stderr)
        self.assertIn(b"no entry matches", missing.stderr)

    def test_quiet_prints_errors_alone(self):
        made = self.zarc("create", "-qq", "-0", "q.zip", "tree")
        self.assertEqual((made.returncode, made.stdout, made.stderr), (0, b"", b""))
        ok = self.zarc("test", "-qq", "q.zip")
        self.assertEqual((ok.returncode, ok.stdout, ok.stderr), (0, b"", b""))
        with open(self.path("q.zip"), "r+b") as f:
            f.seek(f.read().index(b"alpha"))
            f.write(b"ALPHA")
        bad = self.zarc("test", "-qq", "q.zip")
        self.assertEqual((bad.returncode, bad.stdout), (2, b""))
        self.assertIn(b"tree/a.txt", bad.stderr)

    def test_every_command_has_its_own_help(self):
        for command in ("list", "test", "extract", "create", "add", "delete", "rename", "comment"):
            r = self.zarc(command, "--help")
            self.assertEqual(r.returncode, 0)
            self.assertTrue(r.stdout.startswith(b"usage: zarc " + command.encode() + b" "), (command, r.stdout[:60]))

    def test_choosing_files(self):
        old, new = time.mktime((2020, 3, 1, 12, 0, 0, 0, 0, -1)), time.mktime((2023, 3, 1, 12, 0, 0, 0, 0, -1))
        self.write("tree/a.txt", b"old", old)
        self.write("tree/b.log", b"new", new)
        self.write("tree/sub/c.txt", b"new", new)
        cases = {
            ("-D",): ["tree/a.txt", "tree/b.log", "tree/sub/c.txt"],
            ("-D", "-i", "*.txt"): ["tree/a.txt", "tree/sub/c.txt"],
            ("-D", "-t", "01012022"): ["tree/b.log", "tree/sub/c.txt"],
            ("-D", "-tt", "2022-01-01"): ["tree/a.txt"],
            ("-D", "-t", "2020-03-01", "-tt", "03022020", "-r", "-y", "-X"): ["tree/a.txt"],
        }
        for n, (options, expected) in enumerate(cases.items()):
            r = self.zarc("create", *options, "c%d.zip" % n, "tree")
            self.assertEqual(r.returncode, 0, (options, r.stderr))
            self.assertEqual(self.names("c%d.zip" % n), expected, options)
        # Folders are chosen as files are, by their own name and time, and
        # the folder the names start from is no entry of its own.
        os.utime(self.path("tree/sub"), (old, old))
        folders = {
            ("-i", "*.txt"): ["tree/a.txt", "tree/sub/c.txt"],
            ("-i", "tree/sub/*"): ["tree/sub/", "tree/sub/c.txt", "tree/sub/empty/"],
            ("-t", "01012022"): ["tree/", "tree/b.log", "tree/sub/c.txt", "tree/sub/empty/"],
            ("-tt", "2022-01-01"): ["tree/a.txt", "tree/sub/"],
        }
        for n, (options, expected) in enumerate(folders.items()):
            r = self.zarc("create", *options, "f%d.zip" % n, "tree")
            self.assertEqual(r.returncode, 0, (options, r.stderr))
            self.assertEqual(self.names("f%d.zip" % n), expected, options)
        here = subprocess.run([ZARC, "create", "-q", "../dot.zip", "."], capture_output=True, cwd=self.path("tree"))
        self.assertEqual(here.returncode, 0, here.stderr)
        self.assertEqual(self.names("dot.zip"), ["a.txt", "b.log", "sub/", "sub/c.txt", "sub/empty/"])
        self.assertEqual(self.zarc("create", "-t", "2022-13-01", "bad.zip", "tree").returncode, 10)
        listed = subprocess.run([ZARC, "create", "-@", "at.zip"], input=b"tree/a.txt\r\ntree/sub/c.txt\n\n",
                                capture_output=True, cwd=self.tmp)
        self.assertEqual(listed.returncode, 0, listed.stderr)
        self.assertEqual(self.names("at.zip"), ["tree/a.txt", "tree/sub/c.txt"])

    def test_move_and_test_first(self):
        shutil.copytree(self.path("tree"), self.path("move"))
        r = self.zarc("create", "-m", "-T", "m.zip", "move")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertFalse(os.path.exists(self.path("move")))
        self.assertIn("move/sub/c.txt", self.names("m.zip"))

        # An entry of the old archive that fails its check: -T refuses the
        # new archive, the old one stays byte for byte, the file stays.
        with zipfile.ZipFile(self.path("bad.zip"), "w") as z:
            z.writestr("old.txt", b"old contents")
        with open(self.path("bad.zip"), "r+b") as f:
            data = f.read()
            f.seek(data.index(b"old contents"))
            f.write(b"OLD")
        with open(self.path("bad.zip"), "rb") as f:
            before = f.read()
        self.write("new.txt", b"new")
        r = self.zarc("add", "-T", "-m", "bad.zip", "new.txt")
        self.assertEqual(r.returncode, 2, r.stderr)
        self.assertIn(b"failed its test", r.stderr)
        with open(self.path("bad.zip"), "rb") as f:
            self.assertEqual(f.read(), before)
        self.assertTrue(os.path.exists(self.path("new.txt")))
        # Without -T the same change goes in.
        self.assertEqual(self.zarc("add", "bad.zip", "new.txt").returncode, 0)
        self.assertIn("new.txt", self.names("bad.zip"))

    def test_file_sync(self):
        self.assertEqual(self.zarc("create", "s.zip", "tree").returncode, 0)
        with zipfile.ZipFile(self.path("s.zip")) as z:
            kept = z.getinfo("tree/a.txt").header_offset
        os.remove(self.path("tree/b.log"))
        self.write("tree/sub/c.txt", b"gamma, longer now")
        os.utime(self.path("tree/sub/c.txt"), (time.time() - 86400 * 400,) * 2)  # older, but changed
        self.write("tree/d.txt", b"delta")
        r = self.zarc("add", "-FS", "s.zip", "tree")
        self.assertEqual(r.returncode, 0, r.stderr)
        with zipfile.ZipFile(self.path("s.zip")) as z:
            self.assertEqual(sorted(z.namelist()),
                             ["tree/", "tree/a.txt", "tree/d.txt", "tree/sub/", "tree/sub/c.txt", "tree/sub/empty/"])
            self.assertEqual(z.read("tree/sub/c.txt"), b"gamma, longer now")
            self.assertEqual(z.getinfo("tree/a.txt").header_offset, kept)
        with open(self.path("s.zip"), "rb") as f:
            before = f.read()
        self.assertEqual(self.zarc("add", "-FS", "s.zip", "tree").returncode, 0)
        with open(self.path("s.zip"), "rb") as f:
            self.assertEqual(f.read(), before)


if __name__ == "__main__":
    ZARC = os.path.abspath(sys.argv.pop(1))
    unittest.main()
