#!/usr/bin/env python3
"""The emoji pictures of the web export, drawn from the emoji catalogue.

Reads the catalogue "emoji_list.txt" (UTF-8, one line per icon: fields separated by ";",
field 0 the symbol, field 1 the icon's name, at least four fields; lines starting with "#"
name a category; other lines are skipped), and writes:

  resources/web/twemoji/<file>.png      one 72 x 72 picture per icon, drawn with Noto Color
                                        Emoji, <file> being the name in lower case with
                                        every run of other characters than a-z and 0-9 as
                                        "_" (the viewer makes the same name)
  resources/web/include/corvex-emoji.js globalCorvexEmoji = {name: symbol, ...}: the
                                        symbols for modes without the pictures

The build packs both folders into the export's archives; commit the outputs.

Usage: /usr/bin/python3 tools/web/make_twemoji.py [--catalogue PATH] [--out-dir DIR]
Without --catalogue, the first emoji_list.txt found under resources/ is read.
"""

import argparse
import json
import os
import re
import sys

from PIL import Image, ImageDraw, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.normpath(os.path.join(HERE, '..', '..'))
FONT = '/usr/share/fonts/truetype/noto/NotoColorEmoji.ttf'
# Noto Color Emoji is a bitmap font with one strike of 109 pixels.
STRIKE = 109
SIZE = 72


def file_name_for(name):
    return re.sub(r'^_+|_+$', '', re.sub(r'[^a-z0-9]+', '_', name.lower()))


def read_catalogue(path):
    icons = []
    with open(path, encoding='utf-8') as f:
        for line in f.read().split('\n'):
            if line.startswith('#'):
                continue
            fields = line.split(';')
            if len(fields) < 4:
                continue
            icons.append((fields[0], fields[1]))
    return icons


def find_catalogue():
    for folder, _dirs, files in sorted(os.walk(os.path.join(REPO, 'resources'))):
        if 'emoji_list.txt' in files:
            return os.path.join(folder, 'emoji_list.txt')
    return None


def draw(symbol, font):
    canvas = Image.new('RGBA', (STRIKE * 2, STRIKE * 2), (0, 0, 0, 0))
    ImageDraw.Draw(canvas).text((STRIKE // 2, STRIKE // 2), symbol, font=font, embedded_color=True)
    box = canvas.getbbox()
    if box is None:
        return None
    picture = canvas.crop(box)
    side = max(picture.size)
    square = Image.new('RGBA', (side, side), (0, 0, 0, 0))
    square.paste(picture, ((side - picture.size[0]) // 2, (side - picture.size[1]) // 2))
    return square.resize((SIZE, SIZE), Image.LANCZOS)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--catalogue')
    parser.add_argument('--out-dir', default=os.path.join(REPO, 'resources', 'web'))
    args = parser.parse_args()
    catalogue = args.catalogue or find_catalogue()
    if not catalogue or not os.path.isfile(catalogue):
        sys.exit('make_twemoji: no emoji catalogue (emoji_list.txt) found; pass --catalogue')
    icons = read_catalogue(catalogue)
    font = ImageFont.truetype(FONT, STRIKE)
    pictures = os.path.join(args.out_dir, 'twemoji')
    os.makedirs(pictures, exist_ok=True)
    os.makedirs(os.path.join(args.out_dir, 'include'), exist_ok=True)
    for old in os.listdir(pictures):
        if old.endswith('.png'):
            os.remove(os.path.join(pictures, old))
    symbols = {}
    written = set()
    for symbol, name in icons:
        symbols.setdefault(name, symbol)
        base = file_name_for(name)
        if not base or base in written:
            continue
        picture = draw(symbol, font)
        if picture is None:
            print('make_twemoji: nothing drawn for %r' % name, file=sys.stderr)
            continue
        picture.save(os.path.join(pictures, base + '.png'), optimize=True)
        written.add(base)
    with open(os.path.join(args.out_dir, 'include', 'corvex-emoji.js'), 'w', encoding='utf-8') as f:
        f.write('/* Emoji symbols by icon name, made by tools/web/make_twemoji.py. */\n')
        f.write('globalCorvexEmoji = ')
        f.write(json.dumps(symbols, ensure_ascii=True, sort_keys=True, separators=(',', ':')))
        f.write(';\n')
    print('make_twemoji: %d pictures from %s' % (len(written), catalogue))


if __name__ == '__main__':
    main()
