#!/usr/bin/env python3
"""Draws the application icon from one drawing: a 32 x 32 and a 16 x 16 image in 16 colours
(the standard 16-colour palette) with transparency, and 16, 24, 32, 48, 64, 128 and 256 px
images in 32-bit colour with alpha, smoothed at the edges (the 256 px one stored as PNG in
the .ico, as Windows expects), so that no size is scaled up from a smaller one.

The picture: a modem with its status lights, an antenna and the radio waves it sends.

  make_icon.py                 writes tarvic.ico here (run it from this folder after
                               changing the drawing; the .ico is kept in the repository)
  make_icon.py --ico FILE      writes the .ico as FILE
  make_icon.py --png DIR       writes the 32-bit images as DIR/NxN/tarvic.png (the Linux
                               desktop's icon theme)
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


# The drawing, on a 32 x 32 grid: rectangles painted in order, each over the ones before.
RECTS = [
    # Body of the modem: outline, face, light top edge, shaded bottom edge.
    (2, 20, 30, 30, BLACK),
    (4, 22, 28, 28, SILVER),
    (4, 22, 28, 23, WHITE),
    (4, 26, 28, 28, GRAY),
    # Status lights.
    (6, 24, 8, 26, LIME),
    (10, 24, 12, 26, LIME),
    (14, 24, 16, 26, YELLOW),
    # Mast and its tip.
    (20, 12, 22, 20, BLACK),
    (18, 8, 24, 12, RED),
]
# Radio waves around the tip of the mast, where nothing else is painted.
WAVE_CENTRE = (21, 10)
WAVE_COLOUR = BLUE


def wave_radii(size):
    # A small image has room for one wave only.
    return [6, 10] if size >= 24 else [7]


def draw(size):
    """The drawing in palette colours, one sample per pixel."""
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

    for r in RECTS:
        rect(*r)
    arcs(*WAVE_CENTRE, [6, 10] if size >= 32 else [7], WAVE_COLOUR, 0.8)
    return px


def colour_at(u, v, size):
    """The drawing's colour at the point (u, v) of the 32 x 32 grid, or CLEAR."""
    colour = CLEAR
    for x0, y0, x1, y1, c in RECTS:
        if x0 <= u < x1 and y0 <= v < y1:
            colour = c
    if colour is CLEAR:
        dx, dy = u - WAVE_CENTRE[0], v - WAVE_CENTRE[1]
        d = math.hypot(dx, dy)
        # Lines 0.8 px wide at small sizes (as the 16-colour images), 0.8 grid units above.
        half = 0.8 * max(1.0, 32.0 / size)
        if dy < -0.3 and any(abs(d - r) < half for r in wave_radii(size)):
            colour = WAVE_COLOUR
    return colour


def draw_rgba(size, samples=4):
    """The drawing in 32-bit colour: each pixel the mean of samples x samples points, so
    that the edges that do not fall on the pixel grid are smooth (straight alpha)."""
    step = 32.0 / size
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            r = g = b = a = 0
            for j in range(samples):
                for i in range(samples):
                    c = colour_at((x + (i + 0.5) / samples) * step,
                                  (y + (j + 0.5) / samples) * step, size)
                    if c is not CLEAR:
                        pr, pg, pb = PALETTE[c]
                        r, g, b, a = r + pr, g + pg, b + pb, a + 1
            if a == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((round(r / a), round(g / a), round(b / a),
                            round(255 * a / (samples * samples))))
        rows.append(row)
    return rows


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


def bmp32(rgba):
    """A 32-bit image for the .ico: BGRA rows bottom-up, then the mask of clear pixels
    (which only systems without alpha look at)."""
    size = len(rgba)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = b""
    mask = b""
    for row in reversed(rgba):
        xor += b"".join(struct.pack("BBBB", b, g, r, a) for (r, g, b, a) in row)
        bits = bytearray((size + 7) // 8)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits).ljust((len(bits) + 3) // 4 * 4, b"\0")
    return header + xor + mask


def png(rgba):
    """The image as a PNG: 8-bit RGBA."""
    size = len(rgba)
    raw = b""
    for row in rgba:
        raw += b"\0"  # no filter
        raw += b"".join(bytes(p) for p in row)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


SIZES = (16, 24, 32, 48, 64, 128, 256)


def write_ico(path):
    # (size, colours in the palette, bits per pixel, data); 0 stands for 256 in the directory.
    images = [(32, 16, 4, bmp(draw(32))), (16, 16, 4, bmp(draw(16)))]
    for size in SIZES:
        rgba = draw_rgba(size)
        images.append((size, 0, 32, png(rgba) if size == 256 else bmp32(rgba)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, colours, bits, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0, 1, bits, len(data),
                           offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(data for *_, data in images))


def write_pngs(folder):
    for size in SIZES:
        sub = os.path.join(folder, "%dx%d" % (size, size))
        os.makedirs(sub, exist_ok=True)
        with open(os.path.join(sub, "tarvic.png"), "wb") as f:
            f.write(png(draw_rgba(size)))


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
