#!/usr/bin/env python3
"""Draws the program's icon for the desktop's icon theme: the keyboard of
the program icon (tools/pictures/make_pictures.py) as PNGs of 16 to 256
pixels and as a scalable SVG, into packaging/desktop/icons/:

  SIZE/org.vantrel.Vantrel.png   for SIZE in 16 22 24 32 48 64 128 256
  org.vantrel.Vantrel.svg        the 256-pixel drawing as vector shapes

Each PNG is drawn by the same code as the program icon, once on white and
once on black, so that the antialiased edges get their true transparency.
The SVG repeats the 256-pixel drawing's shapes. Python standard library only;
the output is the same on every run.

Run from anywhere: python3 tools/pictures/make_desktop_icons.py
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_pictures as pictures  # noqa: E402

ROOT = pictures.ROOT
APP_ID = "org.vantrel.Vantrel"
SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
ROWS = [list("QWE"), list("ASD")]
BLACK = (0, 0, 0)


def rgba_icon(size):
    """Rows of (r, g, b, a): the picture over white and over black tells
    each pixel's coverage and its own colour."""
    on_white = pictures.keyboard(size, size, ROWS)
    on_black = pictures.keyboard(size, size, ROWS,
                                 canvas=lambda w, h, _bg: pictures.Canvas(w, h, BLACK))
    out = []
    for row_w, row_b in zip(on_white, on_black):
        row = []
        for pw, pb in zip(row_w, row_b):
            alpha = 255 - round(sum(w - b for w, b in zip(pw, pb)) / 3)
            alpha = max(0, min(255, alpha))
            if alpha == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(min(255, round(b * 255 / alpha)) for b in pb) + (alpha,))
        out.append(row)
    return out


def hex_color(color):
    return "#%02x%02x%02x" % color


class SvgCanvas:
    """The drawing calls of make_pictures.Canvas, written as SVG shapes in
    final pixels. The white background is left transparent."""

    def __init__(self, width, height, _background):
        self.w, self.h = width, height
        self.parts = []
        self.clips = 0

    def rounded_rect(self, x0, y0, x1, y1, r, color):
        r = min(r, (x1 - x0) / 2, (y1 - y0) / 2)
        self.parts.append('<rect x="%g" y="%g" width="%g" height="%g" rx="%g" fill="%s"/>' % (
            round(x0, 3), round(y0, 3), round(x1 - x0, 3), round(y1 - y0, 3), round(r, 3),
            hex_color(color)))

    def weave(self, x0, y0, x1, y1, r, color, step):
        # The darker threads: one-pixel diagonals x + y = k * step, inside
        # the body's outline.
        self.clips += 1
        clip = "weave%d" % self.clips
        self.parts.append('<clipPath id="%s"><rect x="%g" y="%g" width="%g" height="%g" rx="%g"/>'
                          '</clipPath>' % (clip, x0, y0, x1 - x0, y1 - y0, r))
        lines = []
        for k in range(0, self.w + self.h + step, step):
            # The pixels with x + y = k form a staircase one pixel wide.
            lines.append("M%d %dL%d %d" % (k, 0, k - self.h, self.h))
        self.parts.append('<path clip-path="url(#%s)" d="%s" stroke="%s" stroke-width="0.71" '
                          'transform="translate(0.5 0.5)"/>' % (clip, " ".join(lines),
                                                                  hex_color(color)))

    def seam(self, x0, y0, x1, y1, r, color, dash):
        self.parts.append('<rect x="%g" y="%g" width="%g" height="%g" rx="%g" fill="none" '
                          'stroke="%s" stroke-width="1" stroke-dasharray="%g %g"/>' % (
                              round(x0 + 0.5, 3), round(y0 + 0.5, 3), round(x1 - x0 - 1, 3),
                              round(y1 - y0 - 1, 3), round(max(0, r - 0.5), 3), hex_color(color),
                              dash, dash))

    def glyph(self, ch, cx, cy, scale, color):
        rows = pictures.FONT.get(ch)
        if not rows:
            return
        left, top = cx - 2.5 * scale, cy - 3.5 * scale
        d = []
        for j, bits in enumerate(rows.split()):
            for i, bit in enumerate(bits):
                if bit == '1':
                    d.append("M%g %gh%gv%gh%gz" % (round(left + i * scale, 3),
                                                   round(top + j * scale, 3),
                                                   round(scale, 3), round(scale, 3),
                                                   round(-scale, 3)))
        self.parts.append('<path d="%s" fill="%s" shape-rendering="crispEdges"/>' % (
            "".join(d), hex_color(color)))

    def final(self):
        return ('<?xml version="1.0" encoding="UTF-8"?>\n'
                '<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" '
                'viewBox="0 0 %d %d">\n  %s\n</svg>\n' % (self.w, self.h, self.w, self.h,
                                                      "\n  ".join(self.parts)))


def main():
    out = os.path.join(ROOT, "packaging", "desktop", "icons")
    for size in SIZES:
        folder = os.path.join(out, str(size))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, APP_ID + ".png"), "wb") as f:
            f.write(pictures.png_rgba_bytes(rgba_icon(size)))
    with open(os.path.join(out, APP_ID + ".svg"), "w") as f:
        f.write(pictures.keyboard(256, 256, ROWS, canvas=SvgCanvas))


if __name__ == "__main__":
    main()
