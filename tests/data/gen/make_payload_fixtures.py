#!/usr/bin/env python3
"""Golden document payloads and the corpus of the payload fuzz target.

Written from the stored format alone (the payload's keys, the idea keys, the JSON coder's
value forms, zlib and Base64), with Python's standard library and without the program's
code, so that the program's reader and writer are checked against an independent account of
the format.

Outputs (commit them):
  tests/data/payload/<name>.json | .crvx     payloads, plain or zlib-compressed
  tests/data/payload/<name>.expected.json    what reading must give: the tree dump
                                             (debugDescription), every idea's fields, the
                                             document's fields, and "canonical": the JSON
                                             object the writer must produce from the read
                                             tree ("$APP_INSTANCE" for the running instance)
  tests/data/payload/fixtures.json           the list of golden fixtures
  tests/data/payload/corpus.json             per corpus file: read or refused, and the tree
                                             dump / size when read
  fuzz/corpus/fuzz_payload/*                 inputs of the fuzz target
  fuzz/corpus/fuzz_payload_text/*            the same, and the texts where the payload's
                                             own text reader and the JSON decoder could part

Run with /usr/bin/python3 from anywhere.
"""

import base64
import json
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.normpath(os.path.join(HERE, '..', '..', '..'))
PAYLOAD_DIR = os.path.join(REPO, 'tests', 'data', 'payload')
CORPUS_DIR = os.path.join(REPO, 'fuzz', 'corpus', 'fuzz_payload')
TEXT_CORPUS_DIR = os.path.join(REPO, 'fuzz', 'corpus', 'fuzz_payload_text')

MAX_DEPTH = 1000  # the model's maximum idea depth

TYPE_NAMES = {0: 'IdeaTypeUndefined', 1: 'IdeaTypeText', 2: 'IdeaTypeImage', 3: 'IdeaTypeURL', 4: 'IdeaTypeLink'}

CREATED = ('2021-03-04 05:06:00 GMT', '2021-03-04T05:06:00Z')
MODIFIED = ('2021-03-05 06:07:00 GMT', '2021-03-05T06:07:00Z')
APP_INSTANCE = 'MAC_1614834360.123456'


# ---------------------------------------------------------------- small pictures

def png_rgb(width, height, pixels):
    """An 8-bit RGB PNG (colour type 2, no filter) of `pixels`, rows top to bottom."""
    raw = b''.join(b'\x00' + b''.join(bytes(pixels[y * width + x]) for x in range(width)) for y in range(height))

    def chunk(tag, data):
        return struct.pack('>I', len(data)) + tag + data + struct.pack('>I', zlib.crc32(tag + data) & 0xFFFFFFFF)

    header = struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0)
    return b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b'')


class Picture:
    def __init__(self, width, height, pixels):
        self.width, self.height, self.pixels = width, height, pixels
        self.png = png_rgb(width, height, pixels)

    def expected(self):
        return {'width': self.width, 'height': self.height,
                'pixels': ['#%02x%02x%02x' % p for p in self.pixels]}


PICTURE_4X3 = Picture(4, 3, [(255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 255),
                             (0, 0, 0), (128, 64, 32), (1, 2, 3), (250, 240, 230),
                             (10, 200, 100), (90, 90, 90), (255, 255, 0), (0, 255, 255)])
PICTURE_2X2 = Picture(2, 2, [(12, 34, 56), (78, 90, 123), (200, 100, 50), (5, 250, 125)])
# Bytes kept as they are; only their JPEG start and end markers are real.
FAKE_JPEG = b'\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00' + bytes(range(256)) + b'\xff\xd9'

ATT_PICTURE = '3f786850e387550fdab836ed7e6dc881de23001b.png'
ATT_PAGE = '89e6c98d92887913cadf06b2adb97f26cde4849b.png'

ICON_BULB = {'name': 'light bulb', 'category': 'Objects', 'symbol': '\U0001F4A1'}
ICON_ROCKET = {'name': 'rocket', 'category': 'Travel & Places', 'symbol': '\U0001F680'}


# ---------------------------------------------------------------- the idea model

class Idea:
    """An idea as the reader must see it (after reading: types inferred, empties dropped)."""

    def __init__(self, identifier, idea_type=1, text=None, url=None, note=None, color=None, theme=0, att=None,
                 icon=None, picture=None, big=None, link=None, children=None):
        self.identifier = identifier
        self.type = idea_type
        self.text = text
        self.url = url
        self.note = note
        self.color = color
        self.theme = theme
        self.att = att
        self.icon = icon
        self.picture = picture
        self.big = big
        self.link = link
        self.children = list(children or [])

    def walk(self, depth=0):
        """Pre-order, children in order: (idea, depth)."""
        stack = [(self, depth)]
        while stack:
            idea, d = stack.pop()
            yield idea, d
            for child in reversed(idea.children):
                stack.append((child, d + 1))

    def find(self, identifier):
        for idea, _ in self.walk():
            if idea.identifier == identifier:
                return idea
        return None


def idea_json(idea):
    """An idea object in the order the writer writes its keys."""
    out = {}
    if idea.identifier is not None:
        out['identifier'] = idea.identifier
    out['ideaType'] = idea.type
    if idea.type == 4:
        if idea.link is not None:
            out['linkedIdea'] = idea.link
        return out
    for key, value in (('text', idea.text), ('URL', idea.url), ('note', idea.note), ('color', idea.color),
                       ('att', idea.att)):
        if value is not None:
            out[key] = value
    if idea.picture is not None:
        out['image'] = b64(idea.picture.png)
    if idea.big is not None:
        out['bigImageData'] = b64(idea.big)
    if idea.icon is not None:
        out['iconImage'] = {k: idea.icon[k] for k in ('name', 'category', 'symbol') if idea.icon.get(k) is not None}
    out['colorThemeType'] = idea.theme
    if idea.children:
        out['ideas'] = [idea_json(child) for child in idea.children]
    return out


def payload_json(root, version=4, created=CREATED[0], modified=MODIFIED[0], app=APP_INSTANCE):
    body = {'fileFormatVersion': version, 'idea': idea_json(root)}
    if created is not None:
        body['dateCreated'] = created
    if modified is not None:
        body['dateModified'] = modified
    if app is not None:
        body['appInstance'] = app
    return {'ideaDocumentDataObject': body}


def nil(text):
    return '(null)' if text is None else text


def debug_description(root):
    """The tree dump: the root's identifier, then one line per idea in pre-order."""
    out = '<Idea identifier=[%s] ' % nil(root.identifier)
    for idea, depth in root.walk():
        out += '  ' * depth
        if idea.type == 1:
            out += 'text: [%s] i=%s ' % (nil(idea.text), nil(idea.identifier))
        else:
            out += '%s i=%s ' % (TYPE_NAMES.get(idea.type, 'WRONG_IDEA_TYPE'), nil(idea.identifier))
        out += '\n'
    return out + '>'


def idea_fields(root):
    fields = []
    for idea, depth in root.walk():
        entry = {'depth': depth, 'identifier': idea.identifier, 'ideaType': idea.type,
                 'childCount': len(idea.children)}
        if idea.type == 4:
            entry['linkedIdea'] = idea.link
            target = root.find(idea.link) if idea.link is not None else None
            entry['forwardedText'] = target.text if target is not None else None
        else:
            entry.update({'text': idea.text, 'URL': idea.url, 'note': idea.note, 'color': idea.color,
                          'colorThemeType': idea.theme, 'att': idea.att, 'icon': idea.icon,
                          'image': idea.picture.expected() if idea.picture else None,
                          'bigImageData': b64(idea.big) if idea.big is not None else None})
        fields.append(entry)
    return fields


def document_fields(version=4, created=CREATED[1], modified=MODIFIED[1], app=APP_INSTANCE):
    return {'fileFormatVersion': version, 'dateCreated': created, 'dateModified': modified, 'appInstance': app}


def expected_for(root, version=4, created=CREATED, modified=MODIFIED, app=APP_INSTANCE):
    """The sidecar: what reading gives and what writing the read payload gives."""
    return {
        'debugDescription': debug_description(root),
        'treeSize': sum(1 for _ in root.walk()),
        'document': document_fields(version, created[1] if created else None, modified[1] if modified else None, app),
        'ideas': idea_fields(root),
        'canonical': payload_json(root, version, created[0] if created else None,
                                  modified[0] if modified else None, '$APP_INSTANCE'),
    }


# ---------------------------------------------------------------- bytes

def b64(data):
    return base64.b64encode(data).decode('ascii')


def dumps(value):
    """Compact UTF-8 JSON, as the writer makes it (key order as given)."""
    return json.dumps(value, ensure_ascii=False, separators=(',', ':')).encode('utf-8')


def write(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as out:
        out.write(data)


def write_json(folder, name, value):
    write(folder, name, (json.dumps(value, ensure_ascii=False, indent=1, sort_keys=True) + '\n').encode('utf-8'))


# ---------------------------------------------------------------- golden trees

def all_types_tree():
    return Idea('id1614834360_1', 1, text='Plan 2024 \u2713 \u2014 "quoted" \\ back/slash\ttab',
                note='Line one\nLine two', color='blue3', theme=2, icon=ICON_BULB, children=[
                    Idea('id1614834360_2', 1, text='Caf\u00e9 \u2615 Z\u00fcrich', color='green0', children=[
                        Idea('id1614834360_3', 1, text='Deep three', note='n', color='green1', children=[
                            Idea('id1614834360_4', 1, text='Deep four \U0001F600', color='green2', icon=ICON_ROCKET),
                        ]),
                        Idea('id1614834360_5', 4, link='id1614834360_6'),
                    ]),
                    Idea('id1614834360_6', 2, picture=PICTURE_4X3, att=ATT_PICTURE, big=FAKE_JPEG, color='red5',
                         theme=1),
                    Idea('id1614834360_7', 3, text='Example site', url='https://example.com/path?q=1&r=\u00e4',
                         picture=PICTURE_2X2, att=ATT_PAGE, color='violet6'),
                    Idea('id1614834360_8', 4, link='id1614834360_1'),
                    Idea('id1614834360_9', 1, text=''),
                ])


def small_tree(prefix, text):
    return Idea(prefix + '_root', 1, text=text, color='blue0', children=[
        Idea(prefix + '_a', 1, text='First', note='A note'),
        Idea(prefix + '_b', 1, text='Second', color='red2', theme=1, children=[
            Idea(prefix + '_b1', 1, text='Nested'),
        ]),
    ])


def golden_fixtures():
    """(name, file name, bytes, expected) of every golden payload."""
    fixtures = []

    tree = all_types_tree()
    plain = dumps(payload_json(tree))
    fixtures.append(('all_types', 'all_types.json', plain, expected_for(tree)))
    fixtures.append(('all_types_compressed', 'all_types.crvx', zlib.compress(plain), expected_for(tree)))

    # Types missing (or 0) in old data: a URL makes a web link, else a picture makes a picture
    # idea, else a text idea.
    legacy = Idea('idL_root', 1, text='Legacy types', children=[
        Idea('idL_a', 3, text='A link', url='https://example.org/a'),
        Idea('idL_b', 2, picture=PICTURE_2X2),
        Idea('idL_c', 1, text='Plain'),
        Idea('idL_d', 3, url='https://x.test', picture=PICTURE_2X2),
        Idea('idL_e', 2, picture=PICTURE_4X3),
    ])
    stored = payload_json(legacy, version=3)
    children = stored['ideaDocumentDataObject']['idea']['ideas']
    for child in children:
        del child['colorThemeType']
    del children[0]['ideaType']
    del children[1]['ideaType']
    del children[2]['ideaType']
    children[3]['ideaType'] = 0
    children[4]['ideaType'] = 0
    fixtures.append(('legacy_missing_type', 'legacy_missing_type.json', dumps(stored), expected_for(legacy, 3)))

    for version in (1, 2, 3):
        tree = small_tree('idV%d' % version, 'Version %d' % version)
        fixtures.append(('legacy_version_%d' % version, 'legacy_version_%d.json' % version,
                         dumps(payload_json(tree, version=version)), expected_for(tree, version)))

    # Objects that name their class with "@class", as older writers did.
    classes = Idea('idC_root', 1, text='Classes', icon=ICON_ROCKET, children=[
        Idea('idC_1', 1, text='One'),
        Idea('idC_2', 1, text='Two', color='green2', theme=1),
    ])
    stored = payload_json(classes, version=2)
    body = stored['ideaDocumentDataObject']
    body['idea'] = dict({'@class': 'Idea'}, **body['idea'])
    body['idea']['iconImage'] = dict({'@class': 'IconImage'}, **body['idea']['iconImage'])
    body['idea']['ideas'] = [dict({'@class': 'Idea'}, **child) for child in body['idea']['ideas']]
    stored['ideaDocumentDataObject'] = dict({'@class': 'IdeaDocumentDataObject'}, **body)
    fixtures.append(('legacy_class_form', 'legacy_class_form.json', dumps(stored), expected_for(classes, 2)))

    # Empty big picture data and an empty note count as none.
    empties = Idea('idE_root', 1, text='Empties', children=[
        Idea('idE_1', 2, picture=PICTURE_2X2, att=ATT_PICTURE),
        Idea('idE_2', 1, text='Note was empty'),
    ])
    stored = payload_json(empties)
    stored['ideaDocumentDataObject']['idea']['ideas'][0]['bigImageData'] = ''
    stored['ideaDocumentDataObject']['idea']['ideas'][1]['note'] = ''
    fixtures.append(('legacy_empty_big_image', 'legacy_empty_big_image.json', dumps(stored), expected_for(empties)))

    # The old wrapped list: [{"idea": [children...]}].
    wrapped = small_tree('idW', 'Wrapped')
    stored = payload_json(wrapped, version=1)
    idea = stored['ideaDocumentDataObject']['idea']
    idea['ideas'] = [{'idea': idea['ideas']}]
    fixtures.append(('legacy_wrapped_list', 'legacy_wrapped_list.json', dumps(stored), expected_for(wrapped, 1)))

    # Dates written with an offset from GMT read as the same moment.
    offsets = small_tree('idO', 'Offsets')
    stored = payload_json(offsets, created='2019-05-06 07:08:00 GMT+02:00', modified='2019-05-06 07:08:00 GMT-5')
    fixtures.append(('legacy_date_offsets', 'legacy_date_offsets.json', dumps(stored),
                     expected_for(offsets, created=('2019-05-06 05:08:00 GMT', '2019-05-06T05:08:00Z'),
                                  modified=('2019-05-06 12:08:00 GMT', '2019-05-06T12:08:00Z'))))

    # What older writers left: escaped slashes, Base64 with line breaks, keys nobody reads, an
    # unknown colour name, no "colorThemeType", no "appInstance".
    extras = Idea('idX_root', 3, text='Extras', url='https://example.com/a/b', children=[
        Idea('idX_1', 2, picture=PICTURE_4X3, big=FAKE_JPEG, att=ATT_PICTURE),
        Idea('idX_2', 1, text='Unknown colour'),
    ])
    stored = payload_json(extras, app=None)
    idea = stored['ideaDocumentDataObject']['idea']
    del idea['colorThemeType']
    idea['fontSize'] = 12
    idea['layout'] = {'x': 1, 'y': [1, 2]}
    idea['tags'] = ['a', 'b']
    picture = idea['ideas'][0]
    picture['image'] = '\r\n'.join(textwrap(picture['image'], 16))
    picture['bigImageData'] = '\n'.join(textwrap(picture['bigImageData'], 64))
    idea['ideas'][1]['color'] = 'mauve9'
    text = dumps(stored).decode('utf-8').replace('/', '\\/')
    fixtures.append(('legacy_extras', 'legacy_extras.json', text.encode('utf-8'), expected_for(extras, app=None)))

    return fixtures


def textwrap(text, width):
    return [text[i:i + width] for i in range(0, len(text), width)]


# ---------------------------------------------------------------- the fuzz corpus

def chain(levels):
    """A payload whose tree is a chain of `levels` ideas (written without recursion)."""
    head = b'{"ideaDocumentDataObject":{"fileFormatVersion":4,"idea":'
    tail = b',"dateCreated":"2021-03-04 05:06:00 GMT","dateModified":"2021-03-05 06:07:00 GMT"}}'
    parts = []
    for level in range(1, levels + 1):
        parts.append(b'{"identifier":"idD_%d","ideaType":1,"text":"Level %d","colorThemeType":0' % (level, level))
        if level < levels:
            parts.append(b',"ideas":[')
    closing = b'}' + b']}' * (levels - 1)
    return head + b''.join(parts) + closing + tail


def base_tree():
    """Every idea key on the root, and a link to the child."""
    return Idea('idB_root', 1, text='Root', url='https://example.com/base', note='Root note', color='blue3', theme=2,
                att=ATT_PICTURE, icon=dict(ICON_BULB), picture=PICTURE_2X2, big=FAKE_JPEG, children=[
                    Idea('idB_child', 1, text='Child'),
                    Idea('idB_link', 4, link='idB_child'),
                ])


def corpus():
    """(file name, bytes, expectation) of every corpus input."""
    entries = []

    def accept(name, data, root, dump=True, **document):
        # The dump of a chain of a thousand levels would be a megabyte of blanks: its size says
        # enough.
        expectation = {'accept': True, 'treeSize': sum(1 for _ in root.walk())}
        if dump:
            expectation['debugDescription'] = debug_description(root)
        fields = document_fields()
        fields.update(document)
        expectation['document'] = fields
        entries.append((name, data, expectation))

    def refuse(name, data):
        entries.append((name, data, {'accept': False}))

    for name, file_name, data, expected in golden_fixtures():
        stem, extension = os.path.splitext(file_name)
        entry = {'accept': True, 'debugDescription': expected['debugDescription'],
                 'treeSize': expected['treeSize'], 'document': expected['document']}
        entries.append(('valid_' + stem + extension, data, entry))

    plain = dumps(payload_json(all_types_tree()))
    compressed = zlib.compress(plain)

    # zlib: truncated, damaged, other headers and formats.
    refuse('zlib_truncated.crvx', compressed[:len(compressed) // 2])
    refuse('zlib_truncated_header_only.crvx', compressed[:2])
    refuse('zlib_bad_checksum.crvx', compressed[:-1] + bytes([compressed[-1] ^ 0xFF]))
    refuse('zlib_corrupt_body.crvx', compressed[:10] + bytes(b ^ 0x55 for b in compressed[10:40]) + compressed[40:])
    refuse('zlib_trailing_garbage.crvx', compressed + b'garbage')
    refuse('zlib_header_7801.bin', zlib.compress(plain, 1))
    refuse('zlib_header_78da.bin', zlib.compress(plain, 9))
    refuse('zlib_header_785e.bin', zlib.compress(plain, 2))
    raw = zlib.compressobj(6, zlib.DEFLATED, -15)
    refuse('raw_deflate.bin', raw.compress(plain) + raw.flush())
    gz = zlib.compressobj(6, zlib.DEFLATED, 31)
    refuse('gzip.bin', gz.compress(plain) + gz.flush())
    refuse('zlib_789c_garbage.bin', b'\x78\x9c' + b'this is not deflate data at all')
    refuse('zlib_empty_stream.crvx', zlib.compress(b''))
    refuse('zlib_not_json.crvx', zlib.compress(b'\x00\x01 not json'))
    refuse('empty.bin', b'')
    refuse('one_byte.bin', b'{')
    refuse('two_bytes_789c.bin', b'\x78\x9c')

    # The root.
    refuse('root_empty_object.json', b'{}')
    refuse('root_array.json', b'[{"ideaDocumentDataObject":{}}]')
    refuse('root_string.json', b'"ideaDocumentDataObject"')
    refuse('root_number.json', b'4')
    refuse('root_null.json', b'null')
    refuse('root_true.json', b'true')
    refuse('root_unknown_class.json', dumps({'fooBarObject': payload_json(base_tree())['ideaDocumentDataObject']}))
    refuse('root_is_an_idea.json', dumps({'idea': idea_json(base_tree())}))
    refuse('root_payload_not_object.json', b'{"ideaDocumentDataObject":[1,2,3]}')
    refuse('root_payload_null.json', b'{"ideaDocumentDataObject":null}')
    refuse('opml.xml', b'<?xml version="1.0"?><opml version="2.0"><body><outline text="Root"/></body></opml>')

    # Classes named by the file.
    stored = payload_json(base_tree())
    stored['ideaDocumentDataObject']['idea']['ideas'][0]['@class'] = 'NSTask'
    refuse('unknown_class_at_class.json', dumps(stored))
    stored = payload_json(base_tree())
    stored['ideaDocumentDataObject']['idea']['iconImage']['@class'] = 'QProcess'
    refuse('unknown_class_icon.json', dumps(stored))
    stored = payload_json(base_tree())
    stored['ideaDocumentDataObject']['idea']['@class'] = 7
    refuse('class_not_text.json', dumps(stored))

    # Empty keys.
    refuse('empty_key_root.json', dumps({'': payload_json(base_tree())['ideaDocumentDataObject']}))
    stored = payload_json(base_tree())
    stored['ideaDocumentDataObject']['idea'][''] = {'identifier': 'x', 'ideaType': 1}
    stored['ideaDocumentDataObject'][''] = 5
    accept('empty_key_member.json', dumps(stored), base_tree())
    stored = payload_json(base_tree())
    idea = stored['ideaDocumentDataObject']['idea']
    idea['ideas'] = [{'': idea['ideas']}]
    accept('empty_key_wrapped_list.json', dumps(stored), base_tree())

    # A wrong JSON type for each key of the payload ...
    refuse('wrongtype_doc_fileFormatVersion_text.json', dumps(with_document(fileFormatVersion='4')))
    refuse('wrongtype_doc_fileFormatVersion_array.json', dumps(with_document(fileFormatVersion=[4])))
    refuse('wrongtype_doc_fileFormatVersion_object.json', dumps(with_document(fileFormatVersion={'v': 4})))
    accept('wrongtype_doc_fileFormatVersion_true.json', dumps(with_document(fileFormatVersion=True)), base_tree(),
           fileFormatVersion=1)
    refuse('wrongtype_doc_idea_text.json', dumps(with_document(idea='Root')))
    refuse('wrongtype_doc_idea_number.json', dumps(with_document(idea=5)))
    refuse('wrongtype_doc_idea_array.json', dumps(with_document(idea=[idea_json(base_tree())])))
    refuse('wrongtype_doc_idea_null.json', dumps(with_document(idea=None)))
    accept('wrongtype_doc_dateCreated.json', dumps(with_document(dateCreated=5)), base_tree(), dateCreated=None)
    accept('wrongtype_doc_dateModified.json', dumps(with_document(dateModified={'x': 1})), base_tree(), dateModified=None)
    accept('wrongtype_doc_appInstance.json', dumps(with_document(appInstance=12)), base_tree(), appInstance=None)
    accept('date_seconds_not_zero.json', dumps(with_document(dateCreated='2021-03-04 05:06:07 GMT')), base_tree(),
           dateCreated=None)

    # ... and of each idea key (a wrong type reads as missing).
    def root_without(**changes):
        tree = base_tree()
        for key, value in changes.items():
            setattr(tree, key, value)
        return tree

    wrong_idea_values = [
        ('identifier', 17, root_without(identifier=None)),
        ('ideaType', '1', root_without(type=3)),  # missing: inferred from the URL
        ('text', 5, root_without(text=None)),
        ('URL', {'a': 1}, root_without(url=None)),
        ('note', ['x'], root_without(note=None)),
        ('color', 7, root_without(color=None)),
        ('att', True, root_without(att=None)),
        ('image', 12, root_without(picture=None)),
        ('bigImageData', {'x': 1}, root_without(big=None)),
        ('iconImage', '\U0001F4A1', root_without(icon=None)),
        ('colorThemeType', '2', root_without(theme=0)),
        ('ideas', 'children', root_without(children=[])),
    ]
    for key, value, expected in wrong_idea_values:
        stored = payload_json(base_tree())
        stored['ideaDocumentDataObject']['idea'][key] = value
        accept('wrongtype_idea_%s.json' % key, dumps(stored), expected)
    stored = payload_json(base_tree())
    stored['ideaDocumentDataObject']['idea']['ideas'][1]['linkedIdea'] = 99
    expected = base_tree()
    expected.children[1].link = None
    accept('wrongtype_link_linkedIdea.json', dumps(stored), expected)
    for member, value in (('name', 1), ('category', []), ('symbol', {})):
        stored = payload_json(base_tree())
        stored['ideaDocumentDataObject']['idea']['iconImage'][member] = value
        accept('wrongtype_icon_%s.json' % member, dumps(stored), base_tree())

    # JSON null where a value or an object is expected.
    stored = payload_json(base_tree())
    idea = stored['ideaDocumentDataObject']['idea']
    for key in ('text', 'note', 'URL', 'iconImage', 'image', 'color'):
        idea[key] = None
    accept('null_values.json', dumps(stored),
           root_without(text=None, note=None, url=None, icon=None, picture=None, color=None, type=1))
    stored = payload_json(base_tree())
    stored['ideaDocumentDataObject']['idea']['ideas'] = None
    accept('null_ideas.json', dumps(stored), root_without(children=[]))
    stored = payload_json(base_tree())
    stored['ideaDocumentDataObject']['idea']['ideas'] = [None, {'identifier': 'idN', 'ideaType': 1}]
    accept('null_first_child.json', dumps(stored), root_without(children=[]))

    # Malformed child lists.
    stored = payload_json(base_tree())
    stored['ideaDocumentDataObject']['idea']['ideas'] = [
        idea_json(Idea('idM_1', 1, text='One')), 5, 'x', None, [1], idea_json(Idea('idM_2', 1, text='Two'))]
    accept('mixed_ideas_list.json', dumps(stored),
           root_without(children=[Idea('idM_1', 1, text='One'), Idea('idM_2', 1, text='Two')]))
    stored = payload_json(base_tree())
    stored['ideaDocumentDataObject']['idea']['ideas'] = [{}]
    accept('first_child_empty_object.json', dumps(stored), root_without(children=[Idea(None, 1)]))
    stored = payload_json(base_tree())
    stored['ideaDocumentDataObject']['idea']['ideas'] = ['a', idea_json(Idea('idF_1', 1, text='One'))]
    accept('first_child_not_object.json', dumps(stored), root_without(children=[]))
    stored = payload_json(base_tree())
    nested = idea_json(Idea('idR_leaf', 1, text='Leaf'))
    for _ in range(600):
        nested = [{'string': [nested]}]
    stored['ideaDocumentDataObject']['idea']['ideas'] = nested
    accept('wrapped_lists_600_deep.json', dumps(stored), root_without(children=[]))

    # Depth: the model's maximum reads, one level more does not; nesting beyond the parser's
    # bound fails to parse.
    accept('depth_at_maximum.json', chain(MAX_DEPTH), chain_tree(MAX_DEPTH), dump=False, appInstance=None)
    refuse('depth_beyond_maximum.json', chain(MAX_DEPTH + 1))
    refuse('depth_beyond_parser.json',
           b'{"ideaDocumentDataObject":{"fileFormatVersion":4,"idea":{"identifier":"x","ideaType":1,"ideas":'
           + b'[' * 3000 + b']' * 3000 + b'}}}')

    # Text that is not UTF-8 (or escapes that are no characters).
    good = dumps(payload_json(base_tree()))
    refuse('invalid_utf8_byte.json', good.replace(b'"Root"', b'"Ro\xffot"'))
    refuse('invalid_utf8_overlong.json', good.replace(b'"Root"', b'"Ro\xc0\xafot"'))
    refuse('invalid_utf8_surrogate.json', good.replace(b'"Root"', b'"Ro\xed\xa0\x80ot"'))
    refuse('invalid_utf8_truncated.json', good.replace(b'"Root"', b'"Ro\xe2\x82"'))
    refuse('invalid_utf8_in_key.json', good.replace(b'"note"', b'"no\xfete"'))

    # An escaped lone surrogate is one broken character, not a broken document: it reads as
    # U+FFFD and everything else is kept.
    def with_root_text(text):
        tree = base_tree()
        tree.text = text
        return tree

    accept('lone_surrogate_escape.json', good.replace(b'"Root"', b'"Ro\\ud800ot"'), with_root_text('Ro\ufffdot'))
    accept('lone_low_surrogate_escape.json', good.replace(b'"Root"', b'"Ro\\uDC01ot"'),
           with_root_text('Ro\ufffdot'))
    accept('surrogate_pair_escape.json', good.replace(b'"Root"', b'"Ro\\ud83d\\ude00ot"'),
           with_root_text('Ro\U0001F600ot'))
    accept('escaped_backslash_before_u.json', good.replace(b'"Root"', b'"Ro\\\\ud800ot"'),
           with_root_text('Ro\\ud800ot'))

    # A text that begins with U+FEFF keeps it, written raw or escaped.
    accept('leading_feff_raw.json', good.replace(b'"Root"', b'"\xef\xbb\xbfRoot"'), with_root_text('\ufeffRoot'))
    accept('leading_feff_escaped.json', good.replace(b'"Root"', b'"\\ufeffRoot"'), with_root_text('\ufeffRoot'))

    # Links that run in circles: a pair pointing at each other and one pointing at itself.
    cycle = Idea('idY_root', 1, text='Cycles', children=[
        Idea('idY_a', 4, link='idY_b'),
        Idea('idY_b', 4, link='idY_a'),
        Idea('idY_self', 4, link='idY_self'),
        Idea('idY_text', 1, text='Target', children=[Idea('idY_c', 4, link='idY_missing')]),
    ])
    accept('link_cycle.json', dumps(payload_json(cycle)), cycle)
    stored = payload_json(cycle)
    # A link idea with children and content: only its identifier and target are read.
    stored['ideaDocumentDataObject']['idea']['ideas'][0].update(
        {'text': 'ignored', 'ideas': [idea_json(Idea('idY_hidden', 1, text='Hidden'))]})
    accept('link_with_children.json', dumps(stored), cycle)

    # Versions.
    refuse('version_0.json', dumps(with_document(fileFormatVersion=0)))
    refuse('version_5.json', dumps(with_document(fileFormatVersion=5)))
    refuse('version_negative.json', dumps(with_document(fileFormatVersion=-1)))
    refuse('version_missing.json', dumps(with_document(fileFormatVersion=None)))
    refuse('version_beyond_32_bits.json', dumps(with_document(fileFormatVersion=4294967300)))
    accept('version_real.json', good.replace(b'"fileFormatVersion":4', b'"fileFormatVersion":4.0'), base_tree())

    # Absurd numbers.
    stored = payload_json(base_tree())
    idea = stored['ideaDocumentDataObject']['idea']
    text = dumps(stored).replace(b'"ideaType":1,', b'"ideaType":1e300,', 1)
    text = text.replace(b'"colorThemeType":2', b'"colorThemeType":18446744073709551615', 1)
    accept('absurd_integers.json', text, root_without(type=3, theme=0))
    stored = payload_json(base_tree())
    stored['ideaDocumentDataObject']['idea']['ideas'][0]['ideaType'] = -9223372036854775808
    expected = base_tree()
    expected.children[0].type = 2 ** 63
    accept('absurd_negative_type.json', dumps(stored), expected)
    refuse('absurd_number_beyond_double.json', good.replace(b'"colorThemeType":2', b'"colorThemeType":1e400'))
    refuse('absurd_number_text.json', good.replace(b'"colorThemeType":2', b'"colorThemeType":NaN'))

    # Pictures that are no pictures.
    stored = payload_json(base_tree())
    del stored['ideaDocumentDataObject']['idea']['ideaType']
    del stored['ideaDocumentDataObject']['idea']['URL']
    stored['ideaDocumentDataObject']['idea']['image'] = b64(b'hello, not a picture')
    stored['ideaDocumentDataObject']['idea']['bigImageData'] = '!!!@@@'
    accept('image_not_png.json', dumps(stored), root_without(type=2, url=None, big=None, picture=None))

    # Duplicate keys: the last value counts.
    accept('duplicate_keys.json', good.replace(b'"text":"Root"', b'"text":"First","text":"Root"', 1), base_tree())

    return entries


def with_document(**changes):
    """The base payload with document keys replaced (None removes a key)."""
    stored = payload_json(base_tree())
    body = stored['ideaDocumentDataObject']
    for key, value in changes.items():
        if value is None:
            body.pop(key, None)
        else:
            body[key] = value
    return stored


def chain_tree(levels):
    root = Idea('idD_1', 1, text='Level 1')
    last = root
    for level in range(2, levels + 1):
        child = Idea('idD_%d' % level, 1, text='Level %d' % level)
        last.children.append(child)
        last = child
    return root


# ---------------------------------------------------------------- main

def text_reader_corpus():
    """(file name, bytes) of the texts the payload's own reader declines or reads past: the
    JSON decoder must read each as that reader does, or alone."""
    def changed(change):
        stored = payload_json(base_tree())
        change(stored['ideaDocumentDataObject'], stored['ideaDocumentDataObject']['idea'])
        return dumps(stored)

    def unknown_members(body, idea):
        body['later'] = {'a': [1, {'b': None}], 'c': 'text'}
        idea['flag'] = True
        idea['ratio'] = 1.5
        idea['nested'] = [[{'ideas': [{'identifier': 'x'}]}]]
        idea['iconImage']['size'] = 20
        idea['ideas'][0]['idea'] = {'identifier': 'not read', 'ideaType': 1}

    def null_members(body, idea):
        for key in list(idea['ideas'][0].keys()) + ['note', 'color', 'iconImage', 'URL', 'att', 'image']:
            if key != 'identifier':
                idea['ideas'][0][key] = None
        idea['iconImage']['name'] = None

    def link_with_members(body, idea):
        idea['ideas'][1].update({'text': 'not read', 'iconImage': {'name': 'x'}, 'ideas': [{'identifier': 'y',
                                                                                           'ideaType': 1}]})

    members = [
        ('unknown_members.json', changed(unknown_members)),
        ('null_members.json', changed(null_members)),
        ('link_with_members.json', changed(link_with_members)),
        ('idea_class_named.json', changed(lambda body, idea: idea.update({'@class': 'Idea'}))),
        ('payload_class_named.json', changed(lambda body, idea: body.update({'@class': 'IdeaDocumentDataObject'}))),
        ('icon_class_named.json', changed(lambda body, idea: idea['iconImage'].update({'@class': 'IconImage'}))),
        ('real_idea_type.json', changed(lambda body, idea: idea.update({'ideaType': 1.0}))),
        ('true_theme.json', changed(lambda body, idea: idea.update({'colorThemeType': True}))),
        ('single_child_one_member.json', changed(lambda body, idea: idea.update({'ideas': [{'identifier': 'x'}]}))),
        ('single_child_unknown_member.json',
         changed(lambda body, idea: idea.update({'ideas': [{'identifier': 'x', 'ideaType': 1, 'zz': 1}]}))),
        ('single_child_of_two_members.json',
         changed(lambda body, idea: idea.update({'ideas': [{'identifier': 'x', 'ideaType': 1}]}))),
        ('ideas_with_array.json', changed(lambda body, idea: idea['ideas'].append([{'identifier': 'z'}]))),
        ('ideas_with_text.json', changed(lambda body, idea: idea['ideas'].append('text'))),
        ('ideas_empty.json', changed(lambda body, idea: idea.update({'ideas': []}))),
    ]
    plain = dumps(payload_json(base_tree()))
    # Members written twice, in the payload, an idea and the root (the last value in the first place).
    members.append(('payload_member_twice.json', plain.replace(b'"fileFormatVersion":4',
                                                                b'"fileFormatVersion":3,"fileFormatVersion":4')))
    members.append(('idea_member_twice.json', plain.replace(b'"text":"Root"', b'"text":"Old","text":"Root"')))
    members.append(('root_member_twice.json', plain[:-1] + b',"ideaDocumentDataObject":' +
                    plain[len(b'{"ideaDocumentDataObject":'):-1] + b'}'))
    members.append(('root_second_member.json', plain[:-1] + b',"other":{"idea":{"identifier":"o"}}}'))
    members.append(('root_first_member_unknown.json', b'{"other":1,' + plain[1:]))
    members.append(('escaped_keys.json', plain.replace(b'"text":', b'"\\u0074ext":').replace(b'"ideas":',
                                                                                          b'"ide\\u0061s":')))
    return members


def main():
    # The deepest inputs nest far beyond the default limit of json.dumps.
    sys.setrecursionlimit(20000)
    manifest = []
    written_expectations = set()
    for name, file_name, data, expected in golden_fixtures():
        write(PAYLOAD_DIR, file_name, data)
        expected_name = file_name.rsplit('.', 1)[0] + '.expected.json'
        if expected_name not in written_expectations:
            write_json(PAYLOAD_DIR, expected_name, expected)
            written_expectations.add(expected_name)
        manifest.append({'name': name, 'file': file_name, 'expected': expected_name})
    write_json(PAYLOAD_DIR, 'fixtures.json', {'fixtures': manifest})

    if os.path.isdir(CORPUS_DIR):
        for old in os.listdir(CORPUS_DIR):
            os.remove(os.path.join(CORPUS_DIR, old))
    expectations = {}
    for name, data, expectation in corpus():
        assert name not in expectations, name
        write(CORPUS_DIR, name, data)
        expectations[name] = expectation
    write_json(PAYLOAD_DIR, 'corpus.json', {'files': expectations})

    if os.path.isdir(TEXT_CORPUS_DIR):
        for old in os.listdir(TEXT_CORPUS_DIR):
            os.remove(os.path.join(TEXT_CORPUS_DIR, old))
    else:
        os.makedirs(TEXT_CORPUS_DIR)
    text_inputs = [(name, data) for name, data, _ in corpus()] + text_reader_corpus()
    for name, data in text_inputs:
        write(TEXT_CORPUS_DIR, name, data)
    print('wrote %d fixtures, %d corpus files and %d text reader corpus files' %
          (len(manifest), len(expectations), len(text_inputs)))


if __name__ == '__main__':
    main()
