#!/usr/bin/env python3
"""Draws the installer's program icon and writes it as a Windows .ico file.

One image, 32 x 32 pixels, 16 colours (4 bits per pixel, the standard VGA
palette): a desktop computer (a monitor on a flat system unit) with a
diskette leaning against it, the picture of an installer from disk.

Usage: make_icon.py OUT.ico [--png PREVIEW.png]
The output is committed next to this script; run it again after changing
the picture.
"""
import struct
import sys
import zlib

SIZE = 32

# The 16-colour VGA palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GRAY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = range(8, 16)
CLEAR = None  # transparent: AND mask bit set


def blank():
    return [[CLEAR] * SIZE for _ in range(SIZE)]


def fill(img, x0, y0, x1, y1, colour):
    """Fills the rectangle from (x0, y0) to (x1, y1), both inclusive."""
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            img[y][x] = colour


def box(img, x0, y0, x1, y1, colour):
    """Draws the outline of the rectangle, both corners inclusive."""
    for x in range(x0, x1 + 1):
        img[y0][x] = colour
        img[y1][x] = colour
    for y in range(y0, y1 + 1):
        img[y][x0] = colour
        img[y][x1] = colour


def bevel(img, x0, y0, x1, y1, face):
    """A raised panel: light top-left edge, dark bottom-right, black outline."""
    fill(img, x0, y0, x1, y1, face)
    for x in range(x0, x1 + 1):
        img[y0 + 1][x] = WHITE
        img[y1 - 1][x] = GRAY
    for y in range(y0 + 1, y1):
        img[y][x0 + 1] = WHITE
        img[y][x1 - 1] = GRAY
    box(img, x0, y0, x1, y1, BLACK)


def draw():
    img = blank()
    # Monitor: a silver casing around a blue screen with a highlight.
    bevel(img, 9, 1, 30, 17, SILVER)
    fill(img, 12, 4, 27, 14, NAVY)
    box(img, 12, 4, 27, 14, BLACK)
    fill(img, 13, 5, 26, 6, BLUE)
    for i in range(4):
        img[8 + i][15 + 2 * i] = AQUA
        img[8 + i][16 + 2 * i] = AQUA
    img[15][26] = LIME  # power light
    # Neck and system unit.
    fill(img, 17, 18, 22, 19, GRAY)
    box(img, 17, 18, 22, 19, BLACK)
    bevel(img, 6, 20, 31, 27, SILVER)
    fill(img, 21, 23, 28, 23, BLACK)  # drive slot
    img[25][9] = LIME
    img[25][11] = RED
    # Diskette in front, lower left: navy body, silver shutter, white label.
    fill(img, 0, 14, 13, 31, NAVY)
    box(img, 0, 14, 13, 31, BLACK)
    fill(img, 4, 15, 10, 20, SILVER)
    box(img, 4, 14, 10, 20, BLACK)
    fill(img, 8, 16, 9, 19, NAVY)
    fill(img, 2, 23, 11, 30, WHITE)
    box(img, 2, 23, 11, 31, BLACK)
    for y in (25, 27, 29):
        fill(img, 4, y, 9, y, BLUE)
    img[14][0] = CLEAR  # cut corner
    img[15][13] = BLACK
    img[14][13] = CLEAR
    return img


def ico_bytes(img):
    # XOR bitmap, bottom-up rows of 4-bit pixels (16 bytes a row).
    xor = bytearray()
    for y in range(SIZE - 1, -1, -1):
        row = img[y]
        for x in range(0, SIZE, 2):
            hi = row[x] if row[x] is not None else 0
            lo = row[x + 1] if row[x + 1] is not None else 0
            xor.append((hi << 4) | lo)
    # AND mask, bottom-up rows of 1-bit pixels padded to 4 bytes (1 = clear).
    mask = bytearray()
    for y in range(SIZE - 1, -1, -1):
        bits = 0
        for x in range(SIZE):
            bits = (bits << 1) | (1 if img[y][x] is None else 0)
        mask += struct.pack('>I', bits)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 4, 0,
                         len(xor) + len(mask), 0, 0, 16, 0)
    image = header + palette + bytes(xor) + bytes(mask)
    directory = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def png_bytes(img, scale=8):
    rows = b''
    for y in range(SIZE):
        line = bytearray([0])
        for x in range(SIZE):
            c = img[y][x]
            rgb = (255, 0, 255) if c is None else PALETTE[c]
            line += bytes(rgb) * scale
        rows += bytes(line) * scale

    def chunk(kind, data):
        return (struct.pack('>I', len(data)) + kind + data +
                struct.pack('>I', zlib.crc32(kind + data) & 0xFFFFFFFF))
    side = SIZE * scale
    return (b'\x89PNG\r\n\x1a\n' +
            chunk(b'IHDR', struct.pack('>IIBBBBB', side, side, 8, 2, 0, 0, 0)) +
            chunk(b'IDAT', zlib.compress(rows)) + chunk(b'IEND', b''))


def main(argv):
    if len(argv) not in (2, 4) or (len(argv) == 4 and argv[2] != '--png'):
        sys.stderr.write(__doc__)
        return 2
    img = draw()
    with open(argv[1], 'wb') as out:
        out.write(ico_bytes(img))
    if len(argv) == 4:
        with open(argv[3], 'wb') as out:
            out.write(png_bytes(img))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
