#!/usr/bin/env python3
"""Writes the reference images the compositor tests compare against (tests/data/layers/):

  layers_rotated_scaled.png   a rotated and scaled sublayer with drawn contents
  layers_flipped_parent.png   a geometry-flipped parent with a drawn raw sublayer and a
                              sublayer showing an image
  layers_group_opacity.png    opacity applied to a layer and its sublayers as one group
  layers_masks.png            masksToBounds with a corner radius and a border, and a mask
                              between device pixels
  contents_quadrants.png      the 8 x 8 image the flipped-parent scene shows

Every scene is a window of 64 x 64 points at scale 2 (128 x 128 pixels) over opaque white.
The rules, written down here independently of the code that follows them:
  - the window's base space is y-up, origin at the bottom left; pixel row 0 is the top;
  - a point q of a layer's bounds space lies in its superlayer's space at
    position + T (q - bounds.origin - anchor * bounds.size), T the 2D part of the transform
    in row-vector form (x' = x m11 + y m21, y' = x m12 + y m22);
  - transforms are built by pre-multiplying: "rotate, then scale" as written in code means
    the scale acts first on points;
  - geometryFlipped mirrors y within the bounds between the layer's bounds space and its own
    space (the one its sublayers and its drawing use);
  - a layer draws, bottom to top: its background (rounded by cornerRadius), its drawn
    contents or its contents image, its sublayers, then its border inside the bounds;
    masksToBounds clips contents and sublayers to the (rounded) bounds;
  - drawn contents use the layer's own space as user space;
  - a contents image is stretched into the bounds, upright: its first row at the side of the
    bounds that is on top in the window;
  - opacity applies to the layer and its sublayers composited as one image.
Each pixel averages 4 x 4 samples, standing in for antialiasing. Deterministic. Needs
python3-pil:
  /usr/bin/python3 tests/data/gen/make_layer_references.py
"""

import math
import os

from PIL import Image

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
OUT = os.path.join(ROOT, "tests", "data", "layers")

WINDOW = 64
SCALE = 2
PIXELS = WINDOW * SCALE
SS = 4

WHITE = (1.0, 1.0, 1.0, 1.0)
RED = (1.0, 0.0, 0.0, 1.0)
GREEN = (0.0, 1.0, 0.0, 1.0)
BLUE = (0.0, 0.0, 1.0, 1.0)
BLACK = (0.0, 0.0, 0.0, 1.0)
CLEAR = (0.0, 0.0, 0.0, 0.0)


def premultiplied(color):
    r, g, b, a = color
    return (r * a, g * a, b * a, a)


def over(top, bottom):
    """Source-over of premultiplied colours."""
    k = 1.0 - top[3]
    return tuple(t + b * k for t, b in zip(top, bottom))


def scaled(color, factor):
    return tuple(c * factor for c in color)


class Layer:
    def __init__(self, bounds, position, anchor=(0.5, 0.5), transform=(1, 0, 0, 1, 0, 0)):
        self.bounds = bounds  # (x, y, w, h)
        self.position = position
        self.anchor = anchor
        self.transform = transform  # (m11, m12, m21, m22, m41, m42)
        self.opacity = 1.0
        self.flipped = False
        self.masks = False
        self.radius = 0.0
        self.background = CLEAR
        self.border_width = 0.0
        self.border_color = BLACK
        self.draw = None  # f(x, y) in the layer's own space -> colour or None
        self.image = None  # rows of colours, row 0 first
        self.sublayers = []

    def add(self, layer):
        self.sublayers.append(layer)
        return layer

    def to_bounds(self, point):
        """A point of the superlayer's own space in this layer's bounds space."""
        x, y = point
        m11, m12, m21, m22, tx, ty = self.transform
        # Undo the position and the transform's translation, then the linear part.
        u = x - self.position[0] - tx
        v = y - self.position[1] - ty
        det = m11 * m22 - m12 * m21
        qx = (u * m22 - v * m21) / det
        qy = (-u * m12 + v * m11) / det
        bx, by, bw, bh = self.bounds
        return (qx + bx + self.anchor[0] * bw, qy + by + self.anchor[1] * bh)

    def mirror(self, q):
        bx, by, bw, bh = self.bounds
        return (q[0], 2 * by + bh - q[1])


def inside_rounded(q, bounds, radius):
    x, y = q
    bx, by, bw, bh = bounds
    if not (bx <= x < bx + bw and by <= y < by + bh):
        return False
    r = min(max(radius, 0.0), min(bw, bh) / 2)
    if r <= 0:
        return True
    cx = min(max(x, bx + r), bx + bw - r)
    cy = min(max(y, by + r), by + bh - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def sample_image(layer, q, bounds_flipped):
    bx, by, bw, bh = layer.bounds
    rows = len(layer.image)
    cols = len(layer.image[0])
    col = int((q[0] - bx) / bw * cols)
    # Upright: row 0 on the side that is on top in the window.
    if bounds_flipped:
        row = int((q[1] - by) / bh * rows)
    else:
        row = int((by + bh - q[1]) / bh * rows)
    col = min(max(col, 0), cols - 1)
    row = min(max(row, 0), rows - 1)
    return layer.image[row][col]


def colour_at(layer, point, parent_flipped):
    """The layer's premultiplied colour at a point of its superlayer's own space.
    `parent_flipped`: whether that space is y-down in the window."""
    q = layer.to_bounds(point)
    own = layer.mirror(q) if layer.flipped else q
    own_flipped = parent_flipped != layer.flipped
    bx, by, bw, bh = layer.bounds
    in_bounds = bx <= q[0] < bx + bw and by <= q[1] < by + bh

    result = CLEAR
    if layer.background[3] > 0 and inside_rounded(q, layer.bounds, layer.radius):
        result = over(premultiplied(layer.background), result)

    body = CLEAR
    if in_bounds and layer.draw is not None:
        drawn = layer.draw(own[0], own[1])
        if drawn is not None:
            body = over(premultiplied(drawn), body)
    if in_bounds and layer.image is not None:
        body = over(premultiplied(sample_image(layer, q, parent_flipped)), body)
    for sublayer in layer.sublayers:
        body = over(colour_at(sublayer, own, own_flipped), body)
    if layer.masks and not inside_rounded(q, layer.bounds, layer.radius):
        body = CLEAR
    result = over(body, result)

    w = layer.border_width
    if w > 0 and inside_rounded(q, layer.bounds, layer.radius):
        inner = (bx + w, by + w, bw - 2 * w, bh - 2 * w)
        if not inside_rounded(q, inner, max(layer.radius - w, 0.0)):
            result = over(premultiplied(layer.border_color), result)
    return scaled(result, layer.opacity)


def render(root, name):
    image = Image.new("RGBA", (PIXELS, PIXELS))
    pixels = image.load()
    for j in range(PIXELS):
        for i in range(PIXELS):
            total = [0.0, 0.0, 0.0, 0.0]
            for sj in range(SS):
                for si in range(SS):
                    px = (i + (si + 0.5) / SS) / SCALE
                    py = WINDOW - (j + (sj + 0.5) / SS) / SCALE
                    c = over(colour_at(root, (px, py), False), WHITE)
                    for k in range(4):
                        total[k] += c[k]
            n = SS * SS
            pixels[i, j] = tuple(int(round(v / n * 255)) for v in total)
    image.save(os.path.join(OUT, name + ".png"))


def rect_draw(rects, fill):
    """Drawn contents: the first rectangle (x, y, w, h, colour) holding the point, else fill."""

    def draw(x, y):
        for rx, ry, rw, rh, colour in rects:
            if rx <= x < rx + rw and ry <= y < ry + rh:
                return colour
        return fill

    return draw


def quadrant_image():
    rows = []
    for r in range(8):
        row = []
        for c in range(8):
            if r < 4:
                row.append(RED if c < 4 else GREEN)
            else:
                row.append(BLUE if c < 4 else BLACK)
        rows.append(row)
    return rows


def rotate_then_scale(radians, s):
    """identity.rotate(radians).scale(s, s), pre-multiplied: the scale acts first."""
    c, n = math.cos(radians), math.sin(radians)
    # Row vectors: p * S * R.
    return (s * c, s * n, -s * n, s * c, 0.0, 0.0)


def scene_rotated_scaled():
    root = Layer((0, 0, 64, 64), (0, 0), anchor=(0, 0))
    root.background = (0.8, 0.8, 0.8, 1.0)
    child = root.add(Layer((0, 0, 24, 16), (32, 32), transform=rotate_then_scale(math.radians(30), 1.5)))
    child.draw = rect_draw([(0, 8, 12, 8, RED), (12, 0, 12, 8, GREEN)], BLUE)
    return root


def scene_flipped_parent():
    root = Layer((0, 0, 64, 64), (0, 0), anchor=(0, 0))
    root.background = (1.0, 1.0, 0.6, 1.0)
    parent = root.add(Layer((0, 0, 48, 40), (8, 12), anchor=(0, 0)))
    parent.flipped = True
    parent.background = (0.6, 0.8, 1.0, 1.0)
    parent.draw = rect_draw([(0, 0, 8, 8, GREEN)], None)
    raw = parent.add(Layer((0, 0, 20, 12), (4, 6), anchor=(0, 0)))
    raw.draw = rect_draw([(0, 0, 10, 6, RED)], BLUE)
    pictured = parent.add(Layer((0, 0, 16, 16), (28, 20), anchor=(0, 0)))
    pictured.image = quadrant_image()
    return root


def scene_group_opacity():
    root = Layer((0, 0, 64, 64), (0, 0), anchor=(0, 0))
    group = root.add(Layer((0, 0, 40, 40), (12, 12), anchor=(0, 0)))
    group.opacity = 0.5
    red = group.add(Layer((0, 0, 24, 24), (0, 0), anchor=(0, 0)))
    red.background = RED
    blue = group.add(Layer((0, 0, 24, 24), (16, 16), anchor=(0, 0)))
    blue.background = BLUE
    leaf = root.add(Layer((0, 0, 10, 10), (2, 50), anchor=(0, 0)))
    leaf.background = GREEN
    leaf.opacity = 0.5
    framed = root.add(Layer((0, 0, 16, 10), (44, 2), anchor=(0, 0)))
    framed.background = BLACK
    framed.border_width = 3
    framed.border_color = RED
    framed.opacity = 0.5
    return root


def scene_masks():
    root = Layer((0, 0, 64, 64), (0, 0), anchor=(0, 0))
    clip = root.add(Layer((0, 0, 40, 40), (12, 12), anchor=(0, 0)))
    clip.masks = True
    clip.radius = 10
    clip.background = (0.0, 0.6, 0.0, 1.0)
    clip.border_width = 2
    clip.border_color = BLACK
    sub = clip.add(Layer((0, 0, 40, 40), (20, 20), anchor=(0, 0)))
    sub.background = RED
    square = root.add(Layer((0, 0, 10, 10), (2.25, 2.25), anchor=(0, 0)))
    square.masks = True
    square.background = (1.0, 1.0, 0.0, 1.0)
    inner = square.add(Layer((0, 0, 20, 20), (5, 5), anchor=(0, 0)))
    inner.background = BLUE
    return root


def main():
    os.makedirs(OUT, exist_ok=True)
    image = Image.new("RGBA", (8, 8))
    for r, row in enumerate(quadrant_image()):
        for c, colour in enumerate(row):
            image.putpixel((c, r), tuple(int(v * 255) for v in colour))
    image.save(os.path.join(OUT, "contents_quadrants.png"))
    render(scene_rotated_scaled(), "layers_rotated_scaled")
    render(scene_flipped_parent(), "layers_flipped_parent")
    render(scene_group_opacity(), "layers_group_opacity")
    render(scene_masks(), "layers_masks")


if __name__ == "__main__":
    main()
