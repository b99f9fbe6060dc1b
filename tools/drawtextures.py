#!/usr/bin/env python3
"""Draws the bundled textures and writes the block definitions that use them.

    tools/drawtextures.py [content-tree]      (default: the tree's content/)

Writes data/textures/default.png, the block textures (PNG and TGA) and data/test/testBlockDef.json.
Every texture is a power of two on each side and made of 32 x 32 tiles; the same run always writes the
same bytes, so the committed files are this script's output.
"""

import json
import os
import random
import struct
import sys
import zlib

TILE = 32


def png(path, width, height, pixels, alpha):
    """pixels: rows top to bottom of (r, g, b, a) tuples; RGBA when alpha, else RGB."""
    raw = bytearray()
    for row in pixels:
        raw.append(0)
        for r, g, b, a in row:
            raw += bytes((r, g, b, a) if alpha else (r, g, b))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6 if alpha else 2, 0, 0, 0)
    data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b"")
    write(path, data)


def tga(path, width, height, pixels, rle):
    """A 32-bit TGA stored top row first (descriptor bit 0x20); run-length encoded when rle."""
    header = struct.pack("<BBBHHBHHHHBB", 0, 0, 10 if rle else 2, 0, 0, 0, 0, 0, width, height, 32, 0x28)
    body = bytearray()
    for row in pixels:
        bgra = [bytes((b, g, r, a)) for r, g, b, a in row]
        body += encode_rle(bgra) if rle else b"".join(bgra)
    write(path, header + bytes(body))


def encode_rle(pixels):
    """One row as packets of at most 128 pixels: runs of equal pixels repeated, the rest raw."""
    out = bytearray()
    i = 0
    while i < len(pixels):
        run = 1
        while i + run < len(pixels) and run < 128 and pixels[i + run] == pixels[i]:
            run += 1
        if run > 1:
            out.append(0x80 | (run - 1))
            out += pixels[i]
            i += run
            continue
        start = i
        while i < len(pixels) and i - start < 128 and (i + 1 >= len(pixels) or pixels[i + 1] != pixels[i]):
            i += 1
        out.append(i - start - 1)
        out += b"".join(pixels[start:i])
    return bytes(out)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def clamp(v):
    return max(0, min(255, int(v)))


def shade(colour, amount):
    return tuple(clamp(c + amount) for c in colour[:3]) + (colour[3] if len(colour) > 3 else 255,)


def canvas(width, height, colour=(0, 0, 0, 255)):
    return [[colour] * width for _ in range(height)]


def speckle(img, x0, y0, base, spread, rng, size=TILE):
    for y in range(y0, y0 + size):
        for x in range(x0, x0 + size):
            img[y][x] = shade(base, rng.randint(-spread, spread))


def border(img, x0, y0, amount, size=TILE):
    for i in range(size):
        for x, y in ((x0 + i, y0), (x0 + i, y0 + size - 1), (x0, y0 + i), (x0 + size - 1, y0 + i)):
            img[y][x] = shade(img[y][x], amount)


def default_texture():
    """The stand-in for any surface without a texture of its own: magenta and black squares of 8 pixels."""
    img = canvas(64, 64)
    for y in range(64):
        for x in range(64):
            img[y][x] = (255, 0, 255, 255) if (x // 8 + y // 8) % 2 == 0 else (16, 16, 16, 255)
    return img


def stone_texture(rng):
    """Two tiles: smooth stone, then cobblestone."""
    img = canvas(64, 32)
    speckle(img, 0, 0, (128, 128, 128), 14, rng)
    speckle(img, 32, 0, (112, 112, 112), 10, rng)
    for cy in range(0, 32, 8):
        offset = 4 if (cy // 8) % 2 else 0
        for cx in range(-offset, 32, 8):
            border(img_view(img, 32, 0), cx, cy, -40, 8)
    return img


class img_view:
    """Writes into a tile of a larger image, dropping what falls outside the tile."""

    def __init__(self, img, x0, y0):
        self.img, self.x0, self.y0 = img, x0, y0

    def __getitem__(self, y):
        return row_view(self.img[self.y0 + y], self.x0)


class row_view:
    def __init__(self, row, x0):
        self.row, self.x0 = row, x0

    def __getitem__(self, x):
        return self.row[self.x0 + x] if 0 <= x < TILE else (0, 0, 0, 255)

    def __setitem__(self, x, value):
        if 0 <= x < TILE:
            self.row[self.x0 + x] = value


def grass_texture(rng):
    """Two tiles: the grass top, then the side with its band of grass over dirt."""
    img = canvas(64, 32)
    speckle(img, 0, 0, (70, 150, 50), 22, rng)
    speckle(img, 32, 0, (134, 96, 67), 16, rng)
    for x in range(32, 64):
        depth = 5 + rng.randint(0, 4)
        for y in range(depth):
            img[y][x] = shade((70, 150, 50), rng.randint(-22, 22))
    return img


def dirt_texture(rng):
    img = canvas(32, 32)
    speckle(img, 0, 0, (134, 96, 67), 18, rng)
    return img


def log_texture(rng):
    """Four tiles: bark, the cut end with its rings, and two planks."""
    img = canvas(64, 64)
    for y in range(32):
        for x in range(32):
            stripe = -25 if (x + rng.randint(0, 1)) % 6 == 0 else 0
            img[y][x] = shade((102, 76, 48), stripe + rng.randint(-8, 8))
    for y in range(32):
        for x in range(32, 64):
            r = ((x - 47.5) ** 2 + (y - 15.5) ** 2) ** 0.5
            ring = -30 if int(r) % 4 == 0 else 0
            img[y][x] = shade((176, 140, 90) if r < 14 else (102, 76, 48), ring + rng.randint(-6, 6))
    for x0 in (0, 32):
        speckle(img, x0, 32, (168, 128, 80), 8, rng)
        for y in range(32, 64, 8):
            for x in range(x0, x0 + 32):
                img[y][x] = shade(img[y][x], -45)
    return img


def block(block_id, solid, surfaces):
    return {"id": block_id, "isSolid": solid,
            "surface": [{"texture": texture, "slot": list(slot)} for texture, slot in surfaces]}


def definitions():
    """Six surfaces each, in the order top, bottom, north, south, east, west."""
    side = ("grass.png", (1, 0))
    return {
        "stone": block(1, True, [("stone.png", (0, 0))] * 6),
        "cobblestone": block(2, True, [("stone.png", (1, 0))] * 6),
        "grass": block(3, True, [("grass.png", (0, 0)), ("dirt.tga", (0, 0))] + [side] * 4),
        "dirt": block(4, True, [("dirt.tga", (0, 0))] * 6),
        "log": block(5, True, [("log.tga", (1, 0))] * 2 + [("log.tga", (0, 0))] * 4),
        # The planks' bottom names a tile below the texture's last row: it shows the default texture.
        "planks": block(6, True, [("log.tga", (0, 1)), ("log.tga", (1, 2))] + [("log.tga", (1, 1))] * 4),
    }


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "content")
    textures = os.path.join(root, "data", "textures")
    rng = random.Random(20131017)
    png(os.path.join(textures, "default.png"), 64, 64, default_texture(), False)
    png(os.path.join(textures, "stone.png"), 64, 32, stone_texture(rng), False)
    png(os.path.join(textures, "grass.png"), 64, 32, grass_texture(rng), True)
    tga(os.path.join(textures, "dirt.tga"), 32, 32, dirt_texture(rng), False)
    tga(os.path.join(textures, "log.tga"), 64, 64, log_texture(rng), True)
    text = json.dumps(definitions(), indent=2) + "\n"
    write(os.path.join(root, "data", "test", "testBlockDef.json"), text.encode())


if __name__ == "__main__":
    main()
