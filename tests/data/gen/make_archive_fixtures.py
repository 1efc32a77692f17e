#!/usr/bin/env python3
"""Golden document archives and the corpus of the archive fuzz target.

Written from the archive layout alone, with Python's standard library (struct, zlib, hashlib)
and without the program's code:

    offset 0   9C 78 78 01                       the magic
    then       [u32 big-endian length][payload]   zlib-compressed JSON of the document
    then 0..n  [u32 length][identifier]           "<40 hex digits of SHA-1>.<extension>", UTF-8
               [u32 length][attachment bytes]     exactly as stored

The file ends right after the last attachment's bytes: no count, end marker or checksum.
The payload JSON and its picture bytes come from make_payload_fixtures.py, the independent
account of the stored payload.

Outputs (commit them):
  tests/data/archive/pictures.corvex            a document with pictures, a web link, icons,
                                                colours, notes and a link; its attachment pairs
                                                in no particular order
  tests/data/archive/pictures.expected.json     what importing it must give: every idea in
                                                pre-order with its path (child indices from
                                                the root), its fields, the path of a link's
                                                target, and the attachments handed over
  tests/data/archive/reference.payload.json     the same document without its small pictures
                                                (see reference_tree), plain JSON: the tree the
                                                writer test exports
  tests/data/archive/reference.corvex           what our writer must make of that tree: the
                                                attachments in ascending order of identifier
  tests/data/archive/attachments/<identifier>   the attachment bytes, for the writer's fetcher
  tests/data/archive/truncated_second_attachment.corvex
                                                pictures.corvex cut off inside the bytes of its
                                                second attachment: importing it must fail and
                                                store neither attachment
  fuzz/corpus/fuzz_archive/*                    inputs of the fuzz target, hostile ones among
                                                them

Run with /usr/bin/python3 from anywhere.
"""

import hashlib
import json
import os
import shutil
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # no __pycache__ beside the scripts
sys.path.insert(0, HERE)
import make_payload_fixtures as payload  # noqa: E402  (the independent payload account)

REPO = os.path.normpath(os.path.join(HERE, '..', '..', '..'))
ARCHIVE_DIR = os.path.join(REPO, 'tests', 'data', 'archive')
CORPUS_DIR = os.path.join(REPO, 'fuzz', 'corpus', 'fuzz_archive')

MAGIC = bytes([0x9C, 0x78, 0x78, 0x01])
assert MAGIC == struct.pack('<I', 0x0178789C)

APP_INSTANCE = 'MAC_1614834360.123456'  # what the writer test's fixed wall clock gives


# ---------------------------------------------------------------- the document

def attachment_id(data, extension):
    return hashlib.sha1(data).hexdigest() + '.' + extension


PICTURE_A = payload.Picture(3, 2, [(200, 10, 10), (10, 200, 10), (10, 10, 200),
                                   (255, 255, 255), (0, 0, 0), (128, 128, 128)])
PICTURE_B = payload.Picture(2, 3, [(1, 2, 3), (40, 50, 60), (70, 80, 90),
                                   (100, 110, 120), (130, 140, 150), (160, 170, 180)])
# The stored attachment bytes: the full-size pictures, larger than one 1024-byte read.
FULL_A = payload.png_rgb(32, 24, [((x * 8) % 256, (y * 10) % 256, ((x + y) * 5) % 256)
                                  for y in range(24) for x in range(32)])
FULL_B = payload.png_rgb(16, 16, [((x * y) % 256, 255 - x * 16, y * 16) for y in range(16) for x in range(16)])
ATT_A = attachment_id(FULL_A, 'png')
ATT_B = attachment_id(FULL_B, 'png')
ATTACHMENTS = {ATT_A: FULL_A, ATT_B: FULL_B}

ICON_BULB = payload.ICON_BULB
ICON_ROCKET = payload.ICON_ROCKET

CREATED = '2022-06-07 08:09:00 GMT'
MODIFIED = '2022-06-08 09:10:00 GMT'


def document_tree():
    Idea = payload.Idea
    return Idea('idA_root', 1, text='Trip to Z\u00fcrich', note='Plan it\nwell', color='blue3', theme=2,
                icon=ICON_BULB, children=[
                    Idea('idA_1', 1, text='Pictures', color='green0', theme=1, children=[
                        Idea('idA_1_1', 2, picture=PICTURE_A, att=ATT_A, color='green1'),
                        # The same picture again: the archive holds it once.
                        Idea('idA_1_2', 2, picture=PICTURE_A, att=ATT_A, color='green2'),
                    ]),
                    Idea('idA_2', 3, text='Station', url='https://example.com/station?x=1&y=2',
                         picture=PICTURE_B, att=ATT_B, color='red5'),
                    Idea('idA_3', 1, text='Packing \u2014 list', note='Boots', color='violet6', icon=ICON_ROCKET,
                         children=[
                             Idea('idA_3_1', 1, text='Deep', color='violet5', children=[
                                 Idea('idA_3_1_1', 4, link='idA_1_2'),
                             ]),
                         ]),
                    Idea('idA_4', 4, link='idA_3'),
                ])


def reference_tree():
    """The document as the writer test exports it. Small pictures are left out: the model
    keeps a picture's pixels, not its PNG bytes, and writes them with its own PNG encoder,
    which is no matter of the archive layout. The attachments (and one big picture's bytes,
    which are kept as they are) stay."""
    root = document_tree()
    for idea, _ in root.walk():
        idea.picture = None
    root.find('idA_1_2').big = payload.FAKE_JPEG
    return root


def payload_bytes(root):
    return payload.dumps(payload.payload_json(root, created=CREATED, modified=MODIFIED, app=APP_INSTANCE))


# ---------------------------------------------------------------- archive bytes

def chunk(data):
    assert len(data) <= 0xFFFFFFFF
    return struct.pack('>I', len(data)) + data


def archive(payload_data, pairs):
    """pairs: (identifier text or bytes, data) in file order."""
    out = MAGIC + chunk(payload_data)
    for identifier, data in pairs:
        if isinstance(identifier, str):
            identifier = identifier.encode('utf-8')
        out += chunk(identifier) + chunk(data)
    return out


# ---------------------------------------------------------------- expectations

def paths(root):
    """{identifier: path} with paths as lists of child indices from the root."""
    out = {}
    stack = [(root, [])]
    while stack:
        idea, path = stack.pop()
        out[idea.identifier] = path
        for index, child in reversed(list(enumerate(idea.children))):
            stack.append((child, path + [index]))
    return out


def expected_import(root, pairs):
    where = paths(root)
    ideas = []
    stack = [(root, [])]
    while stack:
        idea, path = stack.pop()
        entry = {'path': path, 'ideaType': idea.type, 'originalIdentifier': idea.identifier,
                 'childCount': len(idea.children)}
        if idea.type == 4:
            entry['linkTargetPath'] = where[idea.link]
        else:
            entry.update({'text': idea.text, 'URL': idea.url, 'note': idea.note, 'color': idea.color,
                          'colorThemeType': idea.theme, 'att': idea.att,
                          'icon': idea.icon, 'hasImage': idea.picture is not None})
        ideas.append(entry)
        for index, child in reversed(list(enumerate(idea.children))):
            stack.append((child, path + [index]))
    return {
        'ideas': ideas,
        'dateCreated': '2022-06-07T08:09:00Z',
        'dateModified': '2022-06-08T09:10:00Z',
        'attachments': [{'identifier': identifier, 'size': len(data), 'sha1': hashlib.sha1(data).hexdigest()}
                        for identifier, data in pairs],
    }


# ---------------------------------------------------------------- the fuzz corpus

def corpus(valid_payload):
    entries = []
    compressed = zlib.compress(valid_payload)
    good_pairs = [(ATT_B, FULL_B), (ATT_A, FULL_A)]
    full = archive(compressed, good_pairs)
    entries.append(('valid_pictures.corvex', full))
    entries.append(('valid_no_attachments.corvex', archive(compressed, [])))
    entries.append(('valid_empty_attachment.corvex',
                    archive(compressed, [(attachment_id(b'', 'png'), b'')])))
    entries.append(('legacy_bare_payload.corvex', compressed))
    entries.append(('legacy_plain_json.corvex', valid_payload))

    # Truncation anywhere: inside the magic, the length fields, the payload and the pairs.
    entries.append(('magic_only.corvex', MAGIC))
    entries.append(('short_magic.corvex', MAGIC[:3]))
    for cut in (1, 2, 3):
        entries.append(('payload_length_%d_bytes.corvex' % cut, MAGIC + chunk(compressed)[:cut]))
    entries.append(('payload_truncated.corvex', MAGIC + chunk(compressed)[:len(compressed) // 2]))
    identifier_end = len(archive(compressed, [])) + 4 + len(ATT_B)
    entries.append(('pair_without_data.corvex', full[:identifier_end]))
    entries.append(('pair_data_truncated.corvex', full[:identifier_end + 4 + 100]))
    # The same in the second pair, after a whole first one.
    second = len(archive(compressed, good_pairs[:1]))
    entries.append(('pair2_length_cut.corvex', full[:second + 2]))
    entries.append(('pair2_identifier_cut.corvex', full[:second + 4 + 10]))
    entries.append(('pair2_without_data.corvex', full[:second + 4 + len(ATT_A)]))
    entries.append(('pair2_data_length_cut.corvex', full[:second + 4 + len(ATT_A) + 3]))
    entries.append(('pair2_data_truncated.corvex', full[:len(full) - 1]))
    entries.append(('pair2_bad_name.corvex', archive(compressed, good_pairs[:1] + [(b'../' + ATT_A.encode(), FULL_A)])))
    for extra in (1, 2, 3):
        entries.append(('trailing_%d_bytes.corvex' % extra, full + b'\x00' * extra))

    # Lengths that claim more than the file holds, up to the largest 32-bit value.
    entries.append(('payload_length_max.corvex', MAGIC + b'\xff\xff\xff\xff' + compressed))
    entries.append(('payload_length_one_more.corvex', MAGIC + struct.pack('>I', len(compressed) + 1) + compressed))
    entries.append(('identifier_length_max.corvex',
                    archive(compressed, []) + b'\xff\xff\xff\xff' + ATT_A.encode()))
    entries.append(('data_length_max.corvex',
                    archive(compressed, []) + chunk(ATT_A.encode()) + b'\xff\xff\xff\xff' + FULL_A))
    entries.append(('data_length_0x80000000.corvex',
                    archive(compressed, []) + chunk(ATT_A.encode()) + b'\x80\x00\x00\x00' + FULL_A))

    # Attachment names that must never become file names.
    digest = hashlib.sha1(FULL_A).hexdigest()
    bad_names = {
        'parent': b'../../../../tmp/evil.png',
        'absolute': b'/etc/passwd',
        'slash_in_extension': (digest + '.png/../../x').encode(),
        'backslash': (digest + '.png\\..\\x').encode(),
        'nul': (digest + '.png\x00.sh').encode(),
        'no_extension': digest.encode(),
        'empty_extension': (digest + '.').encode(),
        'empty_name': b'',
        'dot_dot_extension': (digest + '...').encode(),
        'extra_component': (digest + '.png.sh').encode(),
        'upper_case_hex': (digest.upper() + '.png').encode(),
        'short_hex': (digest[:39] + '.png').encode(),
        'not_hex': ('g' * 40 + '.png').encode(),
        'invalid_utf8': digest.encode() + b'.p\xffg',
        'hidden': b'.bashrc',
        'long_extension': (digest + '.' + 'x' * 300).encode(),
    }
    for label, name in sorted(bad_names.items()):
        entries.append(('bad_name_%s.corvex' % label, archive(compressed, [(name, FULL_A)])))

    # Payloads that do not decode.
    entries.append(('payload_not_zlib.corvex', archive(valid_payload, [])))
    entries.append(('payload_corrupt_zlib.corvex',
                    archive(compressed[:12] + bytes(b ^ 0x5A for b in compressed[12:40]) + compressed[40:], [])))
    entries.append(('payload_empty.corvex', archive(b'', [])))
    entries.append(('payload_json_without_tree.corvex',
                    archive(zlib.compress(b'{"ideaDocumentDataObject":{"fileFormatVersion":4}}'), [])))
    entries.append(('payload_deep_chain.corvex', archive(zlib.compress(payload.chain(payload.MAX_DEPTH)), [])))
    entries.append(('payload_too_deep.corvex', archive(zlib.compress(payload.chain(payload.MAX_DEPTH + 1)), [])))

    # Many small pairs (the reader must not recurse per pair) and the magic alone again
    # after a valid archive.
    many = [(attachment_id(bytes([i % 256, i // 256]), 'bin'), bytes([i % 256, i // 256])) for i in range(3000)]
    entries.append(('many_pairs.corvex', archive(compressed, many)))
    entries.append(('magic_twice.corvex', full + MAGIC))
    return entries


# ---------------------------------------------------------------- main

def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as out:
        out.write(data)


def write_json(path, value):
    write(path, (json.dumps(value, ensure_ascii=False, indent=1, sort_keys=True) + '\n').encode('utf-8'))


def main():
    sys.setrecursionlimit(20000)
    root = document_tree()
    plain = payload_bytes(root)
    compressed = zlib.compress(plain)
    assert compressed[:2] == b'\x78\x9c'

    # Imported: the pairs in an order that is not sorted, to show the reader does not care.
    pairs = [(ATT_B, FULL_B), (ATT_A, FULL_A)]
    assert [p[0] for p in pairs] != sorted(p[0] for p in pairs)
    write(os.path.join(ARCHIVE_DIR, 'pictures.corvex'), archive(compressed, pairs))
    whole = archive(compressed, pairs)
    second_data = len(archive(compressed, pairs[:1])) + 4 + len(pairs[1][0]) + 4
    assert len(pairs[1][1]) > 10
    write(os.path.join(ARCHIVE_DIR, 'truncated_second_attachment.corvex'),
          whole[:second_data + len(pairs[1][1]) // 2])
    write_json(os.path.join(ARCHIVE_DIR, 'pictures.expected.json'), expected_import(root, pairs))

    # Written: the document without small pictures, pairs in ascending order of identifier,
    # each once (two ideas share one).
    reference = payload_bytes(reference_tree())
    write(os.path.join(ARCHIVE_DIR, 'reference.payload.json'), reference)
    write(os.path.join(ARCHIVE_DIR, 'reference.corvex'),
          archive(zlib.compress(reference), sorted(ATTACHMENTS.items())))
    attachments_dir = os.path.join(ARCHIVE_DIR, 'attachments')
    if os.path.isdir(attachments_dir):
        shutil.rmtree(attachments_dir)
    for identifier, data in ATTACHMENTS.items():
        write(os.path.join(attachments_dir, identifier), data)

    if os.path.isdir(CORPUS_DIR):
        shutil.rmtree(CORPUS_DIR)
    entries = corpus(plain)
    names = set()
    for name, data in entries:
        assert name not in names, name
        names.add(name)
        write(os.path.join(CORPUS_DIR, name), data)
    print('wrote the archive fixtures and %d corpus files' % len(entries))


if __name__ == '__main__':
    main()
