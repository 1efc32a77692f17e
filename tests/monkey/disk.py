"""The oracle's own reader and writer of document archives: the magic 9C 78 78 01, then chunks of a
big-endian 32-bit length and its bytes, the first chunk the zlib-compressed JSON payload. Nothing
of Corvex's code is used: what the disk holds is judged without trusting Corvex's reader."""

import json
import os
import re
import struct
import time
import zlib

MAGIC = bytes([0x9C, 0x78, 0x78, 0x01])
TRACER = re.compile(r'^Mk[a-z]+$')
IN_NOTE = re.compile(r'\bMk[a-z]+\b')


class Unreadable(Exception):
    pass


def payload(path):
    with open(path, 'rb') as stream:
        data = stream.read()
    if data[:4] == MAGIC:
        if len(data) < 8:
            raise Unreadable('%s: cut off before its payload' % path)
        length = struct.unpack('>I', data[4:8])[0]
        if 8 + length > len(data):
            raise Unreadable('%s: payload chunk of %d bytes, %d there' % (path, length, len(data) - 8))
        compressed = data[8:8 + length]
    elif data[:1] == b'{':
        # A document of the iCloud location is its JSON payload as it is.
        try:
            return json.loads(data)
        except ValueError as error:
            raise Unreadable('%s: %s' % (path, error))
    else:
        compressed = data
    try:
        return json.loads(zlib.decompress(compressed))
    except (zlib.error, ValueError) as error:
        raise Unreadable('%s: %s' % (path, error))


def texts(node, into):
    """Every idea text in a payload, however deep, and the tracers in its notes."""
    if isinstance(node, dict):
        for key, value in node.items():
            if key == 'text' and isinstance(value, str):
                into.append(value)
            elif key == 'note' and isinstance(value, str):
                into.extend(IN_NOTE.findall(value))
            else:
                texts(value, into)
    elif isinstance(node, list):
        for value in node:
            texts(value, into)
    return into


def tracers(path):
    """The tracer words the document at `path` holds; None when there is no file."""
    if not os.path.exists(path):
        return None
    return {text for text in texts(payload(path), []) if TRACER.match(text)}


def write(path, root, children):
    """A document of our own making, as another program or machine would leave it."""
    stamp = int(time.time())
    idea = {'identifier': 'idmk%d_1' % stamp, 'ideaType': 1, 'text': root, 'color': 'green0',
            'colorThemeType': 1,
            'ideas': [{'identifier': 'idmk%d_%d' % (stamp, i + 2), 'ideaType': 1, 'text': text,
                       'color': 'green1', 'colorThemeType': 1} for i, text in enumerate(children)]}
    body = json.dumps({'ideaDocumentDataObject': {
        'fileFormatVersion': 4, 'idea': idea, 'dateCreated': '2026-01-01 00:00:00 GMT',
        'dateModified': '2026-01-01 00:00:00 GMT', 'appInstance': 'MAC_1.0'}}).encode()
    compressed = zlib.compress(body)
    with open(path + '.monkey', 'wb') as stream:
        stream.write(MAGIC + struct.pack('>I', len(compressed)) + compressed)
    os.replace(path + '.monkey', path)


def tree_tracers(tree):
    """The tracer words of a tree as the observation channel gives it: [text, [child, ...], note]."""
    found = set()
    stack = [tree]
    while stack:
        node = stack.pop()
        if TRACER.match(node[0]):
            found.add(node[0])
        if len(node) > 2:
            found.update(IN_NOTE.findall(node[2]))
        stack.extend(node[1])
    return found
