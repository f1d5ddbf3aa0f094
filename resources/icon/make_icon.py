#!/usr/bin/env python3
"""Renders movora-icon.json into ../movora.ico: one 32-bit image per size.

Uses the standard library only. Each pixel is sampled 4 x 4 times and the
shape coverage is blended over what was painted before, so small sizes stay
smooth. Images up to 64 pixels are stored as 32-bit BMP entries (BGRA plus an
AND mask); the 256-pixel image is a 32-bit RGBA PNG, as Windows expects for
that size, which keeps the executable small.
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


def bmp_entry(rows, size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(pixels) + bytes(mask)


def png_entry(rows, size):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = bytearray()
    for row in rows:
        raw.append(0)  # no filter
        for pixel in row:
            raw += bytes(pixel)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def main():
    here = Path(__file__).resolve().parent
    art = json.loads((here / "movora-icon.json").read_text())
    images = []
    for size in art["sizes"]:
        encode = png_entry if size >= 256 else bmp_entry
        images.append((size, encode(render(art["shapes"], size), size)))
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
