#!/usr/bin/env python3
"""Checks a record file the writer's torture test made, with Python's own json module.

  check_records.py <record file> <expected file>

The expected file holds, one per line, the hex of the byte string each record line was
written from. Every record line must be valid UTF-8 and one JSON object with one member,
named after the text (ill-formed UTF-8 read as U+FFFD, as Python's "replace" decoding reads
it), whose value holds the plain text, its hex, the integer limits and an array of them.
Exit status 0 when every line matches, 1 with the first difference otherwise.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from record_lines import fail, read_record_line  # noqa: E402


def main():
    records = open(sys.argv[1], 'rb').read()
    # One line per record; an empty line is the empty text.
    expected = [bytes.fromhex(line) for line in open(sys.argv[2]).read().split('\n')[:-1]]
    lines = records.split(b'\n')
    if lines[-1] != b'':
        fail('the file does not end with a line feed')
    lines = lines[:-1]
    if len(lines) != len(expected):
        fail('%d lines, expected %d' % (len(lines), len(expected)))
    for number, (line, raw) in enumerate(zip(lines, expected), 1):
        record = read_record_line(number, line)
        text = raw.decode('utf-8', 'replace')
        (name, value), = record.items()
        if name != text:
            fail('line %d: section %r, expected %r' % (number, name, text))
        wanted = {
            'k': text, 'h': raw.hex(), 'i': -2 ** 63, 'u': 2 ** 64 - 1, 'z': 0, 'n': -12, 'b': True,
            'a': [text, raw.hex(), 7, {}], 's': text,
        }
        if list(value.keys()) != list(wanted.keys()):
            fail('line %d: keys %r' % (number, list(value.keys())))
        for key, want in wanted.items():
            if value[key] != want or type(value[key]) is not type(want):
                fail('line %d: %s is %r, expected %r' % (number, key, value[key], want))
        if bytes.fromhex(value['h']) != raw or bytes.fromhex(value['a'][1]) != raw:
            fail('line %d: hex does not decode to the bytes written' % number)
    sys.exit(0)


main()
