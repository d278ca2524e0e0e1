#!/usr/bin/env python3
"""Draws the example theme's icons (16x16, 32-bit with alpha) and writes them as .ico files.

Usage: make_icons.py OUTPUT_FOLDER
       make_icons.py --list   (prints the file names it writes, one a line)
"""
import math
import os
import struct
import sys

SIZE = 16
CLEAR = None


def canvas():
    return [[CLEAR] * SIZE for _ in range(SIZE)]


def rect(img, x0, y0, x1, y1, colour):
    """Fills the inclusive rectangle."""
    for y in range(max(0, y0), min(SIZE - 1, y1) + 1):
        for x in range(max(0, x0), min(SIZE - 1, x1) + 1):
            img[y][x] = colour


def disc(img, cx, cy, r, colour, ring=None):
    for y in range(SIZE):
        for x in range(SIZE):
            d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
            if d <= r:
                img[y][x] = ring if ring and d > r - 1.2 else colour


def line(img, x0, y0, x1, y1, colour):
    steps = max(abs(x1 - x0), abs(y1 - y0)) * 2 + 1
    for i in range(steps + 1):
        x = round(x0 + (x1 - x0) * i / steps)
        y = round(y0 + (y1 - y0) * i / steps)
        if 0 <= x < SIZE and 0 <= y < SIZE:
            img[y][x] = colour


def globe():
    img = canvas()
    disc(img, 8, 8, 7.5, (0x2E, 0x86, 0xDE), ring=(0x14, 0x4A, 0x80))
    for y in (4, 8, 11):
        line(img, 2, y, 13, y, (0xBF, 0xE3, 0xFF))
    line(img, 8, 1, 8, 14, (0xBF, 0xE3, 0xFF))
    return img


def chip(body, pins=(0xD0, 0xD0, 0xD0)):
    img = canvas()
    rect(img, 3, 3, 12, 12, body)
    rect(img, 5, 5, 10, 10, tuple(min(255, c + 50) for c in body))
    for p in (4, 7, 10):
        rect(img, p, 0, p + 1, 2, pins)
        rect(img, p, 13, p + 1, 15, pins)
        rect(img, 0, p, 2, p + 1, pins)
        rect(img, 13, p, 15, p + 1, pins)
    return img


def clock():
    img = canvas()
    disc(img, 8, 8, 7.5, (0xF4, 0xF1, 0xE0), ring=(0x8A, 0x6D, 0x1E))
    line(img, 8, 8, 8, 3, (0x20, 0x20, 0x20))
    line(img, 8, 8, 12, 8, (0x20, 0x20, 0x20))
    return img


def disk(top, body):
    img = canvas()
    rect(img, 2, 4, 13, 12, body)
    rect(img, 2, 3, 13, 5, top)
    rect(img, 10, 9, 11, 10, (0xF0, 0xF0, 0xF0))
    return img


def battery(fill, bolt=False):
    img = canvas()
    rect(img, 1, 4, 13, 12, (0x30, 0x30, 0x30))
    rect(img, 14, 6, 15, 10, (0x30, 0x30, 0x30))
    rect(img, 2, 5, 12, 11, (0xE8, 0xE8, 0xE8))
    rect(img, 2, 5, 9, 11, fill)
    if bolt:
        for (x0, y0, x1, y1) in ((8, 4, 5, 8), (5, 8, 10, 8), (10, 8, 7, 12)):
            line(img, x0, y0, x1, y1, (0xFF, 0xE0, 0x20))
    return img


def plug():
    img = canvas()
    rect(img, 4, 5, 11, 11, (0xF2, 0xC1, 0x1D))
    rect(img, 5, 1, 6, 4, (0x9A, 0x9A, 0x9A))
    rect(img, 9, 1, 10, 4, (0x9A, 0x9A, 0x9A))
    rect(img, 7, 12, 8, 15, (0x40, 0x40, 0x40))
    return img


def arrow(colour, down):
    """A broad arrow pointing down (download) or up (upload), over a dark base line."""
    img = canvas()
    rect(img, 6, 2, 9, 9, colour) if down else rect(img, 6, 6, 9, 13, colour)
    for i in range(5):
        y = 9 + i if down else 6 - i
        rect(img, 3 + i, y, 12 - i, y, colour)
    rect(img, 1, 14 if down else 1, 14, 14 if down else 1, (0x30, 0x30, 0x30))
    return img


def disk_transfer(colour, reading):
    """A grey disk with an arrow leaving it upwards (read) or coming down into it (write)."""
    img = canvas()
    rect(img, 2, 10, 13, 15, (0x60, 0x66, 0x70))
    rect(img, 2, 9, 13, 10, (0xA8, 0xB0, 0xBA))
    rect(img, 10, 13, 11, 13, (0x40, 0xE0, 0x40))
    if reading:
        rect(img, 7, 4, 8, 8, colour)
        for i in range(4):
            rect(img, 7 - i, i, 8 + i, i, colour)
    else:
        rect(img, 7, 0, 8, 4, colour)
        for i in range(4):
            rect(img, 4 + i, 5 + i, 11 - i, 5 + i, colour)
    return img


def graphics_card():
    img = canvas()
    rect(img, 1, 3, 14, 11, (0x8E, 0x3F, 0x68))
    disc(img, 5.5, 7, 3.2, (0x38, 0x38, 0x38), ring=(0xD8, 0xD8, 0xD8))
    rect(img, 10, 5, 13, 9, (0xE8, 0xA6, 0xC0))
    for x in (3, 5, 7, 9):
        rect(img, x, 12, x, 14, (0xE0, 0xB0, 0x30))
    return img


ICONS = {
    "ip.ico": globe,
    "total-memory.ico": lambda: chip((0x3A, 0x7D, 0x44)),
    "used-memory.ico": lambda: chip((0xC0, 0x6A, 0x1C)),
    "free-memory.ico": lambda: chip((0x6C, 0xB0, 0x3F)),
    "uptime.ico": clock,
    "disk-free.ico": lambda: disk((0x8E, 0xE0, 0x8A), (0x2F, 0x8F, 0x3A)),
    "disk-full.ico": lambda: disk((0xF2, 0x8B, 0x82), (0xB3, 0x26, 0x1E)),
    "battery.ico": lambda: battery((0x4C, 0xAF, 0x50)),
    "ac-on.ico": plug,
    "battery-charge.ico": lambda: battery((0x4C, 0xAF, 0x50), bolt=True),
    "net-down.ico": lambda: arrow((0x2E, 0x9C, 0xE6), down=True),
    "net-up.ico": lambda: arrow((0xF0, 0x8A, 0x24), down=False),
    "disk-read.ico": lambda: disk_transfer((0x2E, 0x9C, 0xE6), reading=True),
    "disk-write.ico": lambda: disk_transfer((0xE0, 0xA8, 0x20), reading=False),
    "gpu-memory.ico": graphics_card,
}


def ico_bytes(img):
    """One 32-bit image: BGRA rows bottom-up, then an AND mask with transparent pixels set."""
    pixels = bytearray()
    for row in reversed(img):
        for px in row:
            pixels += bytes((0, 0, 0, 0)) if px is CLEAR else bytes((px[2], px[1], px[0], 255))
    mask_stride = ((SIZE + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(img):
        bits = bytearray(mask_stride)
        for x, px in enumerate(row):
            if px is CLEAR:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    image = header + pixels + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + image


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    if sys.argv[1] == "--list":
        print("\n".join(ICONS))
        return
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for name, draw in ICONS.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(ico_bytes(draw()))


if __name__ == "__main__":
    main()
