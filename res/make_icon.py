#!/usr/bin/env python3
"""Draws the application icon: a 32 x 32 and a 16 x 16 image, 16 colours each (the standard
16-colour palette), with transparency.

The picture: a modem with its status lights, an antenna and the radio waves it sends.

  make_icon.py                 writes tarvic.ico here (run it from this folder after
                               changing the drawing; the .ico is kept in the repository)
  make_icon.py --ico FILE      writes the .ico as FILE
  make_icon.py --png DIR       writes the same two images as DIR/16x16/tarvic.png and
                               DIR/32x32/tarvic.png (the Linux desktop's icon theme)
"""
import math
import os
import struct
import sys
import zlib

PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, GREEN, NAVY, TEAL, SILVER, GRAY, RED, LIME, YELLOW, BLUE, WHITE = 0, 2, 4, 6, 7, 8, 9, 10, 11, 12, 15
CLEAR = None


def draw(size):
    px = [[CLEAR] * size for _ in range(size)]
    s = size / 32.0

    def rect(x0, y0, x1, y1, c):
        for y in range(round(y0 * s), round(y1 * s)):
            for x in range(round(x0 * s), round(x1 * s)):
                px[y][x] = c

    def arcs(cx, cy, radii, c, width):
        for y in range(size):
            for x in range(size):
                dx, dy = x + 0.5 - cx * s, y + 0.5 - cy * s
                d = math.hypot(dx, dy)
                # Only the upper half, away from the mast.
                if dy < -0.3 * s and any(abs(d - r * s) < width for r in radii):
                    if px[y][x] is CLEAR:
                        px[y][x] = c

    # Body of the modem: outline, face, light top edge, shaded bottom edge.
    rect(2, 20, 30, 30, BLACK)
    rect(4, 22, 28, 28, SILVER)
    rect(4, 22, 28, 23, WHITE)
    rect(4, 26, 28, 28, GRAY)
    # Status lights.
    rect(6, 24, 8, 26, LIME)
    rect(10, 24, 12, 26, LIME)
    rect(14, 24, 16, 26, YELLOW)
    # Mast and its tip.
    rect(20, 12, 22, 20, BLACK)
    rect(18, 8, 24, 12, RED)
    # Radio waves around the tip.
    arcs(21, 10, [6, 10] if size >= 32 else [7], BLUE, 0.8)
    return px


def bmp(px):
    size = len(px)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    xor = b""
    mask = b""
    for row in reversed(px):  # bottom-up
        line = bytearray()
        for x in range(0, size, 2):
            hi = row[x] if row[x] is not CLEAR else 0
            lo = row[x + 1] if row[x + 1] is not CLEAR else 0
            line.append((hi << 4) | lo)
        xor += bytes(line).ljust((len(line) + 3) // 4 * 4, b"\0")
        bits = bytearray((size + 7) // 8)
        for x, c in enumerate(row):
            if c is CLEAR:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits).ljust((len(bits) + 3) // 4 * 4, b"\0")
    return header + palette + xor + mask


def png(px):
    """The image as a PNG: 8-bit RGBA, clear pixels fully transparent."""
    size = len(px)
    raw = b""
    for row in px:
        raw += b"\0"  # no filter
        for c in row:
            raw += bytes(PALETTE[c]) + b"\xff" if c is not CLEAR else b"\0\0\0\0"

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def write_ico(path):
    images = [bmp(draw(32)), bmp(draw(16))]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((32, 16), images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


def write_pngs(folder):
    for size in (16, 32):
        sub = os.path.join(folder, "%dx%d" % (size, size))
        os.makedirs(sub, exist_ok=True)
        with open(os.path.join(sub, "tarvic.png"), "wb") as f:
            f.write(png(draw(size)))


def main(args):
    if not args:
        args = ["--ico", "tarvic.ico"]
    if len(args) % 2 or any(a not in ("--ico", "--png") for a in args[::2]):
        sys.exit("usage: make_icon.py [--ico FILE] [--png DIR]")
    for option, value in zip(args[::2], args[1::2]):
        if option == "--ico":
            write_ico(value)
        else:
            write_pngs(value)


if __name__ == "__main__":
    main(sys.argv[1:])
