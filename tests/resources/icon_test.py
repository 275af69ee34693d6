#!/usr/bin/env python3
"""Checks the importer's icon: two 16-colour images, 16 and 32 pixels square,
well-formed headers and masks, and identical to what draw_icon.py draws now.

Usage: icon_test.py RESOURCES_DIR
"""
import os
import struct
import sys
import tempfile
import unittest
import subprocess

RESOURCES = None


def parse_ico(data):
    """Returns [(entry fields, image bytes)] of an .ico file; raises ValueError when malformed."""
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1:
        raise ValueError("not an icon file")
    images = []
    for i in range(count):
        width, height, colours, res, planes, bpp, size, offset = struct.unpack_from(
            "<BBBBHHII", data, 6 + 16 * i)
        if offset + size > len(data):
            raise ValueError("image %d runs past the end of the file" % i)
        entry = dict(width=width or 256, height=height or 256, colours=colours,
                     planes=planes, bpp=bpp, size=size, offset=offset)
        images.append((entry, data[offset:offset + size]))
    return images


def image_layout(image):
    """Header fields and the byte counts an image of that header must have."""
    (hsize, width, height, planes, bpp, compression, size_image,
     _, _, used, _) = struct.unpack_from("<IiiHHIIiiII", image, 0)
    palette = (used or (1 << bpp)) * 4
    xor_row = ((width * bpp + 31) // 32) * 4
    and_row = ((width + 31) // 32) * 4
    half = height // 2
    return dict(hsize=hsize, width=width, height=height, planes=planes, bpp=bpp,
                compression=compression, size_image=size_image, palette=palette,
                xor=xor_row * half, mask=and_row * half, and_row=and_row)


class IconTest(unittest.TestCase):
    def setUp(self):
        with open(os.path.join(RESOURCES, "brixparse.ico"), "rb") as f:
            self.data = f.read()
        self.images = parse_ico(self.data)

    def test_two_sixteen_colour_images_of_16_and_32(self):
        self.assertEqual(sorted(e["width"] for e, _ in self.images), [16, 32])
        for entry, _ in self.images:
            with self.subTest(size=entry["width"]):
                self.assertEqual(entry["height"], entry["width"])
                self.assertEqual(entry["colours"], 16)
                self.assertEqual(entry["bpp"], 4)
                self.assertEqual(entry["planes"], 1)

    def test_bitmap_headers_match_directory(self):
        end_of_directory = 6 + 16 * len(self.images)
        for entry, image in self.images:
            with self.subTest(size=entry["width"]):
                self.assertGreaterEqual(entry["offset"], end_of_directory)
                layout = image_layout(image)
                self.assertEqual(layout["hsize"], 40)
                self.assertEqual(layout["width"], entry["width"])
                self.assertEqual(layout["height"], 2 * entry["height"])  # colour bits + mask
                self.assertEqual(layout["bpp"], 4)
                self.assertEqual(layout["compression"], 0)
                self.assertEqual(layout["palette"], 16 * 4)
                expected = 40 + layout["palette"] + layout["xor"] + layout["mask"]
                self.assertEqual(entry["size"], expected)
                self.assertEqual(layout["size_image"], layout["xor"] + layout["mask"])

    def test_images_do_not_overlap(self):
        spans = sorted((e["offset"], e["offset"] + e["size"]) for e, _ in self.images)
        for (_, end), (start, _) in zip(spans, spans[1:]):
            self.assertLessEqual(end, start)

    def test_mask_has_both_opaque_and_transparent_pixels(self):
        for entry, image in self.images:
            with self.subTest(size=entry["width"]):
                layout = image_layout(image)
                start = 40 + layout["palette"] + layout["xor"]
                mask = image[start:start + layout["mask"]]
                width = entry["width"]
                bits = [(row[x // 8] >> (7 - x % 8)) & 1
                        for row in (mask[i:i + layout["and_row"]]
                                    for i in range(0, len(mask), layout["and_row"]))
                        for x in range(width)]
                self.assertIn(0, bits)
                self.assertIn(1, bits)

    def test_committed_icon_is_what_the_script_draws(self):
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, "icon.ico")
            subprocess.run([sys.executable, os.path.join(RESOURCES, "draw_icon.py"), out], check=True)
            with open(out, "rb") as f:
                self.assertEqual(f.read(), self.data, "brixparse.ico is stale: rerun draw_icon.py")


class ParserTest(unittest.TestCase):
    """The checks above rest on parse_ico rejecting broken files."""

    def test_rejects_truncated_and_foreign_files(self):
        with open(os.path.join(RESOURCES, "brixparse.ico"), "rb") as f:
            data = f.read()
        cases = {
            "cursor type": data[:2] + struct.pack("<H", 2) + data[4:],
            "truncated image": data[:-10],
        }
        for name, broken in cases.items():
            with self.subTest(name):
                with self.assertRaises((ValueError, struct.error)):
                    parse_ico(broken)


if __name__ == "__main__":
    RESOURCES = sys.argv.pop(1)
    unittest.main()
