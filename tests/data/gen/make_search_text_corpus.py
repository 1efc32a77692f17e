#!/usr/bin/env python3
"""The corpus of the search text fuzz target.

Document payloads in the shape the program's writer gives them (compact JSON, the writer's
member order), which the search's scanner reads straight, and texts just beside that shape,
which it must leave to the payload readers. Written from the stored format alone (the
payload's keys, the idea keys in the writer's order, zlib and Base64) with Python's standard
library and without the program's code.

Outputs (commit them):
  fuzz/corpus/fuzz_search_text/*

Run with /usr/bin/python3 from anywhere.
"""

import base64
import json
import os
import shutil
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.normpath(os.path.join(HERE, '..', '..', '..'))
CORPUS_DIR = os.path.join(REPO, 'fuzz', 'corpus', 'fuzz_search_text')

MAX_DEPTH = 1000  # the model's maximum idea depth
HEAD = '{"ideaDocumentDataObject":{"fileFormatVersion":4,"idea":'
TAIL = ',"dateCreated":"2021-03-04 05:06:00 GMT","dateModified":"2021-03-05 06:07:00 GMT",' \
       '"appInstance":"MAC_1614834360.123456"}}'


def text(value):
    return json.dumps(value, ensure_ascii=False)


def idea(identifier=None, kind=1, title=None, url=None, note=None, color=None, att=None, image=None,
         big=None, icon=None, children=None, theme=0):
    """One idea as the writer writes it: its members in the writer's order, none empty."""
    parts = []
    if identifier is not None:
        parts.append('"identifier":' + text(identifier))
    parts.append('"ideaType":%d' % kind)
    for key, value in (('text', title), ('URL', url), ('note', note), ('color', color), ('att', att)):
        if value is not None:
            parts.append('"%s":%s' % (key, text(value)))
    for key, value in (('image', image), ('bigImageData', big)):
        if value is not None:
            parts.append('"%s":"%s"' % (key, base64.b64encode(value).decode('ascii')))
    if icon is not None:
        members = ['"%s":%s' % (key, text(value)) for key, value in zip(('name', 'category', 'symbol'), icon)
                   if value is not None]
        parts.append('"iconImage":{' + ','.join(members) + '}')
    parts.append('"colorThemeType":%d' % theme)
    body = '{' + ','.join(parts)
    if children is not None:
        body += ',"ideas":[' + ','.join(children) + ']'
    return body + '}'


def payload(root):
    return (HEAD + root + TAIL).encode('utf-8')


def chain(levels):
    json_text = ''
    for level in range(1, levels + 1):
        json_text += '{"ideaType":1,"text":"Level %d","colorThemeType":0' % level
        if level < levels:
            json_text += ',"ideas":['
    json_text += '}]' * (levels - 1) + '}'
    return HEAD.encode() + json_text.encode() + b'}}'


def main():
    shutil.rmtree(CORPUS_DIR, ignore_errors=True)
    os.makedirs(CORPUS_DIR)
    picture = zlib.compress(bytes(range(256)) * 4)
    small = payload(idea('id1_1', title='Garden Plans', note='Roses,\ntulips and "daisies"', color='green0',
                         icon=('seedling', 'Animals & Nature', '\U0001F331'),
                         children=[idea('id2_1', title='Water', color='blue1'),
                                   idea('id3_1', kind=3, title='Seeds', url='https://example.invalid/seeds'),
                                   idea('id4_1', title='', note='', children=[]),
                                   idea(None, title='No identifier', icon=('x', None, None))]))
    files = {
        'canonical_small.json': small,
        'canonical_small.crvx': zlib.compress(small, 6),
        'canonical_pictures.json': payload(idea('p', title='Pictures', children=[
            idea('p1', kind=2, title='Photo', image=picture, big=picture[:100],
                 att='0123456789abcdef0123456789abcdef01234567.png'),
            idea('p2', kind=2, image=picture)])),
        'canonical_cases.json': payload(idea('c', title='ÀÉÎÕÜ ×Þß İstanbul Ⱥ \u212A ΣΟΦΊΑ Ꙁ \U00010400 \u00a0nbsp',
                                             note='ÉTÉ à PARIS', children=[idea('c1', title='Ωμέγα')])),
        'canonical_escapes.json': (HEAD + '{"identifier":"e\\u0041","ideaType":1,"text":'
                                   '"\\u0041\\u00C9\\u0130\\uD83D\\uDE80 \\uD800 \\uDC00\\uD800\\u0041 '
                                   '\\"\\\\\\/\\b\\f\\n\\r\\t","colorThemeType":0}' + TAIL).encode(),
        'canonical_deepest.json': chain(MAX_DEPTH),
        'deeper_than_the_model.json': chain(MAX_DEPTH + 1),
        'white_space.json': small.replace(b'"text":', b'"text": '),
        'other_order.json': payload('{"ideaType":1,"note":"n","text":"t","colorThemeType":0}'),
        'link.json': payload(idea('a', title='Target', children=['{"identifier":"l","ideaType":4,"linkedIdea":"a"}'])),
        'null_text.json': payload('{"ideaType":1,"text":null,"colorThemeType":0}'),
        'unknown_member.json': payload('{"ideaType":1,"text":"t","extra":[1,{"a":"b"}],"colorThemeType":0}'),
        'version_five.json': small.replace(b'"fileFormatVersion":4', b'"fileFormatVersion":5'),
        'more_after.json': small + b'x',
        'cut.json': small[:-5],
        'cut.crvx': zlib.compress(small, 6)[:-7],
        'broken_utf8_in_colour.json': small.replace(b'"green0"', b'"gr\xc3\x28n"'),
        'raw_line_break.json': small.replace(b'Roses,\\n', b'Roses,\n'),
        'broken_escape.json': small.replace(b'"id1_1"', b'"id\\x1"'),
        'byte_order_mark.json': b'\xef\xbb\xbf' + small,
        'fraction.json': small.replace(b'"colorThemeType":0}', b'"colorThemeType":0.5}', 1),
    }
    for name, data in sorted(files.items()):
        with open(os.path.join(CORPUS_DIR, name), 'wb') as out:
            out.write(data)


if __name__ == '__main__':
    main()
