#!/usr/bin/python3
"""Writes the fuzz corpus for picture decoding: valid PNG and JPEG pictures, and the hostile
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
        "text.txt": b"not a picture at all",
        "empty.bin": b"",
    }
    for name, data in cases.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
