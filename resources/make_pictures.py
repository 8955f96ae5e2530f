#!/usr/bin/env python3
"""Draws the program's pictures: the hand pointer, the drag pointer and the
window icon. Everything is drawn here from the pixel maps below, so the files
can be rebuilt and read by anyone.

usage: make_pictures.py OUTPUT_FOLDER [ICON_THEME_FOLDER]
"""
import os
import struct
import sys
import zlib

# The hand pointer, 32 x 32. '#' outline, '.' fill, ' ' transparent.
HAND = """
      ##
     #..#
     #..#
     #..#
     #..#
     #..###
     #..#..###
     #..#..#..##
  ## #..#..#..#.#
 #..##........#..#
 #...#...........#
  #..............#
   #.............#
   #.............#
    #............#
    #...........#
     #..........#
     #.........#
      #........#
      #........#
      ##########
"""

# The drag pointer, 32 x 32: a row with arrows above and below.
DRAG = """
               #
              #.#
             #...#
            #.....#
           #.......#
          ####...####
             #...#
             #...#
   ###########################
   #.........................#
   #.#######################.#
   #.........................#
   #.#################.......#
   #.........................#
   ###########################
             #...#
             #...#
          ####...####
           #.......#
            #.....#
             #...#
              #.#
               #
"""

OUTLINE = (0, 0, 0, 255)
FILL = (255, 255, 255, 255)
CLEAR = (0, 0, 0, 0)


def pixels_from_map(text, size=32):
    rows = text.strip("\n").split("\n")
    grid = []
    for y in range(size):
        row = rows[y] if y < len(rows) else ""
        line = []
        for x in range(size):
            ch = row[x] if x < len(row) else " "
            line.append(OUTLINE if ch == "#" else FILL if ch == "." else CLEAR)
        grid.append(line)
    return grid


def bmp_payload(grid):
    """The image part of an .ico/.cur entry: a BITMAPINFOHEADER, 32-bit BGRA
    rows bottom-up, and the 1-bit AND mask."""
    size = len(grid)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b"".join(bytes((b, g, r, a)) for row in reversed(grid) for (r, g, b, a) in row)
    mask = bytearray()
    for row in reversed(grid):
        bits = 0
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits |= 1 << (31 - x)
        mask += struct.pack(">I", bits)
    return header + colour + bytes(mask)


def write_icon(path, grid, kind, hot=(0, 0)):
    payload = bmp_payload(grid)
    size = len(grid)
    # kind 1 = icon (planes, bit count), kind 2 = cursor (hot spot x, y)
    field1, field2 = (1, 32) if kind == 1 else hot
    directory = struct.pack("<HHH", 0, kind, 1)
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, field1, field2, len(payload), 6 + 16)
    with open(path, "wb") as f:
        f.write(directory + entry + payload)


ICON_SIZES = (16, 32, 48, 64, 128, 256)


def icon_pixel(x, y, size=64):
    """The window icon, drawn at 64 x 64: a slide with a red band, the corner folded."""
    inside = 6 <= x < size - 6 and 10 <= y < size - 10
    border = inside and (x in (6, size - 7) or y in (10, size - 11))
    corner = x + (size - 1 - y) > size + 28 - 12 and inside
    band = inside and size - 26 <= y < size - 16 and 12 <= x < size - 12
    lines = inside and y in (20, 26, 32) and 14 <= x < size - 18
    if not inside or corner:
        return (0, 0, 0, 0)
    if border:
        return (40, 40, 60, 255)
    if band:
        return (200, 30, 40, 255)
    if lines:
        return (70, 90, 160, 255)
    return (250, 250, 250, 255)


def write_png(path, size=64):
    """The icon at any size, each pixel taken from the 64 x 64 drawing."""
    rows = []
    for y in range(size):
        row = bytearray([0])
        for x in range(size):
            row += bytes(icon_pixel(x * 64 // size, y * 64 // size))
        rows.append(bytes(row))
    raw = zlib.compress(b"".join(rows), 9)

    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", raw) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write_icon(os.path.join(out, "HAND-M.CUR"), pixels_from_map(HAND), 2, hot=(6, 0))
    write_icon(os.path.join(out, "drag.ico"), pixels_from_map(DRAG), 1)
    write_png(os.path.join(out, "pradelux.png"))
    # The desktop's icon theme, in its folder layout: SIZExSIZE/apps/NAME.png.
    if len(sys.argv) > 2:
        for size in ICON_SIZES:
            folder = os.path.join(sys.argv[2], "%dx%d" % (size, size), "apps")
            os.makedirs(folder, exist_ok=True)
            write_png(os.path.join(folder, "org.pradelux.Pradelux.png"), size)


if __name__ == "__main__":
    main()
