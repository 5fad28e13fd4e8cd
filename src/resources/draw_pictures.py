#!/usr/bin/python3
"""Draws the module's pictures: the panel pages' sprite, gradient and tips, the toolbar button's
bitmaps and the icons. The results are kept in the tree, so a build needs neither Pillow nor the
font; run this again after changing a drawing and commit what it writes.

    draw_pictures.py [DIR]    (default: the folder of this script)

writes DIR/shake.ico and DIR/pictures/*. The output depends only on this script, Pillow and the
font: the same versions give the same bytes.
"""
import math
import os
import struct
import sys
from io import BytesIO

from PIL import Image, ImageDraw, ImageFont

FONT = "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc"  # WenQuanYi Zen Hei, fonts-wqy-zenhei
FINE = 4  # shapes are drawn this many times larger, then shrunk, for smooth edges

ROW = (0x40, 0x43, 0x45)  # the panel's rows
SILVER = (0xC0, 0xC0, 0xC0)
LIGHT = (0xE6, 0xE6, 0xE6)
WHITE = (0xFF, 0xFF, 0xFF)
TITLE = (0xF2, 0xF2, 0xF2)
GREEN = (0x5C, 0xC8, 0x3C)
GREY_DOT = (0x8A, 0x8D, 0x8F)
ORANGE = (0xF0, 0x64, 0x00)  # red, not olive, in 16 colours
SKY = (0x63, 0xAB, 0xE2)


def font(size):
    return ImageFont.truetype(FONT, size, layout_engine=ImageFont.Layout.BASIC)


class Canvas:
    """An RGBA picture drawn FINE times larger; coordinates are given in final pixels."""

    def __init__(self, width, height):
        self.size = (width, height)
        self.image = Image.new("RGBA", (width * FINE, height * FINE), (0, 0, 0, 0))
        self.draw = ImageDraw.Draw(self.image)

    @staticmethod
    def _scale(points):
        return [v * FINE for v in points]

    def box(self, xy, fill=None, outline=None, width=1.0, radius=0.0):
        self.draw.rounded_rectangle(self._scale(xy), radius * FINE, fill, outline,
                                    round(width * FINE))

    def circle(self, cx, cy, r, fill=None, outline=None, width=1.0):
        self.draw.ellipse(self._scale((cx - r, cy - r, cx + r, cy + r)), fill, outline,
                          round(width * FINE))

    def polygon(self, points, fill):
        self.draw.polygon(self._scale(points), fill)

    def line(self, points, fill, width=1.0):
        self.draw.line(self._scale(points), fill, round(width * FINE), joint="curve")
        for x, y in zip(points[::2], points[1::2]):  # round ends
            self.circle(x, y, width / 2, fill)

    def arc(self, cx, cy, r, start, end, fill, width=1.0):
        self.draw.arc(self._scale((cx - r, cy - r, cx + r, cy + r)), start, end, fill,
                      round(width * FINE))

    def result(self):
        # Averaged with premultiplied alpha, so that edges keep their colour.
        return self.image.convert("RGBa").resize(self.size, Image.BOX).convert("RGBA")


def text(image, xy, words, size, colour, shadow=None):
    draw = ImageDraw.Draw(image)
    if shadow:
        draw.text((xy[0], xy[1] - 1), words, shadow, font(size))
    draw.text(xy, words, colour, font(size))


# Sprite drawings, each around a centre (cx, cy).

def gear(c, cx, cy, colour):
    teeth = []
    for step in range(16):  # eight teeth: tops and gaps by turns, two corners each
        angle = math.radians(step * 22.5 + 11.25)
        radius = 9.0 if step % 2 == 0 else 6.6
        for turn in (-6.0, 6.0):
            a = angle + math.radians(turn)
            teeth += [cx + radius * math.cos(a), cy + radius * math.sin(a)]
    c.polygon(teeth, colour)
    c.circle(cx, cy, 2.8, (0, 0, 0, 0))


def chevron(c, cx, cy, colour, pointing_right):
    d = 3.5 if pointing_right else -3.5
    c.line([cx - d, cy - 7, cx + d, cy, cx - d, cy + 7], colour, 2.6)


def phone(c, cx, cy, colour, screen, height=24.0):
    w, h = height * 0.58, height
    c.box((cx - w / 2, cy - h / 2, cx + w / 2, cy + h / 2), outline=colour, width=1.6,
          radius=2.5)
    c.box((cx - w / 2 + 2.6, cy - h / 2 + 4, cx + w / 2 - 2.6, cy + h / 2 - 5.5), fill=screen)
    c.line([cx - 1.5, cy - h / 2 + 2.2, cx + 1.5, cy - h / 2 + 2.2], colour, 0.9)
    c.circle(cx, cy + h / 2 - 2.8, 1.1, colour)


def dot(c, cx, cy, colour):
    c.circle(cx, cy, 5.0, colour)
    c.circle(cx - 1.4, cy - 1.6, 1.8, (255, 255, 255, 90))


def sprite():
    """216: the style sheets' icons at the positions they name, and the title lettering."""
    width, height = 190, 256
    c = Canvas(width, height)
    # Phone with motion lines, the status rows' icon (iconLeft1, box 65,145 31x36).
    phone(c, 80.5, 163, LIGHT, SILVER)
    for x, half in ((69.5, 4.0), (91.5, 4.0), (66.8, 2.5), (94.2, 2.5)):
        c.line([x, 163 - half, x, 163 + half], SILVER, 1.4)
    # Gear, the settings row (iconLeft2 at 4,116; pressed at 31,116: each kept left of the next).
    gear(c, 19.5, 128.5, SILVER)
    gear(c, 46.5, 128.5, WHITE)
    # Picture in a frame (iconLeft3, box 5,151 31x30).
    c.box((11, 157, 30, 175), outline=SILVER, width=1.5, radius=1)
    c.polygon([13.5, 172.5, 19.5, 164, 23.5, 169, 25.5, 167, 28, 172.5], SILVER)
    c.circle(25, 161.5, 1.7, SILVER)
    # Screen of a computer (iconLeft4, box 6,96 31x20).
    c.box((13, 98, 30, 110), outline=SILVER, width=1.5, radius=1)
    c.box((18, 112, 25, 113.5), fill=SILVER)
    # Dots: enabled green (iconRight1, 117,144), not enabled grey (iconRight3, 161,146).
    dot(c, 132.5, 156.5, GREEN)
    dot(c, 176.5, 158.5, GREY_DOT)
    # ">" of the settings row (iconRight2 at 58,114; pressed at 80,114), 10 pixels into each box.
    chevron(c, 71, 126.5, SILVER, True)
    chevron(c, 93, 126.5, WHITE, True)
    # "<" back link of the settings page (109,94 31x34; pressed at 157,94 with a soft disc).
    chevron(c, 124, 111, SILVER, False)
    c.circle(172, 111, 12, (255, 255, 255, 40))
    chevron(c, 172, 111, WHITE, False)
    image = keep_to_own_boxes(c.result())
    title = "摇一摇传图"
    size = 30
    left = (width - font(size).getbbox(title)[2]) // 2
    text(image, (left, 14), title, size, TITLE, shadow=(0x1C, 0x1D, 0x1E))
    note = "摇一摇手机，把网页图片传过去"
    left = (width - font(13).getbbox(note)[2]) // 2
    text(image, (left, 58), note, 13, SILVER)
    return image


# The style sheets' sprite boxes (x, y, width, height): drawings in one box must not show in
# another, so a drawn pixel is kept only where exactly one box covers it.
SPRITE_BOXES = {
    "iconLeft1": (65, 145, 31, 36), "iconLeft2": (4, 116, 31, 25), "iconLeft3": (5, 151, 31, 30),
    "iconLeft4": (6, 96, 31, 20), "iconRight1": (117, 144, 31, 25),
    "iconRight2": (58, 114, 30, 25), "iconRight3": (161, 146, 31, 25),
    "gearPressed": (31, 116, 31, 25), "arrowPressed": (80, 114, 30, 25),
    "back": (109, 94, 31, 34), "backPressed": (157, 94, 31, 34),
}


def keep_to_own_boxes(image):
    counts = Image.new("L", image.size, 0)
    for x, y, w, h in SPRITE_BOXES.values():
        box = counts.crop((x, y, x + w, y + h)).point(lambda v: v + 1)
        counts.paste(box, (x, y))
    keep = counts.point(lambda v: 255 if v == 1 else 0)
    alpha = Image.composite(image.getchannel("A"), Image.new("L", image.size, 0), keep)
    image.putalpha(alpha)
    return image


def gradient():
    """217: the pressed settings row's background, 20 x 50, dark near a fifth of the height."""
    stops = [(0, (0x53, 0x9A, 0xD9)), (10, (0x3F, 0x8F, 0xD6)), (49, (0x63, 0xAB, 0xE2))]
    image = Image.new("RGB", (20, 50))
    for y in range(50):
        (y0, c0), (y1, c1) = (stops[0], stops[1]) if y <= 10 else (stops[1], stops[2])
        t = (y - y0) / (y1 - y0)
        image.paste(tuple(round(a + (b - a) * t) for a, b in zip(c0, c1)), (0, y, 20, y + 1))
    return image


def tip(width, height, words, draw_icon):
    """223 and 224: a dark rounded plate with an icon at the left and one line of text."""
    c = Canvas(width, height)
    c.box((0, 0, width, height), fill=(0x2C, 0x2E, 0x33), radius=7)
    c.box((1, 1, width - 1, height - 1), fill=ROW + (255,), radius=6)
    c.box((6, 1.2, width - 6, 2), fill=(0x62, 0x65, 0x67))
    draw_icon(c, 24, height / 2)
    image = c.result()
    size = 15
    top = (height - font(size).getbbox(words)[3]) // 2
    text(image, (44, top), words, size, TITLE, shadow=(0x1C, 0x1D, 0x1E))
    return image


def screen_icon(c, cx, cy):
    """A computer's screen on its stand: the page that has nothing to send."""
    c.box((cx - 11, cy - 9, cx + 11, cy + 6), outline=LIGHT, width=1.8, radius=1.5)
    c.box((cx - 8, cy - 6, cx + 8, cy + 3), fill=SKY)
    c.box((cx - 1.5, cy + 6, cx + 1.5, cy + 9.5), fill=LIGHT)
    c.box((cx - 6, cy + 9.5, cx + 6, cy + 11), fill=LIGHT, radius=0.7)


def sending_icon(c, cx, cy):
    """A paper plane flying up and to the right: something on its way."""
    c.polygon([cx - 12, cy + 1, cx + 11, cy - 10, cx + 3, cy + 11, cx - 1, cy + 3], SKY)
    c.polygon([cx - 1, cy + 3, cx + 11, cy - 10, cx + 0.5, cy + 8], LIGHT)


# Toolbar button bitmaps, 16 x 16 on the face colour of a button.

FACE = (0xF0, 0xF0, 0xF0)


def button(active):
    image = Image.new("RGB", (16, 16), FACE)
    draw = ImageDraw.Draw(image)
    outline, body, screen = ((0x30, 0x30, 0x30), (0xE0, 0xE0, 0xE0), (0x28, 0x78, 0xDC)) \
        if active else ((0x80, 0x80, 0x80), (0xD4, 0xD4, 0xD4), (0xA8, 0xA8, 0xA8))
    draw.rectangle((5, 1, 10, 14), body, outline)
    for corner in ((5, 1), (10, 1), (5, 14), (10, 14)):
        image.putpixel(corner, FACE)
    draw.rectangle((6, 3, 9, 11), screen)
    draw.line((7, 13, 8, 13), outline)
    if active:
        draw.line((3, 5, 3, 10), ORANGE)
        draw.line((12, 5, 12, 10), ORANGE)
        draw.line((1, 6, 1, 9), ORANGE)
        draw.line((14, 6, 14, 9), ORANGE)
    return image


def bmp(image):
    """A bottom-up 24-bit BI_RGB bitmap file."""
    rows = []
    for y in reversed(range(image.height)):
        row = b"".join(bytes(image.getpixel((x, y))[::-1]) for x in range(image.width))
        rows.append(row + b"\0" * (-len(row) % 4))
    bits = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, image.width, image.height, 1, 24, 0, len(bits),
                       2835, 2835, 0, 0)
    return struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(bits), 0, 0, 14 + len(info)) + \
        info + bits


# Icons: a phone with a picture on its screen, shaken (arcs at either side).

def shake_picture(size):
    s = size / 32
    c = Canvas(size, size)
    dark, body, screen = (0x28, 0x28, 0x28), (0xE8, 0xE8, 0xE8), (0x1E, 0x5A, 0xDC)
    c.box((10 * s, 3 * s, 22 * s, 29 * s), fill=body, outline=dark, width=1.4 * s,
          radius=2.4 * s)
    c.box((12 * s, 7 * s, 20 * s, 23 * s), fill=screen)
    c.polygon([12.6 * s, 21.5 * s, 15.2 * s, 16.5 * s, 17 * s, 19 * s, 17.8 * s, 18 * s,
               19.4 * s, 21.5 * s], WHITE)
    c.circle(17.8 * s, 11 * s, 1.3 * s, (0xFF, 0xD8, 0x40))
    c.box((14 * s, 4.8 * s, 18 * s, 5.7 * s), fill=dark)
    c.circle(16 * s, 26 * s, 1.2 * s, dark)
    for r in (9.5, 13.5):
        c.arc(16 * s, 16 * s, r * s, 148, 212, ORANGE, 1.7 * s)
        c.arc(16 * s, 16 * s, r * s, -32, 32, ORANGE, 1.7 * s)
    return c.result()


VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
# 8-bit: the standard 16 colours, a 6 x 6 x 6 colour cube and 24 greys.
PALETTE_256 = VGA + [(r, g, b) for r in range(0, 256, 51) for g in range(0, 256, 51)
                     for b in range(0, 256, 51)] + [(8 + 10 * i,) * 3 for i in range(24)]


def nearest(colour, palette):
    return min(range(len(palette)),
               key=lambda i: sum((a - b) ** 2 for a, b in zip(colour, palette[i])))


def pack_bits(values, bits):
    out, acc, used = bytearray(), 0, 0
    for value in values:
        acc, used = (acc << bits) | value, used + bits
        if used == 8:
            out.append(acc)
            acc, used = 0, 0
    return bytes(out)


def pad(data):
    return data + b"\0" * (-len(data) % 4)


def icon_image(picture, bits):
    """One icon entry as a DIB: header with doubled height, colours, XOR bits, AND mask."""
    size = picture.width
    rows = [[picture.getpixel((x, y)) for x in range(size)] for y in reversed(range(size))]
    palette = {4: VGA, 8: PALETTE_256}.get(bits, [])
    xor = b""
    for row in rows:
        if palette:
            xor += pad(pack_bits([nearest(p[:3], palette) if p[3] >= 128 else 0 for p in row],
                                 bits))
        else:
            xor += b"".join(bytes((b, g, r, a)) for r, g, b, a in row)
    opaque_at = 128 if palette else 1
    mask = b"".join(pad(pack_bits([int(p[3] < opaque_at) for p in row], 1)) for row in rows)
    colours = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, bits, 0, len(xor) + len(mask),
                         0, 0, len(palette), 0)
    return header + colours + xor + mask


def ico(entries):
    """An icon file of (size, bits) entries, each a classic DIB (no PNG: older systems)."""
    images = [(size, bits, icon_image(shake_picture(size), bits)) for size, bits in entries]
    offset = 6 + 16 * len(images)
    out = struct.pack("<HHH", 0, 1, len(images))
    for size, bits, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 16 if bits == 4 else 0, 0, 1,
                           bits, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, _, data in images)


def png(image):
    out = BytesIO()
    image.save(out, "PNG")
    return out.getvalue()


def pictures():
    """Every file, by its path under the output folder."""
    return {
        "shake.ico": ico([(32, 4), (32, 8), (32, 32)]),
        "pictures/shake_large.ico": ico([(size, 32) for size in (128, 96, 64, 48, 32)]),
        "pictures/sprite.png": png(sprite()),
        "pictures/gradient.png": png(gradient()),
        "pictures/tip_no_picture.png": png(tip(255, 53, "该网页没有图片可传送",
                                               screen_icon)),
        "pictures/tip_sending.png": png(tip(259, 59, "正在传送图片到手机", sending_icon)),
        "pictures/button_inactive.bmp": bmp(button(False)),
        "pictures/button_active.bmp": bmp(button(True)),
    }


if __name__ == "__main__":
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for name, data in pictures().items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
