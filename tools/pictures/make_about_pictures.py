#!/usr/bin/env python3
"""Draws the logo of the About More page: data/marlix.bmp (200x90, for narrow
screens) and data/marlix_wide.bmp (400x160), 24-bit BMP.

The logo is a fabric label like the keyboard's body: a round badge of woven
threads, warp and weft passing over and under each other, beside the name
VANTREL in light letters with a stitched line beneath it. Like the keyboard
pictures it is a shape on a white ground, so that it reads on a light and a
dark page alike (the program draws the white around it in the page's
colour). It reuses the canvas, the letter font and the BMP
writer of make_pictures.py, so both pictures share one look. Python standard
library only; the output is the same on every run.

Run from anywhere: python3 tools/pictures/make_about_pictures.py
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from make_pictures import (ACCENT, FABRIC_DARK, KEY, ROOT, SEAM, SS,  # noqa: E402
                           WHITE, Canvas, fabric_panel, write_bmp)

WARP = (92, 124, 160)   # threads running down
WEFT = (236, 160, 64)   # threads running across, the orange of the mode keys


def badge(c, cx, cy, radius, threads):
    """A disc of `threads` warp and weft threads woven one over, one under,
    ringed by a darker fabric border with a stitched seam."""
    c.rounded_rect(cx - radius, cy - radius, cx + radius, cy + radius, radius, FABRIC_DARK)
    inner = radius * 0.78
    pitch = 2 * inner / threads
    r2 = (inner * SS) ** 2
    x0s, y0s = round((cx - inner) * SS), round((cy - inner) * SS)
    size = round(2 * inner * SS)
    for y in range(y0s, y0s + size):
        for x in range(x0s, x0s + size):
            dx, dy = x + 0.5 - cx * SS, y + 0.5 - cy * SS
            if dx * dx + dy * dy > r2:
                continue
            col = int((x - x0s) / (pitch * SS))
            row = int((y - y0s) / (pitch * SS))
            # Inside a cell the thread on top alternates like a plain weave;
            # a thin dark gap separates neighbouring threads.
            fx = (x - x0s) / (pitch * SS) - col
            fy = (y - y0s) / (pitch * SS) - row
            warp_on_top = (col + row) % 2 == 0
            if warp_on_top:
                color = FABRIC_DARK if fx < 0.12 or fx > 0.88 else WARP
            else:
                color = FABRIC_DARK if fy < 0.12 or fy > 0.88 else WEFT
            c.px[y][x] = color
    c.seam(cx - radius * 0.9, cy - radius * 0.9, cx + radius * 0.9, cy + radius * 0.9,
           radius * 0.9, SEAM, max(2, round(radius / 8)))


def logo(width, height):
    c = Canvas(width, height, WHITE)
    m = max(2, width // 80)
    corner = height * 0.2
    inset = fabric_panel(c, width, height, corner)
    radius = height * 0.3
    cx, cy = height * 0.5, height * 0.5
    badge(c, cx, cy, radius, 6)
    word = "VANTREL"
    left = height * 0.9
    room = width - left - height * 0.25
    pitch = room / len(word)
    scale = min(pitch * 0.8 / 5, height * 0.3 / 7)
    for i, ch in enumerate(word):
        c.glyph(ch, left + pitch * (i + 0.5), cy - height * 0.06, scale, KEY)
    line_y = cy + scale * 3.5 + height * 0.06
    dash = max(2, round(pitch / 4))
    x = left + pitch * 0.1
    while x < left + room - pitch * 0.1:
        c.rounded_rect(x, line_y, min(x + dash, left + room), line_y + max(1.5, height / 60), 0,
                       ACCENT)
        x += dash * 2
    return c.final()


def main():
    data = os.path.join(ROOT, "data")
    write_bmp(os.path.join(data, "marlix.bmp"), logo(200, 90))
    write_bmp(os.path.join(data, "marlix_wide.bmp"), logo(400, 160))


if __name__ == "__main__":
    main()
