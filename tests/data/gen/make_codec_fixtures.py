#!/usr/bin/python3
"""Writes the GIF and TIFF pictures the picture decoding tests read, made by Pillow so that
our readers are checked against an encoder of their own: 5 x 4 pixels of (200, 10, 30) with
a blue bottom-right pixel. Run with the system Python (python3-pil)."""

import os

from PIL import Image

OUT = os.path.join(os.path.dirname(__file__), "..", "gfx")


def main():
    image = Image.new("RGB", (5, 4), (200, 10, 30))
    image.putpixel((4, 3), (0, 0, 255))
    image.save(os.path.join(OUT, "codec_sample.gif"))
    image.save(os.path.join(OUT, "codec_sample.tif"))


if __name__ == "__main__":
    main()
