#!/usr/bin/env python3
"""Writes TandrelConfigurationController.ico: a base-station mast sending radio
waves, as two 16-colour images (32x32 and 16x16) with AND masks.

The images are 4-bit DIBs on the standard VGA palette, the form every Windows
shell draws without a colour-depth conversion. The output is a pure function of
this file, so the committed .ico can be checked against a fresh run.

Usage: make_icon.py [OUTPUT.ico]   (default: beside this script)
"""
import math
import os
import struct
import sys

# The 16-colour VGA palette in the order Windows uses, as (R, G, B).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, MAROON, GREEN, GRAY, RED, BLUE, NAVY = 0, 1, 2, 8, 9, 12, 4

ART_COLOURS = {"K": BLACK, "G": GRAY, "R": RED, "B": BLUE, "N": NAVY, "g": GREEN}
SMALL_ART = [
    ".N............N.",
    "N..............N",
    "N..B...RR...B..N",
    "N.B....KK....B.N",
    "N.B....KK....B.N",
    "N..B...KK...B..N",
    ".N....KKKK....N.",
    "......K..K......",
    ".....KGGGGK.....",
    ".....K.GG.K.....",
    "....K.G..G.K....",
    "....KGGGGGGK....",
    "...K.G....G.K...",
    "...KG......GK...",
    "..KGGGGGGGGGGK..",
    "gggggggggggggggg",
]


class Canvas:
    """A size x size grid of palette indices; None is transparent."""

    def __init__(self, size):
        self.size = size
        self.px = [[None] * size for _ in range(size)]

    def plot(self, x, y, colour):
        if 0 <= x < self.size and 0 <= y < self.size:
            self.px[y][x] = colour

    def line(self, x0, y0, x1, y1, colour):
        # Bresenham: exact integer end points, so both images stay crisp.
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
        err = dx + dy
        while True:
            self.plot(x0, y0, colour)
            if x0 == x1 and y0 == y1:
                return
            e2 = 2 * err
            if e2 >= dy:
                err += dy
                x0 += sx
            if e2 <= dx:
                err += dx
                y0 += sy

    def arc(self, cx, cy, radius, centre_deg, half_span_deg, colour):
        steps = int(radius * 8)
        for i in range(steps + 1):
            a = math.radians(centre_deg - half_span_deg + 2 * half_span_deg * i / steps)
            self.plot(int(round(cx + radius * math.cos(a))),
                      int(round(cy - radius * math.sin(a))), colour)


def mast(size):
    """Draws the artwork for one image size (32 or 16)."""
    c = Canvas(size)
    if size == 32:
        top, base, half_base = 12, 30, 8
        left_top, right_top = 15, 16
        # Lattice: legs, cross bars and the diagonals between them.
        c.line(left_top, top, left_top - half_base + 1, base, BLACK)
        c.line(right_top, top, right_top + half_base - 1, base, BLACK)
        bars = [18, 24, 29]
        prev = top
        for y in bars:
            lx = left_top - (y - top) * (half_base - 1) // (base - top)
            rx = right_top + (y - top) * (half_base - 1) // (base - top)
            c.line(lx + 1, y, rx - 1, y, GRAY)
            plx = left_top - (prev - top) * (half_base - 1) // (base - top)
            prx = right_top + (prev - top) * (half_base - 1) // (base - top)
            c.line(plx + 1, prev + 1, rx - 1, y - 1, GRAY)
            c.line(prx - 1, prev + 1, lx + 1, y - 1, GRAY)
            prev = y
        c.line(4, 31, 27, 31, GREEN)
        # Antenna above the lattice with its warning light.
        for y in range(8, top):
            c.plot(15, y, BLACK)
            c.plot(16, y, BLACK)
        for x in (15, 16):
            for y in (6, 7):
                c.plot(x, y, RED)
        cx, cy = 15.5, 6.5
        for radius, span, colour in ((5, 42, BLUE), (9, 38, BLUE), (13, 30, NAVY)):
            c.arc(cx, cy, radius, 0, span, colour)
            c.arc(cx, cy, radius, 180, span, colour)
    else:
        # At 16 pixels lines drawn from geometry blur into blobs; pixel art reads better.
        for y, row in enumerate(SMALL_ART):
            for x, ch in enumerate(row):
                if ch != ".":
                    c.plot(x, y, ART_COLOURS[ch])
    return c


def dib(canvas):
    """One icon image: BITMAPINFOHEADER, palette, XOR bits, AND mask (bottom-up)."""
    n = canvas.size
    xor_stride = ((n * 4 + 31) // 32) * 4
    and_stride = ((n + 31) // 32) * 4
    xor_rows, and_rows = [], []
    for row in reversed(canvas.px):
        xor = bytearray(xor_stride)
        mask = bytearray(and_stride)
        for x, colour in enumerate(row):
            if colour is None:
                mask[x // 8] |= 0x80 >> (x % 8)   # transparent: screen shows through
                colour = 0                        # and the XOR pixel must be black
            xor[x // 2] |= colour << (4 if x % 2 == 0 else 0)
        xor_rows.append(bytes(xor))
        and_rows.append(bytes(mask))
    bits = b"".join(xor_rows) + b"".join(and_rows)
    # Icon DIBs give twice the height: XOR image plus AND mask.
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 4, 0, len(bits), 0, 0, 0, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + bits


def ico(sizes):
    images = [dib(mast(n)) for n in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n, n, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    path = argv[1] if len(argv) > 1 else os.path.join(here, "TandrelConfigurationController.ico")
    with open(path, "wb") as f:
        f.write(ico([32, 16]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
