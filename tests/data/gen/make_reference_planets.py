#!/usr/bin/python3
"""Writes the reference planets (tests/data/planets/) and the two test inputs they use:

  icon.png, picture.png                 the fixed icon picture and the fixed idea picture
  planet_t<T>_full.png                  T = 0..6: colour, title (excluded from comparison),
                                        icon, sub-idea dots, note mark, link ring
  planet_t<T>_picture.png               picture, dots, web-link mark, link ring
  planet_t<T>_faded.png                 faded colour planet with dots and the note mark

Each picture is the planet's drawing square at 2 device pixels a point (planet scale 1),
RGBA, transparent outside the planet, upright (top row = top of the planet).

The drawing rules, written down here from the planets' description (points, y down, origin
at the square's top-left corner; R the radius of the type, M = 1.25 R the centre both ways):
  Radius by type: 0 56, 1 76, 2 35, 3 12, 4 76, 5 56, 6 93; the square's side is 2.5 R.
  Colour planet, in this order:
    rim: the circle (M - R, M - R, 2R, 2R) stroked 1.0 wide in white;
    disc: that square made integral (floor of the origin, ceil of the far edge) filled as an
      ellipse with the base colour (light grey, white level 2/3, when faded);
    icon: n = round(R / 2.5), side n (n - 1 when odd), left trunc(M - n // 2), top
      trunc(M - 0.85 R), the square drawn with the icon picture stretched into it;
    dots: "3_dots" sized 10 x trunc(10 h / w); its rectangle (M - 5, b - h', 10, h') made
      integral, b = M + 0.9 R with a note badge (half the note mark's height higher without
      one); the image stretched into it;
    note mark: "planet_note_indicator" sized 8 x 8 h / w; its rectangle (M - 4, M + 0.9 R -
      dots height - 3 - h', 8, h') made integral, the image stretched into it;
    link ring: the circle of radius 1.1 R stroked 1.0 wide in light grey, dashes 1 on 2 off
      from phase 0 with flat ends, starting at the rightmost point and running towards the
      bottom of the picture (angles increasing in these y-down coordinates: the platform's
      ellipse runs counter-clockwise in a y-up space, and the planet's space is flipped);
    title: not drawn here; the comparison leaves out the text area's bounding box;
    fade: the circle (M - R, M - R, 2R, 2R) filled light grey at alpha 0.5.
  Picture planet: the rim in light grey; the picture stretched into (M - R, M - R, 2R, 2R)
    (whole numbers: origin rounded, size ceiled) clipped to that circle; the dots placed as
    without a note; "web_link_icon" into (M - 16, M - 0.5 R - 16, 32, 32) made integral with
    the difference blend at alpha 0.2; the link ring.
  Named images: the representation chosen is the smallest whose pixels cover the target
  rectangle at 2 pixels a point (else the largest); stretching samples bilinearly at pixel
  centres with the edges clamped, as the platform's smooth image drawing does.
  Coverage: shapes are antialiased by their area coverage of each pixel (16 x 16 samples a
  pixel near an edge), composited source-over in premultiplied values.
Deterministic. Needs python3-pil:
  /usr/bin/python3 tests/data/gen/make_reference_planets.py
"""

import math
import os

from PIL import Image

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
OUT = os.path.join(ROOT, "tests", "data", "planets")
ART = os.path.join(ROOT, "resources", "images")

SCALE = 2
SAMPLES = 16
RADII = {0: 56, 1: 76, 2: 35, 3: 12, 4: 76, 5: 56, 6: 93}
BASE = (51 / 255, 128 / 255, 204 / 255)
WHITE = (1.0, 1.0, 1.0)
LIGHT = (2 / 3, 2 / 3, 2 / 3)


def f32(v):
    import struct
    return struct.unpack("f", struct.pack("f", v))[0]


class Canvas:
    """Premultiplied RGBA floats, row-major, w x h pixels."""

    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(w * h)]

    def over(self, x, y, rgb, alpha):
        if alpha <= 0 or not (0 <= x < self.w and 0 <= y < self.h):
            return
        p = self.px[y * self.w + x]
        for c in range(3):
            p[c] = rgb[c] * alpha + p[c] * (1 - alpha)
        p[3] = alpha + p[3] * (1 - alpha)

    def over_premul(self, x, y, src, fraction=1.0):
        if not (0 <= x < self.w and 0 <= y < self.h):
            return
        p = self.px[y * self.w + x]
        sa = src[3] * fraction
        for c in range(3):
            p[c] = src[c] * fraction + p[c] * (1 - sa)
        p[3] = sa + p[3] * (1 - sa)

    def difference(self, x, y, src, fraction):
        # Result of the difference blend, then mixed into the destination by `fraction`.
        p = self.px[y * self.w + x]
        sa, da = src[3], p[3]
        out = []
        for c in range(3):
            out.append(src[c] + p[c] - 2 * min(src[c] * da, p[c] * sa))
        out.append(sa + da - sa * da)
        for c in range(4):
            p[c] = p[c] + fraction * (out[c] - p[c])

    def save(self, path):
        img = Image.new("RGBA", (self.w, self.h))
        data = []
        for p in self.px:
            a = p[3]
            if a <= 0:
                data.append((0, 0, 0, 0))
                continue
            a8 = round(a * 255)
            # Stored straight (PNG), from premultiplied values.
            data.append(tuple(min(255, round(p[c] / a * 255)) for c in range(3)) + (a8,))
        img.putdata(data)
        img.save(path)


def coverage(inside, x, y, dist):
    """Area coverage of pixel (x, y) (device pixels) by a shape; `dist(px, py)` is a signed
    distance estimate in pixels used to skip pixels far from the edge."""
    cx, cy = x + 0.5, y + 0.5
    d = dist(cx, cy)
    if d < -1.0:
        return 1.0
    if d > 1.0:
        return 0.0
    n = 0
    for j in range(SAMPLES):
        for i in range(SAMPLES):
            if inside(x + (i + 0.5) / SAMPLES, y + (j + 0.5) / SAMPLES):
                n += 1
    return n / (SAMPLES * SAMPLES)


def ellipse_shape(rect):
    x, y, w, h = [v * SCALE for v in rect]
    cx, cy, rx, ry = x + w / 2, y + h / 2, w / 2, h / 2

    def inside(px, py):
        return ((px - cx) / rx) ** 2 + ((py - cy) / ry) ** 2 <= 1.0

    def dist(px, py):
        return (math.hypot((px - cx) / rx, (py - cy) / ry) - 1.0) * min(rx, ry)

    return inside, dist


def ring_shape(center, radius, width):
    cx, cy = center[0] * SCALE, center[1] * SCALE
    r, hw = radius * SCALE, width * SCALE / 2

    def inside(px, py):
        return abs(math.hypot(px - cx, py - cy) - r) <= hw

    def dist(px, py):
        return abs(math.hypot(px - cx, py - cy) - r) - hw

    return inside, dist


def dashed_ring_shape(center, radius, width, on, off):
    cx, cy = center[0] * SCALE, center[1] * SCALE
    r, hw = radius * SCALE, width * SCALE / 2
    period = (on + off) * SCALE
    circumference = 2 * math.pi * r

    def inside(px, py):
        if abs(math.hypot(px - cx, py - cy) - r) > hw:
            return False
        # Arc length from the rightmost point, running towards the bottom (increasing y).
        angle = math.atan2(py - cy, px - cx)
        if angle < 0:
            angle += 2 * math.pi
        s = angle * r
        if s >= circumference:
            s -= circumference
        return (s % period) < on * SCALE

    def dist(px, py):
        return abs(math.hypot(px - cx, py - cy) - r) - hw

    return inside, dist


def paint_shape(canvas, shape, rgb, alpha=1.0, clip=None):
    inside, dist = shape
    for y in range(canvas.h):
        for x in range(canvas.w):
            c = coverage(inside, x, y, dist)
            if clip is not None:
                c *= clip(x, y)
            if c > 0:
                canvas.over(x, y, rgb, c * alpha)


def integral(rect):
    x, y, w, h = rect
    x0, y0 = math.floor(x), math.floor(y)
    x1, y1 = math.ceil(x + w), math.ceil(y + h)
    return (x0, y0, x1 - x0, y1 - y0)


def load_premultiplied(path):
    img = Image.open(path).convert("RGBA")
    w, h = img.size
    px = []
    for r, g, b, a in img.getdata():
        af = a / 255
        px.append((r / 255 * af, g / 255 * af, b / 255 * af, af))
    return (w, h, px)


def named_representations(name):
    reps = []
    for suffix in ("", "@2x"):
        path = os.path.join(ART, name + suffix + ".png")
        if os.path.exists(path):
            reps.append(load_premultiplied(path))
    return reps


def best_representation(reps, want_w, want_h):
    best = None
    largest = None
    for rep in reps:
        area = rep[0] * rep[1]
        if largest is None or area > largest[0] * largest[1]:
            largest = rep
        if rep[0] + 0.5 >= want_w and rep[1] + 0.5 >= want_h and (best is None or area < best[0] * best[1]):
            best = rep
    return best if best is not None else largest


def sample_bilinear(image, u, v):
    w, h, px = image
    u = min(max(u, 0.0), w - 1.0)
    v = min(max(v, 0.0), h - 1.0)
    x0, y0 = int(math.floor(u)), int(math.floor(v))
    x1, y1 = min(x0 + 1, w - 1), min(y0 + 1, h - 1)
    fx, fy = u - x0, v - y0
    out = []
    for c in range(4):
        a = px[y0 * w + x0][c] * (1 - fx) + px[y0 * w + x1][c] * fx
        b = px[y1 * w + x0][c] * (1 - fx) + px[y1 * w + x1][c] * fx
        out.append(a * (1 - fy) + b * fy)
    return out


def draw_image(canvas, image, rect, blend="over", fraction=1.0, clip=None):
    """The image stretched into rect (points), upright."""
    x, y, w, h = [v * SCALE for v in rect]
    iw, ih = image[0], image[1]
    for py in range(int(math.floor(y)), int(math.ceil(y + h))):
        for px in range(int(math.floor(x)), int(math.ceil(x + w))):
            if not (0 <= px < canvas.w and 0 <= py < canvas.h):
                continue
            cx, cy = px + 0.5, py + 0.5
            if not (x <= cx < x + w and y <= cy < y + h):
                continue
            u = (cx - x) * iw / w - 0.5
            v = (cy - y) * ih / h - 0.5
            src = sample_bilinear(image, u, v)
            c = clip(px, py) if clip is not None else 1.0
            if c <= 0:
                continue
            if blend == "difference":
                canvas.difference(px, py, src, fraction * c)
            else:
                canvas.over_premul(px, py, src, fraction * c)


def named_image_rect_draw(canvas, reps, rect, **kwargs):
    if not reps:
        return
    rep = best_representation(reps, rect[2] * SCALE, rect[3] * SCALE)
    draw_image(canvas, rep, rect, **kwargs)


DOTS = named_representations("3_dots")
NOTE = named_representations("planet_note_indicator")
WEB = named_representations("web_link_icon")


def point_size(reps):
    # The 1x representation's pixels are its size in points.
    w, h, _ = reps[0]
    return w, h


def dots_size():
    w, h = point_size(DOTS)
    return 10.0, float(math.trunc(f32(10.0 * h / w)))


def note_size():
    w, h = point_size(NOTE)
    return 8.0, 8.0 * h / w


def planet_geometry(t):
    r = float(RADII[t])
    side = f32(2.5 * r)
    m = side / 2
    return r, side, m


def draw_dots(canvas, m, r, with_note):
    dw, dh = dots_size()
    bottom = m + 0.9 * r
    if not with_note:
        bottom -= note_size()[1] / 2
    named_image_rect_draw(canvas, DOTS, integral((m - dw / 2, bottom - dh, dw, dh)))


def note_rect(m, r):
    nw, nh = note_size()
    return integral((m - nw / 2, m + 0.9 * r - dots_size()[1] - 3 - nh, nw, nh))


def draw_link_ring(canvas, m, r):
    rho = r * 1.1
    paint_shape(canvas, dashed_ring_shape((m, m), rho, 1.0, 1.0, 2.0), LIGHT)


def icon_rect(m, r):
    n = int(math.floor(r / 2.5 + 0.5))
    side = n - 1 if n % 2 else n
    left = math.trunc(m - (n // 2))
    top = math.trunc(m - 0.85 * r)
    return integral((left, top, side, side))


def color_planet(t, icon, fade, with_icon, with_link):
    r, side, m = planet_geometry(t)
    n = int(round(side * SCALE))
    canvas = Canvas(n, n)
    disc = (m - r, m - r, 2 * r, 2 * r)
    paint_shape(canvas, ring_shape((m, m), r, 1.0), WHITE)
    paint_shape(canvas, ellipse_shape(integral(disc)), LIGHT if fade else BASE)
    if with_icon:
        draw_image(canvas, icon, icon_rect(m, r))
    draw_dots(canvas, m, r, True)
    named_image_rect_draw(canvas, NOTE, note_rect(m, r))
    if with_link:
        draw_link_ring(canvas, m, r)
    if fade:
        paint_shape(canvas, ellipse_shape(disc), LIGHT, 0.5)
    return canvas


def picture_planet(t, picture):
    r, side, m = planet_geometry(t)
    n = int(round(side * SCALE))
    canvas = Canvas(n, n)
    disc = (m - r, m - r, 2 * r, 2 * r)
    paint_shape(canvas, ring_shape((m, m), r, 1.0), LIGHT)
    inside, dist = ellipse_shape(disc)
    clip_cache = {}

    def clip(x, y):
        key = (x, y)
        if key not in clip_cache:
            clip_cache[key] = coverage(inside, x, y, dist)
        return clip_cache[key]

    # makeIntegralCGRect: origin rounded half away from zero, size ceiled, about the centre.
    def round_away(v):
        return math.copysign(math.floor(abs(v) + 0.5), v)

    local = (round_away(-r), round_away(-r), math.ceil(2 * r), math.ceil(2 * r))
    draw_image(canvas, picture, (m + local[0], m + local[1], local[2], local[3]), clip=clip)
    draw_dots(canvas, m, r, False)
    web = integral((m - 16, m - 0.5 * r - 16, 32, 32))
    named_image_rect_draw(canvas, WEB, web, blend="difference", fraction=0.2)
    draw_link_ring(canvas, m, r)
    return canvas


def make_inputs():
    # Smooth gradients: any linear resampling gives nearly the same values, so the
    # comparison tests placement rather than the filter.
    icon = Image.new("RGBA", (48, 48))
    icon.putdata([(40 + 4 * x, 60 + 3 * y, 200, 255) for y in range(48) for x in range(48)])
    icon.save(os.path.join(OUT, "icon.png"))
    picture = Image.new("RGBA", (160, 120))
    picture.putdata([(60 + x, 220 - y, 90 + (x + y) // 4, 255) for y in range(120) for x in range(160)])
    picture.save(os.path.join(OUT, "picture.png"))


def main():
    os.makedirs(OUT, exist_ok=True)
    make_inputs()
    icon = load_premultiplied(os.path.join(OUT, "icon.png"))
    picture = load_premultiplied(os.path.join(OUT, "picture.png"))
    for t in sorted(RADII):
        color_planet(t, icon, False, True, True).save(os.path.join(OUT, "planet_t%d_full.png" % t))
        picture_planet(t, picture).save(os.path.join(OUT, "planet_t%d_picture.png" % t))
        color_planet(t, icon, True, False, False).save(os.path.join(OUT, "planet_t%d_faded.png" % t))


if __name__ == "__main__":
    main()
