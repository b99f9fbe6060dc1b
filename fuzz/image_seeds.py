#!/usr/bin/env python3
# Writes the image target's seed corpus: small valid images of each kind, two of them at the size limit.
import os, struct, sys, zlib
out = sys.argv[1]
os.makedirs(out, exist_ok=True)
def save(name, data):
    open(f"{out}/{name}", "wb").write(data)
def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
def png(width, height, depth, colour, rows, extra=b""):
    ihdr = struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, 0)
    data = zlib.compress(b"".join(b"\0" + r for r in rows))
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + extra + chunk(b"IDAT", data) + chunk(b"IEND", b"")
save("rgba.png", png(4, 3, 8, 6, [bytes(range(16))] * 3))
save("palette.png", png(5, 2, 4, 3, [b"\x12\x34\x50"] * 2, chunk(b"PLTE", bytes(range(48))) + chunk(b"tRNS", b"\x80\x00")))
save("grey16.png", png(3, 3, 16, 0, [b"\x01\x02\x03\x04\x05\x06"] * 3))
# At the texture size limit, one bit per pixel: a changed size byte crosses the limit.
save("wide1bit.png", png(16384, 2, 1, 0, [bytes(2048)] * 2))
def bmp(width, height, depth, palette, rows):
    offset = 54 + len(palette)
    body = palette + b"".join(r + b"\0" * (-len(r) % 4) for r in rows)
    return b"BM" + struct.pack("<IHHIIiiHHIIiiII", 54 + len(body), 0, 0, offset, 40, width, height, 1, depth,
                               0, 0, 0, 0, 0, 0) + body
save("rgb.bmp", bmp(3, 2, 24, b"", [bytes(range(9))] * 2))
save("palette.bmp", bmp(2, 2, 8, bytes(range(256)) * 4, [b"\x00\xff"] * 2))
def tga(kind, width, height, depth, descriptor, body):
    return struct.pack("<BBBHHBHHHHBB", 0, 0, kind, 0, 0, 0, 0, 0, width, height, depth, descriptor) + body
save("rgb.tga", tga(2, 2, 2, 24, 0, bytes(range(12))))
save("grey.tga", tga(3, 3, 1, 8, 0x20, b"\x10\x20\x30"))
save("rle.tga", tga(10, 3, 2, 32, 0x28, b"\x83\x01\x02\x03\x04\x01\x05\x06\x07\x08\x09\x0a\x0b\x0c"))
save("wide.tga", tga(10, 16384, 1, 24, 0, b"\xff\x10\x20\x30" * 128))
header = bytearray(128)
header[0:4] = b"DDS "
struct.pack_into("<IIII", header, 4, 124, 0, 8, 8)
struct.pack_into("<I", header, 28, 1)
header[84:88] = b"DXT5"
save("dxt5.dds", bytes(header) + bytes(range(64)))
