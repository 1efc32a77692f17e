#!/usr/bin/python3
"""Draws the named images of the interface and writes the Qt resource list.

Every image is drawn once per scale (1x as "<name>.png", 2x as "<name>@2x.png") into
resources/images/, and resources/images.qrc lists them all under the prefix "/images"
with the file name as alias, so code asks for ":/images/<name>.png".

Shapes are drawn on a canvas SUPERSAMPLE times larger than the output and reduced with an
area filter: edges come out antialiased and the 1x and 2x images match in shape. The output
is deterministic (no time stamps, fixed drawing order), so re-running the script on an
unchanged file gives byte-identical PNGs.

Run with the system Python (it needs python3-pil):  /usr/bin/python3 tools/artwork/make_artwork.py
Add an image by writing a draw function and one entry in ARTWORK.
"""

import math
import os
import sys
from xml.sax.saxutils import quoteattr

from PIL import Image, ImageDraw

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
IMAGES_DIR = os.path.join(ROOT, "resources", "images")
QRC_PATH = os.path.join(ROOT, "resources", "images.qrc")

SCALES = (1, 2)
SUPERSAMPLE = 8

# The palette every icon shares: a mid grey body, white marks, a darker grey for outlines.
GREY = (122, 128, 135, 255)
DARK_GREY = (78, 83, 89, 255)
LIGHT_GREY = (196, 200, 205, 255)
WHITE = (255, 255, 255, 255)


class Pen:
    """Drawing in points on a supersampled canvas: every coordinate and width is given in
    points of the image's own size and scaled to canvas pixels here."""

    def __init__(self, draw, unit):
        self.draw = draw
        self.unit = unit

    def _box(self, cx, cy, r):
        u = self.unit
        return [(cx - r) * u, (cy - r) * u, (cx + r) * u, (cy + r) * u]

    def disc(self, cx, cy, r, fill):
        self.draw.ellipse(self._box(cx, cy, r), fill=fill)

    def ring(self, cx, cy, r, width, colour):
        # A ring centred on radius r: PIL draws an outline inwards from the box's edge.
        self.draw.ellipse(self._box(cx, cy, r + width / 2), outline=colour, width=max(1, round(width * self.unit)))

    def line(self, points, width, colour, round_caps=True):
        u = self.unit
        scaled = [(x * u, y * u) for x, y in points]
        self.draw.line(scaled, fill=colour, width=max(1, round(width * u)), joint="curve")
        if round_caps:
            for x, y in (points[0], points[-1]):
                self.disc(x, y, width / 2, colour)

    def polygon(self, points, fill):
        u = self.unit
        self.draw.polygon([(x * u, y * u) for x, y in points], fill=fill)

    def rounded_rect(self, x, y, w, h, radius, fill):
        u = self.unit
        self.draw.rounded_rectangle([x * u, y * u, (x + w) * u, (y + h) * u], radius=radius * u, fill=fill)

    def rect(self, x, y, w, h, fill):
        u = self.unit
        self.draw.rectangle([x * u, y * u, (x + w) * u - 1, (y + h) * u - 1], fill=fill)


# --- The images. Each takes a Pen and the size in points; (0, 0) is the top left. ---------


def draw_3_dots(pen, w, h):
    # Three dots in a row: the mark under a planet that has sub-ideas.
    r = h * 0.3
    for i in range(3):
        pen.disc(w * (i + 1) / 4, h / 2, r, GREY)


def draw_planet_note_indicator(pen, w, h):
    # A small grey pill with three white lines: the note badge.
    pen.rounded_rect(0.5, 0.5, w - 1, h - 1, (h - 1) / 2, GREY)
    for i, length in enumerate((0.5, 0.5, 0.32)):
        y = h * (0.32 + 0.18 * i)
        pen.line([(w * 0.25, y), (w * (0.25 + length), y)], 1.2, WHITE)


def draw_web_link_icon(pen, w, h):
    # A globe: a ring, its equator, two parallels and a meridian ellipse.
    cx, cy, r = w / 2, h / 2, w * 0.40
    stroke = w * 0.06
    pen.disc(cx, cy, r + stroke / 2, GREY)
    pen.disc(cx, cy, r - stroke / 2, WHITE)
    u = pen.unit
    pen.draw.ellipse([(cx - r * 0.45) * u, (cy - r) * u, (cx + r * 0.45) * u, (cy + r) * u],
                     outline=GREY, width=max(1, round(stroke * u)))
    pen.line([(cx - r, cy), (cx + r, cy)], stroke, GREY, round_caps=False)
    for dy in (-r * 0.5, r * 0.5):
        half = (r * r - dy * dy) ** 0.5
        pen.line([(cx - half, cy + dy), (cx + half, cy + dy)], stroke * 0.8, GREY, round_caps=False)
    pen.line([(cx, cy - r), (cx, cy + r)], stroke, GREY, round_caps=False)


def draw_close(pen, w, h):
    # A grey disc with a white cross.
    cx, cy = w / 2, h / 2
    pen.disc(cx, cy, w * 0.45, GREY)
    d = w * 0.17
    pen.line([(cx - d, cy - d), (cx + d, cy + d)], w * 0.08, WHITE)
    pen.line([(cx - d, cy + d), (cx + d, cy - d)], w * 0.08, WHITE)


def draw_home_icon(pen, w, h):
    # A house: a roof of two lines over a square body with a white door.
    stroke = w * 0.09
    pen.line([(w * 0.12, h * 0.50), (w * 0.50, h * 0.15), (w * 0.88, h * 0.50)], stroke, GREY)
    pen.rect(w * 0.24, h * 0.46, w * 0.52, h * 0.42, GREY)
    pen.rect(w * 0.43, h * 0.62, w * 0.14, h * 0.26, WHITE)


def draw_plus_on_circle(pen, w, h):
    # A grey ring holding a plus: the adder of a new idea.
    cx, cy = w / 2, h / 2
    pen.disc(cx, cy, w * 0.46, WHITE)
    pen.ring(cx, cy, w * 0.42, w * 0.07, GREY)
    d = w * 0.2
    pen.line([(cx - d, cy), (cx + d, cy)], w * 0.08, GREY)
    pen.line([(cx, cy - d), (cx, cy + d)], w * 0.08, GREY)


def draw_plus_on_circle_hover(pen, w, h):
    # The adder under the pointer: the same plus, white on a filled grey disc.
    cx, cy = w / 2, h / 2
    pen.disc(cx, cy, w * 0.46, GREY)
    d = w * 0.2
    pen.line([(cx - d, cy), (cx + d, cy)], w * 0.08, WHITE)
    pen.line([(cx, cy - d), (cx, cy + d)], w * 0.08, WHITE)


def _small_dock_tray(pen, w, h, colour):
    # The dock's mark (a tray with three discs on it), shrunk to fit an adder's slot.
    pen.rounded_rect(w * 0.27, h * 0.56, w * 0.46, h * 0.10, h * 0.05, colour)
    for i in range(3):
        pen.disc(w * (0.37 + 0.13 * i), h * 0.47, w * 0.045, colour)


def draw_small_dock(pen, w, h):
    # An adder in docking mode: a thin ring around the tray mark, on white.
    cx, cy = w / 2, h / 2
    pen.disc(cx, cy, w * 0.40, WHITE)
    pen.ring(cx, cy, w * 0.36, w * 0.05, LIGHT_GREY)
    _small_dock_tray(pen, w, h, GREY)


def draw_small_dock_active(pen, w, h):
    # The docking mark lit while a dragged idea is over it: a filled dark disc, white tray.
    cx, cy = w / 2, h / 2
    pen.disc(cx, cy, w * 0.44, DARK_GREY)
    pen.ring(cx, cy, w * 0.44, w * 0.04, WHITE)
    _small_dock_tray(pen, w, h, WHITE)


def draw_blackhole(pen, w, h):
    # The delete area: a dark core inside rings that fade outwards, with a bright thin
    # accretion ring, so that it reads as a hole things fall into.
    cx, cy = w / 2, h / 2
    steps = 12
    for i in range(steps):
        # From the outer halo (light, mostly transparent) to the core (near black, opaque).
        t = i / (steps - 1)
        r = w * (0.48 - 0.30 * t)
        level = int(150 - 130 * t)
        alpha = int(70 + 185 * t)
        pen.disc(cx, cy, r, (level, level, level + 6, alpha))
    pen.ring(cx, cy, w * 0.25, w * 0.03, (235, 238, 242, 255))
    pen.disc(cx, cy, w * 0.16, (12, 12, 16, 255))


# The parent planet: the disc of the parent idea, of which the parent view (120 x 120 points)
# shows only the corner. Its centre and radius are the parent view's default origin and
# radius (the distance from (-34, -36) to (95, 36) plus 8), so that the tinted shape and the
# title frame (11, 6, 95, 36) line up.
PARENT_CENTRE = (-34.0, -36.0)
PARENT_RADIUS = ((95 + 34) ** 2 + (36 + 36) ** 2) ** 0.5 + 8


def draw_parent_planet(pen, w, h):
    # White, so that tinting fills it with the parent's colour.
    pen.disc(PARENT_CENTRE[0], PARENT_CENTRE[1], PARENT_RADIUS, WHITE)


def draw_dock(pen, w, h):
    # A tray (a rounded bar) with three small discs resting on it: the dock of ideas.
    pen.rounded_rect(w * 0.08, h * 0.62, w * 0.84, h * 0.2, h * 0.1, GREY)
    for i in range(3):
        pen.disc(w * (0.28 + 0.22 * i), h * 0.46, w * 0.08, DARK_GREY)


def draw_contextual_cursor(pen, w, h):
    # An arrow pointer (white, outlined in dark grey) and a small menu mark at the lower right.
    arrow = [(2.0, 1.5), (2.0, 12.5), (4.7, 10.0), (6.6, 14.0), (8.4, 13.2), (6.6, 9.3), (10.0, 9.3)]
    scale = w / 16.0
    points = [(x * scale, y * scale) for x, y in arrow]
    pen.polygon(points, WHITE)
    pen.line(points + [points[0]], w * 0.06, DARK_GREY)
    pen.rounded_rect(w * 0.62, h * 0.62, w * 0.34, h * 0.34, w * 0.05, DARK_GREY)
    for i in range(3):
        y = h * (0.70 + 0.09 * i)
        pen.line([(w * 0.68, y), (w * 0.90, y)], w * 0.045, WHITE, round_caps=False)


def draw_test_pattern(image, scale):
    # Four exact quadrants, no smoothing: tests read these bytes. Red and green on top,
    # blue and white below.
    w, h = image.size
    px = image.load()
    for y in range(h):
        for x in range(w):
            top, left = y < h // 2, x < w // 2
            if top:
                px[x, y] = (255, 0, 0, 255) if left else (0, 255, 0, 255)
            else:
                px[x, y] = (0, 0, 255, 255) if left else (255, 255, 255, 255)


# name -> (width in points, height in points, draw function, smooth)
# Smooth images are drawn supersampled; the others directly at their pixel size.
ARTWORK = {
    "3_dots": (30, 10, draw_3_dots, True),
    "planet_note_indicator": (26, 16, draw_planet_note_indicator, True),
    "web_link_icon": (32, 32, draw_web_link_icon, True),
    "close": (28, 28, draw_close, True),
    "home_icon": (24, 24, draw_home_icon, True),
    "plus_on_circle": (32, 32, draw_plus_on_circle, True),
    "plus_on_circle_hover": (32, 32, draw_plus_on_circle_hover, True),
    "small_dock": (32, 32, draw_small_dock, True),
    "small_dock_active": (32, 32, draw_small_dock_active, True),
    "blackhole": (40, 40, draw_blackhole, True),
    "parent_planet": (120, 120, draw_parent_planet, True),
    "dock": (32, 32, draw_dock, True),
    "contextual_cursor": (16, 16, draw_contextual_cursor, True),
    "test_pattern": (8, 8, draw_test_pattern, False),
}


# --- The shell's images: window status, screen switches, adders, drop marks, logos. -------

BLUE = (66, 133, 244, 255)
GREEN = (76, 175, 80, 255)
RED = (219, 68, 55, 255)
ACTIVE = (52, 120, 246, 255)


def _cloud_shape(pen, w, h, colour):
    # Three overlapping discs on a flat base: a cloud.
    pen.disc(w * 0.34, h * 0.58, h * 0.20, colour)
    pen.disc(w * 0.55, h * 0.45, h * 0.27, colour)
    pen.disc(w * 0.72, h * 0.60, h * 0.18, colour)
    pen.rounded_rect(w * 0.16, h * 0.58, w * 0.72, h * 0.20, h * 0.10, colour)


def draw_cloud(pen, w, h):
    # In sync: a plain cloud.
    _cloud_shape(pen, w, h, GREY)


def draw_sync(pen, w, h):
    # Starting or synchronising: a cloud with two white arrows in a circle.
    _cloud_shape(pen, w, h, BLUE)
    cx, cy, r = w * 0.52, h * 0.60, h * 0.11
    pen.ring(cx, cy, r, h * 0.05, WHITE)
    pen.polygon([(cx + r - h * 0.06, cy - h * 0.02), (cx + r + h * 0.06, cy - h * 0.02), (cx + r, cy + h * 0.06)], WHITE)


def draw_error(pen, w, h):
    # Error: a red disc with a white exclamation mark.
    cx, cy = w / 2, h / 2
    pen.disc(cx, cy, w * 0.42, RED)
    pen.line([(cx, cy - h * 0.22), (cx, cy + h * 0.06)], w * 0.10, WHITE)
    pen.disc(cx, cy + h * 0.20, w * 0.06, WHITE)


def _home_icon_in(pen, w, h, colour):
    stroke = w * 0.09
    pen.line([(w * 0.12, h * 0.50), (w * 0.50, h * 0.15), (w * 0.88, h * 0.50)], stroke, colour)
    pen.rect(w * 0.24, h * 0.46, w * 0.52, h * 0.42, colour)
    pen.rect(w * 0.43, h * 0.62, w * 0.14, h * 0.26, WHITE)


def draw_home_icon_active(pen, w, h):
    _home_icon_in(pen, w, h, ACTIVE)


def _mindmap_icon_in(pen, w, h, colour):
    # A root planet with three satellites on spokes.
    cx, cy = w / 2, h / 2
    for dx, dy in ((-0.32, -0.26), (0.32, -0.22), (0.02, 0.34)):
        pen.line([(cx, cy), (cx + w * dx, cy + h * dy)], w * 0.06, colour)
        pen.disc(cx + w * dx, cy + h * dy, w * 0.11, colour)
    pen.disc(cx, cy, w * 0.18, colour)


def draw_mindmap_icon(pen, w, h):
    _mindmap_icon_in(pen, w, h, GREY)


def draw_mindmap_icon_active(pen, w, h):
    _mindmap_icon_in(pen, w, h, ACTIVE)


def _add_image_icon_in(pen, w, h, colour):
    # A picture frame with a mountain and a sun, and a plus at its corner.
    pen.rounded_rect(w * 0.08, h * 0.18, w * 0.70, h * 0.60, w * 0.06, colour)
    pen.rect(w * 0.14, h * 0.24, w * 0.58, h * 0.48, WHITE)
    pen.polygon([(w * 0.16, h * 0.70), (w * 0.36, h * 0.40), (w * 0.52, h * 0.70)], colour)
    pen.disc(w * 0.58, h * 0.36, w * 0.06, colour)
    pen.disc(w * 0.78, h * 0.76, w * 0.17, colour)
    pen.line([(w * 0.70, h * 0.76), (w * 0.86, h * 0.76)], w * 0.05, WHITE)
    pen.line([(w * 0.78, h * 0.68), (w * 0.78, h * 0.84)], w * 0.05, WHITE)


def draw_add_image_icon(pen, w, h):
    _add_image_icon_in(pen, w, h, GREY)


def draw_add_image_icon_active(pen, w, h):
    _add_image_icon_in(pen, w, h, ACTIVE)


def draw_home_view_plus(pen, w, h):
    draw_plus_on_circle(pen, w, h)


def draw_home_view_plus_active(pen, w, h):
    cx, cy = w / 2, h / 2
    pen.disc(cx, cy, w * 0.46, ACTIVE)
    d = w * 0.2
    pen.line([(cx - d, cy), (cx + d, cy)], w * 0.08, WHITE)
    pen.line([(cx, cy - d), (cx, cy + d)], w * 0.08, WHITE)


def draw_drop_here(pen, w, h):
    # A dashed-looking ring with an arrow pointing into it: drops are welcome.
    cx, cy = w / 2, h / 2
    pen.ring(cx, cy, w * 0.42, w * 0.05, GREEN)
    pen.line([(cx, cy - h * 0.22), (cx, cy + h * 0.12)], w * 0.07, GREEN)
    pen.polygon([(cx - w * 0.13, cy + h * 0.04), (cx + w * 0.13, cy + h * 0.04), (cx, cy + h * 0.22)], GREEN)


def draw_drop_here_no(pen, w, h):
    # The same ring crossed out: no drop here.
    cx, cy = w / 2, h / 2
    pen.ring(cx, cy, w * 0.42, w * 0.05, RED)
    d = w * 0.28
    pen.line([(cx - d, cy - d), (cx + d, cy + d)], w * 0.07, RED)


def draw_transparent_planet(pen, w, h):
    # A pale see-through disc: the place a dragged planet would take.
    pen.disc(w / 2, h / 2, w * 0.46, (196, 200, 205, 110))
    pen.ring(w / 2, h / 2, w * 0.46, w * 0.02, (122, 128, 135, 160))


def draw_accept_active(pen, w, h):
    # A tick on a blue disc.
    cx, cy = w / 2, h / 2
    pen.disc(cx, cy, w * 0.45, ACTIVE)
    pen.line([(w * 0.28, h * 0.52), (w * 0.44, h * 0.68), (w * 0.73, h * 0.36)], w * 0.09, WHITE)


def _corvex_logo(pen, w, h):
    # The application's mark: a green root planet with orbiting ideas on a ring.
    cx, cy = w / 2, h / 2
    pen.disc(cx, cy, w * 0.48, (37, 52, 63, 255))
    pen.ring(cx, cy, w * 0.33, w * 0.015, (140, 160, 170, 255))
    pen.disc(cx, cy, w * 0.16, (139, 195, 74, 255))
    for angle, colour in ((0.3, (255, 193, 7, 255)), (2.2, (3, 169, 244, 255)), (4.1, (233, 30, 99, 255))):
        pen.disc(cx + w * 0.33 * math.cos(angle), cy + w * 0.33 * math.sin(angle), w * 0.07, colour)


def draw_about_logo(pen, w, h):
    _corvex_logo(pen, w, h)


def draw_app_icon(pen, w, h):
    _corvex_logo(pen, w, h)


SHELL_ARTWORK = {
    "cloud": (24, 24, draw_cloud, True),
    "sync": (24, 24, draw_sync, True),
    "error": (24, 24, draw_error, True),
    "home_icon_active": (24, 24, draw_home_icon_active, True),
    "mindmap_icon": (24, 24, draw_mindmap_icon, True),
    "mindmap_icon_active": (24, 24, draw_mindmap_icon_active, True),
    "add_image_icon": (24, 24, draw_add_image_icon, True),
    "add_image_icon_active": (24, 24, draw_add_image_icon_active, True),
    "home_view_plus": (186, 186, draw_home_view_plus, True),
    "home_view_plus_active": (186, 186, draw_home_view_plus_active, True),
    "drop_here": (64, 64, draw_drop_here, True),
    "drop_here_no": (64, 64, draw_drop_here_no, True),
    "transparent_planet": (140, 140, draw_transparent_planet, True),
    "accept_active": (28, 28, draw_accept_active, True),
    "about_logo": (96, 96, draw_about_logo, True),
    # The application icon of the desktop entry: 128 points, 256 pixels at 2x.
    "app_icon": (128, 128, draw_app_icon, True),
}

ARTWORK.update(SHELL_ARTWORK)


# --- The idea editor's images (tab bar's Done, add-note button, icon tab rows) ----------


def draw_accept(pen, w, h):
    # A tick on a grey disc; the active one is blue.
    cx, cy = w / 2, h / 2
    pen.disc(cx, cy, w * 0.45, GREY)
    pen.line([(w * 0.28, h * 0.52), (w * 0.44, h * 0.68), (w * 0.73, h * 0.36)], w * 0.09, WHITE)


def _add_note_in(pen, w, h, colour):
    # A sheet with a folded corner and a plus.
    pen.line([(w * 0.22, h * 0.12), (w * 0.62, h * 0.12), (w * 0.8, h * 0.3), (w * 0.8, h * 0.88),
              (w * 0.22, h * 0.88), (w * 0.22, h * 0.12)], w * 0.07, colour)
    pen.line([(w * 0.51, h * 0.38), (w * 0.51, h * 0.72)], w * 0.08, colour)
    pen.line([(w * 0.34, h * 0.55), (w * 0.68, h * 0.55)], w * 0.08, colour)


def draw_add_note_icon(pen, w, h):
    _add_note_in(pen, w, h, GREY)


def draw_add_note_icon_active(pen, w, h):
    _add_note_in(pen, w, h, ACTIVE)


def draw_row_background_pattern_ipad(image, scale):
    # A light row with a one-point separator line at its bottom (tiled by the rows).
    draw = ImageDraw.Draw(image)
    draw.rectangle([0, 0, 8 * scale - 1, 48 * scale - 1], fill=(247, 248, 249, 255))
    draw.rectangle([0, 47 * scale, 8 * scale - 1, 48 * scale - 1], fill=(218, 221, 225, 255))


def _chevron(pen, w, h, colour, right):
    x0, x1 = (w * 0.38, w * 0.62) if right else (w * 0.62, w * 0.38)
    pen.line([(x0, h * 0.25), (x1, h * 0.5), (x0, h * 0.75)], w * 0.09, colour)


def draw_arrow_right(pen, w, h):
    _chevron(pen, w, h, GREY, True)


def draw_arrow_right_active(pen, w, h):
    _chevron(pen, w, h, ACTIVE, True)


def draw_arrow_left(pen, w, h):
    _chevron(pen, w, h, GREY, False)


def draw_arrow_left_active(pen, w, h):
    _chevron(pen, w, h, ACTIVE, False)


def _cross(pen, w, h, colour):
    d = w * 0.22
    cx, cy = w / 2, h / 2
    pen.line([(cx - d, cy - d), (cx + d, cy + d)], w * 0.09, colour)
    pen.line([(cx - d, cy + d), (cx + d, cy - d)], w * 0.09, colour)


def draw_remove_icon(pen, w, h):
    _cross(pen, w, h, GREY)


def draw_remove_icon_active(pen, w, h):
    _cross(pen, w, h, ACTIVE)


EDITOR_ARTWORK = {
    "accept": (28, 28, draw_accept, True),
    "add_note_icon": (24, 24, draw_add_note_icon, True),
    "add_note_icon_active": (24, 24, draw_add_note_icon_active, True),
    "row_background_pattern_ipad": (8, 48, draw_row_background_pattern_ipad, False),
    "arrow_right": (26, 26, draw_arrow_right, True),
    "arrow_right_active": (26, 26, draw_arrow_right_active, True),
    "arrow_left": (26, 26, draw_arrow_left, True),
    "arrow_left_active": (26, 26, draw_arrow_left_active, True),
    "remove_icon": (26, 26, draw_remove_icon, True),
    "remove_icon_active": (26, 26, draw_remove_icon_active, True),
}

ARTWORK.update(EDITOR_ARTWORK)


# --- Example pictures of the screens (ExampleView: buttons, selectors and image views) ----
# Drawn directly at their pixel size (flat boxes on whole points need no smoothing): grey
# wireframes a screen can be compared with, sized as the example view shows them.


def _example_box(draw, scale, x, y, w, h, fill):
    draw.rectangle([x * scale, y * scale, (x + w) * scale - 1, (y + h) * scale - 1], fill=fill)


def draw_example_welcome(image, scale):
    # The welcome screen: a top bar, a title line, three text lines and two buttons.
    draw = ImageDraw.Draw(image)
    _example_box(draw, scale, 0, 0, 300, 200, (236, 239, 241, 255))
    _example_box(draw, scale, 0, 0, 300, 24, LIGHT_GREY)
    _example_box(draw, scale, 60, 44, 180, 14, GREY)
    for i, width in enumerate((220, 200, 150)):
        _example_box(draw, scale, (300 - width) // 2, 72 + 14 * i, width, 6, LIGHT_GREY)
    _example_box(draw, scale, 60, 140, 80, 28, DARK_GREY)
    _example_box(draw, scale, 160, 140, 80, 28, GREY)


def draw_example_about(image, scale):
    # The about window: an icon, a title line, a version line and a row of legal-notice lines.
    draw = ImageDraw.Draw(image)
    _example_box(draw, scale, 0, 0, 280, 180, (240, 241, 243, 255))
    _example_box(draw, scale, 116, 20, 48, 48, GREY)
    _example_box(draw, scale, 80, 80, 120, 12, DARK_GREY)
    _example_box(draw, scale, 100, 100, 80, 6, LIGHT_GREY)
    for i in range(3):
        _example_box(draw, scale, 40, 124 + 12 * i, 200, 5, LIGHT_GREY)


# --- The picture viewer and web-link editor: pressed close button, back arrow, backdrop. ---


def draw_close_active(pen, w, h):
    # The close button while pressed: the same cross on the active blue.
    cx, cy = w / 2, h / 2
    pen.disc(cx, cy, w * 0.45, ACTIVE)
    d = w * 0.17
    pen.line([(cx - d, cy - d), (cx + d, cy + d)], w * 0.08, WHITE)
    pen.line([(cx - d, cy + d), (cx + d, cy - d)], w * 0.08, WHITE)


def draw_back(pen, w, h):
    _chevron(pen, w, h, GREY, False)


def draw_bg_pattern(image, scale):
    # A quiet checkerboard of two light greys behind pictures, so that transparency shows.
    w, h = image.size
    px = image.load()
    cell = 8 * scale
    for y in range(h):
        for x in range(w):
            light = ((x // cell) + (y // cell)) % 2 == 0
            px[x, y] = (236, 238, 240, 255) if light else (224, 227, 230, 255)


VIEWER_ARTWORK = {
    "close_active": (28, 28, draw_close_active, True),
    "back": (26, 26, draw_back, True),
    "bg_pattern": (16, 16, draw_bg_pattern, False),
}

ARTWORK.update(VIEWER_ARTWORK)


# --- The export dialog: checkboxes and the tab images of the seven forms of export -------


def _box_outline(pen, x, y, w, h, width, colour):
    pen.line([(x, y), (x + w, y), (x + w, y + h), (x, y + h), (x, y)], width, colour)


def draw_checkbox(pen, w, h):
    # An empty rounded box.
    pen.rounded_rect(w * 0.14, h * 0.14, w * 0.72, h * 0.72, w * 0.12, DARK_GREY)
    pen.rounded_rect(w * 0.2, h * 0.2, w * 0.6, h * 0.6, w * 0.08, WHITE)


def draw_checkbox_x(pen, w, h):
    # The same box, filled, with a tick.
    pen.rounded_rect(w * 0.14, h * 0.14, w * 0.72, h * 0.72, w * 0.12, ACTIVE)
    pen.line([(w * 0.3, h * 0.52), (w * 0.44, h * 0.66), (w * 0.7, h * 0.36)], w * 0.09, WHITE)


def draw_corvex_icon_inactive(pen, w, h):
    # A planet with two moons on an orbit.
    pen.ring(w / 2, h / 2, w * 0.36, w * 0.04, GREY)
    pen.disc(w / 2, h / 2, w * 0.17, GREY)
    pen.disc(w * 0.5 + w * 0.36, h / 2, w * 0.07, GREY)
    pen.disc(w * 0.5 - w * 0.25, h * 0.5 - h * 0.25, w * 0.06, GREY)


def _sheet(pen, w, h):
    # A sheet with a folded corner.
    pen.line([(w * 0.22, h * 0.1), (w * 0.6, h * 0.1), (w * 0.78, h * 0.28), (w * 0.78, h * 0.9),
              (w * 0.22, h * 0.9), (w * 0.22, h * 0.1)], w * 0.05, GREY)
    pen.line([(w * 0.6, h * 0.1), (w * 0.6, h * 0.28), (w * 0.78, h * 0.28)], w * 0.04, GREY)


def draw_pdf_icon_inactive(pen, w, h):
    _sheet(pen, w, h)
    pen.rounded_rect(w * 0.3, h * 0.46, w * 0.4, h * 0.2, w * 0.04, GREY)
    pen.line([(w * 0.32, h * 0.76), (w * 0.68, h * 0.76)], w * 0.04, GREY)


def draw_presentation_icon_inactive(pen, w, h):
    # A screen on a stand showing a play mark.
    _box_outline(pen, w * 0.12, h * 0.16, w * 0.76, h * 0.5, w * 0.05, GREY)
    pen.polygon([(w * 0.44, h * 0.3), (w * 0.6, h * 0.41), (w * 0.44, h * 0.52)], GREY)
    pen.line([(w * 0.5, h * 0.66), (w * 0.5, h * 0.8)], w * 0.05, GREY)
    pen.line([(w * 0.34, h * 0.86), (w * 0.5, h * 0.8), (w * 0.66, h * 0.86)], w * 0.05, GREY)


def draw_text_icon_inactive(pen, w, h):
    # An indented outline: lines at three depths.
    for row, (indent, length) in enumerate(((0.14, 0.6), (0.28, 0.5), (0.42, 0.4), (0.28, 0.56), (0.14, 0.5))):
        y = h * (0.2 + row * 0.15)
        pen.disc(w * indent, y, w * 0.035, GREY)
        pen.line([(w * (indent + 0.08), y), (w * (indent + 0.08 + length * 0.7), y)], w * 0.045, GREY)


def draw_image_icon_inactive(pen, w, h):
    # A framed picture: a sun over two hills.
    _box_outline(pen, w * 0.12, h * 0.18, w * 0.76, h * 0.64, w * 0.05, GREY)
    pen.disc(w * 0.34, h * 0.36, w * 0.07, GREY)
    pen.polygon([(w * 0.16, h * 0.78), (w * 0.4, h * 0.5), (w * 0.56, h * 0.68), (w * 0.66, h * 0.56),
                 (w * 0.84, h * 0.78)], GREY)


def draw_web_icon_inactive(pen, w, h):
    # A globe: its outline, the equator, two parallels and a meridian ellipse.
    cx, cy, r = w / 2, h / 2, w * 0.36
    pen.ring(cx, cy, r, w * 0.045, GREY)
    pen.line([(cx - r, cy), (cx + r, cy)], w * 0.035, GREY)
    pen.line([(cx - r * 0.8, cy - r * 0.55), (cx + r * 0.8, cy - r * 0.55)], w * 0.03, GREY)
    pen.line([(cx - r * 0.8, cy + r * 0.55), (cx + r * 0.8, cy + r * 0.55)], w * 0.03, GREY)
    u = pen.unit
    pen.draw.ellipse([(cx - r * 0.45) * u, (cy - r) * u, (cx + r * 0.45) * u, (cy + r) * u], outline=GREY,
                     width=max(1, round(w * 0.035 * u)))
    pen.line([(cx, cy - r), (cx, cy + r)], w * 0.03, GREY)


def draw_opml_icon_inactive(pen, w, h):
    # A small tree of outline nodes.
    pen.line([(w * 0.22, h * 0.22), (w * 0.22, h * 0.78)], w * 0.04, GREY)
    for y in (0.5, 0.78):
        pen.line([(w * 0.22, h * y), (w * 0.46, h * y)], w * 0.04, GREY)
    pen.line([(w * 0.56, h * 0.5), (w * 0.56, h * 0.64), (w * 0.72, h * 0.64)], w * 0.04, GREY)
    for x, y, r in ((0.22, 0.22, 0.09), (0.56, 0.5, 0.08), (0.56, 0.78, 0.08), (0.78, 0.64, 0.07)):
        pen.disc(w * x, h * y, w * r, GREY)


EXPORT_ARTWORK = {
    "checkbox": (28, 28, draw_checkbox, True),
    "checkbox_x": (28, 28, draw_checkbox_x, True),
    "corvex_icon_inactive": (48, 48, draw_corvex_icon_inactive, True),
    "pdf_icon_inactive": (48, 48, draw_pdf_icon_inactive, True),
    "presentation_icon_inactive": (48, 48, draw_presentation_icon_inactive, True),
    "text_icon_inactive": (48, 48, draw_text_icon_inactive, True),
    "image_icon_inactive": (48, 48, draw_image_icon_inactive, True),
    "web_icon_inactive": (48, 48, draw_web_icon_inactive, True),
    "opml_icon_inactive": (48, 48, draw_opml_icon_inactive, True),
}

ARTWORK.update(EXPORT_ARTWORK)


def add_example_artwork(artwork):
    artwork["example_welcome"] = (300, 200, draw_example_welcome, False)
    artwork["example_about"] = (280, 180, draw_example_about, False)


add_example_artwork(ARTWORK)


def render(name, scale):
    w, h, draw_function, smooth = ARTWORK[name]
    if not smooth:
        image = Image.new("RGBA", (w * scale, h * scale), (0, 0, 0, 0))
        draw_function(image, scale)
        return image
    factor = scale * SUPERSAMPLE
    canvas = Image.new("RGBA", (w * factor, h * factor), (0, 0, 0, 0))
    draw_function(Pen(ImageDraw.Draw(canvas), factor), w, h)
    # Reduce in premultiplied form so that transparent pixels do not bleed black into edges.
    premultiplied = canvas.convert("RGBa")
    reduced = premultiplied.resize((w * scale, h * scale), Image.BOX)
    return reduced.convert("RGBA")


def file_name(name, scale):
    return f"{name}.png" if scale == 1 else f"{name}@{scale}x.png"


def write_qrc(names):
    lines = ['<!DOCTYPE RCC>', '<RCC version="1.0">', '  <qresource prefix="/images">']
    for name in names:
        for scale in SCALES:
            entry = file_name(name, scale)
            lines.append(f"    <file alias={quoteattr(entry)}>images/{entry}</file>")
    lines += ['  </qresource>', '</RCC>', '']
    with open(QRC_PATH, "w", encoding="utf-8") as out:
        out.write("\n".join(lines))


def main():
    os.makedirs(IMAGES_DIR, exist_ok=True)
    names = sorted(ARTWORK)
    wanted = {file_name(n, s) for n in names for s in SCALES}
    # The folder holds only what this script makes: stale images of removed entries go.
    for existing in os.listdir(IMAGES_DIR):
        if existing.endswith(".png") and existing not in wanted:
            os.remove(os.path.join(IMAGES_DIR, existing))
    for name in names:
        for scale in SCALES:
            path = os.path.join(IMAGES_DIR, file_name(name, scale))
            render(name, scale).save(path, "PNG", optimize=True)
    write_qrc(names)
    print(f"wrote {len(wanted)} images and {os.path.relpath(QRC_PATH, ROOT)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
