#!/usr/bin/python3
"""Writes the emoji catalogue of the idea editor's icon tab: resources/emoji_list.txt.

The catalogue is ours: a few hundred emoji in ten categories, each a range (or list) of code
points taken in order, named from Python's unicodedata in plain English ("Grinning Face").
Only symbols the Noto Color Emoji face draws are kept: its character map is read with
fontTools, and every code point of a symbol must be in it; a single-character symbol whose
bitmap in the face has no coloured pixel (grey and black emoji) is left out, so that every
icon shows colour.

Format, one line per entry (UTF-8, "\\n" line ends):
    #<category>                      starts a category
    <symbol>;<name>;<category>;<code points in hex, space-separated>

Run with the system Python (python3-fonttools):  /usr/bin/python3 tools/emoji/make_emoji_list.py
The output is deterministic: the same font and Python give the same bytes.
"""

import os
import io
import sys
import unicodedata

from PIL import Image

from fontTools.ttLib import TTFont

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
OUTPUT = os.path.join(ROOT, "resources", "emoji_list.txt")
FONT = "/usr/share/fonts/truetype/noto/NotoColorEmoji.ttf"

# At most this many entries a category, so that each grid stays a few screens long.
PER_CATEGORY = 42


def span(first, last):
    return list(range(first, last + 1))


CATEGORIES = [
    ("Smileys", span(0x1F600, 0x1F637) + span(0x1F910, 0x1F915) + span(0x1F920, 0x1F925)),
    ("People", span(0x1F44A, 0x1F450) + span(0x1F466, 0x1F469) + span(0x1F645, 0x1F64F) + [0x1F474, 0x1F475, 0x1F476]),
    ("Animals", span(0x1F400, 0x1F43C) + span(0x1F980, 0x1F984)),
    ("Nature", span(0x1F330, 0x1F344) + [0x1F308, 0x1F30B, 0x1F30D, 0x1F319, 0x1F31E, 0x1F31F] + span(0x2600, 0x2601)),
    ("Food and Drink", span(0x1F345, 0x1F37B) + span(0x1F950, 0x1F95E)),
    ("Activities", span(0x1F380, 0x1F393) + span(0x1F3A0, 0x1F3CA)),
    ("Travel and Places", span(0x1F680, 0x1F6A4) + span(0x1F3E0, 0x1F3F0)),
    ("Objects", span(0x1F4A1, 0x1F4BF) + span(0x1F4C1, 0x1F4DA)),
    ("Symbols", span(0x1F493, 0x1F49F) + [0x2764, 0x2705, 0x274C, 0x2753, 0x2757, 0x2B50, 0x26A1, 0x267B] + span(0x1F534, 0x1F53D)),
    ("Flags", [(0x1F1FA, 0x1F1F8, "United States"), (0x1F1EC, 0x1F1E7, "United Kingdom"), (0x1F1EB, 0x1F1F7, "France"),
               (0x1F1E9, 0x1F1EA, "Germany"), (0x1F1EE, 0x1F1F9, "Italy"), (0x1F1EA, 0x1F1F8, "Spain"),
               (0x1F1EF, 0x1F1F5, "Japan"), (0x1F1E8, 0x1F1F3, "China"), (0x1F1E7, 0x1F1F7, "Brazil"),
               (0x1F1E8, 0x1F1E6, "Canada"), (0x1F1EE, 0x1F1F3, "India"), (0x1F1F0, 0x1F1F7, "South Korea"),
               (0x1F1F2, 0x1F1FD, "Mexico"), (0x1F1F3, 0x1F1F1, "Netherlands"), (0x1F1F8, 0x1F1EA, "Sweden"),
               (0x1F1E8, 0x1F1ED, "Switzerland")]),
]


def plain_name(code_point):
    name = unicodedata.name(chr(code_point), "")
    return " ".join(word.capitalize() for word in name.lower().split())


def is_coloured(png):
    image = Image.open(io.BytesIO(png)).convert("RGBA")
    for r, g, b, a in image.getdata():
        if a > 128 and (abs(r - g) > 24 or abs(g - b) > 24):
            return True
    return False


def coloured_code_points(font):
    """The code points whose glyph bitmap (largest strike) has a coloured pixel."""
    glyphs = font["CBDT"].strikeData[-1]
    coloured = set()
    for code_point, glyph in font["cmap"].getBestCmap().items():
        bitmap = glyphs.get(glyph)
        if bitmap is not None and is_coloured(bitmap.imageData):
            coloured.add(code_point)
    return coloured


def entries(members, covered, coloured):
    made = []
    for member in members:
        if isinstance(member, tuple):
            points = list(member[:2])
            name = "Flag of " + member[2]
        else:
            points = [member]
            name = plain_name(member)
        if not name or not all(p in covered for p in points):
            continue
        if len(points) == 1 and points[0] not in coloured:
            continue
        made.append(("".join(chr(p) for p in points), name, points))
        if len(made) == PER_CATEGORY:
            break
    return made


def main():
    font = TTFont(FONT)
    covered = set(font["cmap"].getBestCmap().keys())
    coloured = coloured_code_points(font)
    lines = []
    total = 0
    for category, members in CATEGORIES:
        made = entries(members, covered, coloured)
        if not made:
            continue
        lines.append("#" + category)
        for symbol, name, points in made:
            lines.append(";".join([symbol, name, category, " ".join(f"{p:X}" for p in points)]))
        total += len(made)
    with open(OUTPUT, "w", encoding="utf-8", newline="\n") as out:
        out.write("\n".join(lines) + "\n")
    print(f"wrote {total} emoji in {sum(1 for l in lines if l.startswith('#'))} categories to "
          f"{os.path.relpath(OUTPUT, ROOT)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
