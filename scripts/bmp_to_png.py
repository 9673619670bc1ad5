#!/usr/bin/env python3
"""Turns the 24-bit BMP the Wine window driver saves into a PNG, with no image
library: python3 scripts/bmp_to_png.py IN.bmp OUT.png"""
import struct
import sys
import zlib

data = open(sys.argv[1], "rb").read()
offset = struct.unpack_from("<I", data, 10)[0]
width, height = struct.unpack_from("<ii", data, 18)
bits = struct.unpack_from("<H", data, 28)[0]
if bits != 24:
    sys.exit("only 24-bit BMP")
stride = (width * 3 + 3) & ~3
rows = []
for y in range(abs(height)):
    source = height - 1 - y if height > 0 else y
    row = data[offset + source * stride: offset + source * stride + width * 3]
    rgb = bytearray(len(row))
    rgb[0::3], rgb[1::3], rgb[2::3] = row[2::3], row[1::3], row[0::3]
    rows.append(b"\0" + bytes(rgb))

def chunk(kind, payload):
    return struct.pack(">I", len(payload)) + kind + payload + struct.pack(">I", zlib.crc32(kind + payload) & 0xFFFFFFFF)

png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, abs(height), 8, 2, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b"")
open(sys.argv[2], "wb").write(png)
