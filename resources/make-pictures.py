#!/usr/bin/env python3
"""Draws the wizard's pictures into OUTDIR:

  side.ppm    166 x 279, the welcome and finish pages' side picture
              (the build turns it into side.jpg with ImageMagick)
  header.bmp  55 x 55, 24-bit, the header picture of the folder and
              installing pages
  quv.ico     the program icon: 16, 32 and 48 pixels, each in 16 and in 256
              colours

Everything is drawn from a few shapes so the build needs no picture files.
"""
import math
import struct
import sys


def lerp(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def clamp01(v):
    return 0.0 if v < 0 else 1.0 if v > 1 else v


# ---- side picture ------------------------------------------------------------
def side_pixel(x, y, w, h):
    # A deep blue sky over a lighter band, with a ring and a small box: the
    # service "delivered" to the computer.
    t = y / (h - 1)
    col = lerp((18, 52, 120), (92, 160, 220), t)
    # soft diagonal light stripes
    s = (x + y * 0.6) % 48
    if s < 10:
        col = lerp(col, (255, 255, 255), 0.10)
    # ground band
    if y > h * 0.78:
        col = lerp((40, 96, 56), (20, 60, 34), clamp01((y - h * 0.78) / (h * 0.22)))
    # ring (a stylised Q)
    cx, cy, r = w * 0.5, h * 0.36, w * 0.28
    d = math.hypot(x - cx, y - cy)
    if abs(d - r) < 7:
        col = lerp((255, 214, 90), (255, 255, 255), clamp01((r + 7 - d) / 14) * 0.5)
    # the Q's tail
    tx, ty = x - (cx + r * 0.55), y - (cy + r * 0.55)
    if -2 <= tx - ty * 0.9 <= 8 and 0 <= ty <= r * 0.6:
        col = (255, 214, 90)
    # a box on the ground
    bx0, by0, bx1, by1 = w * 0.30, h * 0.66, w * 0.70, h * 0.82
    if bx0 <= x <= bx1 and by0 <= y <= by1:
        edge = min(x - bx0, bx1 - x, y - by0, by1 - y) < 2
        col = (120, 70, 30) if edge else lerp((214, 160, 96), (180, 120, 64), (y - by0) / (by1 - by0))
    return col


def write_ppm(path, w, h, pixel):
    with open(path, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (w, h))
        for y in range(h):
            f.write(bytes(c for x in range(w) for c in pixel(x, y, w, h)))


# ---- header picture ----------------------------------------------------------
def header_pixel(x, y, w, h):
    col = lerp((235, 242, 252), (190, 210, 240), y / (h - 1))
    cx, cy = w / 2, h / 2
    d = math.hypot(x - cx, y - cy)
    # a disc with a folder-like tab: the install folder
    if 10 <= x <= 45 and 16 <= y <= 42:
        col = lerp((255, 220, 110), (230, 170, 40), (y - 16) / 26)
        if x in (10, 45) or y in (16, 42):
            col = (160, 110, 20)
    elif 10 <= x <= 26 and 11 <= y < 16:
        col = (230, 180, 60) if x not in (10, 26) and y != 11 else (160, 110, 20)
    if abs(d - 24) < 1.2:
        col = (60, 100, 170)
    return col


def write_bmp24(path, w, h, pixel):
    stride = (w * 3 + 3) & ~3
    data = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray()
        for x in range(w):
            r, g, b = pixel(x, y, w, h)
            row += bytes((b, g, r))
        row += b"\0" * (stride - len(row))
        data += row
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


# ---- icon --------------------------------------------------------------------
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def icon_pixel(x, y, n):
    """Colour at (x, y) of an n x n icon, or None where it is transparent."""
    u, v = (x + 0.5) / n, (y + 0.5) / n
    cx = cy = 0.46
    d = math.hypot(u - cx, v - cy)
    # the Q's tail, lower right
    if 0.55 < u < 0.95 and 0.55 < v < 0.95 and abs((u - 0.55) - (v - 0.55)) < 0.09:
        return (255, 200, 40)
    if d <= 0.42:
        if d >= 0.30:
            return lerp((40, 110, 220), (10, 40, 140), clamp01((u + v) / 2))
        if d >= 0.26:
            return (255, 255, 255)
        return lerp((255, 230, 120), (240, 170, 20), clamp01(v))
    return None


def nearest(palette, col):
    return min(range(len(palette)), key=lambda i: sum((palette[i][k] - col[k]) ** 2 for k in range(3)))


def palette256():
    # 6x6x6 colour cube plus a grey ramp: enough for the icon's gradients.
    pal = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    pal += [(int(i * 255 / 39),) * 3 for i in range(40)]
    return pal[:256]


def icon_image(n, bpp):
    palette = VGA16 if bpp == 4 else palette256()
    idx = [[0] * n for _ in range(n)]
    mask = [[1] * n for _ in range(n)]
    for y in range(n):
        for x in range(n):
            c = icon_pixel(x, y, n)
            if c is not None:
                idx[y][x] = nearest(palette, c)
                mask[y][x] = 0
    xor_stride = ((n * bpp + 31) // 32) * 4
    and_stride = ((n + 31) // 32) * 4
    xor = bytearray()
    andm = bytearray()
    for y in range(n - 1, -1, -1):
        row = bytearray(xor_stride)
        for x in range(n):
            if bpp == 8:
                row[x] = idx[y][x]
            else:
                row[x // 2] |= idx[y][x] << (4 if x % 2 == 0 else 0)
        xor += row
        mrow = bytearray(and_stride)
        for x in range(n):
            if mask[y][x]:
                mrow[x // 8] |= 0x80 >> (x % 8)
        andm += mrow
    colours = 1 << bpp
    pal = b"".join(bytes((b, g, r, 0)) for (r, g, b) in palette) + b"\0\0\0\0" * (colours - len(palette))
    info = struct.pack("<IiiHHIIiiII", 40, n, n * 2, 1, bpp, 0, len(xor) + len(andm), 0, 0, 0, 0)
    return info + pal + xor + andm


def write_ico(path):
    entries = [(n, bpp) for bpp in (4, 8) for n in (16, 32, 48)]
    images = [icon_image(n, bpp) for (n, bpp) in entries]
    out = bytearray(struct.pack("<HHH", 0, 1, len(entries)))
    offset = 6 + 16 * len(entries)
    for (n, bpp), img in zip(entries, images):
        out += struct.pack("<BBBBHHII", n, n, 16 if bpp == 4 else 0, 0, 1, bpp, len(img), offset)
        offset += len(img)
    for img in images:
        out += img
    with open(path, "wb") as f:
        f.write(out)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "."
    write_ppm(f"{out}/side.ppm", 166, 279, side_pixel)
    write_bmp24(f"{out}/header.bmp", 55, 55, header_pixel)
    write_ico(f"{out}/quv.ico")


if __name__ == "__main__":
    main()
