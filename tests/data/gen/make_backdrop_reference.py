#!/usr/bin/env python3
"""Writes the blurred backdrop's fixtures (tests/data/backdrop/):

  source.png    a 64 x 48 "screenshot": colour fields, a disc, a gradient, a transparent
                corner and a half-transparent band
  picture.png   the picture the backdrop makes of it
  view.png      the backdrop as it shows: the picture over the view's background

The rules, written down here independently of the code that follows them. Filter space is
y-up with pixel (x, y) covering [x, x + 1) x [y, y + 1); pixels are premultiplied RGBA in
0..1 between the steps; nothing is colour-managed.
  1. The screenshot as a filter image: its extent is (0, 0, width, height), its top row on
     top; transparent everywhere outside.
  2. Colour controls, saturation 1.5 (brightness 0, contrast 1): on un-premultiplied colour,
     lum = 0.2125 R + 0.7154 G + 0.0721 B, c' = lum + 1.5 (c - lum), clamped to 0..1, then
     premultiplied again; transparent pixels stay transparent.
  3. Gaussian blur, radius 15: a separable kernel with sigma = 15 whose taps run from -45 to
     45 (3 sigma, rounded up), weights exp(-k^2 / (2 sigma^2)) normalised to sum 1, applied
     to premultiplied values, reading transparent outside the extent.
  4. A constant colour: black at alpha 0.1 (premultiplied (0, 0, 0, 0.1)), everywhere.
  5. Multiply blend, the constant colour as source S over the blurred background D:
     colour S D + S (1 - Da) + D (1 - Sa), alpha Sa + Da - Sa Da.
  6. Cropped to (0, 0, width, height): the picture has exactly the screenshot's size.
  7. The view: its layer's background, white 0.8 at alpha 0.7 (premultiplied 0.56 grey at
     0.7), under the picture drawn at one pixel per point: P + B (1 - Pa).
Bytes are round(value * 255); the PNG files store straight alpha, as PNG does. Deterministic.
Needs python3-pil:
  /usr/bin/python3 tests/data/gen/make_backdrop_reference.py
"""

import math
import os

from PIL import Image

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
OUT = os.path.join(ROOT, "tests", "data", "backdrop")

WIDTH = 64
HEIGHT = 48
SATURATION = 1.5
RADIUS = 15.0
TINT = (0.0, 0.0, 0.0, 0.1)
BACKGROUND = (0.8 * 0.7, 0.8 * 0.7, 0.8 * 0.7, 0.7)


def source_pixel(x, y):
    """Straight 8-bit RGBA of image pixel (x, y), row y = 0 on top."""
    if x >= 48 and y >= 32:
        return (0, 0, 0, 0)  # transparent corner
    if 36 <= y < 42:
        return (40, 160, 220, 128)  # half-transparent band
    dx, dy = x + 0.5 - 20, y + 0.5 - 14
    if dx * dx + dy * dy <= 9 * 9:
        return (250, 210, 30, 255)  # disc
    if y < 24:
        return (200, 60, 50, 255) if x < 40 else (70, 90, 170, 255)
    return (int(255 * x / (WIDTH - 1)), 180, int(255 * (1 - x / (WIDTH - 1))), 255)  # gradient


def to_byte(v):
    return int(math.floor(min(max(v, 0.0), 1.0) * 255.0 + 0.5))


def premultiplied_of(rgba8):
    r, g, b, a = (c / 255.0 for c in rgba8)
    return (r * a, g * a, b * a, a)


def color_controls(p):
    r, g, b, a = p
    if a <= 0:
        return (0.0, 0.0, 0.0, 0.0)
    r, g, b = r / a, g / a, b / a
    lum = 0.2125 * r + 0.7154 * g + 0.0721 * b
    out = [min(max(lum + SATURATION * (c - lum), 0.0), 1.0) * a for c in (r, g, b)]
    return (out[0], out[1], out[2], a)


def kernel():
    margin = int(math.ceil(3 * RADIUS))
    weights = [math.exp(-k * k / (2 * RADIUS * RADIUS)) for k in range(-margin, margin + 1)]
    total = sum(weights)
    return margin, [w / total for w in weights]


def blur(rows):
    """rows[y][x], row 0 on top; returns the blurred pixels of the same area (the crop)."""
    margin, weights = kernel()
    zero = (0.0, 0.0, 0.0, 0.0)

    def at(grid, x, y):
        if 0 <= y < len(grid) and 0 <= x < len(grid[0]):
            return grid[y][x]
        return zero

    horizontal = []
    for y in range(HEIGHT):
        line = []
        for x in range(WIDTH):
            acc = [0.0, 0.0, 0.0, 0.0]
            for i, w in enumerate(weights):
                p = at(rows, x + i - margin, y)
                for c in range(4):
                    acc[c] += w * p[c]
            line.append(tuple(acc))
        horizontal.append(line)
    out = []
    for y in range(HEIGHT):
        line = []
        for x in range(WIDTH):
            acc = [0.0, 0.0, 0.0, 0.0]
            for i, w in enumerate(weights):
                p = at(horizontal, x, y + i - margin)
                for c in range(4):
                    acc[c] += w * p[c]
            line.append(tuple(acc))
        out.append(line)
    return out


def multiply(s, d):
    colour = [s[c] * d[c] + s[c] * (1 - d[3]) + d[c] * (1 - s[3]) for c in range(3)]
    return (colour[0], colour[1], colour[2], s[3] + d[3] - s[3] * d[3])


def over(top, bottom):
    return tuple(top[c] + bottom[c] * (1 - top[3]) for c in range(4))


def save(rows, name):
    image = Image.new("RGBA", (WIDTH, HEIGHT))
    for y in range(HEIGHT):
        for x in range(WIDTH):
            r, g, b, a = rows[y][x]
            alpha = to_byte(a)
            if alpha == 0:
                image.putpixel((x, y), (0, 0, 0, 0))
                continue
            # Straight alpha for the file, from the premultiplied value.
            image.putpixel((x, y), tuple(to_byte(min(c / a, 1.0)) for c in (r, g, b)) + (alpha,))
    image.save(os.path.join(OUT, name))


def main():
    os.makedirs(OUT, exist_ok=True)
    source = Image.new("RGBA", (WIDTH, HEIGHT))
    for y in range(HEIGHT):
        for x in range(WIDTH):
            source.putpixel((x, y), source_pixel(x, y))
    source.save(os.path.join(OUT, "source.png"))

    saturated = [[color_controls(premultiplied_of(source_pixel(x, y))) for x in range(WIDTH)] for y in range(HEIGHT)]
    blurred = blur(saturated)
    picture = [[multiply(TINT, blurred[y][x]) for x in range(WIDTH)] for y in range(HEIGHT)]
    save(picture, "picture.png")
    save([[over(p, BACKGROUND) for p in row] for row in picture], "view.png")


if __name__ == "__main__":
    main()
