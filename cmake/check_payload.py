#!/usr/bin/env python3
"""Checks an administrator's payload folder before it is built in.

    check_payload.py FOLDER

Names every missing file at once, and every line of url.txt that the
program would not put into the Trusted sites zone as the host it seems to
be. Prints nothing and ends with 0 when all is well; else one line per fault
on standard error and status 1.
"""
import sys
from pathlib import Path

FILES = ("capicom.dll", "capicom.inf", "capicom2.msi", "casert.sst", "certmgr.exe", "rootsert.sst", "url.txt")
# What the program reads of a line, and what it keeps of the list.
MAX_HOST = 80
MAX_LIST = 1 << 20
HOST_CHARACTERS = set("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-.\\")


def shown(raw):
    """The line as a person would read it: UTF-8 where it is, else the
    Russian ANSI code page the list is usually written in."""
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        return raw.decode("cp1251", errors="replace")


def ascii_form(text):
    try:
        return text.encode("idna").decode("ascii")
    except UnicodeError:
        return None


def line_fault(raw):
    """Why the program would not take the line as a host, or None."""
    text = shown(raw)
    if not raw.isascii():
        form = ascii_form(text)
        hint = f" {form}" if form else ""
        return f"not ASCII; the zone map needs the ASCII form of the name{hint}"
    if text.startswith(("#", ";", "//")):
        return "a comment; the list holds host names only"
    if "://" in text or "/" in text:
        return "a URL; write the host name alone"
    if " " in text or "\t" in text:
        return "a blank inside the name"
    if len(text) > MAX_HOST:
        return f"longer than {MAX_HOST} characters"
    bad = sorted(set(text) - HOST_CHARACTERS)
    if bad:
        return "holds " + " ".join(repr(c) for c in bad) + ", which no host name holds"
    if text.startswith("\\") or text.endswith("\\") or "\\\\" in text:
        return "an empty name beside a backslash"
    return None


def check_hosts(path):
    data = path.read_bytes()
    if len(data) > MAX_LIST:
        return [f"{path}: larger than {MAX_LIST} bytes: not a host list"]
    if data.startswith(b"\xef\xbb\xbf"):
        data = data[3:]
    faults = []
    lines = data.split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()  # a list ending in a line end has no empty line after it
    for number, raw in enumerate(lines, 1):
        raw = raw.removesuffix(b"\r").strip(b" \t")
        if not raw:
            continue  # the program passes over empty lines
        fault = line_fault(raw)
        if fault:
            faults.append(f"{path}:{number}: {shown(raw)!r}: {fault}")
    return faults


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    folder = Path(sys.argv[1])
    missing = [name for name in FILES if not (folder / name).is_file()]
    faults = []
    if missing:
        faults.append(f"{folder} lacks " + ", ".join(missing))
    if "url.txt" not in missing:
        faults += check_hosts(folder / "url.txt")
    for fault in faults:
        print(fault, file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
