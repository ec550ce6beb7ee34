#!/usr/bin/env python3
"""Writes resources/HAND-M.CUR, the pointing-hand pointer shown over buttons."""
import struct
import sys

ART = """
.....XX.........
....X..X........
....X..X........
....X..X........
....X..X........
....X..XXX......
....X..X..XXX...
....X..X..X..XX.
.XX.X..X..X..X.X
X..XX........X.X
X...X..........X
.X.............X
..X............X
..X...........X.
...X..........X.
...X.........X..
....X........X..
....X........X..
....XXXXXXXXXX..
""".strip().splitlines()

SIZE = 32
SCALE = 1
pixels = [[None] * SIZE for _ in range(SIZE)]  # None = transparent
for y, row in enumerate(ART):
    inside = False
    for x, ch in enumerate(row):
        if ch == "X":
            pixels[y + 2][x + 4] = (0, 0, 0)
# fill the inside of the outline white, row by row between outline pixels
for y in range(SIZE):
    xs = [x for x in range(SIZE) if pixels[y][x] is not None]
    if len(xs) >= 2:
        for x in range(xs[0] + 1, xs[-1]):
            if pixels[y][x] is None:
                pixels[y][x] = (255, 255, 255)

xor = bytearray()
for y in reversed(range(SIZE)):
    for x in range(SIZE):
        p = pixels[y][x]
        xor += bytes((0, 0, 0, 0)) if p is None else bytes((p[2], p[1], p[0], 255))
and_mask = bytearray()
for y in reversed(range(SIZE)):
    bits = 0
    for x in range(SIZE):
        if pixels[y][x] is None:
            bits |= 1 << (31 - x)
    and_mask += struct.pack(">I", bits)

header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
image = header + xor + and_mask
hot_x, hot_y = 4 + 5, 2 + 0
icondir = struct.pack("<HHH", 0, 2, 1)
entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, hot_x, hot_y, len(image), 6 + 16)
with open(sys.argv[1] if len(sys.argv) > 1 else "resources/HAND-M.CUR", "wb") as f:
    f.write(icondir + entry + image)
