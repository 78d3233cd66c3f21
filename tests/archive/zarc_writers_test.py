#!/usr/bin/env python3
"""zarc against a writer that is killed and a writer that comes second: the
archive is always the old one or the new one, byte for byte, what a killed
run leaves is removed by the next, and two runs at once never lose a change.

usage: zarc_writers_test.py ZARC
"""
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

ZARC = None
# Per command: kills at random moments, as many as fit in the time.
RUNS, SECONDS = 30, 5


def words(seed, count):
    rnd = random.Random(seed)
    vocabulary = [("%x" % rnd.getrandbits(24)).encode() for _ in range(3000)]
    return b" ".join(rnd.choice(vocabulary) for _ in range(count))


class WritersTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="zarc-writers-")
        os.makedirs(os.path.join(self.tmp, "data"))
        for i in range(4):
            self.write("data/part%d.txt" % i, words(i, 150000))
        self.write("new.txt", words(9, 300000))
        self.write("small.txt", b"small\n")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def write(self, name, data):
        with open(os.path.join(self.tmp, name), "wb") as f:
            f.write(data)

    def read(self, name):
        with open(os.path.join(self.tmp, name), "rb") as f:
            return f.read()

    def zarc(self, *args, **kw):
        return subprocess.run([ZARC] + list(args), cwd=self.tmp, capture_output=True,
                              stdin=subprocess.DEVNULL, **kw)

    def start(self, *args, stdin=subprocess.DEVNULL):
        return subprocess.Popen([ZARC] + list(args), cwd=self.tmp, stdin=stdin,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def remove_all(self, start):
        for name in os.listdir(self.tmp):
            if name.startswith(start):
                os.remove(os.path.join(self.tmp, name))

    def own_files(self, archive):
        return sorted(n for n in os.listdir(self.tmp) if n.startswith("." + archive + ".zarc-"))

    def volumes(self, stem):
        return {n: self.read(n) for n in sorted(os.listdir(self.tmp)) if n.startswith(stem + ".z")}

    def kill_loop(self, command, reset, state, check):
        """Runs `command` whole once (its result is the new state), then again
        and again killed after a random part of that time; `state()` must then
        be the old or the new one (`check` decides), and the next zarc run
        must remove whatever the killed one left."""
        reset()
        old = state()
        began = time.monotonic()
        r = self.zarc(*command)
        whole = time.monotonic() - began
        self.assertEqual(r.returncode, 0, r.stderr)
        new = state()
        self.assertNotEqual(old, new)
        self.assertEqual(self.own_files(command[-2]), [])
        rnd = random.Random(27)
        end = time.monotonic() + SECONDS
        for run in range(RUNS):
            if time.monotonic() > end:
                break
            reset()
            p = self.start(*command)
            time.sleep(rnd.uniform(0, whole))
            p.send_signal(signal.SIGKILL)
            p.communicate()
            check(old, new, state(), run)
            # Any later writing run on the archive sweeps up after the killed one.
            self.zarc("delete", command[-2], "no-such-entry")
            self.assertEqual(self.own_files(command[-2]), [], run)

    def single(self, archive):
        path = os.path.join(self.tmp, archive)
        return self.read(archive) if os.path.exists(path) else None

    def check_single(self, archive):
        def check(old, new, now, run):
            self.assertIn(now, (old, new), run)
            if now is not None:
                r = subprocess.run(["unzip", "-tqq", os.path.join(self.tmp, archive)], capture_output=True)
                self.assertEqual(r.returncode, 0, (run, r.stdout, r.stderr))
        return check

    def test_a_killed_add_or_delete_leaves_the_old_archive_or_the_new_one(self):
        self.assertEqual(self.zarc("create", "base.zip", "data").returncode, 0)
        reset = lambda: shutil.copyfile(os.path.join(self.tmp, "base.zip"), os.path.join(self.tmp, "a.zip"))
        self.kill_loop(["add", "-9", "a.zip", "new.txt"], reset, lambda: self.single("a.zip"),
                       self.check_single("a.zip"))
        self.kill_loop(["delete", "a.zip", "data/part1.txt"], reset, lambda: self.single("a.zip"),
                       self.check_single("a.zip"))

    def test_a_killed_create_leaves_no_archive_or_the_whole_one(self):
        reset = lambda: self.remove_all("n.z")
        self.kill_loop(["create", "n.zip", "data"], reset, lambda: self.single("n.zip"),
                       self.check_single("n.zip"))

    def test_a_killed_split_create_leaves_no_set_or_the_whole_one(self):
        reset = lambda: self.remove_all("s.z")

        def check(old, new, now, run):
            if "s.zip" in now:
                self.assertEqual(now, new, run)
                return
            # Stopped while the volumes took their names: those named are
            # whole, the last, which holds the directory, is not there, and
            # the next create says so rather than take them for a set.
            for name, data in now.items():
                self.assertEqual(data, new[name], run)
            if now:
                r = self.zarc("create", "--split", "256k", "s.zip", "data")
                self.assertEqual(r.returncode, 10, run)
                self.assertIn(b"s.z01", r.stderr)

        self.kill_loop(["create", "--split", "256k", "s.zip", "data"], reset, lambda: self.volumes("s"), check)
        reset()
        self.assertEqual(self.zarc("create", "--split", "256k", "s.zip", "data").returncode, 0)
        self.assertEqual(self.zarc("test", "-q", "s.zip").returncode, 0)

    def test_the_next_run_removes_only_what_stopped_runs_left(self):
        self.assertEqual(self.zarc("create", "a.zip", "small.txt").returncode, 0)
        ended = subprocess.Popen(["true"])
        ended.wait()
        stale = ".a.zip.zarc-%d-0badf00d.tmp" % ended.pid
        live = ".a.zip.zarc-%d-0000beef.tmp" % os.getpid()
        other = ".b.zip.zarc-%d-0badf00d.tmp" % ended.pid
        for name in (stale, live, other, ".a.zip.zarc-lock"):
            self.write(name, b"left")
        past = time.time() - 60
        for name in (stale, live, other):
            os.utime(os.path.join(self.tmp, name), (past, past))
        r = self.zarc("add", "a.zip", "new.txt")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.own_files("a.zip"), [live])
        self.assertTrue(os.path.exists(os.path.join(self.tmp, other)))
        self.assertIn(("leaves %s alone: its zarc (pid %d) still runs" % (live, os.getpid())).encode(), r.stderr)

    def test_a_changed_archive_keeps_its_permissions(self):
        self.assertEqual(self.zarc("create", "p.zip", "small.txt").returncode, 0)
        for mode in (0o600, 0o640, 0o644):
            os.chmod(os.path.join(self.tmp, "p.zip"), mode)
            self.assertEqual(self.zarc("add", "p.zip", "data/part0.txt").returncode, 0)
            self.assertEqual(os.stat(os.path.join(self.tmp, "p.zip")).st_mode & 0o777, mode)

    def wait_for_lock(self, archive, holder):
        lock = os.path.join(self.tmp, "." + archive + ".zarc-lock")
        for _ in range(400):
            if os.path.exists(lock) and self.read(lock).strip() == str(holder.pid).encode():
                return
            time.sleep(0.025)
        self.fail("the first run never took the lock")

    def test_a_second_writer_fails_at_once_or_waits(self):
        self.assertEqual(self.zarc("create", "a.zip", "data/part0.txt").returncode, 0)
        # The first run holds the lock while it reads the comment from its input.
        first = self.start("comment", "a.zip", stdin=subprocess.PIPE)
        self.wait_for_lock("a.zip", first)
        r = self.zarc("add", "a.zip", "small.txt")
        self.assertEqual(r.returncode, 75, r.stderr)
        self.assertIn(b"a.zip: is being changed by another zarc (pid %d)" % first.pid, r.stderr)
        r = self.zarc("add", "--wait=0.3", "a.zip", "small.txt")
        self.assertEqual(r.returncode, 75, r.stderr)
        waiting = self.start("add", "--wait", "a.zip", "small.txt")
        time.sleep(0.3)
        self.assertIsNone(waiting.poll())
        first.communicate(b"the first one's comment")
        self.assertEqual(first.returncode, 0)
        self.assertEqual(waiting.wait(timeout=60), 0, waiting.stderr.read())
        waiting.communicate()
        with zipfile.ZipFile(os.path.join(self.tmp, "a.zip")) as z:
            self.assertEqual(z.comment, b"the first one's comment")
            self.assertEqual(sorted(z.namelist()), ["data/part0.txt", "small.txt"])
        self.assertEqual(self.own_files("a.zip"), [])

    def test_two_adds_at_once_lose_nothing(self):
        self.assertEqual(self.zarc("create", "a.zip", "small.txt").returncode, 0)
        for wait in (["--wait"], []):
            shutil.copyfile(os.path.join(self.tmp, "a.zip"), os.path.join(self.tmp, "b.zip"))
            one = self.start("add", *wait, "-9", "b.zip", "new.txt")
            two = self.start("add", *wait, "b.zip", "data")
            one.communicate()
            two.communicate()
            with zipfile.ZipFile(os.path.join(self.tmp, "b.zip")) as z:
                self.assertIsNone(z.testzip())
                names = set(z.namelist())
            for p, name in ((one, "new.txt"), (two, "data/part3.txt")):
                # A run that says it added its files has them in the archive.
                self.assertIn(p.returncode, (0, 75) if not wait else (0,))
                self.assertEqual(name in names, p.returncode == 0, wait)


if __name__ == "__main__":
    ZARC = os.path.abspath(sys.argv.pop(1))
    unittest.main()
