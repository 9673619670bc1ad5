#!/usr/bin/env python3
"""Draws the window icon and the browse picture as .ico files for the Windows
resources, from the same shapes as res/zarvik.svg and res/browse.svg (no image
library is needed: the shapes are few and are sampled 4x4 per pixel).

    python3 res/win/make_icons.py   # writes res/win/zarvik.ico and res/win/browse.ico
"""
import math
import os
import struct

def hexcolour(text):
    return tuple(int(text[i:i + 2], 16) for i in (1, 3, 5))

def rect(x, y, w, h, r=0):
    def inside(px, py):
        if not (x <= px <= x + w and y <= py <= y + h):
            return False
        if r == 0:
            return True
        cx = min(max(px, x + r), x + w - r)
        cy = min(max(py, y + r), y + h - r)
        return (px - cx) ** 2 + (py - cy) ** 2 <= r * r
    return inside

def circle(cx, cy, r):
    return lambda px, py: (px - cx) ** 2 + (py - cy) ** 2 <= r * r

def stroke(points, width):
    half = width / 2
    def inside(px, py):
        for (ax, ay), (bx, by) in zip(points, points[1:]):
            dx, dy = bx - ax, by - ay
            t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
            if (px - ax - t * dx) ** 2 + (py - ay - t * dy) ** 2 <= half * half:
                return True
        return False
    return inside

def polygon(points):
    def inside(px, py):
        result = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > py) != (yj > py) and px < (xj - xi) * (py - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result
    return inside

CHIP = [(rect(x, y, 4, 8), "#9aa3ad") for y in (6, 50) for x in (14, 24, 36, 46)] + [
    (rect(8, 13, 48, 38, 4), "#263340"),
    (circle(15, 20, 2.5), "#5a6b7c"),
    (stroke([(32, 18), (32, 34)], 5), "#f2b233"),
    (stroke([(24, 28), (32, 36), (40, 28)], 5), "#f2b233"),
    (rect(20, 40, 24, 4, 2), "#4fc36b"),
]
FOLDER = [
    (polygon([(1, 3.5), (6, 3.5), (7.5, 5), (14.5, 5), (14.5, 7), (4.5, 7), (1, 13.5)]), "#c98f1e"),
    (polygon([(4.5, 7), (16, 7), (12.5, 14), (1, 14)]), "#9c6d10"),
    (polygon([(5.0, 7.6), (15.1, 7.6), (12.1, 13.4), (1.9, 13.4)]), "#f2c14e"),
]

def render(shapes, view_w, view_h, width, height, n=4):
    pixels = []  # rows top to bottom, BGRA
    for y in range(height):
        row = []
        for x in range(width):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(n):
                for sx in range(n):
                    px = (x + (sx + 0.5) / n) * view_w / width
                    py = (y + (sy + 0.5) / n) * view_h / height
                    colour = None
                    for inside, c in shapes:
                        if inside(px, py):
                            colour = c
                    if colour:
                        r, g, b = hexcolour(colour)
                        acc[0] += b; acc[1] += g; acc[2] += r; acc[3] += 1
            a = acc[3] / (n * n)
            if acc[3]:
                row.append((round(acc[0] / acc[3]), round(acc[1] / acc[3]), round(acc[2] / acc[3]), round(a * 255)))
            else:
                row.append((0, 0, 0, 0))
        pixels.append(row)
    return pixels

def ico_image(pixels):
    height = len(pixels); width = len(pixels[0])
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = b"".join(bytes(p) for row in reversed(pixels) for p in row)
    # The alpha channel rules where it is drawn whole, but a disabled button draws the
    # icon greyed from its AND mask (DrawState's DSS_DISABLED): an empty mask greys the
    # whole square. A pixel less than half covered is transparent in the mask.
    mask_row = ((width + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(mask_row)
        for x, p in enumerate(row):
            if p[3] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    mask = bytes(mask)
    return header + xor + mask

def write_ico(path, images):
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    blobs = []
    for pixels in images:
        blob = ico_image(pixels)
        w = len(pixels[0]); h = len(pixels)
        out += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
        blobs.append(blob)
    with open(path, "wb") as f:
        f.write(out + b"".join(blobs))

here = os.path.dirname(os.path.abspath(__file__))
write_ico(os.path.join(here, "zarvik.ico"), [render(CHIP, 64, 64, s, s) for s in (16, 24, 32, 48, 64)])
# The browse picture in its template size and in two larger ones for high dpi.
write_ico(os.path.join(here, "browse.ico"), [render(FOLDER, 17, 16, w, h) for w, h in ((16, 16), (24, 24), (32, 32))])
