#!/usr/bin/env python3
"""Writes the pictures into the window description.

Each image control listed in PICTURES gets its Picture.Data block rewritten
from a picture file: one length byte, the class name, then the file's bytes.
Run after changing a picture; ./test.sh checks that the description and the
files agree.
"""
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
PICTURES = {
    "Image1": ("TIcon", "pictures/check.ico"),
    "Image2": ("TIcon", "pictures/check.ico"),
    "Image3": ("TIcon", "pictures/check.ico"),
    "Image4": ("TGIFPicture", "pictures/spinner.gif"),
    "Image5": ("TGIFPicture", "pictures/banner.gif"),
}
LINE = 64  # hexadecimal digits per line


def stored(cls, path):
    with open(os.path.join(HERE, path), "rb") as f:
        data = f.read()
    return bytes([len(cls)]) + cls.encode("ascii") + data


def block(data, indent):
    hexed = data.hex().upper()
    lines = [hexed[i:i + LINE] for i in range(0, len(hexed), LINE)]
    pad = " " * (indent + 2)
    return "{\n" + "\n".join(pad + l for l in lines) + "}"


def main():
    path = os.path.join(HERE, sys.argv[1] if len(sys.argv) > 1 else "Form1.dfm")
    with open(path, encoding="utf-8") as f:
        text = f.read()
    for name, (cls, file) in PICTURES.items():
        pattern = re.compile(r"(object %s: TImage\n(?:(?!\n\s*end\n).)*?\n(\s*)Picture\.Data = )\{[^}]*\}" % name, re.S)
        match = pattern.search(text)
        if not match:
            sys.exit("%s has no Picture.Data in %s" % (name, path))
        indent = len(match.group(2))
        text = text[:match.start()] + match.group(1) + block(stored(cls, file), indent) + text[match.end():]
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


if __name__ == "__main__":
    main()
