#!/usr/bin/env python3
"""Tests of the executable's icon, resources/movora.ico: its directory holds
the eight sizes, every image is an 8-bit RGBA PNG, and each decodes to exactly
the pixels resources/icon/make_icon.py renders from movora-icon.json for that
size. The PNG reader here is written apart from the encoder, so a filter the
encoder gets wrong shows up as wrong pixels.

    python3 tests/tools/test_icon_images.py [-v]
"""
import json
import os
import struct
import sys
import unittest
import zlib

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
ICON = os.path.join(ROOT, "resources", "movora.ico")
ARTWORK = os.path.join(ROOT, "resources", "icon", "movora-icon.json")
sys.path.insert(0, os.path.join(ROOT, "resources", "icon"))

import make_icon  # noqa: E402

SIZES = [16, 20, 24, 32, 40, 48, 64, 256]
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
REGENERATE = "run resources/icon/make_icon.py and commit resources/movora.ico"


def read_icon_directory(data):
    """Returns (reserved, type, entries); each entry is a dict of its fields."""
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    entries = []
    for i in range(count):
        fields = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        names = ("width", "height", "colours", "reserved", "planes", "bits", "bytes", "offset")
        entries.append(dict(zip(names, fields)))
    return reserved, kind, entries


def unfilter(scanlines, width, height):
    """Returns rows of (r, g, b, a) from 8-bit RGBA scanlines, each led by its
    filter type byte, undoing the five PNG filters."""
    stride = width * 4
    if len(scanlines) != height * (stride + 1):
        raise ValueError(f"{len(scanlines)} bytes of image data for {width} x {height}")
    rows, prev = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = scanlines[start], bytearray(scanlines[start + 1:start + 1 + stride])
        for i in range(stride):
            left = line[i - 4] if i >= 4 else 0
            up = prev[i]
            up_left = prev[i - 4] if i >= 4 else 0
            if kind == 0:
                predictor = 0
            elif kind == 1:
                predictor = left
            elif kind == 2:
                predictor = up
            elif kind == 3:
                predictor = (left + up) >> 1
            elif kind == 4:
                estimate = left + up - up_left
                distances = [abs(estimate - left), abs(estimate - up), abs(estimate - up_left)]
                predictor = (left, up, up_left)[distances.index(min(distances))]
            else:
                raise ValueError(f"line {y} has filter type {kind}")
            line[i] = (line[i] + predictor) & 0xFF
        rows.append([tuple(line[x:x + 4]) for x in range(0, stride, 4)])
        prev = line
    return rows


def read_png(data):
    """Returns (IHDR fields, rows of (r, g, b, a)); raises ValueError on a bad
    signature, chunk order or checksum, or an image that is not 8-bit RGBA."""
    if not data.startswith(PNG_SIGNATURE):
        raise ValueError(f"no PNG signature, starts {data[:8].hex()}")
    chunks, pos = [], len(PNG_SIGNATURE)
    while pos < len(data):
        (length,) = struct.unpack_from(">I", data, pos)
        body = data[pos + 4:pos + 8 + length]
        (crc,) = struct.unpack_from(">I", data, pos + 8 + length)
        if zlib.crc32(body) != crc:
            raise ValueError(f"bad checksum on chunk {body[:4]!r}")
        chunks.append((body[:4], body[4:]))
        pos += 12 + length
    if pos != len(data) or chunks[0][0] != b"IHDR" or chunks[-1] != (b"IEND", b""):
        raise ValueError(f"chunks {[kind for kind, _ in chunks]} do not run IHDR ... IEND")
    names = ("width", "height", "depth", "colour", "compression", "filter", "interlace")
    header = dict(zip(names, struct.unpack(">IIBBBBB", chunks[0][1])))
    if (header["depth"], header["colour"], header["interlace"]) != (8, 6, 0):
        raise ValueError(f"not 8-bit non-interlaced RGBA: {header}")
    scanlines = zlib.decompress(b"".join(body for kind, body in chunks if kind == b"IDAT"))
    return header, unfilter(scanlines, header["width"], header["height"])


class IconImagesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(ICON, "rb") as f:
            cls.icon = f.read()
        with open(ARTWORK) as f:
            shapes = json.load(f)["shapes"]
        cls.rendered = {size: make_icon.render(shapes, size) for size in SIZES}

    def test_directory_lists_the_eight_sizes_back_to_back(self):
        reserved, kind, entries = read_icon_directory(self.icon)
        self.assertEqual((reserved, kind), (0, 1))
        self.assertEqual([e["width"] or 256 for e in entries], SIZES)
        offset = 6 + 16 * len(entries)
        for entry in entries:
            side = entry["width"] or 256
            with self.subTest(size=side):
                self.assertEqual(entry["height"], entry["width"])
                self.assertEqual((entry["colours"], entry["reserved"]), (0, 0))
                self.assertEqual((entry["planes"], entry["bits"]), (1, 32))
                # Each image starts where the one before ends; the last ends
                # the file, so no entry points into another one or past it.
                self.assertEqual(entry["offset"], offset)
                offset += entry["bytes"]
        self.assertEqual(offset, len(self.icon))

    def test_every_image_is_an_rgba_png_of_the_rendered_pixels(self):
        _, _, entries = read_icon_directory(self.icon)
        for entry in entries:
            side = entry["width"] or 256
            with self.subTest(size=side):
                image = self.icon[entry["offset"]:entry["offset"] + entry["bytes"]]
                header, rows = read_png(image)
                self.assertEqual((header["width"], header["height"]), (side, side))
                self.assertEqual((header["compression"], header["filter"]), (0, 0))
                self.assertTrue(rows == self.rendered[side],
                                f"the {side}-pixel image differs from the artwork; {REGENERATE}")

    def test_each_filter_the_encoder_tries_decodes_to_the_image(self):
        # The committed icon may use only some of the filters; every one the
        # encoder can pick is checked here on the real artwork, whose edges are
        # blended, so each predictor meets neighbours that differ.
        for size in (16, 64, 256):
            rows = self.rendered[size]
            candidates = make_icon.png_candidates(rows)
            for number, scanlines in enumerate(candidates):
                with self.subTest(size=size, candidate=number):
                    kinds = set(scanlines[::size * 4 + 1])
                    if number < 5:
                        self.assertEqual(kinds, {number})
                    self.assertTrue(unfilter(scanlines, size, size) == rows)
            # The per-line choice mixes filters; the lines where it changes
            # filter are where an encoder's bookkeeping of the line above slips.
            self.assertGreater(len(set(candidates[5][::size * 4 + 1])), 1, size)


if __name__ == "__main__":
    unittest.main()
