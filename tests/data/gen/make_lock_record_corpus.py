#!/usr/bin/env python3
"""Writes the seed corpus of the lock-file record fuzz target:

  fuzz/corpus/fuzz_lock_record/   lock files, good and broken

A lock file holds one record per holder, in slots of 512 bytes (slot k at k * 512, at most
64 slots). A record is lines of text: the magic "corvex-lock 1", then "pid <n>",
"host <name>", "boot <id>", "app <name>", "mode exclusive|shared", and "end"; the rest of
the slot is line feeds. Written from that layout alone, without the program's code: valid
files, truncations, wrong types and values, too many slots.

Standard library only; the output is deterministic. Run with /usr/bin/python3 from anywhere;
the folder is emptied and written again.
"""

import os
import random
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.normpath(os.path.join(HERE, '..', '..', '..'))
CORPUS_DIR = os.path.join(REPO, 'fuzz', 'corpus', 'fuzz_lock_record')

SLOT = 512
SLOTS = 64
BOOT = b'6f1c2a7e-3b4d-4c5e-9f80-112233445566'


def record(pid=b'4242', host=b'workstation', boot=BOOT, app=b'corvex', mode=b'exclusive', magic=b'corvex-lock 1',
           end=True, extra=()):
    lines = [magic]
    for key, value in ((b'pid', pid), (b'host', host), (b'boot', boot), (b'app', app), (b'mode', mode)):
        if value is not None:
            lines.append(key + b' ' + value)
    lines.extend(extra)
    if end:
        lines.append(b'end')
    return b'\n'.join(lines) + b'\n'


def slot(data):
    """One slot: the record padded with line feeds (cut when longer, as a torn slot)."""
    return data[:SLOT].ljust(SLOT, b'\n')


def lock_file(*records):
    return b''.join(slot(r) for r in records)


def cases():
    yield 'valid_one_exclusive.lock', lock_file(record())
    yield 'valid_shared_readers.lock', lock_file(record(pid=b'100', mode=b'shared'), record(pid=b'101', mode=b'shared'),
                                                 record(pid=b'102', mode=b'shared'))
    yield 'valid_shared_then_exclusive.lock', lock_file(record(pid=b'7', mode=b'shared'), record(pid=b'8'))
    yield 'valid_gap_between_slots.lock', lock_file(record(pid=b'1'), b'', b'\x00' * SLOT, record(pid=b'4'))
    yield 'valid_all_slots.lock', lock_file(*[record(pid=str(1000 + i).encode(), mode=b'shared' if i % 3 else b'exclusive')
                                              for i in range(SLOTS)])
    yield 'valid_unicode_names.lock', lock_file(record(host='h\u00f4te-\u2603'.encode(), app='Corvex \U0001F680'.encode()))
    yield 'valid_unknown_keys.lock', lock_file(record(extra=(b'user alice', b'started 2026-12-07')))
    yield 'valid_short_file.lock', record()
    yield 'more_slots_than_read.lock', lock_file(*[record(pid=str(i + 1).encode()) for i in range(SLOTS + 6)])

    # Cut short and torn.
    full = record()
    for cut in (0, 5, 14, 20, len(full) - 5, len(full) - 1):
        yield 'truncated_at_%d.lock' % cut, full[:cut]
    yield 'torn_no_end.lock', lock_file(record(end=False))
    yield 'torn_end_first.lock', lock_file(b'corvex-lock 1\nend\npid 5\n')
    yield 'torn_second_slot.lock', lock_file(record(pid=b'1')) + record(pid=b'2')[:30]
    yield 'end_without_newline.lock', b'corvex-lock 1\npid 9\nend'

    # Wrong magic or values.
    yield 'magic_wrong_version.lock', lock_file(record(magic=b'corvex-lock 2'))
    yield 'magic_missing.lock', lock_file(b'pid 12\nend\n')
    yield 'magic_with_cr.lock', lock_file(record().replace(b'\n', b'\r\n'))
    yield 'pid_missing.lock', lock_file(record(pid=None))
    yield 'pid_zero.lock', lock_file(record(pid=b'0'))
    yield 'pid_negative.lock', lock_file(record(pid=b'-17'))
    yield 'pid_not_a_number.lock', lock_file(record(pid=b'forty-two'), record(pid=b'0x2a'), record(pid=b'4.2e1'))
    yield 'pid_beyond_64_bits.lock', lock_file(record(pid=b'99999999999999999999999'))
    yield 'pid_int64_max.lock', lock_file(record(pid=b'9223372036854775807'))
    yield 'pid_padded.lock', lock_file(record(pid=b'  42  '), record(pid=b'+43'), record(pid=b'044'))
    yield 'pid_twice.lock', lock_file(record(extra=(b'pid 5',)))
    yield 'key_without_value.lock', lock_file(b'corvex-lock 1\npid\nhost\nmode\npid 3\nend\n')
    yield 'mode_odd.lock', lock_file(record(pid=b'1', mode=b'SHARED'), record(pid=b'2', mode=b''),
                                     record(pid=b'3', mode=None), record(pid=b'4', mode=b'shared '))
    yield 'values_long.lock', lock_file(record(host=b'h' * 480))
    yield 'values_invalid_utf8.lock', lock_file(record(host=b'\xff\xfe\xc3\x28', app=b'\xe2\x82', boot=b'\x80' * 20))
    yield 'values_with_nul.lock', lock_file(record(host=b'a\x00b', app=b'\x00'))
    yield 'no_newline_at_all.lock', b'x' * SLOT * 2
    yield 'only_newlines.lock', b'\n' * SLOT * 3
    yield 'only_nul.lock', b'\x00' * SLOT * 2
    yield 'empty.lock', b''
    rng = random.Random(20261207)
    yield 'random_bytes.lock', bytes(rng.randrange(256) for _ in range(SLOT * 3 + 100))
    yield 'random_lines.lock', lock_file(*[b'corvex-lock 1\n' + b'\n'.join(
        bytes(rng.choice(b'pidhostbootappmodeend 0123456789') for _ in range(rng.randrange(1, 40)))
        for _ in range(8)) + b'\nend\n' for _ in range(4)])


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
