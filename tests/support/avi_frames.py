#!/usr/bin/env python3
"""Frames wholly written into a clip, its writer cut off or not, counted
without the program's own code: avi_frames.py CLIP prints the number."""
import struct
import sys

data = open(sys.argv[1], 'rb').read()
at = data.find(b'LIST', 12)
while at >= 0 and data[at + 8:at + 12] != b'movi':
    at = data.find(b'LIST', at + 4)
pos, frames = at + 12, 0
while at >= 0 and pos + 8 <= len(data):
    tag, size = data[pos:pos + 4], struct.unpack('<I', data[pos + 4:pos + 8])[0]
    if pos + 8 + size > len(data):
        break
    if tag[2:] in (b'dc', b'db'):
        frames += 1
    elif tag != b'JUNK' and not tag.startswith(b'ix'):
        break
    pos += 8 + size + (size & 1)
print(frames)
