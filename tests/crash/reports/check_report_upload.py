#!/usr/bin/env python3
"""Checks one report upload as the server received it, with Python's own email, gzip and json
modules and nm.

  check_report_upload.py <body file> <boundary> <report id> <crash file> <probe symbol>

The body must parse as multipart/form-data with "api_key", "report_id" (= <report id>) and
gzipped parts for the metadata, the image list, the crash file and its ".symbolicated"
companion. For every frame of the crashed thread inside a listed image, the library must be
the image's file name, and the symbolicated name a text symbol (nm types t, T, W with their
sizes; nm -D for stripped files) whose extent holds the frame's address in its image (minus
one for return addresses), or none when no symbol's does; the crashed thread must hold
<probe symbol>. Prints "ok", or the first fault and exit 1.
"""

import gzip
import json
import os
import subprocess
import sys


def fail(text):
    print(text)
    sys.exit(1)


def parts_of(body, boundary):
    marker = b'--' + boundary
    if not body.startswith(b'MIME-Version: 1.0\r\n') or not body.endswith(marker + b'--\r\n'):
        fail('the body does not start or end as a multipart body')
    parts = {}
    for chunk in body.split(marker)[1:-1]:
        if not chunk.startswith(b'\r\n') or not chunk.endswith(b'\r\n'):
            fail('a part without its line breaks')
        head, _, content = chunk[2:-2].partition(b'\r\n\r\n')
        headers = dict(line.split(b': ', 1) for line in head.split(b'\r\n'))
        disposition = headers[b'Content-Disposition'].decode()
        name = disposition.split('name="')[1].split('"')[0]
        parts[name] = (headers.get(b'Content-Type', b'').decode(), content)
    return parts


def records(data, tolerant=False):
    """The lines as objects; `tolerant` skips a line a crash cut short (the image list is
    still being written on its own queue when a run crashes early)."""
    parsed = []
    for line in data.split(b'\n'):
        if not line:
            continue
        try:
            parsed.append(json.loads(line.decode('utf-8')))
        except ValueError:
            if not tolerant:
                raise
    return parsed


def text_symbols(path):
    """(start, size, name) of the file's sized text symbols."""
    def listing(dynamic):
        args = ['nm', '-C', '-S', '--defined-only'] + (['-D'] if dynamic else []) + [path]
        out = subprocess.run(args, capture_output=True, text=True).stdout
        found = []
        for line in out.splitlines():
            bits = line.split(' ', 3)
            if len(bits) == 4 and bits[2] in 'tTwW' and bits[0] and bits[1]:
                found.append((int(bits[0], 16), int(bits[1], 16), bits[3].split('@')[0]))
        return found
    return listing(False) or listing(True)


def main():
    body_path, boundary, report_id, crash_file, probe = sys.argv[1:6]
    parts = parts_of(open(body_path, 'rb').read(), boundary.encode())
    if parts.get('report_id', ('', b''))[1].decode() != report_id:
        fail('report_id %r' % (parts.get('report_id'),))
    if 'api_key' not in parts:
        fail('no api_key')
    files = {}
    for name in ['metadata.bbxrecord', 'binary_images.bbxrecord', crash_file, crash_file + '.symbolicated']:
        if name not in parts:
            fail('no part %s among %r' % (name, sorted(parts)))
        kind, content = parts[name]
        files[name] = gzip.decompress(content) if kind == 'application/x-gzip' else content
    images = [r['load'] for r in records(files['binary_images.bbxrecord'], True) if 'load' in r]
    threads = next(r['threads'] for r in records(files[crash_file]) if 'threads' in r)
    named = next(r['threads'] for r in records(files[crash_file + '.symbolicated']) if 'threads' in r)
    crashed = [i for i, t in enumerate(threads) if t.get('crashed') is True]
    if len(crashed) != 1 or len(named) != len(threads):
        fail('%d crashed threads, %d named of %d' % (len(crashed), len(named), len(threads)))
    index = crashed[0]
    stack, frames = threads[index]['stacktrace'], named[index]
    if len(stack) != len(frames) or not stack:
        fail('%d frames named for %d addresses' % (len(frames), len(stack)))
    tables = {}
    exact_first = crash_file in ('signal.bbxrecord', 'mach_exception.bbxrecord')
    seen_probe = False
    checked = 0
    for number, (address, frame) in enumerate(zip(stack, frames)):
        image = next((i for i in images if i['base'] <= address < i['base'] + i['size']), None)
        if image is None or not image.get('path'):
            continue
        path = image['path']
        if frame.get('library') != os.path.basename(path):
            fail('frame %d: library %r, not %r' % (number, frame.get('library'), os.path.basename(path)))
        if not os.path.isfile(path):
            continue
        if path not in tables:
            tables[path] = text_symbols(path)
        lookup = address - image['base'] - (0 if number == 0 and exact_first else 1)
        names = {s[2] for s in tables[path] if s[0] <= lookup < s[0] + s[1]}
        if frame.get('symbol') not in (names or {None}):
            fail('frame %d at %#x: %r, nm says %r' % (number, address, frame.get('symbol'), sorted(names)))
        seen_probe = seen_probe or probe in (frame.get('symbol') or '')
        checked += 1
    if not seen_probe:
        fail('the crashed thread does not hold %s: %r' % (probe, [f.get('symbol') for f in frames]))
    print('ok %d' % checked)


main()
