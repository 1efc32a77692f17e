#!/usr/bin/env python3
"""Writes the reference images the drawing tests compare against (tests/data/gfx/):

  source_quadrants.png   the 4 x 4 source image the image scenes draw
  scene_rects.png        a filled and a stroked rectangle
  scene_pie.png          a clockwise and a counter-clockwise quarter pie in y-up space
  scene_dashes.png       dashed lines (butt caps) whose lengths are in user units
  scene_multiply.png     a multiply blend of two rectangles
  scene_clip.png         an ellipse filled through a rectangular clip
  scene_image_up.png     the source image drawn into a y-up space (upright)
  scene_image_flipped.png  the same drawn into a flipped space (upside down)

Every scene is 64 x 64 pixels on an opaque white background, described in a y-up user space
with one unit per pixel (user y maps to row 64 - y). The drawing rules are the ones the code
follows, written down here independently of it:
  - angles run from +x towards +y; "clockwise" means decreasing angles;
  - dash lengths are user units, whatever the line width;
  - an image's top row lands at the rectangle's maximum y.
Shapes are drawn at eight times the size and reduced with a box filter, which stands in for
coverage antialiasing. Output is deterministic. Needs python3-pil:
  /usr/bin/python3 tests/data/gen/make_gfx_references.py
"""

import math
import os

from PIL import Image, ImageChops, ImageDraw

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
OUT = os.path.join(ROOT, "tests", "data", "gfx")

# Pillow 9.1 moved the filter and transpose constants into enums.
RESAMPLING = getattr(Image, "Resampling", Image)
TRANSPOSE = getattr(Image, "Transpose", Image)

SIZE = 64
SS = 8  # supersampling factor

WHITE = (255, 255, 255, 255)
RED = (255, 0, 0, 255)
GREEN = (0, 255, 0, 255)
BLUE = (0, 0, 255, 255)
BLACK = (0, 0, 0, 255)
YELLOW = (255, 255, 0, 255)
CYAN = (0, 255, 255, 255)


def canvas(color=WHITE):
    return Image.new("RGBA", (SIZE * SS, SIZE * SS), color)


def reduce(image):
    return image.resize((SIZE, SIZE), RESAMPLING.BOX)


def box(x, y, w, h):
    """A user-space rectangle as a supersampled PIL box (left, top, right, bottom), exclusive."""
    return (x * SS, (SIZE - (y + h)) * SS, (x + w) * SS, (SIZE - y) * SS)


def fill_box(draw, x, y, w, h, color):
    left, top, right, bottom = box(x, y, w, h)
    if right > left and bottom > top:
        draw.rectangle((left, top, right - 1, bottom - 1), fill=color)


def fill_shape(image, inside, color):
    """Sets every supersampled pixel whose centre lies inside the shape (a test on user-space
    coordinates) to the colour: the coverage rule, with no outline rounding of its own."""
    pixels = image.load()
    for j in range(SIZE * SS):
        uy = SIZE - (j + 0.5) / SS
        for i in range(SIZE * SS):
            if inside((i + 0.5) / SS, uy):
                pixels[i, j] = color


def pie(image, cx, cy, r, start, end, clockwise, color):
    """A wedge from the centre along the arc (y-up angles)."""
    sweep = end - start
    if clockwise and sweep > 0:
        sweep = math.fmod(sweep, 2 * math.pi) - 2 * math.pi
    if not clockwise and sweep < 0:
        sweep = math.fmod(sweep, 2 * math.pi) + 2 * math.pi

    def inside(x, y):
        dx, dy = x - cx, y - cy
        if dx * dx + dy * dy > r * r:
            return False
        a = math.atan2(dy, dx)
        if sweep < 0:
            return (start - a) % (2 * math.pi) <= -sweep
        return (a - start) % (2 * math.pi) <= sweep

    fill_shape(image, inside, color)


def ellipse(image, x, y, w, h, color):
    cx, cy, rx, ry = x + w / 2, y + h / 2, w / 2, h / 2
    fill_shape(image, lambda px, py: ((px - cx) / rx) ** 2 + ((py - cy) / ry) ** 2 <= 1, color)


def scene_rects():
    image = canvas()
    draw = ImageDraw.Draw(image)
    fill_box(draw, 8, 8, 24, 16, RED)
    # Stroke of width 2 centred on the edges of (36, 28, 20, 28).
    x, y, w, h, half = 36, 28, 20, 28, 1
    fill_box(draw, x - half, y - half, w + 2 * half, 2 * half, BLUE)  # bottom edge
    fill_box(draw, x - half, y + h - half, w + 2 * half, 2 * half, BLUE)  # top edge
    fill_box(draw, x - half, y - half, 2 * half, h + 2 * half, BLUE)  # left edge
    fill_box(draw, x + w - half, y - half, 2 * half, h + 2 * half, BLUE)  # right edge
    return reduce(image)


def scene_pie():
    image = canvas()
    # Clockwise from straight up to the right: the top-right quadrant on screen.
    pie(image, 32, 32, 24, math.pi / 2, 0, True, GREEN)
    # Counter-clockwise from the left to straight down: the bottom-left quadrant.
    pie(image, 32, 32, 16, math.pi, 3 * math.pi / 2, False, BLUE)
    return reduce(image)


def dashed_horizontal(draw, x0, x1, y, width, pattern, phase, color):
    # Walk the pattern from the phase; butt caps end each dash exactly.
    period = sum(pattern)
    offset = phase % period
    index = 0
    while offset >= pattern[index]:
        offset -= pattern[index]
        index = (index + 1) % len(pattern)
    x = x0
    remaining = pattern[index] - offset
    while x < x1:
        length = min(remaining, x1 - x)
        if index % 2 == 0:
            fill_box(draw, x, y - width / 2, length, width, color)
        x += length
        index = (index + 1) % len(pattern)
        remaining = pattern[index]


def dashed_vertical(draw, x, y0, y1, width, pattern, phase, color):
    period = sum(pattern)
    offset = phase % period
    index = 0
    while offset >= pattern[index]:
        offset -= pattern[index]
        index = (index + 1) % len(pattern)
    y = y0
    remaining = pattern[index] - offset
    while y < y1:
        length = min(remaining, y1 - y)
        if index % 2 == 0:
            fill_box(draw, x - width / 2, y, width, length, color)
        y += length
        index = (index + 1) % len(pattern)
        remaining = pattern[index]


def scene_dashes():
    image = canvas()
    draw = ImageDraw.Draw(image)
    dashed_horizontal(draw, 4, 60, 40, 4, [10, 10], 0, BLACK)
    # Drawn upwards from y = 4 to 30: the phase cuts the first dash.
    dashed_vertical(draw, 20, 4, 30, 2, [6, 4], 3, RED)
    dashed_horizontal(draw, 4, 60, 12, 6, [2, 3, 8, 3], 0, BLUE)
    return reduce(image)


def scene_multiply():
    image = Image.new("RGBA", (SIZE, SIZE), WHITE)
    draw = ImageDraw.Draw(image)
    fill_box_1x(draw, 8, 8, 32, 32, YELLOW)
    layer = Image.new("RGBA", (SIZE, SIZE), WHITE)
    fill_box_1x(ImageDraw.Draw(layer), 24, 24, 32, 32, CYAN)
    # Opaque source over opaque destination: multiply is the product of the channels.
    return ImageChops.multiply(image, layer)


def fill_box_1x(draw, x, y, w, h, color):
    draw.rectangle((x, SIZE - (y + h), x + w - 1, SIZE - y - 1), fill=color)


def scene_clip():
    shape = canvas((0, 0, 0, 0))
    ellipse(shape, 8, 8, 48, 48, RED)
    mask = canvas((0, 0, 0, 0))
    fill_box(ImageDraw.Draw(mask), 4, 20, 56, 24, (0, 0, 0, 255))
    clipped = Image.new("RGBA", shape.size, (0, 0, 0, 0))
    clipped.paste(shape, (0, 0), ImageChops.multiply(shape.getchannel("A"), mask.getchannel("A")))
    image = canvas()
    image.alpha_composite(clipped)
    return reduce(image)


def source_quadrants():
    # Red, green, blue and yellow quadrants, with a black pixel in the top-left corner so that
    # every orientation can be told apart.
    image = Image.new("RGBA", (4, 4))
    for y in range(4):
        for x in range(4):
            if y < 2:
                image.putpixel((x, y), RED if x < 2 else GREEN)
            else:
                image.putpixel((x, y), BLUE if x < 2 else YELLOW)
    image.putpixel((0, 0), BLACK)
    return image


def place_image(source, x, y, w, h, flipped_space):
    """The source drawn into user rectangle (x, y, w, h) by the image drawing rule."""
    image = Image.new("RGBA", (SIZE, SIZE), WHITE)
    scaled = source.resize((w, h), RESAMPLING.NEAREST)
    if flipped_space:
        # User y runs down the rows; the top row lands at the maximum y, the lowest row.
        image.paste(scaled.transpose(TRANSPOSE.FLIP_TOP_BOTTOM), (x, y))
    else:
        image.paste(scaled, (x, SIZE - (y + h)))
    return image


def save(image, name):
    image.save(os.path.join(OUT, name), optimize=False)


def main():
    os.makedirs(OUT, exist_ok=True)
    source = source_quadrants()
    save(source, "source_quadrants.png")
    save(scene_rects(), "scene_rects.png")
    save(scene_pie(), "scene_pie.png")
    save(scene_dashes(), "scene_dashes.png")
    save(scene_multiply(), "scene_multiply.png")
    save(scene_clip(), "scene_clip.png")
    save(place_image(source, 8, 8, 32, 16, False), "scene_image_up.png")
    save(place_image(source, 8, 8, 32, 16, True), "scene_image_flipped.png")


if __name__ == "__main__":
    main()
