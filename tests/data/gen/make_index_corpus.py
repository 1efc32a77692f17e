#!/usr/bin/env python3
"""Writes the seed corpus of the JSON index fuzz target:

  fuzz/corpus/fuzz_index/   Dropbox index files, good and broken

Written from the stored format alone (the index keys "fileFormatVersion", "appInstance" and
"proxies", the summary keys of a proxy, the JSON coder's value forms, Base64 and PNG), with
Python's standard library and without the program's code.

Run with /usr/bin/python3 from anywhere; the folder is emptied and written again.
"""

import base64
import json
import os
import shutil
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.normpath(os.path.join(HERE, '..', '..', '..'))
CORPUS_DIR = os.path.join(REPO, 'fuzz', 'corpus', 'fuzz_index')

APP_INSTANCE = 'MAC_1796638500.123456'
CREATED = '2026-12-07 10:15:00 GMT'
MODIFIED = '2026-12-08 11:30:00 GMT'


def png_rgb(width, height, pixels):
    """An 8-bit RGB PNG (colour type 2, no filter) of `pixels`, rows top to bottom."""
    raw = b''.join(b'\x00' + b''.join(bytes(pixels[y * width + x]) for x in range(width)) for y in range(height))

    def chunk(tag, data):
        return struct.pack('>I', len(data)) + tag + data + struct.pack('>I', zlib.crc32(tag + data) & 0xFFFFFFFF)

    header = struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0)
    return b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b'')


PICTURE = base64.b64encode(png_rgb(2, 2, [(12, 34, 56), (78, 90, 123), (200, 100, 50), (5, 250, 125)])).decode('ascii')


def proxy(name, text='Root', count=1, **extra):
    entry = {'filename': name, 'identifier': 'id1796638500_%s' % (count,), 'text': text,
             'dateCreated': CREATED, 'dateModified': MODIFIED, 'itemCount': count,
             'hasNote': isinstance(count, int) and count % 2 == 0, 'hasWebLink': False, 'ideaType': 1}
    entry.update(extra)
    return entry


def index(proxies, version=1, app=APP_INSTANCE):
    top = {}
    if version is not None:
        top['fileFormatVersion'] = version
    if app is not None:
        top['appInstance'] = app
    top['proxies'] = proxies
    return top


def text(value):
    return json.dumps(value, ensure_ascii=False, separators=(',', ':')).encode('utf-8')


def cases():
    good = [proxy('id1796638500_1.crvx', 'Garden', 3),
            proxy('id1796638500_2.crvx', 'Kitchen', 12, color='green0'),
            proxy('id1796638500_3.crvx', 'Attic', 1,
                  iconImage={'name': 'rocket', 'category': 'Travel & Places', 'symbol': '\U0001F680'})]
    yield 'valid_three.json', text(index(good))
    yield 'valid_design_example.json', text(index([proxy('id1796638500_1.crvx', 'Root', 1)]))
    yield 'valid_with_picture.json', text(index([proxy('pic.crvx', 'Picture', 1, image=PICTURE, ideaType=2)]))
    yield 'valid_no_app_instance.json', text(index(good, app=None))
    yield 'valid_empty_list.json', text(index([]))
    yield 'valid_many.json', text(index([proxy('id%d_1.crvx' % i, 'Map number %d' % i, i % 50) for i in range(300)]))
    yield 'valid_unicode.json', text(index([proxy('caf\u00e9 \u2603.crvx', 'Caf\u00e9 \U0001F600 \u05e9\u05dc\u05d5\u05dd', 2)]))
    yield 'valid_pretty.json', json.dumps(index(good), indent=2).encode('utf-8')

    # Versions.
    yield 'version_0.json', text(index(good, version=0))
    yield 'version_2.json', text(index(good, version=2))
    yield 'version_missing.json', text(index(good, version=None))
    yield 'version_text.json', text(index(good, version='1'))
    yield 'version_true.json', text(index(good, version=True))
    yield 'version_real.json', text(index(good, version=1.0))
    yield 'version_real_fraction.json', text(index(good, version=1.5))
    yield 'version_negative.json', text(index(good, version=-1))
    yield 'version_huge.json', b'{"fileFormatVersion":1e400,"proxies":[]}'
    yield 'version_beyond_int64.json', b'{"fileFormatVersion":18446744073709551617,"proxies":[]}'
    yield 'version_int32_wrap.json', b'{"fileFormatVersion":4294967297,"proxies":[]}'
    yield 'version_null.json', b'{"fileFormatVersion":null,"proxies":[]}'

    # Proxies of odd shapes.
    yield 'proxy_without_filename.json', text(index([proxy('a.crvx'), {'text': 'no file'}, proxy('b.crvx')]))
    yield 'proxy_filename_empty.json', text(index([proxy('')]))
    yield 'proxy_filename_path.json', text(index([proxy('a/b/c.crvx'), proxy('/abs/d.crvx'), proxy('trailing/')]))
    yield 'proxy_filename_prefixed.json', text(index([proxy('dropbox:/a.crvx'), proxy('iCloud:/b.crvx'),
                                                      proxy('temp:/x:/y.crvx'), proxy(':/'), proxy('x:/')]))
    yield 'proxy_filename_traversal.json', text(index([proxy('../../etc/passwd'), proxy('..'), proxy('.')]))
    yield 'proxy_filename_not_text.json', text(index([proxy(12), proxy(None), proxy(['a']), proxy({'a': 1})]))
    yield 'proxy_filename_nul.json', text(index([proxy('a\u0000b.crvx')]))
    yield 'proxy_duplicates.json', text(index([proxy('a.crvx', 'one'), proxy('a.crvx', 'two')]))
    yield 'proxy_not_objects.json', text(index([1, 'two', None, [proxy('a.crvx')], True]))
    yield 'proxies_object.json', text(index(proxy('single.crvx')))
    yield 'proxies_text.json', text(index('proxies'))
    yield 'proxies_null.json', b'{"fileFormatVersion":1,"proxies":null}'
    yield 'proxies_missing.json', b'{"fileFormatVersion":1}'
    yield 'proxy_class_key.json', text(index([dict(proxy('a.crvx'), **{'@class': 'Idea'}),
                                              dict(proxy('b.crvx'), **{'@class': 'NoSuchClass'}),
                                              dict(proxy('c.crvx'), **{'@class': 5})]))
    yield 'proxy_wrapped_element.json', text(index([{'ideaProxy': proxy('a.crvx')}]))

    # Values of the wrong type or range.
    yield 'values_wrong_types.json', text(index([proxy('a.crvx', text=5, count='many', hasNote='yes', ideaType=[1],
                                                       dateCreated=7, dateModified={'x': 1}, color=3, image=12,
                                                       iconImage='rocket', hasWebLink=None)]))
    yield 'values_out_of_range.json', text(index([proxy('a.crvx', count=2 ** 70, ideaType=-3),
                                                  proxy('b.crvx', count=-(2 ** 63) - 1, ideaType=2 ** 64),
                                                  proxy('c.crvx', count=1e308, ideaType=0.5)]))
    yield 'values_dates_malformed.json', text(index([proxy('a.crvx', dateCreated='2026-12-07 10:15:30 GMT',
                                                           dateModified='yesterday'),
                                                     proxy('b.crvx', dateCreated='2026-02-30 10:15:00 GMT',
                                                           dateModified='2026-12-07 25:61:00 GMT'),
                                                     proxy('c.crvx', dateCreated='', dateModified='9999-12-31 23:59:00 GMT')]))
    yield 'values_image_not_png.json', text(index([proxy('a.crvx', image=base64.b64encode(b'not a picture').decode())]))
    yield 'values_image_bad_base64.json', text(index([proxy('a.crvx', image='@@@###')]))
    yield 'values_image_truncated_png.json', text(index([proxy('a.crvx', image=PICTURE[:40])]))
    yield 'values_icon_partial.json', text(index([proxy('a.crvx', iconImage={'symbol': 'x'}),
                                                  proxy('b.crvx', iconImage={}),
                                                  proxy('c.crvx', iconImage={'name': None, 'category': 1})]))
    yield 'values_color_unknown.json', text(index([proxy('a.crvx', color='no such colour'), proxy('b.crvx', color='')]))
    yield 'values_long_text.json', text(index([proxy('a.crvx', text='x' * 100000)]))

    # Not an index at all.
    yield 'root_wrapped.json', text({'indexJSONDocument': index(good)})
    yield 'root_array.json', text([index(good)])
    yield 'root_text.json', b'"proxies"'
    yield 'root_number.json', b'1'
    yield 'root_null.json', b'null'
    yield 'empty.bin', b''
    yield 'whitespace.bin', b' \n\t '
    yield 'truncated.json', text(index(good))[:-7]
    yield 'trailing_garbage.json', text(index(good)) + b'}}'
    yield 'duplicate_keys.json', b'{"fileFormatVersion":2,"fileFormatVersion":1,"proxies":[],"proxies":[{"filename":"a.crvx"}]}'
    yield 'invalid_utf8.json', b'{"fileFormatVersion":1,"proxies":[{"filename":"a\xff\xfe.crvx"}]}'
    yield 'invalid_utf8_key.json', b'{"fileFormatVersion":1,"prox\xc3\x28ies":[]}'
    yield 'utf16_bom.json', '\ufeff{"fileFormatVersion":1,"proxies":[]}'.encode('utf-16-le')
    depth = 3000
    yield 'deep_in_proxy.json', (b'{"fileFormatVersion":1,"proxies":[{"filename":"a.crvx","text":' +
                                 b'[' * depth + b']' * depth + b'}]}')
    yield 'deep_icons.json', (b'{"fileFormatVersion":1,"proxies":[{"filename":"a.crvx","iconImage":' +
                              b'{"iconImage":' * 50 + b'{}' + b'}' * 50 + b'}]}')
    yield 'zlib_compressed.bin', zlib.compress(text(index(good)))


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
