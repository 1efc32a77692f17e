#!/usr/bin/env python3
"""The tree the web export's files/data.js must hold for the payload fixture with every idea
type (tests/data/payload/all_types.json), derived from the stored payload alone by the
export's rules, without the program's code:

- one record per idea, children nested under "ideas" (always present, possibly empty);
- "elemtype" the idea type, "identifier" the identifier made file-name-safe (kept when it
  holds only [0-9A-Za-z_.-], no "..", at most 240 bytes; else "~" and each UTF-8 byte
  outside [0-9A-Za-z_-] as "~XX");
- a link idea (type 4) reads its content from its target (first idea in pre-order with the
  identifier; none: no content and no "linkedIdea");
- "text", "note", "bgcolor", "icon" only for content of type 1 (text): text when stored (also
  empty), note when not empty, the colour as "#RRGGBB" of the colour table's HSV turned into
  RGB times 255 and truncated, the icon's name;
- an idea whose content (none for a link without target) has no colour and no small picture
  has the colour its planet is drawn with as "bgcolor": the one its parent's theme gives its
  place (child i of a parent drawn in colour c: c itself for theme type 0, else colour i
  modulo 7 of c's theme), the first colour of the first standard theme for a root;
- "url" for content of type 3 with a stored URL;
- "image" "<safe id>_mini.png" when the content has a small picture;
- "bigImage" the idea's own attachment ("att") when it has one, else "<safe id>.jpg" when
  the content has big picture bytes;
- "linkedIdea" the target's safe identifier.

Output (commit it): tests/data/web/all_types.data.expected.json, {"mode":..., "rootIdea":...}
for each of the three modes under "presentation", "embedded" and "fullpage".

Run with /usr/bin/python3 from anywhere.
"""

import json
import math
import os
import re
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.normpath(os.path.join(HERE, '..', '..', '..'))
SOURCE = os.path.join(REPO, 'tests', 'data', 'payload', 'all_types.json')
OUT = os.path.join(REPO, 'tests', 'data', 'web', 'all_types.data.expected.json')

# The colour table's entries the fixture uses: hue in degrees, saturation and value, each
# stored as a single-precision number.
COLOURS = {
    'green0': (160, 0.67, 0.52),
    'green1': (166, 0.81, 0.61),
    'green2': (169, 0.81, 0.71),
    'blue3': (187, 0.68, 0.79),
    'blue4': (188, 0.65, 0.92),
    'red5': (0, 0.3, 0.8),
    'violet6': (250, 0.04, 0.66),
}


# The standard themes, colours in order.
THEMES = [['%s%d' % (name, i) for i in range(7)] for name in ('green', 'blue', 'red', 'violet')]


def theme_of(colour):
    return next(theme for theme in THEMES if colour in theme)


def single(x):
    return struct.unpack('f', struct.pack('f', x))[0]


def hex_colour(name):
    hue, sat, val = (single(v) for v in COLOURS[name])
    if sat <= 0:
        r = g = b = val
    else:
        hh = 0.0 if hue >= 360 else hue / 60
        sector = math.floor(hh)
        f = single(hh - sector)
        p = val * (1 - sat)
        q = val * (1 - sat * f)
        t = val * (1 - sat * single(1.0 - f))
        r, g, b = [(val, t, p), (q, val, p), (p, val, t), (p, q, val), (t, p, val), (val, p, q)][int(sector) % 6]
    return '#%02X%02X%02X' % tuple(int(c * 255) for c in (r, g, b))


def safe_identifier(identifier):
    raw = identifier.encode('utf-8')
    if raw and len(raw) <= 240 and b'..' not in raw and re.fullmatch(rb'[0-9A-Za-z_.-]+', raw):
        return identifier
    out = '~'
    for byte in raw:
        ch = chr(byte)
        out += ch if re.fullmatch(r'[0-9A-Za-z_-]', ch) else '~%02X' % byte
    return out


def preorder(idea):
    stack = [idea]
    while stack:
        node = stack.pop()
        yield node
        stack.extend(reversed(node.get('ideas', [])))


def place_colour(parent_colour, parent_theme_type, index):
    if parent_theme_type == 0:
        return parent_colour
    theme = theme_of(parent_colour)
    return theme[index % len(theme)]


def record(idea, by_id, drawn):
    content = idea
    if idea.get('ideaType') == 4:
        content = by_id.get(idea.get('linkedIdea'))
    safe = safe_identifier(idea['identifier'])
    out = {'elemtype': idea['ideaType'], 'identifier': safe}
    if content is not None:
        kind = content.get('ideaType')
        if kind == 1:
            if 'text' in content:
                out['text'] = content['text']
            if content.get('note'):
                out['note'] = content['note']
            if 'color' in content:
                out['bgcolor'] = hex_colour(content['color'])
            if 'iconImage' in content:
                out['icon'] = content['iconImage']['name']
        if kind == 3 and 'URL' in content:
            out['url'] = content['URL']
        if content.get('image'):
            out['image'] = safe + '_mini.png'
        if idea.get('att'):
            out['bigImage'] = idea['att']
        elif content.get('bigImageData'):
            out['bigImage'] = safe + '.jpg'
        if idea.get('ideaType') == 4:
            out['linkedIdea'] = safe_identifier(content['identifier'])
    if content is None or ('color' not in content and not content.get('image')):
        out['bgcolor'] = hex_colour(drawn)
    theme_type = idea.get('colorThemeType', 0)
    out['ideas'] = [
        record(child, by_id, by_id_colour(child, by_id) or place_colour(drawn, theme_type, index))
        for index, child in enumerate(idea.get('ideas', []))
    ]
    return out


def by_id_colour(idea, by_id):
    """The idea's own colour, read from a link's target."""
    content = by_id.get(idea.get('linkedIdea')) if idea.get('ideaType') == 4 else idea
    return content.get('color') if content else None


def main():
    with open(SOURCE, encoding='utf-8') as f:
        root = json.load(f)['ideaDocumentDataObject']['idea']
    by_id = {}
    for node in preorder(root):
        by_id.setdefault(node['identifier'], node)
    tree = record(root, by_id, by_id_colour(root, by_id) or THEMES[0][0])
    expected = {mode: {'rootIdea': tree, 'mode': mode} for mode in ('presentation', 'embedded', 'fullpage')}
    os.makedirs(os.path.dirname(OUT), exist_ok=True)
    with open(OUT, 'w', encoding='utf-8') as f:
        json.dump(expected, f, ensure_ascii=False, indent=1, sort_keys=True)
        f.write('\n')
    print('wrote', os.path.relpath(OUT, REPO))


if __name__ == '__main__':
    main()
