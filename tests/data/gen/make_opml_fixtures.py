#!/usr/bin/env python3
"""Golden OPML files, text and HTML outlines, and the corpus of the OPML fuzz target.

Written from the formats alone, with Python's standard library (xml.etree for the files
other outliners write) and without the program's code, so that the program's OPML reader
and writer and its outline exporter are checked against an independent account of them.

The formats, as this script knows them:
- Reading OPML: a head element makes the root (its title, when there is one, the root's
  text); each outline element becomes a child of the innermost open outline (or of the
  root), its "text" attribute the idea's text and its "_note" attribute the note; other
  attributes and elements are ignored; element names are compared without regard to case,
  attribute names exactly. Without a head, the first outline is the root and everything
  after its end is ignored. A reading error keeps the ideas read before it.
- Colours of read ideas: the root takes colour 0 of standard theme 0; the k-th child of the
  root (k counted from 1) colour 0 of standard theme k mod 4; the k-th child of a deeper
  idea colour k mod 7 of that idea's theme.
- Writing OPML: the XML declaration, "<opml version="1.0"><head><title>" the root's title
  "</title></head><body>" and a line feed, one line per outline indented by tabs, then
  "</body></opml>". & " ' > < are written &amp; &quot; &#x27; &gt; &lt;; inside attributes
  tab, line feed and carriage return as &#9; &#10; &#13;; in the title a carriage return as
  &#13;; characters XML 1.0 forbids are dropped.
- Text outlines and HTML lists: as described at outline_text() and outline_html().

Outputs (commit them):
  tests/data/opml/import/<name>.opml           files shaped like other outliners' files
  tests/data/opml/import/<name>.expected.json  the tree reading must give: per idea
                                               "text", "note" (null when absent), "color"
                                               (a colour name) and "ideas"
  tests/data/opml/export/<name>.tree.json      trees to write ("type", "id", "text", "note",
                                               "url", "linkTo", "ideas")
  tests/data/opml/export/<name>.opml           what writing each tree must give, byte for byte
  tests/data/opml/outlines.json                trees with their text and HTML outlines, with
                                               and without notes
  fuzz/corpus/fuzz_opml/*                      inputs of the fuzz target

Run with /usr/bin/python3 from anywhere.
"""

import io
import json
import os
import shutil
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.normpath(os.path.join(HERE, '..', '..', '..'))
OPML_DIR = os.path.join(REPO, 'tests', 'data', 'opml')
IMPORT_DIR = os.path.join(OPML_DIR, 'import')
EXPORT_DIR = os.path.join(OPML_DIR, 'export')
CORPUS_DIR = os.path.join(REPO, 'fuzz', 'corpus', 'fuzz_opml')

MAX_DEPTH = 1000  # the model's maximum idea depth; the root is level 1

# The standard themes of the colour table, in order, each of 7 colours.
STANDARD_THEMES = [[f'{name}{i}' for i in range(7)] for name in ('green', 'blue', 'red', 'violet')]


def theme_of(color):
    for theme in STANDARD_THEMES:
        if color in theme:
            return theme
    return None


# ---------------------------------------------------------------- trees read from OPML

class Node:
    """One idea as reading must give it."""

    def __init__(self, text=None, note=None, ideas=None):
        self.text, self.note, self.ideas = text, note, list(ideas or [])
        self.color = None

    def expected(self):
        return {'text': self.text, 'note': self.note, 'color': self.color,
                'ideas': [child.expected() for child in self.ideas]}


def colour_tree(root):
    """Colours by the reading rule: the root green0, the root's k-th child colour 0 of
    theme k mod 4, deeper k-th children colour k mod 7 of the parent's theme."""
    root.color = STANDARD_THEMES[0][0]
    stack = [(root, True)]
    while stack:
        node, is_root = stack.pop()
        for index, child in enumerate(node.ideas):
            k = index + 1
            if is_root:
                child.color = STANDARD_THEMES[k % len(STANDARD_THEMES)][0]
            else:
                theme = theme_of(node.color)
                child.color = theme[k % len(theme)] if theme else None
            stack.append((child, False))


def outline_element(parent, node, extra=None, note_attribute='_note'):
    attributes = {}
    if node.text is not None:
        attributes['text'] = node.text
    if node.note is not None:
        attributes[note_attribute] = node.note
    for key, value in (extra or {}).items():
        attributes[key] = value
    element = ET.SubElement(parent, 'outline', attributes)
    return element


def document_bytes(tree, encoding='UTF-8'):
    buffer = io.BytesIO()
    ET.ElementTree(tree).write(buffer, encoding=encoding, xml_declaration=True)
    return buffer.getvalue()


def head(opml, title=None, extras=()):
    element = ET.SubElement(opml, 'head')
    if title is not None:
        ET.SubElement(element, 'title').text = title
    for name, text in extras:
        ET.SubElement(element, name).text = text
    return element


def add_outlines(parent_element, nodes, extras_for=lambda node: {}):
    """Writes the nodes under the element, depth first, without recursion."""
    stack = [(parent_element, node) for node in reversed(nodes)]
    while stack:
        element, node = stack.pop()
        child = outline_element(element, node, extras_for(node))
        for grandchild in reversed(node.ideas):
            stack.append((child, grandchild))


def import_fixtures():
    fixtures = {}

    # Like the files desktop outliners write: a head full of metadata, outlines with types,
    # dates and status attributes, notes with line breaks and tabs, five top-level outlines
    # (the theme wraps) and a parent of nine children (the colours wrap).
    def attributes_of(node):
        return {'created': 'Mon, 02 Jan 2023 10:00:00 GMT', 'type': 'text', '_status': 'checked', 'isComment': 'false'}

    trip = Node('Trip to the coast', None, [
        Node('Pack', 'Socks\nBoots\n\tand a hat', [Node('Tent'), Node('Stove', 'Gas canister')]),
        Node('Go', None, [Node(f'Step {i}') for i in range(1, 10)]),
        Node('Stay', 'Two nights', [Node('Camp', None, [Node('Fire', 'Only where allowed')])]),
        Node('Return', ''),
        Node('Photos & notes <draft>', 'He said "fine" & it\'s done'),
    ])
    opml = ET.Element('opml', {'version': '2.0'})
    head(opml, trip.text, [('dateCreated', 'Mon, 02 Jan 2023 09:00:00 GMT'), ('ownerName', 'Someone'),
                           ('expansionState', '0,1,3')])
    body = ET.SubElement(opml, 'body')
    add_outlines(body, trip.ideas, attributes_of)
    # Reading keeps an empty note attribute, which the model stores as no note.
    trip.ideas[3].note = None
    colour_tree(trip)
    fixtures['outliner_nested'] = (document_bytes(opml), trip)

    # An encoding declaration other than UTF-8.
    latin = Node('Café crème', None, [Node('Über', 'Ærø'), Node('Größe', None, [Node('Ça va')])])
    opml = ET.Element('opml', {'version': '1.0'})
    head(opml, latin.text)
    add_outlines(ET.SubElement(opml, 'body'), latin.ideas)
    colour_tree(latin)
    fixtures['latin1_declared'] = (document_bytes(opml, 'ISO-8859-1'), latin)

    # UTF-16 with its byte-order mark.
    wide = Node('日本語の見出し', None, [Node('項目', 'メモ\n二行目'), Node('😀 emoji', None)])
    opml = ET.Element('opml', {'version': '2.0'})
    head(opml, wide.text)
    add_outlines(ET.SubElement(opml, 'body'), wide.ideas)
    colour_tree(wide)
    fixtures['utf16'] = (document_bytes(opml, 'UTF-16'), wide)

    # Without a head the first outline is the root; the second top-level outline and
    # everything after the first one's end are ignored.
    first = Node('First', 'Root note', [Node('A', None, [Node('A1'), Node('A2')]), Node('B')])
    opml = ET.Element('opml', {'version': '2.0'})
    body = ET.SubElement(opml, 'body')
    add_outlines(body, [first, Node('Second', None, [Node('Ignored')])])
    colour_tree(first)
    fixtures['no_head'] = (document_bytes(opml), first)

    # A head without a title: a root without text.
    untitled = Node(None, None, [Node('Only child')])
    opml = ET.Element('opml', {'version': '2.0'})
    head(opml, None, [('ownerName', 'Nobody')])
    add_outlines(ET.SubElement(opml, 'body'), untitled.ideas)
    colour_tree(untitled)
    fixtures['head_without_title'] = (document_bytes(opml), untitled)

    # Element names in capitals are read; an attribute named TEXT is not "text".
    capitals = Node('Shouting', None, [Node(None, 'Lower-case note', [Node('Inner')]), Node('Plain')])
    opml = ET.Element('OPML', {'version': '2.0'})
    h = ET.SubElement(opml, 'HEAD')
    ET.SubElement(h, 'TITLE').text = capitals.text
    body = ET.SubElement(opml, 'BODY')
    o1 = ET.SubElement(body, 'OUTLINE', {'TEXT': 'not read', '_note': 'Lower-case note'})
    ET.SubElement(o1, 'Outline', {'text': 'Inner'})
    ET.SubElement(body, 'outline', {'text': 'Plain', '_NOTE': 'not read either'})
    colour_tree(capitals)
    fixtures['capital_names'] = (document_bytes(opml), capitals)

    # Outlines without attributes, and other elements among them.
    bare = Node('Bare', None, [Node(None, None, [Node('Deep', 'n')]), Node('Last')])
    opml = ET.Element('opml', {'version': '2.0'})
    head(opml, 'Bare')
    body = ET.SubElement(opml, 'body')
    o1 = ET.SubElement(body, 'outline')
    ET.SubElement(o1, 'comment').text = 'an element outliners do not write'
    ET.SubElement(o1, 'outline', {'text': 'Deep', '_note': 'n'})
    ET.SubElement(body, 'outline', {'text': 'Last'})
    colour_tree(bare)
    fixtures['bare_outlines'] = (document_bytes(opml), bare)

    # Cut off inside the body: the ideas whose start tags were read are kept. The partial
    # tree comes from an incremental parse of the cut bytes.
    whole = document_bytes_for_truncation()
    cut = whole[:whole.index(b'<outline text="Cut here"') + len(b'<outline text="Cut h')]
    fixtures['truncated'] = (cut, partial_tree(cut))

    return fixtures


def document_bytes_for_truncation():
    tree = Node('Cut', None, [Node('Kept', 'kept note', [Node('Kept child')]),
                              Node('Open', None, [Node('Inside'), Node('Cut here'), Node('Lost')]),
                              Node('Lost too')])
    opml = ET.Element('opml', {'version': '2.0'})
    head(opml, tree.text)
    add_outlines(ET.SubElement(opml, 'body'), tree.ideas)
    return document_bytes(opml)


def partial_tree(data):
    """The tree the reading rules give for the events an incremental parser reports before
    the data ends."""
    parser = ET.XMLPullParser(events=('start', 'end'))
    parser.feed(data)
    root = None
    current = None
    content = ''
    for event, element in parser.read_events():
        name = element.tag.lower()
        if event == 'start' and name in ('head', 'outline'):
            node = Node(element.get('text') if name == 'outline' else None,
                        element.get('_note') if name == 'outline' else None)
            node.parent = current
            if root is None:
                root = node
            else:
                current.ideas.append(node)
            current = node
        elif event == 'end' and name == 'outline':
            current = current.parent
        elif event == 'end' and name == 'title' and current is root:
            root.text = element.text or ''
    colour_tree(root)
    return root


# ---------------------------------------------------------------- trees written as OPML

def tree(text, note=None, ideas=(), kind='text', identifier=None, url=None, link_to=None):
    return {'type': kind, 'id': identifier, 'text': text, 'note': note, 'url': url, 'linkTo': link_to,
            'ideas': list(ideas)}


def export_title(node, by_id):
    kind = node['type']
    if kind == 'text':
        return node['text'] or ''
    if kind == 'url':
        return node['url'] or ''
    if kind == 'image':
        return '(image)'
    if kind == 'link':
        target = by_id.get(node['linkTo'])
        return export_title(target, by_id) if target else ''
    return ''


def note_of(node, by_id):
    if node['type'] == 'link':
        target = by_id.get(node['linkTo'])
        return note_of(target, by_id) if target else None
    # The model stores an empty note as none.
    return node['note'] or None


def index_ids(root):
    by_id = {}
    stack = [root]
    while stack:
        node = stack.pop()
        if node.get('id'):
            by_id[node['id']] = node
        stack.extend(node['ideas'])
    return by_id


def forbidden(ch):
    code = ord(ch)
    return (code < 0x20 and ch not in '\t\n\r') or code in (0xFFFE, 0xFFFF) or 0xD800 <= code <= 0xDFFF


ESCAPES = {'&': '&amp;', '"': '&quot;', "'": '&#x27;', '>': '&gt;', '<': '&lt;', '\r': '&#13;'}
ATTRIBUTE_ESCAPES = dict(ESCAPES, **{'\t': '&#9;', '\n': '&#10;'})


def escape(text, attribute):
    table = ATTRIBUTE_ESCAPES if attribute else ESCAPES
    return ''.join(table.get(ch, ch) for ch in text if not forbidden(ch))


def opml_for(root):
    by_id = index_ids(root)
    out = ['<?xml version="1.0" encoding="UTF-8"?>\n',
           '<opml version="1.0"><head><title>', escape(export_title(root, by_id), False),
           '</title></head><body>\n']
    # (node, level, closing): closing entries write the end tag.
    stack = [(child, 1, False) for child in reversed(root['ideas'])]
    while stack:
        node, level, closing = stack.pop()
        if closing:
            out.append('\t' * level + '</outline>\n')
            continue
        out.append('\t' * level + '<outline text="' + escape(export_title(node, by_id), True) + '"')
        note = note_of(node, by_id)
        if note is not None:
            out.append(' _note="' + escape(note, True) + '"')
        if not node['ideas']:
            out.append(' />\n')
            continue
        out.append('>\n')
        stack.append((node, level, True))
        stack.extend((child, level + 1, False) for child in reversed(node['ideas']))
    out.append('</body></opml>')
    return ''.join(out).encode('utf-8')


def export_fixtures():
    fixtures = {}
    # A root without children: the head and "<body>\n" directly followed by the end.
    fixtures['root_only'] = tree('Alone', note='The root note is not written')
    # Escapes in titles and notes; a null note is not written.
    fixtures['escapes'] = tree('Tom & Jerry <3', ideas=[
        tree('Quotes "double" and \'single\'', note='a > b & c < d'),
        tree('No note'),
    ])
    # Line breaks, tabs and carriage returns inside notes and titles are kept as character
    # references; other control characters are dropped.
    fixtures['line_breaks'] = tree('Title\rwith\tcontrols\x01\x0b', ideas=[
        tree('Lines', note='first line\nsecond line\n\tindented\r\nwindows line'),
        tree('Bell\x07 and escape\x1b dropped', note='vertical\x0btab\x0cform feed\x00nul\ufffe\uffff'),
        tree('Multi\nline title'),
    ])
    # Nested levels; pictures, web links and links write their export titles; a link
    # writes its target's note.
    fixtures['nested_kinds'] = tree('Kinds', ideas=[
        tree('Level 1', note='one', identifier='target', ideas=[
            tree('Level 2', ideas=[tree('Level 3', note='three', ideas=[tree('Level 4')])]),
            tree(None, kind='image', note='A picture note'),
        ]),
        tree(None, kind='url', url='https://example.org/?a=1&b=2'),
        tree(None, kind='link', link_to='target'),
        tree('Ünïcødé ✓ 😀'),
    ])
    return fixtures


# ---------------------------------------------------------------- text and HTML outlines

def has_note(node, by_id):
    if node['type'] == 'link':
        target = by_id.get(node['linkTo'])
        return bool(target) and has_note(target, by_id)
    return node['type'] == 'text' and bool(node['note'])


def regex_space(ch):
    # "\s" of the platform's regular expressions: tab, line feed, form feed, carriage
    # return and the separators (Zs, Zl, Zp).
    import unicodedata
    return ch in '\t\n\f\r' or unicodedata.category(ch) in ('Zs', 'Zl', 'Zp')


def text_title(node, by_id):
    title = export_title(node, by_id)
    start = 0
    while start < len(title) and regex_space(title[start]):
        start += 1
    return title[start:]


def pre_order(root):
    stack = [(root, 0)]
    while stack:
        node, level = stack.pop()
        yield node, level
        stack.extend((child, level + 1) for child in reversed(node['ideas']))


def outline_text(root, include_notes):
    """One line per idea, level tabs and the title without leading white space; with notes
    a "(Note n)" line one tab deeper under each idea with a note, and after the outline an
    empty line and per noted idea "\\nNote n: title\\n\\nnote\\n". The last character goes."""
    by_id = index_ids(root)
    out = []
    number = 1
    for node, level in pre_order(root):
        out.append('\t' * level + text_title(node, by_id))
        if include_notes and has_note(node, by_id):
            out.append('\n' + '\t' * (level + 1) + f'(Note {number})')
            number += 1
        out.append('\n')
    if include_notes and number > 1:
        out.append('\n')
        number = 1
        for node, _ in pre_order(root):
            if has_note(node, by_id):
                out.append(f'\nNote {number}: {text_title(node, by_id)}\n\n{note_of(node, by_id)}\n')
                number += 1
    text = ''.join(out)
    return text[:-1] if text else text


def simple_escape(text):
    for old, new in (('&', '&amp;'), ('"', '&quot;'), ("'", '&#x27;'), ('>', '&gt;'), ('<', '&lt;')):
        text = text.replace(old, new)
    return text


def outline_html(root, include_notes):
    """The page frame around the root's item; an item is <p>title</p>, the note in <pre>
    when wanted, and the children as a list."""
    by_id = index_ids(root)

    def item(node):
        parts = ['<p>' + simple_escape(export_title(node, by_id)) + '</p>']
        if include_notes and has_note(node, by_id):
            parts.append('\n<pre>' + simple_escape(note_of(node, by_id)) + '</pre>')
        if node['ideas']:
            parts.append('\n<ul>')
            for child in node['ideas']:
                parts.append('\n<li>' + item(child) + '</li>')
            parts.append('</ul>')
        return ''.join(parts)

    return ('<!DOCTYPE html><html><head><meta charset=utf-8><title>Corvex document</title></head><body>'
            + item(root) + '</body></html>')


def outline_fixtures():
    cases = {
        # The example of the format: Trip, Pack with the note Socks, Go.
        'trip': tree('Trip', ideas=[tree('Pack', note='Socks'), tree('Go')]),
        'no_notes_anywhere': tree('Plain', ideas=[tree('A', ideas=[tree('B')]), tree('C')]),
        'leading_space': tree(' \t Spaced root', note='root note', ideas=[
            tree('\n\u00a0\u2003Indented child', note='  kept  '), tree('x  trailing  ')]),
        'kinds_and_links': tree('Kinds', ideas=[
            tree(None, kind='image', note='A picture note'),
            tree('Target', note='Target note\nsecond line', identifier='t'),
            tree(None, kind='link', link_to='t'),
            tree(None, kind='url', url='https://example.org/<x>&y'),
        ]),
        'single_idea': tree('Just <one> & "only"'),
        'deep': tree('D0', ideas=[tree('D1', note='n1', ideas=[tree('D2', ideas=[tree('D3', note='n3')])])]),
    }
    result = []
    for name, root in cases.items():
        result.append({'name': name, 'tree': root,
                       'text': outline_text(root, False), 'textWithNotes': outline_text(root, True),
                       'html': outline_html(root, False), 'htmlWithNotes': outline_html(root, True)})
    return result


# ---------------------------------------------------------------- fuzz corpus

def nested_document(depth, with_head):
    """Outlines nested `depth` deep (under a head's root when with_head)."""
    opening = ''.join(f'<outline text="level {i}">' for i in range(depth))
    closing = '</outline>' * depth
    head_part = '<head><title>Deep</title></head>' if with_head else ''
    return f'<?xml version="1.0" encoding="UTF-8"?>\n<opml version="1.0">{head_part}<body>{opening}{closing}</body></opml>'.encode()


def corpus(import_files, export_files):
    files = {}
    for name, data in import_files.items():
        files[f'valid_{name}.opml'] = data
    for name, data in export_files.items():
        files[f'written_{name}.opml'] = data
    whole = import_files['outliner_nested']
    for cut in (10, 60, len(whole) // 3, len(whole) // 2, len(whole) - 20, len(whole) - 1):
        files[f'truncated_{cut}.opml'] = whole[:cut]
    files['empty.opml'] = b''
    files['not_xml.opml'] = b'this is not xml at all'
    files['head_only.opml'] = b'<opml><head><title>t</title></head></opml>'

    # Entity bombs: nested expansion, and one large entity referenced many times.
    lol = ['<?xml version="1.0"?>\n<!DOCTYPE opml [<!ENTITY lol "lol">']
    previous = 'lol'
    for i in range(1, 10):
        lol.append(f'<!ENTITY lol{i} "{("&" + previous + ";") * 10}">')
        previous = f'lol{i}'
    lol.append(']><opml><head><title>&lol9;</title></head><body><outline text="&lol9;"/></body></opml>')
    files['entity_billion_laughs.opml'] = ''.join(lol).encode()
    wide = 'a' * 4000
    files['entity_quadratic_attribute.opml'] = (
        f'<?xml version="1.0"?>\n<!DOCTYPE opml [<!ENTITY a "{wide}">]><opml><body><outline text="'
        + '&a;' * 3000 + '"/></body></opml>').encode()
    files['entity_quadratic_text.opml'] = (
        f'<?xml version="1.0"?>\n<!DOCTYPE opml [<!ENTITY a "{wide}">]><opml><head><title>'
        + '&a;' * 3000 + '</title></head></opml>').encode()
    files['attribute_defaults.opml'] = (
        f'<?xml version="1.0"?>\n<!DOCTYPE opml [<!ATTLIST outline text CDATA "{wide}" _note CDATA "{wide}">]>'
        '<opml><head><title>t</title></head><body>' + '<outline/>' * 3000 + '</body></opml>').encode()
    files['entity_small_allowed.opml'] = (
        '<?xml version="1.0"?>\n<!DOCTYPE opml [<!ENTITY co "Company &amp; Sons">]>'
        '<opml><head><title>&co;</title></head><body><outline text="&co; report" _note="by &co;"/></body></opml>').encode()
    # Entities the reader's own expansion limit (4096 characters for one reference, counting
    # the values it walks through as written, "&amp;" as five) would stop halfway, after some
    # ideas were read: refused whole before any idea. And some just within the limit.
    laughs_dtd = ''.join(lol[:-1]) + ']>'
    files['entity_laughs_after_outlines.opml'] = (
        laughs_dtd + '<opml><head><title>t</title></head><body><outline text="one"/><outline text="two"/>'
        '<outline text="&lol9;"/></body></opml>').encode()
    files['entity_predefined_heavy.opml'] = (
        '<?xml version="1.0"?>\n<!DOCTYPE opml [<!ENTITY amps "' + '&amp;' * 1000 + '">]>'
        '<opml><head><title>t</title></head><body><outline text="one"/><outline text="&amps;"/></body></opml>').encode()
    files['entity_astral_references.opml'] = (
        '<?xml version="1.0"?>\n<!DOCTYPE opml [<!ENTITY smiles "' + '&#x1F600;' * 3000 + '">]>'
        '<opml><head><title>t</title></head><body><outline text="one"/><outline text="&smiles;"/></body></opml>'
    ).encode()
    files['entity_unused_oversized.opml'] = (
        '<?xml version="1.0"?>\n<!DOCTYPE opml [<!ENTITY big "' + 'b' * 5000 + '">]>'
        '<opml><head><title>t</title></head><body><outline text="plain"/></body></opml>').encode()
    files['entity_nested_within_limit.opml'] = (
        '<?xml version="1.0"?>\n<!DOCTYPE opml [<!ENTITY a "' + 'a' * 2000 + '"><!ENTITY b "&a;&a;">]>'
        '<opml><head><title>t</title></head><body><outline text="&b;"/></body></opml>').encode()
    files['entity_recursive.opml'] = (
        '<?xml version="1.0"?>\n<!DOCTYPE opml [<!ENTITY a "&b;"><!ENTITY b "&a;">]>'
        '<opml><body><outline text="&a;"/></body></opml>').encode()

    # External entities and a DOCTYPE pointing outside: never read.
    files['doctype_external_entity.opml'] = (
        '<?xml version="1.0"?>\n<!DOCTYPE opml [<!ENTITY secret SYSTEM "file:///etc/passwd">'
        '<!ENTITY remote SYSTEM "http://127.0.0.1:9/x">]>'
        '<opml><head><title>&secret;</title></head><body><outline text="a&remote;"/></body></opml>').encode()
    files['doctype_external_subset.opml'] = (
        '<?xml version="1.0"?>\n<!DOCTYPE opml SYSTEM "file:///etc/passwd">'
        '<opml><head><title>t</title></head><body><outline text="x"/></body></opml>').encode()
    files['doctype_parameter_entity.opml'] = (
        '<?xml version="1.0"?>\n<!DOCTYPE opml [<!ENTITY % ext SYSTEM "file:///etc/passwd"> %ext;]>'
        '<opml><body><outline text="x"/></body></opml>').encode()

    # Nesting at and past the maximum depth, with and without a head.
    files['depth_at_limit_head.opml'] = nested_document(MAX_DEPTH - 1, True)
    files['depth_past_limit_head.opml'] = nested_document(MAX_DEPTH, True)
    files['depth_at_limit_bare.opml'] = nested_document(MAX_DEPTH, False)
    files['depth_past_limit_bare.opml'] = nested_document(MAX_DEPTH + 1, False)
    files['depth_far_past_limit.opml'] = nested_document(5000, True)

    # Control characters: raw ones make the document not well-formed, references to them
    # are refused, the allowed ones stand raw and as references.
    files['control_raw.opml'] = (
        b'<?xml version="1.0"?>\n<opml><head><title>a\x01b</title></head><body><outline text="x\x02y"/></body></opml>')
    files['control_references.opml'] = (
        b'<?xml version="1.0"?>\n<opml><head><title>t&#1;</title></head><body>'
        b'<outline text="tab&#9;lf&#10;cr&#13;" _note="raw\ttab\nlf\rcr"/><outline text="&#x1F;"/></body></opml>')

    # Encodings: unknown names, bytes that do not decode, a declaration that contradicts the
    # bytes, UTF-16 without a byte-order mark.
    body = '<opml><head><title>Caf\u00e9</title></head><body><outline text="\u00fcber"/></body></opml>'
    files['encoding_unknown.opml'] = ('<?xml version="1.0" encoding="x-no-such-encoding"?>\n' + body).encode()
    files['encoding_bad_utf8.opml'] = (b'<?xml version="1.0" encoding="UTF-8"?>\n<opml><head><title>a\xff\xfeb'
                                       b'</title></head><body><outline text="x\xc3"/></body></opml>')
    files['encoding_declared_utf16_is_utf8.opml'] = ('<?xml version="1.0" encoding="UTF-16"?>\n' + body).encode()
    files['encoding_utf16le_no_bom.opml'] = ('<?xml version="1.0" encoding="UTF-16LE"?>\n' + body).encode('utf-16-le')
    files['encoding_windows1252.opml'] = ('<?xml version="1.0" encoding="windows-1252"?>\n' + body + '\u20ac').encode('cp1252')
    files['encoding_shift_jis.opml'] = ('<?xml version="1.0" encoding="Shift_JIS"?>\n'
                                        '<opml><head><title>\u65e5\u672c</title></head></opml>').encode('shift_jis')

    # Odd structure: outline ends without starts, heads inside outlines, namespaces, CDATA.
    files['structure_head_in_outline.opml'] = (
        b'<opml><body><outline text="r"><head><title>inner</title></head><outline text="c"/></outline></body></opml>')
    files['structure_two_heads.opml'] = (
        b'<opml><head><title>one</title></head><head><title>two</title></head><body><outline text="x"/></body></opml>')
    files['structure_namespaced.opml'] = (
        b'<o:opml xmlns:o="urn:x"><o:head><o:title>ns</o:title></o:head><body><outline text="plain"/></body></o:opml>')
    files['structure_cdata_title.opml'] = (
        b'<opml><head><title><![CDATA[<b>bold</b>]]> tail</title></head><body><outline text="x"/></body></opml>')
    files['structure_title_with_child.opml'] = (
        b'<opml><head><title>before<b>x</b>after</title></head><body><outline text="x"/></body></opml>')
    files['structure_duplicate_attribute.opml'] = (
        b'<opml><head><title>t</title></head><body><outline text="a" text="b"/></body></opml>')
    files['structure_wide.opml'] = (
        b'<opml><head><title>wide</title></head><body>'
        + b''.join(b'<outline text="%d"/>' % i for i in range(3000)) + b'</body></opml>')
    return files


# ---------------------------------------------------------------- main

def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    mode = 'wb' if isinstance(data, bytes) else 'w'
    with open(path, mode, **({} if mode == 'wb' else {'encoding': 'utf-8', 'newline': ''})) as handle:
        handle.write(data)


def main():
    for folder in (IMPORT_DIR, EXPORT_DIR, CORPUS_DIR):
        if os.path.isdir(folder):
            shutil.rmtree(folder)

    imports = import_fixtures()
    import_bytes = {}
    for name, (data, expected) in imports.items():
        write(os.path.join(IMPORT_DIR, name + '.opml'), data)
        write(os.path.join(IMPORT_DIR, name + '.expected.json'),
              json.dumps(expected.expected(), ensure_ascii=False, indent=1) + '\n')
        import_bytes[name] = data

    exports = export_fixtures()
    export_bytes = {}
    for name, root in exports.items():
        data = opml_for(root)
        # The written files are XML that a conforming parser reads.
        ET.fromstring(data)
        write(os.path.join(EXPORT_DIR, name + '.tree.json'), json.dumps(root, ensure_ascii=False, indent=1) + '\n')
        write(os.path.join(EXPORT_DIR, name + '.opml'), data)
        export_bytes[name] = data

    write(os.path.join(OPML_DIR, 'outlines.json'),
          json.dumps(outline_fixtures(), ensure_ascii=False, indent=1) + '\n')

    for name, data in corpus(import_bytes, export_bytes).items():
        write(os.path.join(CORPUS_DIR, name), data)


if __name__ == '__main__':
    main()
