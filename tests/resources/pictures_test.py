#!/usr/bin/python3
"""The module's pictures as the pages, the toolbar and the system read them."""
import os
import struct
import unittest

RESOURCES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "src",
                         "resources")


def picture(name):
    return os.path.join(RESOURCES, "pictures", name)


class PicturesTest(unittest.TestCase):
    def test_button_bitmaps_are_16_by_16_uncompressed_24_bit(self):
        for name in ("button_inactive.bmp", "button_active.bmp"):
            with open(picture(name), "rb") as f:
                data = f.read()
            self.assertEqual((data[:2], len(data)) + struct.unpack_from("<IiiHHI", data, 14),
                             (b"BM", 14 + 40 + 16 * 16 * 3, 40, 16, 16, 1, 24, 0), name)

    def test_icons_are_classic_bitmaps_of_their_sizes_and_depths(self):
        """Not PNG-compressed, which Windows XP cannot read: a DIB for each entry."""
        for path, expected in (
                (os.path.join(RESOURCES, "shake.ico"), [(32, 4), (32, 8), (32, 32)]),
                (picture("shake_large.ico"), [(s, 32) for s in (128, 96, 64, 48, 32)])):
            with open(path, "rb") as f:
                data = f.read()
            self.assertEqual(struct.unpack_from("<HHH", data), (0, 1, len(expected)), path)
            for i, (width, bits) in enumerate(expected):
                found, _, _, _, _, found_bits, size, offset = struct.unpack_from(
                    "<BBBBHHII", data, 6 + 16 * i)
                self.assertEqual((found or 256, found_bits), (width, bits), path)
                header = struct.unpack_from("<IiiHH", data, offset)
                self.assertEqual(header, (40, width, 2 * width, 1, bits), f"{path} {width}")
                self.assertLessEqual(offset + size, len(data), f"{path} {width}")


if __name__ == "__main__":
    unittest.main()
