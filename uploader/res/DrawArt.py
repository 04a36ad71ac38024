#!/usr/bin/env python3
"""Draws the upload notice's artwork: ZentrafoldUpload.ico (32x32 and 16x16,
32-bit with alpha) and Notice.bmp (40x40, 24-bit on white, as the notice
shows it). Run from this folder; the results are kept beside it."""
import struct

BLUE = (0x1F, 0x5F, 0xB4)
DARK = (0x12, 0x3A, 0x70)
WHITE = (0xFF, 0xFF, 0xFF)
GREEN = (0x2E, 0xA0, 0x43)


def draw(size):
    """A page with a folded corner on a blue disc, an arrow rising from it.
    Returns rows top to bottom of (r, g, b, a)."""
    s = size / 32.0
    px = [[(0, 0, 0, 0)] * size for _ in range(size)]
    cx = cy = (size - 1) / 2.0
    r = size / 2.0 - 0.5
    for y in range(size):
        for x in range(size):
            d = ((x - cx) ** 2 + (y - cy) ** 2) ** 0.5
            if d <= r - 1:
                px[y][x] = BLUE + (255,)
            elif d <= r:
                px[y][x] = DARK + (255,)
    # The page: 14 x 18 at (9, 7) on the 32 grid, its upper right corner folded.
    left, top, right, bottom = 9 * s, 7 * s, 23 * s, 25 * s
    fold = 5 * s
    for y in range(size):
        for x in range(size):
            fx, fy = x + 0.5, y + 0.5
            if left <= fx < right and top <= fy < bottom:
                if fx - (right - fold) > fy - top:  # cut corner
                    continue
                edge = fx < left + s or fx >= right - s or fy >= bottom - s
                px[y][x] = (DARK if edge else WHITE) + (255,)
    # The arrow, green, pointing up out of the page.
    shaft_l, shaft_r = 14.5 * s, 17.5 * s
    for y in range(size):
        for x in range(size):
            fx, fy = x + 0.5, y + 0.5
            head = 11 * s <= fy < 17 * s and abs(fx - 16 * s) <= (fy - 11 * s)
            shaft = 17 * s <= fy < 23 * s and shaft_l <= fx < shaft_r
            if head or shaft:
                px[y][x] = GREEN + (255,)
    return px


def icon_image(size):
    px = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = b"".join(bytes((b, g, r, a)) for row in reversed(px) for (r, g, b, a) in row)
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(px):
        bits = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + xor + bytes(mask)


def write_ico(path, sizes):
    images = [icon_image(n) for n in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


def write_bmp(path, size):
    px = draw(size)
    stride = (size * 3 + 3) & ~3
    rows = bytearray()
    for row in reversed(px):
        line = bytearray()
        for (r, g, b, a) in row:
            # Blend over the notice's white background.
            k = a / 255.0
            line += bytes(int(round(c * k + 255 * (1 - k))) for c in (b, g, r))
        rows += line + bytes(stride - len(line))
    info = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(rows), 0, 0, 14 + len(info))
    with open(path, "wb") as f:
        f.write(head + info + rows)


if __name__ == "__main__":
    write_ico("ZentrafoldUpload.ico", [32, 16])
    write_bmp("Notice.bmp", 40)
