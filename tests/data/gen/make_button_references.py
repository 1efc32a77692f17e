#!/usr/bin/python3
"""Writes the reference pictures of the buttons and selectors (tests/data/widgets/):

  rounded_style<S>_released.png, rounded_style<S>_pressed.png   S = 0..3
  selector3_selected<K>.png                                      K = 0..2
  selector1.png
  button_view_normal.png, button_view_active.png

Each picture is a window's content at 2 device pixels a point: a white background with the
widget at (4, 4) points from the top left. The labels are left out; the test compares every
pixel outside the label frames.

The drawing rules, written down here from the widgets' descriptions:
  Palette (8-bit values are round(value * 255)):
    gray91 (232, 232, 233); gray23 (57, 58, 58); nice green (0.231, 0.812, 0.714);
    dollar green (0, 0.9, 0.76).
  Rounded rectangles follow the platform's rule: the corner's horizontal radius is cut
  down to half the width and its vertical radius to half the height, each on its own (a
  radius of 13 in a shape 24 high gives corners 13 wide and 12 high). A stroke of width 1
  covers the points within 0.5 of the outline. Shapes are antialiased by their exact area
  coverage of each pixel, and composited over the background:
  c * coverage + background * (1 - coverage).
  Rounded text button, W x H points (H 28; 22 in style 2), corner radius 13 (11 in style 2):
    released, style 0 and 2: the bounds inset by 0.5 outlined, width 1, gray23;
    released, style 1: the bounds inset by 0.5 filled with gray91;
    released, style 3: the bounds inset by 0.5 filled with dollar green;
    pressed, every style: the bounds inset by 1 filled with nice green.
  Horizontal selector, 300 x 28 points, three elements: the visible column width
  w = trunc((300 + 24 * 2) / 3) = 116, step trunc((300 - 116) / 2) = 92, the elements at
  x = 0, 92 and 184, each 116 x 28. Each element fills its bounds inset by 2 as a rounded
  rectangle of radius 13 (corners 13 wide, cut to 12 high): nice green when selected,
  gray91 otherwise. Stacking, bottom to top, for the selected element K: every element but
  the second brought to the front in order, then K: K = 0 gives 1, 2, 0; K = 1 gives
  0, 2, 1; K = 2 gives 1, 0, 2.
  A one-element selector, 120 x 28 points: one element 120 x 28, never selected.
  Button view, 60 x 30 points, three parts: a gray91 rectangle filling the bounds (normal
  state only), a nice-green rectangle filling the bounds (active state only), and a red
  10 x 10 square at (46, 4) in every state (the part added last, on top).
Deterministic. Needs python3-pil:
  /usr/bin/python3 tests/data/gen/make_button_references.py
"""

import math
import os

from PIL import Image

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
OUT = os.path.join(ROOT, "tests", "data", "widgets")

SCALE = 2
MARGIN = 4
SAMPLES = 16  # samples per pixel side where a pixel crosses an edge

WHITE = (1.0, 1.0, 1.0)
RED = (1.0, 0.0, 0.0)
GRAY91 = (232 / 255, 232 / 255, 233 / 255)
GRAY23 = (57 / 255, 58 / 255, 58 / 255)
NICE_GREEN = (0.231, 0.812, 0.714)
DOLLAR_GREEN = (0.0, 0.9, 0.76)


def ellipse_distance(qx, qy, a, b):
    """Signed distance (points) from (qx, qy), relative to an ellipse's centre, to the ellipse
    of half axes a and b: negative inside. The closest point is found by iterating on the
    ellipse's parameter from the point's own quadrant."""
    px, py = abs(qx), abs(qy)
    if a == b:
        return math.hypot(px, py) - a
    t = math.pi / 4
    for _ in range(6):
        x, y = a * math.cos(t), b * math.sin(t)
        ex = (a * a - b * b) * math.cos(t) ** 3 / a
        ey = (b * b - a * a) * math.sin(t) ** 3 / b
        rx, ry = x - ex, y - ey
        sx, sy = px - ex, py - ey
        r, q = math.hypot(rx, ry), math.hypot(sx, sy)
        if q == 0:
            break
        delta = r * math.asin(max(-1.0, min(1.0, (rx * sy - ry * sx) / (r * q))))
        t += delta / math.sqrt(max(a * a + b * b - x * x - y * y, 1e-12))
        t = min(math.pi / 2, max(0.0, t))
    distance = math.hypot(px - a * math.cos(t), py - b * math.sin(t))
    return -distance if (px / a) ** 2 + (py / b) ** 2 < 1 else distance


def rounded_rect_distance(px, py, rect, radius):
    """Signed distance (points) from (px, py) to the outline of a rounded rectangle:
    negative inside. As on the platform, the corner's horizontal radius is cut down to half
    the width and its vertical radius to half the height, each on its own, so a radius
    larger than half the shorter side makes elliptical corners."""
    x, y, w, h = rect
    rx = min(radius, w / 2)
    ry = min(radius, h / 2)
    cx, cy = x + w / 2, y + h / 2
    qx = abs(px - cx) - (w / 2 - rx)
    qy = abs(py - cy) - (h / 2 - ry)
    if rx > 0 and ry > 0 and qx > 0 and qy > 0:
        return ellipse_distance(qx, qy, rx, ry)
    return max(abs(px - cx) - w / 2, abs(py - cy) - h / 2)


def coverage(width_px, height_px, inside):
    """Per-pixel area coverage of the region where inside(x, y) holds (points), with the
    pixel's distance function used to skip pixels far from every edge."""
    result = [[0.0] * width_px for _ in range(height_px)]
    half_diagonal = math.sqrt(0.5) / SCALE + 1e-9
    for j in range(height_px):
        for i in range(width_px):
            cx, cy = (i + 0.5) / SCALE, (j + 0.5) / SCALE
            state = inside(cx, cy, half_diagonal)
            if state is not None:
                result[j][i] = state
                continue
            hits = 0
            for sj in range(SAMPLES):
                for si in range(SAMPLES):
                    sx = (i + (si + 0.5) / SAMPLES) / SCALE
                    sy = (j + (sj + 0.5) / SAMPLES) / SCALE
                    hits += 1 if inside(sx, sy, 0.0) else 0
            result[j][i] = hits / (SAMPLES * SAMPLES)
    return result


def fill_region(rect, radius):
    def inside(x, y, slack):
        d = rounded_rect_distance(x, y, rect, radius)
        if slack == 0.0:
            return d <= 0
        if d < -slack:
            return 1.0
        if d > slack:
            return 0.0
        return None
    return inside


def stroke_region(rect, radius, line_width):
    half = line_width / 2

    def inside(x, y, slack):
        d = abs(rounded_rect_distance(x, y, rect, radius))
        if slack == 0.0:
            return d <= half
        if d < half - slack:
            return 1.0
        if d > half + slack:
            return 0.0
        return None
    return inside


class Canvas:
    """Straight RGB in 0..1 over a white background, in device pixels."""

    def __init__(self, width_pt, height_pt):
        self.w = int(width_pt * SCALE)
        self.h = int(height_pt * SCALE)
        self.px = [[WHITE for _ in range(self.w)] for _ in range(self.h)]

    def paint(self, region, colour):
        cov = coverage(self.w, self.h, region)
        for j in range(self.h):
            for i in range(self.w):
                a = cov[j][i]
                if a == 0.0:
                    continue
                old = self.px[j][i]
                self.px[j][i] = tuple(colour[c] * a + old[c] * (1 - a) for c in range(3))

    def save(self, name):
        image = Image.new("RGBA", (self.w, self.h))
        data = []
        for row in self.px:
            for r, g, b in row:
                data.append((round(r * 255), round(g * 255), round(b * 255), 255))
        image.putdata(data)
        image.save(os.path.join(OUT, name + ".png"), "PNG", optimize=True)


def inset(rect, d):
    x, y, w, h = rect
    return (x + d, y + d, w - 2 * d, h - 2 * d)


def rounded_text_button(style, pressed):
    width = 100
    height = 22 if style == 2 else 28
    radius = 11 if style == 2 else 13
    canvas = Canvas(width + 2 * MARGIN, height + 2 * MARGIN)
    bounds = (MARGIN, MARGIN, width, height)
    if pressed:
        canvas.paint(fill_region(inset(bounds, 1.0), radius), NICE_GREEN)
    elif style in (0, 2):
        canvas.paint(stroke_region(inset(bounds, 0.5), radius, 1.0), GRAY23)
    elif style == 1:
        canvas.paint(fill_region(inset(bounds, 0.5), radius), GRAY91)
    elif style == 3:
        canvas.paint(fill_region(inset(bounds, 0.5), radius), DOLLAR_GREEN)
    canvas.save(f"rounded_style{style}_{'pressed' if pressed else 'released'}")


def selector(width, count, selected):
    height = 28
    canvas = Canvas(width + 2 * MARGIN, height + 2 * MARGIN)
    if count == 1:
        frames = [(0, width)]
        order = [0]
    else:
        w = int((width + 24 * (count - 1)) / count)
        w -= w % 2
        step = int((width - w) / (count - 1))
        frames = []
        for i in range(count):
            centre = int(w * 0.5) if i == 0 else int(step * i + w * 0.5)
            frames.append((centre - w * 0.5, w))
        order = list(range(count))
        for i in range(count):
            if i != 1:
                order.remove(i)
                order.append(i)
        order.remove(selected)
        order.append(selected)
    for i in order:
        x, w = frames[i]
        colour = NICE_GREEN if (count >= 2 and i == selected) else GRAY91
        canvas.paint(fill_region(inset((MARGIN + x, MARGIN, w, height), 2.0), 13), colour)
    return canvas


def button_view(active):
    canvas = Canvas(60 + 2 * MARGIN, 30 + 2 * MARGIN)
    bounds = (MARGIN, MARGIN, 60, 30)
    canvas.paint(fill_region(bounds, 0), NICE_GREEN if active else GRAY91)
    canvas.paint(fill_region((MARGIN + 46, MARGIN + 4, 10, 10), 0), RED)
    canvas.save("button_view_active" if active else "button_view_normal")


def main():
    os.makedirs(OUT, exist_ok=True)
    for style in range(4):
        for pressed in (False, True):
            rounded_text_button(style, pressed)
    for k in range(3):
        selector(300, 3, k).save(f"selector3_selected{k}")
    selector(120, 1, 0).save("selector1")
    button_view(False)
    button_view(True)
    print("wrote the button references to", os.path.relpath(OUT, ROOT))


if __name__ == "__main__":
    main()
