#!/usr/bin/env python3
"""Draws the command buttons' bitmaps and the program icon.

Writes, beside this script: copy_pc.bmp, copy_mac.bmp, new_folder.bmp,
delete.bmp, info.bmp (32 x 32, 16 colours, on the buttons' light grey) and
piericon.ico (32 x 32 and 16 x 16, 16 colours, with a transparency mask).
The build uses the files; run this only to change the pictures.

Each picture is a list of filled shapes in a 32-unit square, sampled at the
pixel centres, so the icon's small size comes from the same drawing.
"""
import os
import struct

# The standard 16-colour palette.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
    (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER, GREY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = range(16)
CLEAR = -1  # the icon's transparent pixels


def rect(x0, y0, x1, y1, colour):
    return ('poly', [(x0, y0), (x1, y0), (x1, y1), (x0, y1)], colour)


def frame(x0, y0, x1, y1, colour, width=1):
    return [rect(x0, y0, x1, y0 + width, colour), rect(x0, y1 - width, x1, y1, colour),
            rect(x0, y0, x0 + width, y1, colour), rect(x1 - width, y0, x1, y1, colour)]


def box(x0, y0, x1, y1, fill, edge=BLACK):
    return [rect(x0, y0, x1, y1, fill)] + frame(x0, y0, x1, y1, edge)


def poly(points, colour):
    return ('poly', points, colour)


def circle(cx, cy, r, colour):
    return ('circle', (cx, cy, r), colour)


def inside_poly(x, y, points):
    hit = False
    n = len(points)
    for i in range(n):
        (x0, y0), (x1, y1) = points[i], points[(i + 1) % n]
        if (y0 > y) != (y1 > y) and x < x0 + (y - y0) * (x1 - x0) / (y1 - y0):
            hit = not hit
    return hit


def render(shapes, size, background):
    scale = 32.0 / size
    pixels = [[background] * size for _ in range(size)]
    for kind, geometry, colour in shapes:
        for row in range(size):
            for col in range(size):
                x, y = (col + 0.5) * scale, (row + 0.5) * scale
                if kind == 'poly':
                    hit = inside_poly(x, y, geometry)
                else:
                    cx, cy, r = geometry
                    hit = (x - cx) ** 2 + (y - cy) ** 2 <= r * r
                if hit:
                    pixels[row][col] = colour
    return pixels


# The pictures ---------------------------------------------------------------

def pc(x, y):
    """A PC: monitor with a blue screen on a stand, 15 x 13, top left at (x, y)."""
    return (box(x, y, x + 15, y + 10, SILVER) + [rect(x + 2, y + 2, x + 13, y + 8, BLUE)] +
            [rect(x + 3, y + 3, x + 8, y + 4, AQUA)] + box(x + 4, y + 10, x + 11, y + 13, GREY))


def mac(x, y):
    """A compact Mac: tall case, small grey-white screen, drive slot, 12 x 15."""
    return (box(x, y, x + 12, y + 15, SILVER) + box(x + 2, y + 2, x + 10, y + 8, WHITE) +
            [rect(x + 3, y + 3, x + 6, y + 4, GREY), rect(x + 6, y + 10, x + 10, y + 11, BLACK),
             rect(x + 1, y + 13, x + 11, y + 14, GREY)])


def arrow_down(x, y0, y1, colour):
    """A thick arrow pointing down, shaft centred on x."""
    return [rect(x - 1.5, y0, x + 1.5, y1 - 4, colour), poly([(x - 4.5, y1 - 4), (x + 4.5, y1 - 4), (x, y1)], colour)]


def arrow_up(x, y0, y1, colour):
    return [rect(x - 1.5, y0 + 4, x + 1.5, y1, colour), poly([(x - 4.5, y0 + 4), (x + 4.5, y0 + 4), (x, y0)], colour)]


def copy_pc():
    # PC above, Mac below, as in the window: the file goes down.
    return pc(1, 1) + mac(19, 16) + [rect(17, 4, 25, 7, RED)] + arrow_down(23.5, 4, 16, RED)


def copy_mac():
    # The file comes up from the Mac to the PC.
    return pc(1, 1) + mac(19, 16) + [rect(8, 21.5, 19, 24.5, RED)] + arrow_up(8.5, 14, 24.5, RED)


def new_folder():
    shapes = [poly([(3, 10), (11, 10), (13, 12), (27, 12), (27, 28), (3, 28)], OLIVE)]
    shapes += [poly([(3, 14), (27, 14), (27, 28), (3, 28)], YELLOW)]
    shapes += frame(3, 14, 27, 28, BLACK)
    shapes += [poly([(3, 10), (11, 10), (13, 12), (27, 12), (27, 13), (3, 13)], BLACK)]
    # A spark: something new.
    shapes += [poly([(24, 1), (25.5, 5.5), (30, 7), (25.5, 8.5), (24, 13), (22.5, 8.5), (18, 7), (22.5, 5.5)], RED)]
    return shapes


def delete():
    shapes = box(7, 9, 25, 30, SILVER)
    shapes += [rect(11, 12, 12, 27, GREY), rect(15.5, 12, 16.5, 27, GREY), rect(20, 12, 21, 27, GREY)]
    shapes += box(5, 6, 27, 9, GREY) + box(12, 3, 20, 6, GREY)
    # A red cross over it.
    shapes += [poly([(4, 12), (7, 12), (28, 30), (25, 30)], RED), poly([(25, 12), (28, 12), (7, 30), (4, 30)], RED)]
    return shapes


def info():
    return [circle(16, 16, 14, BLACK), circle(16, 16, 13, BLUE), circle(16, 9, 2.3, WHITE),
            rect(13, 13, 18, 15, WHITE), rect(14, 13, 18, 23, WHITE), rect(12, 23, 20, 25, WHITE)]


def icon():
    # A diskette on a blue quay of water, linked: the program's purpose.
    shapes = [rect(0, 22, 32, 32, NAVY), poly([(0, 24), (8, 22), (16, 24), (24, 22), (32, 24), (32, 26), (24, 24),
                                                (16, 26), (8, 24), (0, 26)], AQUA)]
    shapes += box(5, 2, 27, 26, BLUE)
    shapes += box(10, 2, 22, 10, SILVER) + [rect(18, 3.5, 20, 8.5, BLUE)]
    shapes += box(8, 14, 24, 26, WHITE)
    shapes += [rect(10, 17, 22, 18, GREY), rect(10, 20, 22, 21, GREY)]
    shapes += box(2, 28, 30, 31, MAROON)
    return shapes


# Files ----------------------------------------------------------------------

def dib(pixels, with_mask):
    """A 4-bit DIB: header, palette, pixel rows bottom up; for an icon the
    height is doubled and the AND mask follows."""
    size = len(pixels)
    row_bytes = ((size * 4 + 31) // 32) * 4
    mask_row_bytes = ((size + 31) // 32) * 4
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2 if with_mask else size, 1, 4, 0,
                         row_bytes * size + (mask_row_bytes * size if with_mask else 0), 2835, 2835, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    body = bytearray()
    for row in reversed(pixels):
        line = bytearray(row_bytes)
        for col, value in enumerate(row):
            value = 0 if value == CLEAR else value
            line[col // 2] |= value << (4 if col % 2 == 0 else 0)
        body += line
    if with_mask:
        for row in reversed(pixels):
            line = bytearray(mask_row_bytes)
            for col, value in enumerate(row):
                if value == CLEAR:
                    line[col // 8] |= 0x80 >> (col % 8)
            body += line
    return header + palette + bytes(body)


def write_bmp(path, pixels):
    image = dib(pixels, False)
    offset = 14 + 40 + 16 * 4
    with open(path, 'wb') as f:
        f.write(struct.pack('<2sIHHI', b'BM', 14 + len(image), 0, 0, offset) + image)


def write_ico(path, images):
    head = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, blobs = b'', b''
    for pixels in images:
        blob = dib(pixels, True)
        size = len(pixels)
        entries += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
        blobs += blob
    with open(path, 'wb') as f:
        f.write(head + entries + blobs)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for name, drawing in [('copy_pc', copy_pc), ('copy_mac', copy_mac), ('new_folder', new_folder),
                          ('delete', delete), ('info', info)]:
        write_bmp(os.path.join(here, name + '.bmp'), render(drawing(), 32, SILVER))
    write_ico(os.path.join(here, 'piericon.ico'), [render(icon(), 32, CLEAR), render(icon(), 16, CLEAR)])


if __name__ == '__main__':
    main()
