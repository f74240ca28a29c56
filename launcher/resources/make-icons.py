#!/usr/bin/env python3
"""Draws the programs' icons: one 32x32 true-colour image with alpha each.

Run once; the .ico files are kept in the repository:
  launcher/resources/make-icons.py
writes launcher/resources/qzstart.ico and monitor/resources/qzbackup.ico.
"""
import math
import pathlib
import struct

SIZE = 32
SAMPLES = 4  # per axis, for smooth edges


def coverage(inside, x, y):
    """The share of pixel (x, y) for which inside(px, py) holds."""
    hits = 0
    for i in range(SAMPLES):
        for j in range(SAMPLES):
            if inside(x + (i + 0.5) / SAMPLES, y + (j + 0.5) / SAMPLES):
                hits += 1
    return hits / (SAMPLES * SAMPLES)


def rounded_square(px, py, margin=1.0, radius=7.0):
    lo, hi = margin + radius, SIZE - margin - radius
    dx = max(lo - px, 0, px - hi)
    dy = max(lo - py, 0, py - hi)
    return dx * dx + dy * dy <= radius * radius


def letter_q(px, py):
    """A ring with a tail to the lower right."""
    cx, cy = 15.5, 14.5
    r = math.hypot(px - cx, py - cy)
    if 6.0 <= r <= 10.5:
        return True
    # The tail: a thick stroke from (18, 18) to (26, 26).
    t = ((px - 18) + (py - 18)) / 2
    if 0 <= t <= 8:
        return abs((px - 18) - (py - 18)) <= 3.2
    return False


def pixels(background):
    """Rows top to bottom of (b, g, r, a): the square in the background colour,
    the letter in white on it, transparent around it."""
    rows = []
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            square = coverage(rounded_square, x, y)
            mark = coverage(lambda px, py: rounded_square(px, py) and letter_q(px, py), x, y)
            white = mark / square if square else 0
            r, g, b = (round(c + (255 - c) * white) for c in background)
            row.append((b, g, r, round(255 * square)))
        rows.append(row)
    return rows


def icon(background):
    rows = pixels(background)
    colour = b"".join(bytes(p) for row in reversed(rows) for p in row)
    # The AND mask: 1 where the pixel is transparent, rows padded to 32 bits.
    mask = b""
    for row in reversed(rows):
        bits = 0
        for p in row:
            bits = (bits << 1) | (1 if p[3] == 0 else 0)
        mask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 32, 0,
                         len(colour) + len(mask), 0, 0, 0, 0)
    image = header + colour + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def main():
    here = pathlib.Path(__file__).resolve().parent
    (here / "qzstart.ico").write_bytes(icon((0x1F, 0x6F, 0x8B)))  # teal, as r, g, b
    (here.parent.parent / "monitor" / "resources" / "qzbackup.ico").write_bytes(
        icon((0xB5, 0x6A, 0x12)))  # amber


if __name__ == "__main__":
    main()
