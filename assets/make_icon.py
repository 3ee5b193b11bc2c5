#!/usr/bin/env python3
"""Writes the program's icon: one .ico with 16x16, 32x32 and 48x48 images in
16 colours (4 bits a pixel, the standard VGA palette).

The picture is drawn from geometry, so every size is crisp: a rounded blue
tile with a white gate (two posts and a lintel). Change the drawing here; the
build regenerates the icon. Output is byte-for-byte deterministic.

usage: make_icon.py OUTPUT.ico
"""
import struct
import sys

# The 16-colour VGA palette as (red, green, blue); written out in BMP order.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]  # (r, g, b)
BLUE, DARK_BLUE, WHITE, CYAN = 12, 4, 15, 14


def draw(size):
    """Returns rows (top first) of palette indexes, or None for transparent."""
    s = size / 16.0
    radius = 3 * s
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            cx, cy = x + 0.5, y + 0.5
            # rounded square with corner radius `radius`
            dx = max(radius - cx, 0, cx - (size - radius))
            dy = max(radius - cy, 0, cy - (size - radius))
            if dx * dx + dy * dy > radius * radius:
                row.append(None)
                continue
            edge = min(cx, cy, size - cx, size - cy)
            colour = DARK_BLUE if edge < s else BLUE
            u, v = cx / s, cy / s  # position on the 16-unit grid
            post = (3.5 <= u <= 5.5 or 10.5 <= u <= 12.5) and 4 <= v <= 13
            lintel = 2.5 <= u <= 13.5 and 3 <= v <= 5
            beam = 5.5 <= u <= 10.5 and 7 <= v <= 8
            if post or lintel:
                colour = WHITE
            elif beam:
                colour = CYAN
            row.append(colour)
        rows.append(row)
    return rows


def bmp_image(size):
    rows = draw(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor, mask = b'', b''
    for row in reversed(rows):  # BMP rows run bottom up
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, colour in enumerate(row):
            index = 0 if colour is None else colour
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if colour is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += bytes(line)
        mask += bytes(bits)
    return header + palette + xor + mask


def main():
    sizes = (16, 32, 48)
    images = [bmp_image(n) for n in sizes]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', n, n, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    out += b''.join(images)
    with open(sys.argv[1], 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
