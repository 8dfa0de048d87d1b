#!/usr/bin/env python3
"""Draws the pictures of the calibration dialog's three steps: the key to
press (Alt, equals, down arrow) highlighted on a small fragment of the fabric
keyboard, with its neighbours around it. Each comes in two sizes, for small
screens (160x90) and for wide ones (320x180), as 24-bit BMPs in data/:
altkey.bmp, equalskey.bmp, downarrowkey.bmp and their "_wide" variants.

The drawing style (fabric, weave, seam, key pads, 5x7 font) and the BMP writer
are the ones of make_pictures.py, so the step pictures match the keyboard in
the main window. Python standard library only; the output is the same on
every run.

Run from anywhere: python3 tools/pictures/make_calibration_pictures.py
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_pictures as mp  # noqa: E402

UP, DOWN, LEFT, RIGHT = "\u2191", "\u2193", "\u2190", "\u2192"

# The glyphs the calibration keys need besides letters and digits.
EXTRA_GLYPHS = {
    '=': "00000 00000 11111 00000 11111 00000 00000",
    UP: "00100 01110 10101 00100 00100 00100 00100",
    DOWN: "00100 00100 00100 00100 10101 01110 00100",
    LEFT: "00000 00100 01000 11111 01000 00100 00000",
    RIGHT: "00000 00100 00010 11111 00010 00100 00000",
}

HIGHLIGHT = mp.ACCENT
HIGHLIGHT_RING = (200, 60, 40)  # a red ring makes the key stand out further

# Each fragment: rows of keys (label, width in key units, highlighted), laid
# out left-aligned; an empty label is a blank key.
FRAGMENTS = {
    "altkey": [
        [("G", 1, False), ("H", 1, False), ("J", 1, False), ("K", 1, False), ("L", 1, False)],
        [("V", 1, False), ("B", 1, False), ("N", 1, False), ("M", 1, False), ("", 1, False)],
        [("", 3, False), ("ALT", 2, True)],
    ],
    "equalskey": [
        [("7", 1, False), ("8", 1, False), ("9", 1, False), ("0", 1, False), ("=", 1, True)],
        [("U", 1, False), ("I", 1, False), ("O", 1, False), ("P", 1, False), ("", 1, False)],
        [("J", 1, False), ("K", 1, False), ("L", 1, False), ("", 1, False), ("", 1, False)],
    ],
    "downarrowkey": [
        [("", 1, False), ("", 1, False), (UP, 1, False), ("", 1, False), ("", 1, False)],
        [("M", 1, False), (LEFT, 1, False), (DOWN, 1, True), (RIGHT, 1, False), ("", 1, False)],
        [("", 5, False)],
    ],
}

SIZES = {"": (160, 90), "_wide": (320, 180)}


def label(canvas, text, cx, cy, scale, color):
    """Draws text centred on (cx, cy) with the 5x7 font, one dot of spacing."""
    advance = 6 * scale
    x = cx - advance * (len(text) - 1) / 2
    for ch in text:
        canvas.glyph(ch, x, cy, scale, color)
        x += advance


def fragment(width, height, rows):
    """A piece of the keyboard's body filling the picture, with its keys."""
    c = mp.Canvas(width, height, mp.WHITE)
    m = max(2, width // 60)
    radius = height * 0.12
    c.rounded_rect(m + 1, m + 2, width - m + 1, height - m + 2, radius, mp.KEY_SHADOW)
    c.rounded_rect(m, m, width - m, height - m, radius, mp.FABRIC)
    c.weave(m, m, width - m, height - m, radius, mp.FABRIC_DARK, 4)
    inset = max(3, width // 50)
    c.seam(m + inset, m + inset, width - m - inset, height - m - inset, radius * 0.7, mp.SEAM,
           max(2, width // 80))

    pad = inset + max(4, width // 32)
    x0, x1 = m + pad, width - m - pad
    y0, y1 = m + pad, height - m - pad
    units = max(sum(w for _, w, _ in row) for row in rows)
    pitch_x = (x1 - x0) / units
    pitch_y = (y1 - y0) / len(rows)
    gap = max(1.5, pitch_x * 0.12)
    key_w1, key_h = pitch_x - gap, pitch_y - gap
    key_r = min(key_w1, key_h) * 0.3
    scale = max(0.6, min(key_w1, key_h) / 13.0)
    ring = max(1.0, width / 120)
    for j, row in enumerate(rows):
        top = y0 + j * pitch_y
        x = x0
        for text, units_wide, lit in row:
            right = x + units_wide * pitch_x - gap
            if lit:
                c.rounded_rect(x - ring, top - ring, right + ring, top + key_h + ring,
                               key_r + ring, HIGHLIGHT_RING)
            else:
                c.rounded_rect(x + 0.6, top + 0.8, right + 0.6, top + key_h + 0.8, key_r,
                               mp.KEY_SHADOW)
            c.rounded_rect(x, top, right, top + key_h, key_r, HIGHLIGHT if lit else mp.KEY)
            if text:
                s = scale if len(text) == 1 else scale * 0.8
                label(c, text, (x + right) / 2, top + key_h / 2, s, mp.KEY_TEXT)
            x += units_wide * pitch_x
    return c.final()


def main():
    mp.FONT.update(EXTRA_GLYPHS)
    data = os.path.join(mp.ROOT, "data")
    for name, rows in FRAGMENTS.items():
        for suffix, (w, h) in SIZES.items():
            mp.write_bmp(os.path.join(data, name + suffix + ".bmp"), fragment(w, h, rows))


if __name__ == "__main__":
    main()
