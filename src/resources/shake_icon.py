#!/usr/bin/env python3
"""Draws shake.ico, the toolbar button's picture: a phone with motion lines on either side.

One 32x32 picture in three colour depths (4-bit, 8-bit and 32-bit with alpha).
    shake_icon.py [OUTPUT]      (default: shake.ico beside this script)
"""
import os
import struct
import sys

SIZE = 32
CLEAR, OUTLINE, BODY, SCREEN, MOTION = range(5)
# Colours as (red, green, blue), and the nearest entry of the standard 16-colour palette.
COLOURS = {OUTLINE: (40, 40, 40), BODY: (224, 224, 224), SCREEN: (40, 120, 220),
           MOTION: (240, 120, 0)}
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
VGA_INDEX = {CLEAR: 0, OUTLINE: 0, BODY: 7, SCREEN: 12, MOTION: 9}


def pixel(x, y):
    """The picture, top row first."""
    left, right, top, bottom = 10, 21, 3, 28
    if left <= x <= right and top <= y <= bottom:
        if (x in (left, right)) and (y in (top, bottom)):
            return CLEAR  # rounded corners
        if x in (left, right) or y in (top, bottom):
            return OUTLINE
        if 12 <= x <= 19 and 7 <= y <= 22:
            return SCREEN
        if (14 <= x <= 17 and y == 5) or (15 <= x <= 16 and 25 <= y <= 26):
            return OUTLINE  # earpiece and button
        return BODY
    for near, far in ((7, 3), (24, 28)):
        if (x in (near, near + 1) and 11 <= y <= 20) or (x in (far, far + 1) and 13 <= y <= 18):
            return MOTION
    return CLEAR


def rows():
    """Bitmap rows, bottom row first as the format stores them."""
    return [[pixel(x, y) for x in range(SIZE)] for y in reversed(range(SIZE))]


def pad(data):
    return data + b"\0" * (-len(data) % 4)


def pack_bits(values, bits):
    out, acc, used = bytearray(), 0, 0
    for value in values:
        acc, used = (acc << bits) | value, used + bits
        if used == 8:
            out.append(acc)
            acc, used = 0, 0
    return bytes(out)


def image(bits):
    if bits == 4:
        palette = VGA
        index = VGA_INDEX
    elif bits == 8:
        named = [COLOURS[c] for c in (OUTLINE, BODY, SCREEN, MOTION)]
        palette = VGA + named + [(0, 0, 0)] * (256 - 16 - len(named))
        index = {CLEAR: 0, OUTLINE: 16, BODY: 17, SCREEN: 18, MOTION: 19}
    else:
        palette, index = [], None
    colour = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    xor = b""
    for row in rows():
        if index is not None:
            xor += pad(pack_bits([index[p] for p in row], bits))
        else:
            xor += b"".join(struct.pack("<BBBB", *COLOURS[p][::-1], 255) if p != CLEAR
                            else b"\0\0\0\0" for p in row)
    mask = b"".join(pad(pack_bits([int(p == CLEAR) for p in row], 1)) for row in rows())
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, bits, 0, len(xor) + len(mask),
                         0, 0, len(palette), 0)
    return header + colour + xor + mask


def icon():
    images = [(bits, image(bits)) for bits in (4, 8, 32)]
    offset = 6 + 16 * len(images)
    out = struct.pack("<HHH", 0, 1, len(images))
    for bits, data in images:
        colours = 16 if bits == 4 else 0
        out += struct.pack("<BBBBHHII", SIZE, SIZE, colours, 0, 1, bits, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


if __name__ == "__main__":
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "shake.ico")
    with open(target, "wb") as f:
        f.write(icon())
