#!/usr/bin/env python3
"""Writes the seeds of the ui fuzzers into fuzz/corpus/form_description/ and
fuzz/corpus/icon/ (run once; the seeds are committed)."""
import os
import shutil
import struct

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.join(here, "..", "..")
corpus = os.path.join(here, "..", "corpus")


def save(folder, name, data):
    os.makedirs(os.path.join(corpus, folder), exist_ok=True)
    mode = "w" if isinstance(data, str) else "wb"
    with open(os.path.join(corpus, folder, name), mode) as f:
        f.write(data)


def icon(width, height, bits, mask):
    """One image: ICONDIR, ICONDIRENTRY, BITMAPINFOHEADER, colour rows, AND rows."""
    row = width * bits // 8
    row += -row % 4
    mask_row = ((width + 31) // 32) * 4
    pixels = bytes((x * 37 + y * 11 + c * 5) & 0xFF for y in range(height) for x in range(row) for c in range(1))
    masks = bytes(0x55 if (y & 1) else 0xAA for y in range(height) for _ in range(mask_row)) if mask else b""
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, bits, 0, len(pixels) + len(masks), 0, 0, 0, 0)
    image = header + pixels + masks
    entry = struct.pack("<BBBBHHII", width, height, 0, 0, 1, bits, len(image), 6 + 16)
    return struct.pack("<HHH", 0, 1, 1) + entry + image


save("icon", "rgba-4x4.ico", icon(4, 4, 32, True))
save("icon", "rgba-5x3-no-mask.ico", icon(5, 3, 32, False))
save("icon", "rgb-3x3-mask.ico", icon(3, 3, 24, True))
shutil.copy(os.path.join(root, "resources", "pictures", "check.ico"), os.path.join(corpus, "icon", "check.ico"))

save("form_description", "form1.dfm", open(os.path.join(root, "resources", "Form1.dfm"), encoding="utf-8").read())
save("form_description", "small.dfm", """object Form1: TForm1
  Caption = 'Ровенд' + ' настройка'
  ClientWidth = 354
  ClientHeight = -185
  Font.Style = [fsBold, fsItalic]
  OnActivate = FormActivate
  object Button1: TButton
    Left = 8
    Caption = 'It''s'
    OnClick = Button1Click
  end
  object Timer1: TTimer
    Interval = 1500
    OnTimer = Timer1Timer
  end
end
""")
with open(os.path.join(corpus, "icon", "rgba-4x4.ico"), "rb") as f:
    ico = f.read()
picture = bytes([len("TIcon")]) + b"TIcon" + ico
save("form_description", "image.dfm", "object Form1: TForm1\n  object Image1: TImage\n    Picture.Data = {\n      "
     + picture.hex().upper() + "}\n  end\nend\n")
