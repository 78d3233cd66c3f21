#!/usr/bin/env python3
"""zarc_prompt.py WINE ZARC ARCHIVE WRONG RIGHT: answers the Windows zarc's
password prompt on a pseudo-terminal, as a user at a console would: the
wrong password, then the right one. Wine's console draws on the terminal
with cursor movements (a blank is a move, not a space), so what is seen is
compared with escapes and blanks left out. Exits 0 when the prompt came
twice with "wrong password" between, neither password was shown, and zarc
ended with status 0."""
import os
import pty
import re
import select
import sys
import time

wine, zarc, archive, wrong, right = sys.argv[1:6]


def clean(b):
    return re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]|\s", b"", b)


pid, fd = pty.fork()
if pid == 0:
    os.execvp(wine, [wine, zarc, "test", archive])
seen = b""


def wait_for(token, timeout=60, times=1):
    global seen
    end = time.time() + timeout
    while time.time() < end:
        if select.select([fd], [], [], 0.2)[0]:
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                chunk = b""
            if not chunk:
                break
            seen += chunk
        if clean(seen).count(clean(token.encode())) >= times:
            return True
    return False


def fail(why):
    print(f"FAILED: {why}; the terminal showed {clean(seen)!r}")
    try:
        os.kill(pid, 9)
    except OSError:
        pass
    sys.exit(1)


if not wait_for("password:"):
    fail("no prompt")
# Wine's console takes the terminal over a moment after it has drawn the
# prompt; a user's typing comes later than that anyway.
time.sleep(2)
# The console ends a line with a carriage return, as Enter sends it.
os.write(fd, wrong.encode() + b"\r")
if not wait_for("wrong password") or not wait_for("password:", times=2):
    fail("a wrong password was not asked for again")
time.sleep(2)
os.write(fd, right.encode() + b"\r")
if not wait_for("1 file tested, 0 failed"):
    fail("the right password was not taken")
wait_for("\0", 2)  # the rest of the output, until the end
_, status = os.waitpid(pid, 0)
if os.waitstatus_to_exitcode(status) != 0:
    fail(f"exit status {os.waitstatus_to_exitcode(status)}")
for secret in (wrong, right):
    if clean(secret.encode()) in clean(seen):
        fail(f"{secret!r} was shown")
print("prompt answered: wrong then right, nothing shown")
