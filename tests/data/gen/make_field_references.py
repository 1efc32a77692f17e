#!/usr/bin/python3
"""Writes the reference pictures of the text fields (tests/data/widgets/):

  field_custom.png                  the framed one-line field, 200 x 26 points
  field_search_style0_empty.png     the search field, style 0, empty and unfocused
  field_search_style0_text.png      the search field, style 0, holding text
  field_search_style1_text.png      the search field, style 1, holding text

Each picture is a window's content at 2 device pixels a point: a background colour with the
field at (4, 4) points from the top left (y grows downwards). The text areas are left out:
the test compares every pixel outside them.

The drawing rules, written down here from the fields' descriptions:
  Palette (8-bit values are round(value * 255)): white; lightGray = white 2/3;
  gray58 = white 0.58; gray23 (57, 58, 58).
  Rounded rectangles follow the platform's rule: the corner radius is cut to half the width
  along x and to half the height along y, each on its own, so a corner may be a quarter of
  an ellipse. A stroke of width w covers the points within w / 2 of the
  outline (round caps: within w / 2 of the segment). A view draws only inside its bounds.
  Shapes are antialiased by their area coverage of each pixel and composited over what lies
  below: c * coverage + below * (1 - coverage).
  Framed field (background white), W x H points: the outline of the bounds as a rounded
  rectangle of radius 2, width 2, in lightGray (its outer half falls outside the bounds).
  Text area: the bounds inset by 9 horizontally and 3 vertically.
  Search field, 326 x 22 points (background (0.2, 0.4, 0.6), so that a white outline shows):
    R = the bounds inset by 0.5, corner radius 11 (cut to 10.5 along y).
    1. Inside R: a white face; the magnifier, centred (cx, cy) in the search button
       rectangle (4, 0, 16, 22): a circle of radius 4.5 around (cx - 1.5, cy - 1.5) stroked
       1.5 wide and a handle from (cx + 1.7, cy + 1.7) to (cx + 5, cy + 5) stroked 2 wide
       with round caps, both gray58; while the field holds text, the clear button, centred
       (cx, cy) in the cancel button rectangle (w - 20, 0, 16, 22): a gray58 disc of radius
       6.5 with a white cross from (cx - 2.8, cy - 2.8) to (cx + 2.8, cy + 2.8) and from
       (cx - 2.8, cy + 2.8) to (cx + 2.8, cy - 2.8), stroked 1.5 wide with round caps.
    2. The outline of R: empty and unfocused, 2 wide in white; otherwise 1 wide in gray58
       (style 0) or gray23 (style 1).
    Text area: (28, 3, w - 58, h - 6).
Deterministic. Needs python3-pil:
  /usr/bin/python3 tests/data/gen/make_field_references.py
"""

import math
import os

from PIL import Image

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
OUT = os.path.join(ROOT, "tests", "data", "widgets")

SCALE = 2
MARGIN = 4
SAMPLES = 8  # samples per pixel side

WHITE = (1.0, 1.0, 1.0)
LIGHT_GRAY = (2 / 3, 2 / 3, 2 / 3)
GRAY58 = (0.58, 0.58, 0.58)
GRAY23 = (57 / 255, 58 / 255, 58 / 255)
BLUE_BACKGROUND = (0.2, 0.4, 0.6)


def ellipse_distance(u, v, a, b):
    """Unsigned distance from (u, v), both >= 0, to the ellipse with semi-axes a (along u)
    and b (along v): bisection on the nearest point's parameter."""
    if a < b:
        u, v, a, b = v, u, b, a
    if v > 0:
        if u > 0:
            z0, z1 = u / a, v / b
            g = z0 * z0 + z1 * z1 - 1
            if g == 0:
                return 0.0
            r0 = (a / b) ** 2
            n0 = r0 * z0
            s0 = z1 - 1
            s1 = 0.0 if g < 0 else math.hypot(n0, z1) - 1
            s = 0.0
            for _ in range(80):
                s = (s0 + s1) / 2
                if s == s0 or s == s1:
                    break
                ratio0 = n0 / (s + r0)
                ratio1 = z1 / (s + 1)
                g = ratio0 * ratio0 + ratio1 * ratio1 - 1
                if g > 0:
                    s0 = s
                elif g < 0:
                    s1 = s
                else:
                    break
            x0 = r0 * u / (s + r0)
            x1 = v / (s + 1)
            return math.hypot(x0 - u, x1 - v)
        return abs(v - b)
    numer = a * u
    denom = a * a - b * b
    if numer < denom:
        xde = numer / denom
        return math.hypot(a * xde - u, b * math.sqrt(max(1 - xde * xde, 0.0)))
    return abs(u - a)


def rounded_rect_distance(px, py, rect, radius):
    """Signed distance from (px, py) to the outline of a rounded rectangle (negative
    inside), the radius cut to half the width along x and half the height along y."""
    x, y, w, h = rect
    rx = min(radius, w / 2)
    ry = min(radius, h / 2)
    cx, cy = x + w / 2, y + h / 2
    qx = abs(px - cx) - (w / 2 - rx)
    qy = abs(py - cy) - (h / 2 - ry)
    if qx > 0 and qy > 0:
        d = ellipse_distance(qx, qy, rx, ry)
        inside = (qx / rx) ** 2 + (qy / ry) ** 2 < 1
        return -d if inside else d
    return max(qx - rx, qy - ry)


def segment_distance(px, py, a, b):
    ax, ay = a
    bx, by = b
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
    t = max(0.0, min(1.0, t))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def in_rect(px, py, rect):
    x, y, w, h = rect
    return x <= px < x + w and y <= py < y + h


class Canvas:
    """A picture in points, drawn shape by shape with supersampled coverage."""

    def __init__(self, width, height, background):
        self.wp = int(width * SCALE)
        self.hp = int(height * SCALE)
        self.pixels = [[background] * self.wp for _ in range(self.hp)]

    def draw(self, color, inside, bounds):
        """Composites `color` where inside(x, y) holds (points), for the pixels that meet
        `bounds` (x, y, w, h in points)."""
        bx, by, bw, bh = bounds
        i0 = max(int(math.floor(bx * SCALE)) - 1, 0)
        j0 = max(int(math.floor(by * SCALE)) - 1, 0)
        i1 = min(int(math.ceil((bx + bw) * SCALE)) + 1, self.wp)
        j1 = min(int(math.ceil((by + bh) * SCALE)) + 1, self.hp)
        for j in range(j0, j1):
            for i in range(i0, i1):
                hits = 0
                for sj in range(SAMPLES):
                    for si in range(SAMPLES):
                        x = (i + (si + 0.5) / SAMPLES) / SCALE
                        y = (j + (sj + 0.5) / SAMPLES) / SCALE
                        if inside(x, y):
                            hits += 1
                if hits == 0:
                    continue
                c = hits / (SAMPLES * SAMPLES)
                below = self.pixels[j][i]
                self.pixels[j][i] = tuple(color[k] * c + below[k] * (1 - c) for k in range(3))

    def save(self, name):
        image = Image.new("RGBA", (self.wp, self.hp))
        image.putdata([
            tuple(int(round(v * 255)) for v in pixel) + (255,) for row in self.pixels for pixel in row
        ])
        image.save(os.path.join(OUT, name + ".png"), optimize=True)


def custom_field():
    w, h = 200.0, 26.0
    canvas = Canvas(w + 2 * MARGIN, h + 2 * MARGIN, WHITE)
    bounds = (MARGIN, MARGIN, w, h)

    def outline(x, y):
        return in_rect(x, y, bounds) and abs(rounded_rect_distance(x, y, bounds, 2.0)) <= 1.0

    canvas.draw(LIGHT_GRAY, outline, bounds)
    canvas.save("field_custom")


def search_field(style, has_text, name):
    w, h = 326.0, 22.0
    canvas = Canvas(w + 2 * MARGIN, h + 2 * MARGIN, BLUE_BACKGROUND)
    bounds = (MARGIN, MARGIN, w, h)
    face = (MARGIN + 0.5, MARGIN + 0.5, w - 1.0, h - 1.0)
    radius = 11.0

    def clipped(test):
        return lambda x, y: rounded_rect_distance(x, y, face, radius) <= 0 and test(x, y)

    canvas.draw(WHITE, clipped(lambda x, y: True), bounds)

    # The magnifier.
    cx, cy = MARGIN + 4 + 8.0, MARGIN + h / 2
    ring = (cx - 1.5, cy - 1.5)
    canvas.draw(GRAY58, clipped(lambda x, y: abs(math.hypot(x - ring[0], y - ring[1]) - 4.5) <= 0.75), bounds)
    handle = ((cx + 1.7, cy + 1.7), (cx + 5.0, cy + 5.0))
    canvas.draw(GRAY58, clipped(lambda x, y: segment_distance(x, y, *handle) <= 1.0), bounds)

    if has_text:
        kx, ky = MARGIN + (w - 20) + 8.0, MARGIN + h / 2
        canvas.draw(GRAY58, clipped(lambda x, y: math.hypot(x - kx, y - ky) <= 6.5), bounds)
        d1 = ((kx - 2.8, ky - 2.8), (kx + 2.8, ky + 2.8))
        d2 = ((kx - 2.8, ky + 2.8), (kx + 2.8, ky - 2.8))
        canvas.draw(WHITE, clipped(lambda x, y: segment_distance(x, y, *d1) <= 0.75), bounds)
        canvas.draw(WHITE, clipped(lambda x, y: segment_distance(x, y, *d2) <= 0.75), bounds)

    if has_text:
        width, color = 1.0, (GRAY23 if style == 1 else GRAY58)
    else:
        width, color = 2.0, WHITE

    def outline(x, y):
        return in_rect(x, y, bounds) and abs(rounded_rect_distance(x, y, face, radius)) <= width / 2

    canvas.draw(color, outline, bounds)
    canvas.save(name)


def main():
    os.makedirs(OUT, exist_ok=True)
    custom_field()
    search_field(0, False, "field_search_style0_empty")
    search_field(0, True, "field_search_style0_text")
    search_field(1, True, "field_search_style1_text")


if __name__ == "__main__":
    main()
