#!/usr/bin/env python3
"""Draws the program icon: one 16x16, 32-bit image (a teal tile with a white down arrow)."""
import struct
import sys

SIZE = 16


def pixel(x, y):
    # Tile with rounded corners.
    corner = (x in (0, 15) and y in (0, 15))
    if corner:
        return (0, 0, 0, 0)
    # Down arrow: a stem and a head.
    stem = 6 <= x <= 9 and 3 <= y <= 8
    head = 9 <= y <= 12 and abs(x - 7.5) <= (12.5 - y) + 0.5
    if stem or head:
        return (255, 255, 255, 255)
    if y == 14 and 3 <= x <= 12:  # the river line under the arrow
        return (255, 255, 255, 255)
    shade = 150 + 4 * y
    return (shade, 120, 20, 255)  # BGRA: teal-blue


def main(path):
    rows = []
    for y in reversed(range(SIZE)):  # bottom-up DIB
        rows.append(b"".join(bytes(pixel(x, y)) for x in range(SIZE)))
    xor = b"".join(rows)
    mask_row = 4  # 16 bits padded to 32
    and_mask = b"".join(
        bytes(
            int("".join("1" if pixel(x, y)[3] == 0 else "0" for x in range(8 * b, 8 * b + 8)), 2)
            if b < 2 else 0
            for b in range(mask_row)
        )
        for y in reversed(range(SIZE))
    )
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    image = header + xor + and_mask
    ico = struct.pack("<HHH", 0, 1, 1)
    ico += struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    ico += image
    with open(path, "wb") as f:
        f.write(ico)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/app.ico")
