#!/usr/bin/env python3
"""Renders movora-icon.json into ../movora.ico: one 32-bit image per size.

Uses the standard library only. Each pixel is sampled 4 x 4 times and the
shape coverage is blended over what was painted before, so small sizes stay
smooth. Every size is stored as a 32-bit RGBA PNG entry (8 bits a channel,
colour type 6, so Windows keeps the alpha): Windows 10 reads PNG images at
every size of an icon group, and they take far fewer bytes than BMP entries.
Each image is filtered the way that compresses smallest at zlib level 9: flat
artwork packs best unfiltered, blends and gradients with a predicting filter.
"""
import json
import struct
import sys
import zlib
from pathlib import Path

SAMPLES = 4


def inside_roundrect(x, y, box, radius):
    x0, y0, x1, y1 = box
    if not (x0 <= x <= x1 and y0 <= y <= y1):
        return False
    cx = min(max(x, x0 + radius), x1 - radius)
    cy = min(max(y, y0 + radius), y1 - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def inside_rect(x, y, box):
    x0, y0, x1, y1 = box
    return x0 <= x <= x1 and y0 <= y <= y1


def inside_polygon(x, y, points):
    result = False
    j = len(points) - 1
    for i, (xi, yi) in enumerate(points):
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            result = not result
        j = i
    return result


def covers(shape, x, y):
    kind = shape["kind"]
    if kind == "roundrect":
        return inside_roundrect(x, y, shape["box"], shape["radius"])
    if kind == "rect":
        return inside_rect(x, y, shape["box"])
    if kind == "polygon":
        return inside_polygon(x, y, shape["points"])
    raise ValueError(f"unknown shape kind {kind!r}")


def render(shapes, size):
    """Returns rows top to bottom of (r, g, b, a) tuples, premultiplication-free."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0.0
            for shape in shapes:
                hits = 0
                for sy in range(SAMPLES):
                    for sx in range(SAMPLES):
                        x = (px + (sx + 0.5) / SAMPLES) / size
                        y = (py + (sy + 0.5) / SAMPLES) / size
                        hits += covers(shape, x, y)
                if hits == 0:
                    continue
                cover = hits / (SAMPLES * SAMPLES) * shape["rgba"][3] / 255.0
                sr, sg, sb = (c / 255.0 for c in shape["rgba"][:3])
                out_a = cover + a * (1 - cover)
                if out_a > 0:
                    r = (sr * cover + r * a * (1 - cover)) / out_a
                    g = (sg * cover + g * a * (1 - cover)) / out_a
                    b = (sb * cover + b * a * (1 - cover)) / out_a
                a = out_a
            row.append(tuple(round(v * 255) for v in (r, g, b, a)))
        rows.append(row)
    return rows


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def png_filter(kind, line, prev):
    """Returns the filter byte and `line` filtered by PNG filter `kind` (0-4)
    against the unfiltered line above, `prev`."""
    out = bytearray([kind])
    for i, x in enumerate(line):
        a = line[i - 4] if i >= 4 else 0  # the same channel one pixel left
        b = prev[i]
        c = prev[i - 4] if i >= 4 else 0
        predictor = (0, a, b, (a + b) // 2, paeth(a, b, c))[kind]
        out.append((x - predictor) & 0xFF)
    return bytes(out)


def png_candidates(rows):
    """Returns the filtered image data to try: each of the five filters on
    every line, and the usual per-line choice of the filter whose output has
    the smallest sum of absolute (signed) byte values."""
    lines = [bytes(channel for pixel in row for channel in pixel) for row in rows]
    above = [bytes(len(lines[0]))] + lines[:-1]
    per_line = [[png_filter(kind, line, prev) for kind in range(5)]
                for line, prev in zip(lines, above)]
    candidates = [b"".join(options[kind] for options in per_line) for kind in range(5)]

    def signed_sum(filtered):
        return sum(min(v, 256 - v) for v in filtered[1:])

    candidates.append(b"".join(min(options, key=signed_sum) for options in per_line))
    return candidates


def png_entry(rows, size):
    """Returns the smallest PNG of `rows` among png_candidates at zlib level 9."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    data = min((zlib.compress(raw, 9) for raw in png_candidates(rows)), key=len)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", data) + chunk(b"IEND", b""))


def main():
    here = Path(__file__).resolve().parent
    art = json.loads((here / "movora-icon.json").read_text())
    images = []
    for size in art["sizes"]:
        images.append((size, png_entry(render(art["shapes"], size), size)))
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in images:
        dim = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    target = here.parent / "movora.ico"
    target.write_bytes(out)
    print(f"wrote {target} ({len(out)} bytes, sizes {art['sizes']})", file=sys.stderr)


if __name__ == "__main__":
    main()
