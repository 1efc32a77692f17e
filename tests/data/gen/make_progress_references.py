#!/usr/bin/env python3
"""Writes the reference pictures of the progress indicators and the progress HUD
(tests/data/widgets/progress_*.png), drawn here from the drawing rules written down below,
independently of the code under test.

Space and pixels. Every view here is unflipped: user space is y-up with one unit per
pixel, the origin at the bottom left, so user y maps to image row height - y. Shapes are
sampled 4 x 4 (8 x 8 for the small views) per pixel and the share of samples inside is the
coverage (standing in for antialiasing). Colours are composited "source over" on
premultiplied values in 0..1, starting from transparent; the PNG files store straight
alpha, bytes round(value * 255). Angles run from +x towards +y; clockwise means
decreasing angles.

The rules:
  Spinning indicator (bounds W x H, s = min(W, H), origin moved to the centre):
    - the background, when drawn, fills the bounds;
    - indeterminate: fin k (k = 0 .. 11) is the segment from (0, 0.234375 s) to
      (0, 0.421875 s) turned by k * 2 pi / 12 (counter-clockwise), stroked with width
      0.0859375 s and round caps, in its colour: the fin's own colour while animating, the
      foreground colour at alpha 0.15 otherwise;
    - animation: a start sets the lit position to 1 and leaves the fins as they are (the
      foreground colour with the alpha they had, 1 for a new indicator); each step moves
      the position back by one (0 wraps to 12 before the subtraction), multiplies every
      fin's alpha by 0.85 (not below 0.15) and gives the fin at the position the
      foreground colour itself;
    - determinate: line width w = 1 + 0.01 s, radius r = (s - w) / 2.1: the circle of
      radius r stroked with width w, then the pie from 90 degrees clockwise through
      360 * value / maximum degrees, filled, both in the foreground colour.
  Round progress view (W x H):
    - pie: the circle of the bounds inset by 2 filled with the background tint (white at
      0.1) and stroked with the progress tint (white) at width 2; then a white sector from
      the centre, radius (W - 4) / 2, from pi / 2 clockwise through 2 pi * progress;
    - ring: around the centre with radius (W - 5) / 2, width 5, round caps: the whole
      circle in the background tint, then the arc from the top clockwise through
      progress * 360 degrees in the progress tint.
  Bar progress view (w x h): a capsule inset by 2 with end radius R = h / 2 - 2, filled
    with the remaining colour (clear) and stroked red at width 2; the progress, white, is
    the capsule inset by 4 with end radius r = R - 2, cut at x = progress * w, except that
    its whole left end (up to r + 4) shows as soon as the progress is above 0.
  Progress HUD (W x H, margin m = 20, indicator side 60):
    - box width = the widest of indicator, label and details widths + 2 m; box height =
      their heights + 2 m (a text's width includes 10 points of padding);
    - items stacked from the bottom with y0 = round((H - box height) / 2) + m: details,
      label, indicator; each centred at x = round((W - width) / 2);
    - drawing: with the dimmed background, a radial gradient from the centre, black whose
      alpha grows from 0 at the centre to 0.75 at the distance min(W, H) and stays there;
      then the box, size as computed, at (round((W - width) / 2), round((H - height) / 2)),
      with corners of radius 10, filled with the HUD colour (or black at alpha 0.8 when
      the colour is unset); then the indicator over it.
    - The texts are not drawn here: the test leaves their rectangles out of the comparison.
      Their heights decide the layout; they are the heights of one line of the label font
      (Lato Medium 16) and of the details font (Nimbus Sans Bold 12) as laid out by the
      toolkit, LABEL_HEIGHT and DETAILS_HEIGHT below (the test checks them first).

Deterministic. Needs python3-pil:
  /usr/bin/python3 tests/data/gen/make_progress_references.py
"""

import math
import os

from PIL import Image

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
OUT = os.path.join(ROOT, "tests", "data", "widgets")

LABEL_HEIGHT = 19.203125
DETAILS_HEIGHT = 17.0

WHITE = (1.0, 1.0, 1.0, 1.0)
FIN_COLOR = (0.1, 0.3, 0.8, 1.0)
HUD_SPINNER_BOX = (0.2, 0.25, 0.3, 1.0)
GRAY95 = (0.95, 0.95, 0.95, 1.0)
RED = (1.0, 0.0, 0.0, 1.0)


def cround(v):
    """Rounding half away from zero, as C's round (Python's round goes to even)."""
    return math.floor(v + 0.5) if v >= 0 else -math.floor(-v + 0.5)


class Canvas:
    def __init__(self, width, height, ss):
        self.w = width
        self.h = height
        self.ss = ss
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(width * height)]

    def over(self, index, color, coverage):
        r, g, b, a = color
        sa = a * coverage
        if sa <= 0:
            return
        d = self.px[index]
        k = 1 - sa
        d[0] = r * sa + d[0] * k
        d[1] = g * sa + d[1] * k
        d[2] = b * sa + d[2] * k
        d[3] = sa + d[3] * k

    def paint(self, inside, color, bbox=None):
        """Composites `color` over the canvas with the coverage of the shape `inside(x, y)`
        (user space); bbox (x0, y0, x1, y1) limits the work."""
        x0, y0, x1, y1 = bbox if bbox else (0, 0, self.w, self.h)
        c0 = max(0, int(math.floor(x0)) - 1)
        c1 = min(self.w, int(math.ceil(x1)) + 1)
        r0 = max(0, self.h - int(math.ceil(y1)) - 1)
        r1 = min(self.h, self.h - int(math.floor(y0)) + 1)
        ss = self.ss
        offsets = [(i + 0.5) / ss for i in range(ss)]
        total = ss * ss
        for row in range(r0, r1):
            top = self.h - row
            for col in range(c0, c1):
                n = 0
                for oy in offsets:
                    y = top - oy
                    for ox in offsets:
                        if inside(col + ox, y):
                            n += 1
                if n:
                    self.over(row * self.w + col, color, n / total)

    def paint_per_pixel(self, color_at):
        """Composites a colour evaluated at each pixel centre (for smooth gradients)."""
        for row in range(self.h):
            y = self.h - row - 0.5
            for col in range(self.w):
                color = color_at(col + 0.5, y)
                if color:
                    self.over(row * self.w + col, color, 1.0)

    def save(self, name):
        image = Image.new("RGBA", (self.w, self.h))
        data = []
        for r, g, b, a in self.px:
            if a <= 0:
                data.append((0, 0, 0, 0))
            else:
                data.append(tuple(min(255, cround(v / a * 255)) for v in (r, g, b)) + (cround(a * 255),))
        image.putdata(data)
        os.makedirs(OUT, exist_ok=True)
        image.save(os.path.join(OUT, name + ".png"))


# ---- Shapes (predicates on user-space points) ----


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / length2))
    qx, qy = ax + t * dx, ay + t * dy
    return math.hypot(px - qx, py - qy)


def capsule(ax, ay, bx, by, half_width):
    return lambda x, y: segment_distance(x, y, ax, ay, bx, by) <= half_width


def disc(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r, half_width):
    return lambda x, y: abs(math.hypot(x - cx, y - cy) - r) <= half_width


def clockwise_share(x, y, cx, cy, start, sweep):
    """Whether the direction of (x, y) from the centre lies within `sweep` radians
    clockwise from `start`."""
    a = math.atan2(y - cy, x - cx)
    return (start - a) % (2 * math.pi) <= sweep


def sector(cx, cy, r, start, sweep):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r and clockwise_share(x, y, cx, cy, start, sweep)


def arc_stroke(cx, cy, r, start, sweep, half_width):
    """A clockwise arc stroked with round caps."""
    ends = [(cx + r * math.cos(start), cy + r * math.sin(start)),
            (cx + r * math.cos(start - sweep), cy + r * math.sin(start - sweep))]

    def inside(x, y):
        if clockwise_share(x, y, cx, cy, start, sweep) and abs(math.hypot(x - cx, y - cy) - r) <= half_width:
            return True
        return any(math.hypot(x - ex, y - ey) <= half_width for ex, ey in ends)

    return inside


def rounded_rect(x0, y0, w, h, r):
    def inside(x, y):
        if not (x0 <= x <= x0 + w and y0 <= y <= y0 + h):
            return False
        cx = min(max(x, x0 + r), x0 + w - r)
        cy = min(max(y, y0 + r), y0 + h - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r

    return inside


def stadium_distance(x, y, left, right, mid, radius):
    """Signed distance to a capsule: its core segment from (left, mid) to (right, mid)."""
    return segment_distance(x, y, left, mid, right, mid) - radius


# ---- Views ----


def spinner_fins(canvas, x0, y0, w, h, colors):
    s = min(w, h)
    cx, cy = x0 + w / 2, y0 + h / 2
    inner, outer, half = 0.234375 * s, 0.421875 * s, 0.0859375 * s / 2
    for k in range(12):
        t = k * 2 * math.pi / 12
        ax, ay = cx - inner * math.sin(t), cy + inner * math.cos(t)
        bx, by = cx - outer * math.sin(t), cy + outer * math.cos(t)
        canvas.paint(capsule(ax, ay, bx, by, half), colors[k],
                     (min(ax, bx) - half, min(ay, by) - half, max(ax, bx) + half, max(ay, by) + half))


def with_alpha(color, alpha):
    return color[:3] + (alpha,)


def spinner_steps(fore, steps):
    """Fin colours after a start and `steps` animation steps (fins start at alpha 1)."""
    position = 1
    colors = [with_alpha(fore, 1.0)] * 12
    for _ in range(steps):
        if position <= 0:
            position = 12
        position -= 1
        colors = [with_alpha(fore, max(0.85 * c[3], 0.15)) for c in colors]
        colors[position] = fore
    return colors


def spinner_stopped():
    c = Canvas(48, 48, 8)
    c.paint(lambda x, y: True, WHITE)  # drawsBackground, white
    spinner_fins(c, 0, 0, 48, 48, [with_alpha(FIN_COLOR, 0.15)] * 12)
    c.save("progress_spinner_stopped")


def spinner_animating():
    c = Canvas(48, 48, 8)
    spinner_fins(c, 0, 0, 48, 48, spinner_steps(FIN_COLOR, 4))
    c.save("progress_spinner_steps")


def spinner_quarter():
    c = Canvas(48, 48, 8)
    s = 48
    lw = 1 + 0.01 * s
    r = (s - lw) / 2.1
    c.paint(ring(24, 24, r, lw / 2), FIN_COLOR)
    c.paint(sector(24, 24, r, math.pi / 2, 2 * math.pi * 25 / 100), FIN_COLOR)
    c.save("progress_spinner_quarter")


def round_pie(canvas, x0, y0, w, h, progress):
    cx, cy = x0 + w / 2, y0 + h / 2
    inset_r = (w - 4) / 2
    canvas.paint(disc(cx, cy, inset_r), (1.0, 1.0, 1.0, 0.1), (x0, y0, x0 + w, y0 + h))
    canvas.paint(ring(cx, cy, inset_r, 1.0), WHITE, (x0, y0, x0 + w, y0 + h))
    if progress > 0:
        canvas.paint(sector(cx, cy, (w - 4) / 2, math.pi / 2, 2 * math.pi * progress), WHITE,
                     (x0, y0, x0 + w, y0 + h))


def round_views():
    c = Canvas(37, 37, 8)
    round_pie(c, 0, 0, 37, 37, 0.3)
    c.save("progress_round_pie")

    c = Canvas(37, 37, 8)
    r = (37 - 5) / 2
    c.paint(ring(18.5, 18.5, r, 2.5), (1.0, 1.0, 1.0, 0.1))
    c.paint(arc_stroke(18.5, 18.5, r, math.pi / 2, 2 * math.pi * 0.6, 2.5), WHITE)
    c.save("progress_round_ring")


def bar(canvas, x0, y0, w, h, progress):
    R = h / 2 - 2
    mid = y0 + h / 2
    # The outline (the remaining colour is clear: its fill adds nothing).
    canvas.paint(lambda x, y: abs(stadium_distance(x, y, x0 + 2 + R, x0 + w - 2 - R, mid, R)) <= 1.0, RED,
                 (x0, y0, x0 + w, y0 + h))
    r = R - 2
    cut = progress * w
    if cut > 0:
        limit = x0 + max(cut, r + 4)
        canvas.paint(lambda x, y: x <= limit and stadium_distance(x, y, x0 + r + 4, x0 + w - r - 4, mid, r) <= 0,
                     WHITE, (x0, y0, x0 + w, y0 + h))


def bar_views():
    for name, progress in (("start", 0.03), ("half", 0.5), ("end", 0.97)):
        c = Canvas(120, 20, 8)
        bar(c, 0, 0, 120, 20, progress)
        c.save("progress_bar_" + name)


def hud_box(canvas, W, H, width, height, color, dim):
    if dim:
        cx, cy, reach = W / 2, H / 2, min(W, H)

        def gradient(x, y):
            t = min(1.0, math.hypot(x - cx, y - cy) / reach)
            return (0.0, 0.0, 0.0, 0.75 * t)

        canvas.paint_per_pixel(gradient)
    bx = cround((W - width) / 2)
    by = cround((H - height) / 2)
    canvas.paint(rounded_rect(bx, by, width, height, 10), color, (bx, by, bx + width, by + height))


def hud_round():
    W, H, m = 240, 180, 20
    box_w = 60 + 2 * m
    box_h = 60 + LABEL_HEIGHT + DETAILS_HEIGHT + 2 * m
    c = Canvas(W, H, 4)
    hud_box(c, W, H, box_w, box_h, GRAY95, True)
    y0 = cround((H - box_h) / 2) + m
    iy = y0 + DETAILS_HEIGHT + LABEL_HEIGHT
    round_pie(c, cround((W - 60) / 2), iy, 60, 60, 0.4)
    c.save("progress_hud_round")


def hud_spinner():
    W, H, m = 240, 180, 20
    c = Canvas(W, H, 4)
    hud_box(c, W, H, 60 + 2 * m, 60 + 2 * m, HUD_SPINNER_BOX, False)
    # Started outside a window: animating, no step yet, every fin white at alpha 1.
    spinner_fins(c, cround((W - 60) / 2), cround((H - 100) / 2) + m, 60, 60, [WHITE] * 12)
    c.save("progress_hud_spinner")


def hud_bar():
    W, H, m = 240, 180, 20
    c = Canvas(W, H, 4)
    hud_box(c, W, H, 120 + 2 * m, 20 + 2 * m, (0.0, 0.0, 0.0, 0.8), False)
    bar(c, cround((W - 120) / 2), cround((H - 60) / 2) + m, 120, 20, 0.5)
    c.save("progress_hud_bar")


def main():
    spinner_stopped()
    spinner_animating()
    spinner_quarter()
    round_views()
    bar_views()
    hud_round()
    hud_spinner()
    hud_bar()


if __name__ == "__main__":
    main()
