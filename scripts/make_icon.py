#!/usr/bin/env python3
"""Draws the repair tool's icon: one 32 x 32 image, 8 bits per pixel, written as
an .ico file (a wrench over a disc, in a 256-colour palette of our own)."""
import math
import struct
import sys

SIZE = 32


def palette():
    colours = [(0, 0, 0)] * 256
    colours[1] = (40, 80, 160)     # disc
    colours[2] = (90, 140, 220)    # disc highlight
    colours[3] = (235, 235, 240)   # hole
    colours[4] = (110, 110, 120)   # wrench shadow
    colours[5] = (200, 200, 210)   # wrench
    return colours


def pixel(x, y):
    cx, cy = x - 15.5, y - 15.5
    r = math.hypot(cx, cy)
    # Wrench: a bar from lower left to upper right with a jaw at the top.
    d = abs(cx + cy) / math.sqrt(2)
    along = (cx - cy) / math.sqrt(2)
    if d < 2.6 and -13 < along < 9:
        return 5 if d < 1.6 else 4
    jx, jy = cx - 7.5, cy + 7.5
    if 3 < math.hypot(jx, jy) < 6 and not (jx < 2 and jy > -2 and jx - jy < 3):
        return 5
    if r < 3.5:
        return 3
    if r < 15:
        return 2 if cx < -4 and cy < -4 else 1
    return None


def main(path):
    rows = []
    mask_rows = []
    for y in range(SIZE - 1, -1, -1):  # bottom-up
        row = bytearray()
        mask = 0
        for x in range(SIZE):
            p = pixel(x, y)
            row.append(0 if p is None else p)
            mask = (mask << 1) | (1 if p is None else 0)
        rows.append(bytes(row))
        mask_rows.append(struct.pack(">I", mask))
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 8, 0, SIZE * SIZE + SIZE * 4, 0, 0, 256, 0)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette())
    image = header + colours + b"".join(rows) + b"".join(mask_rows)
    icon = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 8, len(image), 22) + image
    with open(path, "wb") as f:
        f.write(icon)


if __name__ == "__main__":
    main(sys.argv[1])
