#!/usr/bin/env python3
"""Writes the seed corpus of the binary index fuzz target:

  fuzz/corpus/fuzz_binary_index/   index files of the synced folder, good and broken

An index is a keyed archive (binary property list, "$archiver" NSKeyedArchiver, "$version"
100000) whose "$top" holds "fileFormatVersion", "appInstance" and "proxyList", an array of
"IdeaProxy" objects with the summary keys ("filename", "identifier", "text", "color",
"image2" (a "PortableImage" whose single data object lies under "$0"), "dateCreated",
"dateModified" (dates as "NS.time", seconds since 2001-01-01), "itemCount", "iconImage"
(an "IconImage" with "name", "category", "symbol"), "hasNote", "hasWebLink", "ideaType").
The archives are laid out here from that public layout with plistlib, never with the
program's code: valid indexes, truncations, wrong types, huge counts and broken property
lists.

Standard library only; the output is deterministic. Run with /usr/bin/python3 from anywhere;
the folder is emptied and written again.
"""

import os
import plistlib
import shutil
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.normpath(os.path.join(HERE, '..', '..', '..'))
CORPUS_DIR = os.path.join(REPO, 'fuzz', 'corpus', 'fuzz_binary_index')

APP_INSTANCE = 'MAC_1796638500.123456'
CREATED = 818334900.0   # 2026-12-07 10:15:00 UTC, seconds since 2001-01-01
MODIFIED = 818421000.0  # 2026-12-08 11:30:00 UTC


def png_rgb(width, height, pixels, declared=None):
    """An 8-bit RGB PNG of `pixels`, rows top to bottom; `declared` overrides the header size."""
    raw = b''.join(b'\x00' + b''.join(bytes(pixels[y * width + x]) for x in range(width)) for y in range(height))

    def chunk(tag, data):
        return struct.pack('>I', len(data)) + tag + data + struct.pack('>I', zlib.crc32(tag + data) & 0xFFFFFFFF)

    w, h = declared or (width, height)
    header = struct.pack('>IIBBBBB', w, h, 8, 2, 0, 0, 0)
    return b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b'')


PICTURE = png_rgb(2, 2, [(12, 34, 56), (78, 90, 123), (200, 100, 50), (5, 250, 125)])


class Raw:
    """A value placed under a key exactly as given (a UID, a number, anything)."""

    def __init__(self, value):
        self.value = value


class Archive:
    """A keyed archive under construction: "$objects" with "$null" first."""

    def __init__(self):
        self.objects = ['$null']
        self.classes = {}

    def add(self, entry):
        self.objects.append(entry)
        return plistlib.UID(len(self.objects) - 1)

    def cls(self, name, supers=('NSObject',)):
        if name not in self.classes:
            self.classes[name] = self.add({'$classname': name, '$classes': [name] + list(supers)})
        return self.classes[name]

    def string(self, text):
        return self.add(text)

    def keyed(self, value):
        """What goes under a key: a Raw value as it is, a text as a reference to it."""
        return value.value if isinstance(value, Raw) else self.string(value)

    def data(self, raw):
        return self.add(raw)

    def date(self, seconds):
        return self.add({'$class': self.cls('NSDate'), 'NS.time': seconds})

    def array(self, uids, name='NSArray'):
        supers = ('NSArray', 'NSObject') if name != 'NSArray' else ('NSObject',)
        return self.add({'$class': self.cls(name, supers), 'NS.objects': list(uids)})

    def obj(self, name, values):
        entry = {'$class': self.cls(name)}
        entry.update(values)
        return self.add(entry)

    def portable_image(self, raw):
        return self.obj('PortableImage', {'$0': self.data(raw)})

    def icon(self, name='rocket', category='Travel & Places', symbol='\U0001F680'):
        return self.obj('IconImage', {'name': self.string(name), 'category': self.string(category),
                                      'symbol': self.string(symbol)})

    def proxy(self, name, text='Root', count=1, picture=None, color=None, icon=False, **override):
        values = {'filename': self.string(name), 'identifier': self.string('id1796638500_%d' % count),
                  'text': self.keyed(text)}
        if color is not None:
            values['color'] = self.keyed(color)
        if picture is not None:
            values['image2'] = self.portable_image(picture)
        values.update({'dateCreated': self.date(CREATED), 'dateModified': self.date(MODIFIED),
                       'itemCount': count, 'iconImage': self.icon() if icon else plistlib.UID(0),
                       'hasNote': count % 2 == 0, 'hasWebLink': False, 'ideaType': 1})
        for key, value in override.items():
            if value is None:
                values.pop(key, None)
            else:
                values[key] = self.keyed(value)
        return self.obj('IdeaProxy', values)

    def root(self, proxy_list, version=1, app=APP_INSTANCE):
        top = {}
        if version is not None:
            top['fileFormatVersion'] = version.value if isinstance(version, Raw) else version
        if app is not None:
            top['appInstance'] = self.string(app)
        if proxy_list is not None:
            top['proxyList'] = proxy_list
        return {'$version': 100000, '$archiver': 'NSKeyedArchiver', '$top': top, '$objects': self.objects}


def dump(root):
    return plistlib.dumps(root, fmt=plistlib.FMT_BINARY, sort_keys=False)


def index_of(make_proxies, **root_args):
    a = Archive()
    uids = make_proxies(a)
    return dump(a.root(a.array(uids), **root_args))


def three(a):
    return [a.proxy('id1796638500_1.crvx', 'Garden', 3, picture=PICTURE),
            a.proxy('id1796638500_2.crvx', 'Kitchen', 12, color='green0'),
            a.proxy('id1796638500_3.crvx', 'Attic', 1, icon=True)]


def with_trailer(data, **changes):
    """The same property list with fields of its 32-byte trailer replaced."""
    body, trailer = data[:-32], data[-32:]
    fields = list(struct.unpack('>6xBBQQQ', trailer))
    names = ['offset_size', 'ref_size', 'count', 'top', 'table']
    for name, value in changes.items():
        fields[names.index(name)] = value
    return body + struct.pack('>6xBBQQQ', *fields)


def cases():
    good = index_of(three)
    yield 'valid_three.bin', good
    yield 'valid_one.bin', index_of(lambda a: [a.proxy('id1796638500_1.crvx')])
    yield 'valid_empty_list.bin', index_of(lambda a: [])
    yield 'valid_no_app_instance.bin', index_of(three, app=None)
    yield 'valid_mutable_array.bin', (lambda a: dump(a.root(a.array(three(a), 'NSMutableArray'))))(Archive())
    yield 'valid_picture_as_plain_data.bin', index_of(
        lambda a: [a.proxy('pic.crvx', 'Picture', 1, image2=Raw(a.data(PICTURE)))])
    yield 'valid_unicode.bin', index_of(
        lambda a: [a.proxy('caf\u00e9 \u2603.crvx', 'Caf\u00e9 \U0001F600 \u05e9\u05dc\u05d5\u05dd', 2)])
    yield 'valid_shared_proxy.bin', (lambda a: (lambda p: dump(a.root(a.array([p, p, p]))))(
        a.proxy('shared.crvx', 'Shared', 4, picture=PICTURE)))(Archive())
    yield 'valid_prefixed_names.bin', index_of(
        lambda a: [a.proxy('iCloud:/a.crvx'), a.proxy('dropbox:/b.crvx', count=2), a.proxy('x/y/c.crvx', count=3)])

    # Versions.
    yield 'version_0.bin', index_of(three, version=0)
    yield 'version_2.bin', index_of(three, version=2)
    yield 'version_missing.bin', index_of(three, version=None)
    yield 'version_negative.bin', index_of(three, version=-1)
    yield 'version_huge.bin', index_of(three, version=2 ** 63 - 1)
    yield 'version_real.bin', index_of(three, version=1.0)
    yield 'version_bool.bin', index_of(three, version=True)
    yield 'version_text.bin', (lambda a: dump(a.root(a.array(three(a)), version=Raw(a.string('1')))))(Archive())

    # Wrong types.
    yield 'list_missing.bin', (lambda a: dump(a.root(None)))(Archive())
    yield 'list_is_text.bin', (lambda a: dump(a.root(a.string('proxyList'))))(Archive())
    yield 'list_is_number.bin', (lambda a: dump(a.root(17)))(Archive())
    yield 'list_is_proxy.bin', (lambda a: dump(a.root(a.proxy('single.crvx'))))(Archive())
    yield 'list_is_dictionary.bin', (lambda a: dump(a.root(a.add(
        {'$class': a.cls('NSDictionary'), 'NS.keys': [a.string('k')], 'NS.objects': three(a)[:1]}))))(Archive())
    yield 'list_holds_strings_and_nulls.bin', index_of(
        lambda a: [a.string('not a proxy'), plistlib.UID(0), a.proxy('a.crvx'), a.date(0.0)])
    yield 'proxy_without_filename.bin', index_of(
        lambda a: [a.proxy('a.crvx'), a.proxy('gone.crvx', filename=None), a.proxy('b.crvx', count=2)])
    yield 'proxy_values_wrong_types.bin', index_of(lambda a: [a.proxy(
        'a.crvx', filename=Raw(12), text=Raw(a.data(b'text as data')), itemCount=Raw(a.string('many')),
        dateCreated=Raw(a.string('2026-12-07')), dateModified=Raw(3), hasNote=Raw(a.string('yes')),
        ideaType=Raw(a.array([])), color=Raw(5), image2=Raw(7), iconImage=Raw(a.string('rocket')))])
    yield 'proxy_values_out_of_range.bin', index_of(lambda a: [
        a.proxy('a.crvx', itemCount=Raw(2 ** 63 - 1), ideaType=Raw(-3)),
        a.proxy('b.crvx', itemCount=Raw(-(2 ** 63)), ideaType=Raw(2 ** 31)),
        a.proxy('c.crvx', itemCount=Raw(1e308), ideaType=Raw(0.5))])
    yield 'proxy_dates_odd.bin', index_of(lambda a: [
        a.proxy('a.crvx', dateCreated=Raw(a.add({'$class': a.cls('NSDate'), 'NS.time': float('nan')}))),
        a.proxy('b.crvx', dateModified=Raw(a.add({'$class': a.cls('NSDate'), 'NS.time': 1e300}))),
        a.proxy('c.crvx', dateCreated=Raw(a.add({'$class': a.cls('NSDate'), 'NS.time': a.string('now')}))),
        a.proxy('d.crvx', dateModified=Raw(a.add({'$class': a.cls('NSDate')})))])
    yield 'proxy_unknown_class.bin', index_of(lambda a: [a.obj('NSEvilThing', {'filename': a.string('x.crvx')}),
                                                         a.obj('Idea', {'text': a.string('an idea')})])
    yield 'proxy_class_not_a_class.bin', index_of(lambda a: [a.add({'$class': a.string('IdeaProxy'),
                                                                    'filename': a.string('x.crvx')})])
    yield 'proxy_refers_to_itself.bin', (lambda a: (lambda uid: (a.objects[uid.data].update(
        {'text': uid, 'iconImage': uid}), dump(a.root(a.array([uid]))))[1])(a.proxy('self.crvx')))(Archive())
    yield 'list_contains_itself.bin', (lambda a: (lambda uid: (a.objects[uid.data]['NS.objects'].append(uid),
                                                               dump(a.root(uid)))[1])(a.array([a.proxy('a.crvx')])))(
        Archive())
    yield 'uid_out_of_range.bin', index_of(lambda a: [a.proxy('a.crvx', text=Raw(plistlib.UID(9999))),
                                                      plistlib.UID(123456)])

    # Pictures.
    yield 'image2_not_a_picture.bin', index_of(lambda a: [a.proxy('a.crvx', picture=b'not a picture')])
    yield 'image2_truncated_png.bin', index_of(lambda a: [a.proxy('a.crvx', picture=PICTURE[:40])])
    yield 'image2_bad_crc.bin', index_of(lambda a: [a.proxy('a.crvx', picture=PICTURE[:-5] + b'\x00' + PICTURE[-4:])])
    yield 'image2_huge_declared_size.bin', index_of(
        lambda a: [a.proxy('a.crvx', picture=png_rgb(1, 1, [(1, 2, 3)], declared=(60000, 60000)))])
    yield 'image2_zero_size.bin', index_of(lambda a: [a.proxy('a.crvx', picture=png_rgb(1, 1, [(1, 2, 3)],
                                                                                          declared=(0, 0)))])
    yield 'image2_empty_data.bin', index_of(lambda a: [a.proxy('a.crvx', picture=b'')])
    yield 'image2_data_object_is_text.bin', index_of(lambda a: [a.proxy('a.crvx', image2=Raw(
        a.obj('PortableImage', {'$0': a.string('picture')})))])
    yield 'image2_without_data_object.bin', index_of(lambda a: [a.proxy('a.crvx', image2=Raw(
        a.obj('PortableImage', {})))])

    # Huge counts.
    yield 'huge_list_of_one_shared_proxy.bin', (lambda a: (lambda p: dump(a.root(a.array([p] * 20000))))(
        a.proxy('many.crvx', 'Many', 5)))(Archive())
    yield 'huge_text.bin', index_of(lambda a: [a.proxy('a.crvx', 'x' * 200000)])

    # Broken property lists.
    for cut in (0, 8, 40, len(good) // 3, len(good) // 2, len(good) - 33, len(good) - 1):
        yield 'truncated_at_%d.bin' % cut, good[:cut]
    yield 'trailer_count_huge.bin', with_trailer(good, count=2 ** 62)
    yield 'trailer_top_beyond.bin', with_trailer(good, top=10 ** 6)
    yield 'trailer_table_beyond.bin', with_trailer(good, table=len(good) * 4)
    yield 'trailer_ref_size_zero.bin', with_trailer(good, ref_size=0)
    yield 'trailer_offset_size_nine.bin', with_trailer(good, offset_size=9)
    # One array object at offset 8 claiming 2^31 - 1 elements, its offset table at 14.
    yield 'array_count_huge.bin', b'bplist00' + b'\xaf\x12\x7f\xff\xff\xff' + b'\x08' + struct.pack(
        '>6xBBQQQ', 1, 1, 1, 0, 14)
    yield 'not_keyed_plain_plist.bin', plistlib.dumps({'proxyList': ['a.crvx']}, fmt=plistlib.FMT_BINARY)
    yield 'not_keyed_xml_plist.bin', dump(Archive().root(None)).replace(b'bplist00', b'<?xml v')
    yield 'wrong_archiver.bin', (lambda a: dump(dict(a.root(a.array(three(a))), **{'$archiver': 'Other'})))(Archive())
    yield 'objects_not_array.bin', dump({'$version': 100000, '$archiver': 'NSKeyedArchiver',
                                         '$top': {'proxyList': plistlib.UID(1)}, '$objects': {'a': 1}})
    yield 'empty.bin', b''
    yield 'json_index.bin', b'{"fileFormatVersion":1,"proxies":[]}'


def main():
    if os.path.isdir(CORPUS_DIR):
        shutil.rmtree(CORPUS_DIR)
    os.makedirs(CORPUS_DIR)
    count = 0
    for name, data in cases():
        with open(os.path.join(CORPUS_DIR, name), 'wb') as out:
            out.write(data)
        count += 1
    print('wrote %d files to %s' % (count, os.path.relpath(CORPUS_DIR, REPO)))


if __name__ == '__main__':
    main()
