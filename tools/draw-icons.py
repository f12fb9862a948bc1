#!/usr/bin/env python3
"""Draws the programs' icons at every size Windows asks for, from the same
shapes, so that no size is a stretched copy of another, and writes them as
.ico files (the 256-pixel picture as PNG, the others as 32-bit bitmaps).

    tools/draw-icons.py [--png DIR]   rewrites resources/*.ico; --png also
                                      writes each size as DIR/NAME-SIZE.png

Shapes are given on a 32-unit grid. Stroke widths and edges are rounded to
whole pixels, symmetric about the centre where the size allows, so the small
sizes stay sharp; only round edges are smoothed.
"""
import argparse
import math
import os
import struct
import zlib

SIZES = (16, 20, 24, 32, 48, 64, 256)
SAMPLES = 4  # per pixel side, where a round edge crosses the pixel

CLOCK_BLUE = (26, 79, 139)
WHITE = (255, 255, 255)
NOTICE_GOLD = (192, 138, 0)
NAVY = (0, 0, 119)
YELLOW = (255, 255, 0)
CYAN = (0, 255, 255)


def px(units, size, least=1):
    """A length on the 32-unit grid in whole pixels at this size."""
    return max(least, int(units * size / 32 + 0.5))


def centred(length, size):
    """A span of whole pixels about the middle; a length whose parity differs
    from the size's sits half a pixel towards the top or left."""
    start = (size - length) // 2
    return start, start + length


def rect(x0, y0, x1, y1, colour):
    def coverage(x, y):
        w = min(x + 1, x1) - max(x, x0)
        h = min(y + 1, y1) - max(y, y0)
        return max(0.0, w) * max(0.0, h)
    return coverage, colour


def disc(cx, cy, r, colour):
    def coverage(x, y):
        near = math.hypot(max(x - cx, 0, cx - x - 1), max(y - cy, 0, cy - y - 1))
        far = math.hypot(max(abs(x - cx), abs(x + 1 - cx)), max(abs(y - cy), abs(y + 1 - cy)))
        if far <= r:
            return 1.0
        if near >= r:
            return 0.0
        step = 1 / SAMPLES
        inside = sum((x + (i + 0.5) * step - cx) ** 2 + (y + (j + 0.5) * step - cy) ** 2 <= r * r
                     for i in range(SAMPLES) for j in range(SAMPLES))
        return inside / SAMPLES ** 2
    return coverage, colour


def rounded_square(x0, y0, x1, y1, r, colour):
    corners = [disc(cx, cy, r, colour)[0] for cx in (x0 + r, x1 - r) for cy in (y0 + r, y1 - r)]
    cross = [rect(x0 + r, y0, x1 - r, y1, colour)[0], rect(x0, y0 + r, x1, y1 - r, colour)[0]]

    def coverage(x, y):
        return min(1.0, max(max(c(x, y) for c in cross), max(c(x, y) for c in corners)))
    return coverage, colour


def clock(size):
    """A white clock face in a blue ring, its hands at three o'clock."""
    c = size / 2
    r = c - size / 64
    ring, hand = px(3, size), px(2, size)
    left = math.floor(c - hand / 2)
    return [
        disc(c, c, r, CLOCK_BLUE),
        disc(c, c, r - ring, WHITE),
        rect(left, left + hand - px(11, size), left + hand, left + hand, CLOCK_BLUE),
        rect(left, left, left + px(9, size), left + hand, CLOCK_BLUE),
    ]


def notice(size):
    """A white exclamation mark on a gold disc."""
    c = size / 2
    x0, x1 = centred(px(3, size), size)
    dot = px(20, size)
    return [
        disc(c, c, c - size / 64, NOTICE_GOLD),
        rect(x0, px(7, size), x1, px(18, size), WHITE),
        rect(x0, dot, x1, dot + x1 - x0, WHITE),
    ]


def hash_sign(size):
    """A yellow hash sign with a cyan middle on a navy tile."""
    margin = px(1, size)
    bar = px(3, size)
    gap = px(6, size)
    if (gap + size) % 2:
        gap += 1
    mid0, mid1 = centred(gap, size)
    out0, out1 = centred(gap + 2 * bar, size)
    # The arms past the crossings keep two pixels, or the sign reads as a frame.
    end0, end1 = centred(gap + 2 * bar + 2 * px(4, size, least=2), size)
    shapes = [rounded_square(margin, margin, size - margin, size - margin, 3 * size / 32, NAVY)]
    for a, b in ((out0, mid0), (mid1, out1)):
        shapes.append(rect(a, end0, b, end1, YELLOW))
        shapes.append(rect(end0, a, end1, b, YELLOW))
    shapes.append(rect(mid0, mid0, mid1, mid1, CYAN))
    return shapes


ICONS = {"pendulark": clock, "notice": notice, "sumwick": hash_sign}


def render(shapes, size):
    """Rows of straight RGBA pixels, the shapes painted in order."""
    rows = []
    for y in range(size):
        row = bytearray()
        for x in range(size):
            r = g = b = a = 0.0  # premultiplied
            for coverage, colour in shapes:
                k = coverage(x, y)
                if k:
                    r, g, b = (colour[0] * k + r * (1 - k), colour[1] * k + g * (1 - k), colour[2] * k + b * (1 - k))
                    a = k + a * (1 - k)
            row += bytes((round(r / a), round(g / a), round(b / a), round(a * 255))) if a else bytes(4)
        rows.append(bytes(row))
    return rows


def png(rows, size):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    raw = b"".join(b"\0" + row for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def bitmap(rows, size):
    """The icon image as Windows keeps it: a header of twice the height, the
    colours bottom-up in BGRA, then the 1-bit mask of the transparent pixels."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colours = b"".join(bytes(row[i + k] for i in range(0, len(row), 4) for k in (2, 1, 0, 3))
                       for row in reversed(rows))
    stride = (size + 31) // 32 * 4
    mask = b""
    for row in reversed(rows):
        bits = 0
        for x in range(size):
            bits = bits << 1 | (row[4 * x + 3] == 0)
        mask += (bits << (stride * 8 - size)).to_bytes(stride, "big")
    return header + colours + mask


def ico(images):
    """images: (size, data) pairs, the data a PNG for 256 and a bitmap otherwise."""
    head = struct.pack("<HHH", 0, 1, len(images))
    offset = len(head) + 16 * len(images)
    entries, bodies = b"", b""
    for size, data in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
        bodies += data
    return head + entries + bodies


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--png", metavar="DIR", help="also write every size as a PNG here")
    args = parser.parse_args()
    resources = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources")
    for name, draw in ICONS.items():
        images = []
        for size in SIZES:
            rows = render(draw(size), size)
            images.append((size, png(rows, size) if size == 256 else bitmap(rows, size)))
            if args.png:
                os.makedirs(args.png, exist_ok=True)
                with open(os.path.join(args.png, f"{name}-{size}.png"), "wb") as f:
                    f.write(png(rows, size))
        path = os.path.join(resources, name + ".ico")
        with open(path, "wb") as f:
            f.write(ico(images))
        print("wrote", os.path.normpath(path))


if __name__ == "__main__":
    main()
