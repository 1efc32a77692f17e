#!/usr/bin/python3
"""Writes the fuzz corpus for picture decoding: valid PNG, JPEG, GIF and TIFF pictures, and the hostile
classes a decoder must refuse (huge declared sizes, truncation, broken chunks, foreign bytes).
Run with the system Python (python3-pil)."""

import io
import os
import struct
import zlib

from PIL import Image

OUT = os.path.join(os.path.dirname(__file__), "..", "..", "..", "fuzz", "corpus", "fuzz_image_codec")


def picture(fmt, size=(8, 6), mode="RGBA"):
    image = Image.new(mode, size)
    for x in range(size[0]):
        for y in range(size[1]):
            image.putpixel((x, y), (x * 30 % 256, y * 40 % 256, 90, 200)[: len(mode)])
    buffer = io.BytesIO()
    image.save(buffer, fmt)
    return buffer.getvalue()


def chunk(kind, payload):
    return struct.pack(">I", len(payload)) + kind + payload + struct.pack(">I", zlib.crc32(kind + payload))


def png_claiming(width, height):
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    rows = zlib.compress(b"\x00" * 16)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", rows) + chunk(b"IEND", b"")


def gif_claiming(width, height):
    # Logical screen and image descriptor both claim the size; one tiny LZW block follows.
    screen = b"GIF89a" + struct.pack("<HHBBB", width, height, 0x80, 0, 0) + b"\x00\x00\x00\xff\xff\xff"
    image = b"\x2c" + struct.pack("<HHHHB", 0, 0, width, height, 0) + b"\x02\x02\x44\x01\x00"
    return screen + image + b"\x3b"


def tiff_claiming(width, height):
    # Little-endian header, one directory with width, length and a strip that is not there.
    entries = [(256, 4, 1, width), (257, 4, 1, height), (258, 3, 1, 8), (259, 3, 1, 1),
               (262, 3, 1, 1), (273, 4, 1, 8), (277, 3, 1, 1), (279, 4, 1, min(width * height, 0xFFFFFFFF))]
    directory = struct.pack("<H", len(entries))
    for tag, kind, count, value in entries:
        directory += struct.pack("<HHII", tag, kind, count, value)
    return b"II*\x00" + struct.pack("<I", 8) + directory + struct.pack("<I", 0)


def main():
    os.makedirs(OUT, exist_ok=True)
    png = picture("PNG")
    jpeg = picture("JPEG", mode="RGB")
    cases = {
        "valid.png": png,
        "valid_grey.png": picture("PNG", mode="L"),
        "valid.jpg": jpeg,
        "huge_png_header.png": png_claiming(100000, 100000),
        "wide_png_header.png": png_claiming(20000, 1),
        "truncated.png": png[: len(png) // 2],
        "signature_only.png": png[:8],
        "four_bytes.png": png[:4],
        "bad_crc.png": png[:29] + b"\x00\x00\x00\x00" + png[33:],
        "truncated.jpg": jpeg[: len(jpeg) // 3],
        "jpeg_markers_only.jpg": b"\xff\xd8\xff\xd9",
        "valid.gif": picture("GIF", mode="RGB"),
        "valid.tif": picture("TIFF"),
        "truncated.gif": picture("GIF", mode="RGB")[:20],
        "truncated.tif": picture("TIFF")[:40],
        "huge_gif_header.gif": gif_claiming(65535, 65535),
        "huge_tiff_header.tif": tiff_claiming(100000, 100000),
        "text.txt": b"not a picture at all",
        "empty.bin": b"",
    }
    for name, data in cases.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
