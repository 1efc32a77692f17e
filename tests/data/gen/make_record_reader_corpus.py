#!/usr/bin/env python3
"""Writes the seed corpus of the record file reader's fuzz target:

  fuzz/corpus/fuzz_record_reader/   record files, good and broken, and hex texts

A record file is lines ending in a line feed, each a JSON object with one member (the
section), without white space; free texts are two lower-case hex digits per byte. Written
from that layout alone, without the program's code: the files of a report (metadata, binary
images, a signal crash with its six crash-time lines, logs, keys, errors), lines cut short,
bytes that are not UTF-8, escapes, deep nesting, numbers at and past 64 bits, hex with odd
lengths, upper case and bad pairs.

Standard library only; the output is deterministic. Run with /usr/bin/python3 from anywhere;
the folder is emptied and written again.
"""

import json
import os
import random
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.normpath(os.path.join(HERE, '..', '..', '..'))
CORPUS_DIR = os.path.join(REPO, 'fuzz', 'corpus', 'fuzz_record_reader')


def line(section, value):
    return json.dumps({section: value}, separators=(',', ':'), ensure_ascii=False).encode('utf-8') + b'\n'


def hexed(text):
    return text.encode('utf-8').hex()


REGISTERS = ['rax', 'rbx', 'rcx', 'rdx', 'rdi', 'rsi', 'rbp', 'rsp', 'r8', 'r9', 'r10', 'r11', 'r12', 'r13',
             'r14', 'r15', 'rip', 'rflags', 'cs', 'fs', 'gs']


def metadata():
    return (line('identity', {'generator': 'Blackbox Mac SDK/3.8.5', 'build_version': '123', 'display_version': '3.8.5',
                              'api_key': 'key', 'started_at': 1767000000, 'session_id': 'a' * 32,
                              'install_id': 'B' * 36, 'beta_token': None, 'absolute_log_timestamps': True})
            + line('host', {'model': None, 'machine': 'x86_64', 'cpu': 'Some CPU @ 3.00GHz', 'os_build_version': '6.1.0',
                            'os_display_version': '12.0.0', 'platform': 'mac', 'locale': 'en_US'})
            + line('application', {'bundle_id': 'com.tallowfen.corvex', 'custom_bundle_id': None, 'build_version': '1',
                                   'display_version': '1.6.0', 'extension_id': None})
            + line('executable', {'architecture': 'x86_64', 'uuid': '0123456789abcdef0123456789abcdef',
                                  'base': 94500000000000, 'size': 123456, 'encrypted': False,
                                  'minimum_sdk_version': '0.0.0', 'built_sdk_version': '0.0.0'}))


def binary_images():
    out = b''
    for index, path in enumerate(['/usr/bin/corvex', '/lib/x86_64-linux-gnu/libc.so.6', 'linux-vdso.so.1', None]):
        out += line('load', {'path': path, 'uuid': '%032x' % (index * 7919), 'base': 140000000000000 + index * 4096,
                             'size': 8192})
    return out + line('unload', {'path': '/tmp/plugin "quoted".so', 'uuid': '', 'base': 140000000000000,
                                 'size': 8192})


def signal_crash():
    return (line('signal', {'number': 11, 'code': 1, 'address': 0, 'name': 'SIGSEGV', 'code_name': None, 'errno': 0,
                            'time': 1767000000})
            + line('threads', [{'registers': {r: i for i, r in enumerate(REGISTERS)},
                                'stacktrace': [94500000001234, 94500000005678], 'crashed': True},
                               {'registers': {}, 'stacktrace': [], 'repeated_pc': 1, 'repeat_count': 18446744073709551615}])
            + line('runtime', {'objc_selector': '', 'crash_info_entries': [hexed('abort() called')]})
            + line('dispatch_queue_names', ['com.loomworks.blackbox.mac.logging', None])
            + line('thread_names', ['corvex', 'worker\u00e9'])
            + line('process_stats', {k: 1 for k in ['active', 'inactive', 'wired', 'freeMem', 'free_mem', 'virtual',
                                                    'resident', 'user_time', 'sys_time']})
            + line('storage', {}))


def user_records():
    return (line('log', {'msg': hexed('hello "world"\n'), 'time': 1767000000123})
            + line('kv', {'key': hexed('user id'), 'value': None})
            + line('kv', {'key': hexed('k'), 'value': hexed('v\u2603')})
            + line('error', {'domain': hexed('NSCocoaErrorDomain'), 'code': -9223372036854775808, 'time': 1767000000,
                             'stacktrace': [1, 2, 3], 'info': [[hexed('NSFilePath'), hexed('/tmp/x')]]}))


def cases():
    meta = metadata()
    yield 'metadata.bbxrecord', meta
    yield 'binary_images.bbxrecord', binary_images()
    crash = signal_crash()
    yield 'signal.bbxrecord', crash
    yield 'user_records.bbxrecord', user_records()
    yield 'cut_mid_line.bbxrecord', crash[:len(crash) * 2 // 3]
    yield 'cut_before_line_feed.bbxrecord', meta[:-1]
    yield 'no_line_feed_at_all.bbxrecord', meta.replace(b'\n', b'')
    yield 'crlf.bbxrecord', meta.replace(b'\n', b'\r\n')
    yield 'bad_utf8_line.bbxrecord', line('a', 1) + b'{"b":"\xff\xfe"}\n' + line('c', 2)
    yield 'escapes.bbxrecord', b'{"k\\"\\\\":"\\u0001\\u000a\\ud83d\\ude00\\ud800"}\n' + line('ok', True)
    yield 'not_objects.bbxrecord', b'1\n"text"\n[1,2]\nnull\ntrue\n{}\n{"a":1,"b":2}\n'
    yield 'garbage_between.bbxrecord', line('a', 1) + b'}}}{{{\n\x00\x00\n' + line('b', [])
    yield 'deep.bbxrecord', b'{"d":' + b'[' * 200 + b']' * 200 + b'}\n' + b'{"e":' + b'{"x":' * 300 + b'1' + b'}' * 301 + b'\n'
    yield 'numbers.bbxrecord', (b'{"n":[0,18446744073709551615,18446744073709551616,-9223372036854775808,'
                                b'-9223372036854775809,1e400,01,-0,1.5e-400]}\n')
    yield 'empty.bbxrecord', b''
    yield 'only_line_feeds.bbxrecord', b'\n' * 64
    yield 'hex_lower', b'48656c6c6f2c20776f726c64'
    yield 'hex_upper_and_mixed', b'48656C6c6F'
    yield 'hex_odd_length', b'414243'[:5]
    yield 'hex_bad_pair', b'4142zz4344'
    yield 'hex_utf8_invalid', b'ff' + b'c3' + b'e282'
    rng = random.Random(20261207)
    yield 'random_lines.bbxrecord', b''.join(
        bytes(rng.choice(b'{}[]",:0123456789abcdef-truefalsenul\\') for _ in range(rng.randrange(1, 60))) + b'\n'
        for _ in range(40))


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
