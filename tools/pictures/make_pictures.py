#!/usr/bin/env python3
"""Draws the program's pictures: the keyboard shown in the main window
(data/vtr.bmp 220x110 and data/vtr_wide.bmp 440x180, 24-bit BMP) and the
program icon 145 (resources/icon/icon145.png, 32x32, and the C array that
builds it into the program, resources/icon/icon_data.inc).

The keyboard is a soft fabric keyboard seen from above: a padded body with a
stitched seam, four rows of rounded keys with their letters, and a wide space
key. Everything is drawn at three times the size and averaged down, so edges
come out smooth. Python standard library only; the output is the same on every
run, so the files only change when this script does.

Run from anywhere: python3 tools/pictures/make_pictures.py
"""

import os
import struct
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SS = 3  # supersampling factor

WHITE = (255, 255, 255)
FABRIC = (58, 84, 112)        # body: a dark denim blue
FABRIC_DARK = (44, 66, 90)    # the weave's darker threads
SEAM = (190, 208, 226)        # stitching
KEY = (226, 232, 238)         # key pads
KEY_SHADOW = (32, 48, 66)
KEY_TEXT = (40, 56, 76)
ACCENT = (236, 160, 64)       # the mode keys (Shift, Alt) are marked orange

# A 5x7 font for the key letters: each glyph is 7 rows of 5 bits.
FONT = {
    'A': "01110 10001 10001 11111 10001 10001 10001",
    'B': "11110 10001 10001 11110 10001 10001 11110",
    'C': "01110 10001 10000 10000 10000 10001 01110",
    'D': "11110 10001 10001 10001 10001 10001 11110",
    'E': "11111 10000 10000 11110 10000 10000 11111",
    'F': "11111 10000 10000 11110 10000 10000 10000",
    'G': "01110 10001 10000 10111 10001 10001 01111",
    'H': "10001 10001 10001 11111 10001 10001 10001",
    'I': "01110 00100 00100 00100 00100 00100 01110",
    'J': "00111 00010 00010 00010 00010 10010 01100",
    'K': "10001 10010 10100 11000 10100 10010 10001",
    'L': "10000 10000 10000 10000 10000 10000 11111",
    'M': "10001 11011 10101 10101 10001 10001 10001",
    'N': "10001 11001 10101 10011 10001 10001 10001",
    'O': "01110 10001 10001 10001 10001 10001 01110",
    'P': "11110 10001 10001 11110 10000 10000 10000",
    'Q': "01110 10001 10001 10001 10101 10010 01101",
    'R': "11110 10001 10001 11110 10100 10010 10001",
    'S': "01111 10000 10000 01110 00001 00001 11110",
    'T': "11111 00100 00100 00100 00100 00100 00100",
    'U': "10001 10001 10001 10001 10001 10001 01110",
    'V': "10001 10001 10001 10001 10001 01010 00100",
    'W': "10001 10001 10001 10101 10101 10101 01010",
    'X': "10001 10001 01010 00100 01010 10001 10001",
    'Y': "10001 10001 01010 00100 00100 00100 00100",
    'Z': "11111 00001 00010 00100 01000 10000 11111",
    '1': "00100 01100 00100 00100 00100 00100 01110",
    '2': "01110 10001 00001 00010 00100 01000 11111",
    '3': "11111 00010 00100 00010 00001 10001 01110",
    '4': "00010 00110 01010 10010 11111 00010 00010",
    '5': "11111 10000 11110 00001 00001 10001 01110",
    '6': "00110 01000 10000 11110 10001 10001 01110",
    '7': "11111 00001 00010 00100 01000 01000 01000",
    '8': "01110 10001 10001 01110 10001 10001 01110",
    '9': "01110 10001 10001 01111 00001 00010 01100",
    '0': "01110 10001 10011 10101 11001 10001 01110",
}


class Canvas:
    """An RGB picture drawn at SS times its final size."""

    def __init__(self, width, height, background):
        self.w, self.h = width * SS, height * SS
        self.px = [[background] * self.w for _ in range(self.h)]

    def rounded_rect(self, x0, y0, x1, y1, r, color):
        """Fills the rectangle [x0, x1) x [y0, y1) (final pixels) with corners
        of radius r."""
        x0, y0, x1, y1, r = (round(v * SS) for v in (x0, y0, x1, y1, r))
        for y in range(max(0, y0), min(self.h, y1)):
            row = self.px[y]
            for x in range(max(0, x0), min(self.w, x1)):
                cx = min(max(x + 0.5, x0 + r), x1 - r)
                cy = min(max(y + 0.5, y0 + r), y1 - r)
                dx, dy = x + 0.5 - cx, y + 0.5 - cy
                if dx * dx + dy * dy <= r * r:
                    row[x] = color

    def weave(self, x0, y0, x1, y1, r, color, step):
        """Darker threads every `step` pixels inside the rounded rectangle."""
        x0s, y0s, x1s, y1s, rs = (round(v * SS) for v in (x0, y0, x1, y1, r))
        for y in range(max(0, y0s), min(self.h, y1s)):
            for x in range(max(0, x0s), min(self.w, x1s)):
                cx = min(max(x + 0.5, x0s + rs), x1s - rs)
                cy = min(max(y + 0.5, y0s + rs), y1s - rs)
                dx, dy = x + 0.5 - cx, y + 0.5 - cy
                if dx * dx + dy * dy > rs * rs:
                    continue
                if ((x // SS) + (y // SS)) % step == 0:
                    self.px[y][x] = color

    def seam(self, x0, y0, x1, y1, r, color, dash):
        """A dashed stitch line along a rounded rectangle's outline."""
        x0, y0, x1, y1, r = (round(v * SS) for v in (x0, y0, x1, y1, r))
        thick = SS
        for y in range(max(0, y0), min(self.h, y1)):
            for x in range(max(0, x0), min(self.w, x1)):
                cx = min(max(x + 0.5, x0 + r), x1 - r)
                cy = min(max(y + 0.5, y0 + r), y1 - r)
                dx, dy = x + 0.5 - cx, y + 0.5 - cy
                d = (dx * dx + dy * dy) ** 0.5
                if r - thick <= d <= r:
                    along = x if (y - y0 < r + thick or y1 - y < r + thick) else y
                    if (along // (dash * SS)) % 2 == 0:
                        self.px[y][x] = color

    def glyph(self, ch, cx, cy, scale, color):
        """Draws a character of FONT centred on (cx, cy), `scale` final
        pixels per font dot."""
        rows = FONT.get(ch)
        if not rows:
            return
        rows = rows.split()
        dot = scale * SS
        left = round(cx * SS - 2.5 * dot)
        top = round(cy * SS - 3.5 * dot)
        for j, bits in enumerate(rows):
            for i, bit in enumerate(bits):
                if bit != '1':
                    continue
                for y in range(top + round(j * dot), top + round((j + 1) * dot)):
                    if 0 <= y < self.h:
                        for x in range(left + round(i * dot), left + round((i + 1) * dot)):
                            if 0 <= x < self.w:
                                self.px[y][x] = color

    def final(self):
        """Averages the SS x SS blocks: rows of (r, g, b), top row first."""
        out = []
        n = SS * SS
        for y in range(self.h // SS):
            row = []
            for x in range(self.w // SS):
                r = g = b = 0
                for yy in range(y * SS, y * SS + SS):
                    for xx in range(x * SS, x * SS + SS):
                        p = self.px[yy][xx]
                        r += p[0]
                        g += p[1]
                        b += p[2]
                row.append((r // n, g // n, b // n))
            out.append(row)
        return out


def fabric_panel(c, width, height, radius):
    """The textile panel every picture stands on: a shadowed rounded
    rectangle of woven fabric with a stitched seam inside its edge, filling
    c (width x height) less a margin. Returns the seam's inset from the
    margin, where the picture's own contents start."""
    m = max(2, width // 80)
    c.rounded_rect(m + 1, m + 2, width - m + 1, height - m + 2, radius, KEY_SHADOW)
    c.rounded_rect(m, m, width - m, height - m, radius, FABRIC)
    c.weave(m, m, width - m, height - m, radius, FABRIC_DARK, 4)
    inset = max(3, width // 60)
    c.seam(m + inset, m + inset, width - m - inset, height - m - inset, radius * 0.7, SEAM,
           max(2, width // 110))
    return inset


def keyboard(width, height, rows, canvas=Canvas):
    """The keyboard picture: the body fills the picture with a margin, the
    key rows share its height, the last row holds Shift, Space and Alt.
    Drawn on canvas(width, height, WHITE) and returned as its final()."""
    c = canvas(width, height, WHITE)
    inset = fabric_panel(c, width, height, height * 0.14)
    m = max(2, width // 80)

    pad = inset + max(4, width // 40)
    area_x0, area_x1 = m + pad, width - m - pad
    area_y0, area_y1 = m + pad, height - m - pad
    all_rows = rows + [["SHIFT", "SPACE", "ALT"]]
    n_rows = len(all_rows)
    pitch_y = (area_y1 - area_y0) / n_rows
    widest = max(len(r) for r in rows)
    pitch_x = (area_x1 - area_x0) / (widest + 0.5)
    gap = max(1.5, pitch_x * 0.14)
    key_h = pitch_y - gap
    key_r = min(key_h, pitch_x) * 0.3
    scale = max(0.6, min(key_h, pitch_x - gap) / 12.0)
    for j, row in enumerate(all_rows):
        y0 = area_y0 + j * pitch_y
        if j < len(rows):
            stagger = j * pitch_x * 0.25
            x = area_x0 + stagger + (widest - len(row)) * pitch_x * 0.5 - stagger * 0.5
            for ch in row:
                c.rounded_rect(x + 0.6, y0 + 0.8, x + pitch_x - gap + 0.6, y0 + key_h + 0.8,
                               key_r, KEY_SHADOW)
                c.rounded_rect(x, y0, x + pitch_x - gap, y0 + key_h, key_r, KEY)
                c.glyph(ch, x + (pitch_x - gap) / 2, y0 + key_h / 2, scale, KEY_TEXT)
                x += pitch_x
        else:
            # Bottom row: Shift, a long space key, Alt.
            side = pitch_x * 1.6
            spans = [(area_x0, area_x0 + side - gap, ACCENT),
                     (area_x0 + side, area_x1 - side - gap, KEY),
                     (area_x1 - side, area_x1 - gap, ACCENT)]
            for x0, x1, color in spans:
                c.rounded_rect(x0 + 0.6, y0 + 0.8, x1 + 0.6, y0 + key_h + 0.8, key_r, KEY_SHADOW)
                c.rounded_rect(x0, y0, x1, y0 + key_h, key_r, color)
    return c.final()


def write_bmp(path, pixels):
    """24-bit BMP, bottom-up, rows padded to 4 bytes."""
    h = len(pixels)
    w = len(pixels[0])
    stride = (w * 3 + 3) & ~3
    data = bytearray()
    for row in reversed(pixels):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += b"\0" * (stride - len(line))
        data += line
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


def png_rgba_bytes(pixels):
    """PNG of rows of (r, g, b, alpha) pixels."""
    h = len(pixels)
    w = len(pixels[0])
    raw = bytearray()
    for row in pixels:
        raw.append(0)
        for p in row:
            raw += bytes(p)

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def png_bytes(pixels):
    """RGBA PNG: white becomes transparent around the picture."""
    return png_rgba_bytes([[(r, g, b, 0 if (r, g, b) == WHITE else 255) for r, g, b in row]
                           for row in pixels])


def write_icon(png_path, inc_path, png):
    with open(png_path, "wb") as f:
        f.write(png)
    lines = ["// The program icon 145 (32x32 PNG), made by tools/pictures/make_pictures.py.",
             "// Do not edit: run the script again.",
             "const unsigned char kIcon145[%d] = {" % len(png)]
    for i in range(0, len(png), 16):
        lines.append("  " + ", ".join("0x%02x" % b for b in png[i:i + 16]) + ",")
    lines.append("};")
    with open(inc_path, "w") as f:
        f.write("\n".join(lines) + "\n")


def main():
    small_rows = [list("QWERTYUIOP"), list("ASDFGHJKL"), list("ZXCVBNM")]
    wide_rows = [list("1234567890"), list("QWERTYUIOP"), list("ASDFGHJKL"), list("ZXCVBNM")]
    data = os.path.join(ROOT, "data")
    write_bmp(os.path.join(data, "vtr.bmp"), keyboard(220, 110, small_rows))
    write_bmp(os.path.join(data, "vtr_wide.bmp"), keyboard(440, 180, wide_rows))
    icon = keyboard(32, 32, [list("QWE"), list("ASD")])
    icon_dir = os.path.join(ROOT, "resources", "icon")
    os.makedirs(icon_dir, exist_ok=True)
    write_icon(os.path.join(icon_dir, "icon145.png"), os.path.join(icon_dir, "icon_data.inc"),
               png_bytes(icon))


if __name__ == "__main__":
    main()
