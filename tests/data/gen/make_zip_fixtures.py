#!/usr/bin/env python3
"""Zip archives for the zip wrapper's tests and the corpus of the zip fuzz target.

Made with Python's zipfile where it can express the entry, and with a small writer of the
zip format of our own (struct, zlib) where an archive must lie: wrong checksums, sizes that
are not the data's, names zipfile would clean up. Nothing here uses the program's code.

Outputs (commit them):
  tests/data/zip/<name>.zip          the archives
  tests/data/zip/expected.json       per archive: whether unzipping succeeds and the files it
                                     must leave (path -> size, SHA-1, mode when the archive
                                     sets one, local modification time when it sets one);
                                     paths that must not exist afterwards; the password to
                                     unzip it with; for a failing one the error: its code
                                     (by name), the entry it names and words of its reason
  fuzz/corpus/fuzz_zip/*             inputs of the fuzz target

Run with /usr/bin/python3 from anywhere.
"""

import hashlib
import io
import json
import os
import random
import shutil
import stat
import struct
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.normpath(os.path.join(HERE, '..', '..', '..'))
ZIP_DIR = os.path.join(REPO, 'tests', 'data', 'zip')
CORPUS_DIR = os.path.join(REPO, 'fuzz', 'corpus', 'fuzz_zip')

DATE = (2021, 5, 17, 14, 33, 20)  # local time; DOS dates keep even seconds
DATE_TEXT = '2021-05-17T14:33:20'
NESTING_BOUND = 3
PASSWORD = 'p\u00e4ssw\u00f6rd'  # as Info-ZIP takes it in a UTF-8 locale: its UTF-8 bytes


def sha1(data):
    return hashlib.sha1(data).hexdigest()


def file_entry(data, mode=None, mtime=None):
    entry = {'size': len(data), 'sha1': sha1(data)}
    if mode is not None:
        entry['mode'] = mode
    if mtime is not None:
        entry['mtime'] = mtime
    return entry


def zipinfo(name, mode=None, date=DATE, method=zipfile.ZIP_DEFLATED):
    info = zipfile.ZipInfo(name, date_time=date)
    info.compress_type = method
    info.create_system = 3
    if mode is not None:
        info.external_attr = mode << 16
    return info


def make_zip(entries):
    """entries: (ZipInfo, bytes) in order; zipfile writes them as given."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, 'w') as archive:
        for info, data in entries:
            archive.writestr(info, data)
    return buffer.getvalue()


# ---------------------------------------------------------------- our own raw writer

def dos_date(date):
    year, month, day, hour, minute, second = date
    return ((year - 1980) << 25) | (month << 21) | (day << 16) | (hour << 11) | (minute << 5) | (second // 2)


# The traditional PKWARE encryption (APPNOTE.TXT 6.1), which Info-ZIP's zip -P writes.
def _crc_step(value, byte):
    return ~zlib.crc32(bytes([byte]), ~value & 0xFFFFFFFF) & 0xFFFFFFFF


class ZipCryptoKeys:
    def __init__(self, password):
        self.keys = [0x12345678, 0x23456789, 0x34567890]
        for byte in password:
            self._update(byte)

    def _update(self, byte):
        self.keys[0] = _crc_step(self.keys[0], byte)
        self.keys[1] = ((self.keys[1] + (self.keys[0] & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        self.keys[2] = _crc_step(self.keys[2], self.keys[1] >> 24)

    def _stream(self):
        temp = (self.keys[2] & 0xFFFF) | 2
        return ((temp * (temp ^ 1)) >> 8) & 0xFF

    def encrypt(self, data):
        out = bytearray()
        for byte in data:
            out.append(byte ^ self._stream())
            self._update(byte)
        return bytes(out)


def encrypted(password, check, stored, seed):
    """The encryption header (11 random bytes and the check byte) and `stored`, encrypted."""
    header = bytes(random.Random(seed).randrange(256) for _ in range(11)) + bytes([check])
    return ZipCryptoKeys(password.encode('utf-8')).encrypt(header + stored)


def raw_zip(entries):
    """entries: dicts with name (bytes), data, and optional method (0/8), crc, size (declared
    uncompressed size), compressed (the stored bytes), external, made_by, password (encrypts
    the entry; with descriptor the CRC and sizes follow the data, and the check byte is the
    time's; cut keeps only so many of the encrypted bytes)."""
    local = b''
    central = b''
    for index, entry in enumerate(entries):
        name = entry['name']
        data = entry.get('data', b'')
        method = entry.get('method', 8)
        if 'compressed' in entry:
            stored = entry['compressed']
        elif method == 8:
            compressor = zlib.compressobj(6, zlib.DEFLATED, -15)
            stored = compressor.compress(data) + compressor.flush()
        else:
            stored = data
        crc = entry.get('crc', zlib.crc32(data) & 0xFFFFFFFF)
        size = entry.get('size', len(data))
        date = dos_date(entry.get('date', DATE))
        flags = 0
        descriptor = b''
        if 'password' in entry:
            flags |= 1
            if entry.get('descriptor'):
                flags |= 8
                check = (date >> 8) & 0xFF
            else:
                check = crc >> 24
            stored = encrypted(entry['password'], check, stored, seed=index)[:entry.get('cut')]
            if entry.get('descriptor'):
                descriptor = struct.pack('<IIII', 0x08074B50, crc, len(stored), size)
        local_crc, local_compressed, local_size = (0, 0, 0) if flags & 8 else (crc, len(stored), size)
        offset = len(local)
        local += struct.pack('<IHHHHHIIIHH', 0x04034B50, 20, flags, method, date & 0xFFFF, date >> 16, local_crc,
                             local_compressed, local_size, len(name), 0) + name + stored + descriptor
        central += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014B50, entry.get('made_by', (3 << 8) | 20), 20, flags,
                               method, date & 0xFFFF, date >> 16, crc, len(stored), size, len(name), 0, 0, 0, 0,
                               entry.get('external', 0), offset) + name
    end = struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, len(entries), len(entries), len(central), len(local), 0)
    return local + central + end


# ---------------------------------------------------------------- fixtures

def fixtures():
    """(name, bytes, expectation)."""
    out = []

    # An ordinary archive as other tools write it.
    readme = b'Corvex zip test\n' * 200
    guide = '# Guide\n\nZ\u00fcrich \u2615\n'.encode('utf-8')
    script = b'#!/bin/sh\necho hello\n'
    backslashed = b'in folder a\n'
    unicode_name = 'unicode/Z\u00fcrich \u2615.txt'
    data = make_zip([
        (zipinfo('readme.txt', 0o100644), readme),
        (zipinfo('docs/', 0o40755), b''),
        (zipinfo('docs/guide.md', 0o100600, method=zipfile.ZIP_STORED), guide),
        (zipinfo('bin/run.sh', 0o100755), script),
        (zipinfo('a\\b.txt', 0o100644), backslashed),
        (zipinfo('empty/'), b''),
        (zipinfo(unicode_name, 0o100644), b'utf-8 name\n'),
        (zipinfo('zero.bin', 0o100644), b''),
    ])
    out.append(('plain', data, {
        'succeeds': True,
        'files': {
            'readme.txt': file_entry(readme, 0o644, DATE_TEXT),
            'docs/guide.md': file_entry(guide, 0o600, DATE_TEXT),
            'bin/run.sh': file_entry(script, 0o755, DATE_TEXT),
            'a/b.txt': file_entry(backslashed, 0o644, DATE_TEXT),
            unicode_name: file_entry(b'utf-8 name\n', 0o644, DATE_TEXT),
            'zero.bin': file_entry(b'', 0o644, DATE_TEXT),
        },
        'folders': ['docs', 'empty', 'bin', 'a', 'unicode'],
        'absent': ['a\\b.txt'],
    }))

    # Names that lead out of the destination: refused, nothing written for them.
    inside = b'harmless\n'
    for label, name in (('slip_parent', '../x'), ('slip_absolute', '/abs'),
                        ('slip_backslash', 'a\\..\\..\\x'), ('slip_deep_parent', 'a/b/../../../x'),
                        ('slip_drive', 'C:\\x')):
        data = make_zip([(zipinfo('first.txt', 0o100644), inside), (zipinfo(name, 0o100644), b'escaped\n')])
        reason = {'slip_absolute': 'absolute', 'slip_drive': 'drive'}.get(label, '".."')
        if '\\' in name:
            reason = 'backslashes count as slashes'
        out.append((label, data, {'succeeds': False, 'files': {'first.txt': file_entry(inside)},
                                  'outside': ['x', 'abs'],
                                  'error': {'code': 'UnsafeEntryName', 'entry': name, 'reason': reason}}))
    data = raw_zip([{'name': b'first.txt', 'data': inside},
                    {'name': b'x\x00/../../../escaped', 'data': b'escaped\n', 'external': 0o100644 << 16}])
    out.append(('slip_nul', data, {'succeeds': False, 'files': {'first.txt': file_entry(inside)},
                                   'outside': ['escaped'],
                                   'error': {'code': 'UnsafeEntryName', 'entry': 'x\\x00/../../../escaped',
                                             'reason': 'NUL'}}))

    # A stored symbolic link: an ordinary file holding the link text. Where the target path
    # is an existing link already (the test makes one pointing outside), nothing is written.
    data = make_zip([(zipinfo('link', 0o120777), b'../outside/target.txt'),
                     (zipinfo('after.txt', 0o100644), b'after\n')])
    out.append(('symlink_entry', data, {
        'succeeds': True,
        'files': {'link': file_entry(b'../outside/target.txt', 0o777), 'after.txt': file_entry(b'after\n')},
    }))

    # Modes: set-user-ID and friends are dropped; a mode of only the file-type bits is not
    # applied.
    data = make_zip([(zipinfo('setuid.sh', 0o104777), b'#!/bin/sh\n'),
                     (zipinfo('typeonly.txt', 0o100000), b'type bits only\n'),
                     (zipinfo('sticky.txt', 0o101640), b'sticky\n')])
    out.append(('modes', data, {
        'succeeds': True,
        'files': {'setuid.sh': file_entry(b'#!/bin/sh\n', 0o777),
                  'typeonly.txt': file_entry(b'type bits only\n', 0o644),
                  'sticky.txt': file_entry(b'sticky\n', 0o640)},
    }))

    # Nesting: inner archives are unpacked where they lie up to the bound; one level more
    # stays a file.
    def chain(levels, leaf=b'bottom\n'):
        data = make_zip([(zipinfo('bottom.txt', 0o100644), leaf)])
        for level in range(levels, 0, -1):
            data = make_zip([(zipinfo('l%d/level%d.zip' % (level, level), 0o100644), data),
                             (zipinfo('l%d/note.txt' % level, 0o100644), b'level %d\n' % level)])
        return data

    at_bound = chain(NESTING_BOUND)
    # outer -> l1/level1.zip -> l2/level2.zip -> l3/level3.zip -> bottom.txt: three inner
    # levels, all unpacked.
    files = {'l1/note.txt': file_entry(b'level 1\n'), 'l1/l2/note.txt': file_entry(b'level 2\n'),
             'l1/l2/l3/note.txt': file_entry(b'level 3\n'), 'l1/l2/l3/bottom.txt': file_entry(b'bottom\n')}
    out.append(('nested_at_bound', at_bound, {'succeeds': True, 'files': files,
                                              'absent': ['l1/level1.zip', 'l1/l2/level2.zip',
                                                         'l1/l2/l3/level3.zip']}))
    past = chain(NESTING_BOUND + 1)
    inner4 = make_zip([(zipinfo('bottom.txt', 0o100644), b'bottom\n')])
    files = {'l1/note.txt': file_entry(b'level 1\n'), 'l1/l2/note.txt': file_entry(b'level 2\n'),
             'l1/l2/l3/note.txt': file_entry(b'level 3\n'), 'l1/l2/l3/l4/note.txt': file_entry(b'level 4\n'),
             'l1/l2/l3/l4/level4.zip': file_entry(inner4)}
    out.append(('nested_past_bound', past, {'succeeds': True, 'files': files,
                                            'absent': ['l1/l2/l3/l4/bottom.txt', 'l1/level1.zip']}))

    # Damage: a wrong CRC, deflate data that is no deflate data, an entry that ends before
    # its declared size, a size far beyond the unzip's bound, a cut-off file.
    good = b'good entry\n'
    payload = b'0123456789abcdef' * 512
    out.append(('bad_crc', raw_zip([{'name': b'good.txt', 'data': good},
                                    {'name': b'bad.txt', 'data': payload, 'crc': zlib.crc32(payload) ^ 1}]),
                {'succeeds': False, 'crcError': True, 'files': {'good.txt': file_entry(good)}, 'absent': ['bad.txt'],
                 'error': {'code': 'CrcCheckFailed', 'entry': 'bad.txt', 'reason': 'CRC'}}))
    compressor = zlib.compressobj(6, zlib.DEFLATED, -15)
    deflated = compressor.compress(payload) + compressor.flush()
    corrupt = deflated[:5] + bytes(b ^ 0xA5 for b in deflated[5:40]) + deflated[40:]
    out.append(('corrupt_deflate', raw_zip([{'name': b'good.txt', 'data': good},
                                            {'name': b'bad.txt', 'data': payload, 'compressed': corrupt}]),
                {'succeeds': False, 'files': {'good.txt': file_entry(good)}, 'absent': ['bad.txt'],
                 'error': {'code': 'DamagedEntry', 'entry': 'bad.txt', 'reason': 'damaged'}}))
    short = payload[:1000]
    compressor = zlib.compressobj(6, zlib.DEFLATED, -15)
    short_stream = compressor.compress(short) + compressor.flush()
    out.append(('short_entry', raw_zip([{'name': b'good.txt', 'data': good},
                                        {'name': b'short.txt', 'data': short, 'compressed': short_stream,
                                         'size': len(payload)}]),
                {'succeeds': False, 'files': {'good.txt': file_entry(good)}, 'absent': ['short.txt'],
                 'error': {'code': 'DamagedEntry', 'entry': 'short.txt', 'reason': 'ends after 1000 of its 8192 bytes'}}))
    out.append(('huge_declared_size', raw_zip([{'name': b'good.txt', 'data': good},
                                               {'name': b'huge.bin', 'data': payload, 'size': 0xFFFFFFF0}]),
                {'succeeds': False, 'files': {'good.txt': file_entry(good)}, 'absent': ['huge.bin'],
                 'error': {'code': 'LimitExceeded', 'entry': 'huge.bin', 'reason': 'more than the unzip may write'}}))
    whole = make_zip([(zipinfo('readme.txt', 0o100644), readme)])
    out.append(('truncated', whole[:len(whole) // 2], {'succeeds': False, 'files': {}, 'openError': True,
                                                       'error': {'code': 'FailedToOpenZipFile', 'entry': None,
                                                                 'reason': 'directory cannot be found'}}))

    # Encrypted entries as Info-ZIP's zip -P writes them, with a password that is not ASCII:
    # deflated and stored, the check byte from the CRC and (with a data descriptor) from the
    # time. The password applies to encrypted entries only: a plain entry and a folder stay
    # as they are.
    secret = ('Gr\u00fc\u00dfe aus Z\u00fcrich\n' * 50).encode('utf-8')
    stored_secret = bytes(range(256)) * 4
    encrypted_entries = [
        {'name': b'secret.txt', 'data': secret, 'password': PASSWORD, 'external': 0o100600 << 16},
        {'name': b'stored.bin', 'data': stored_secret, 'method': 0, 'password': PASSWORD,
         'external': 0o100644 << 16},
        {'name': b'folder/', 'data': b'', 'method': 0, 'external': 0o40755 << 16},
        {'name': b'folder/plain.txt', 'data': b'not encrypted\n', 'external': 0o100644 << 16},
    ]
    encrypted_files = {'secret.txt': file_entry(secret, 0o600, DATE_TEXT),
                       'stored.bin': file_entry(stored_secret, 0o644, DATE_TEXT),
                       'folder/plain.txt': file_entry(b'not encrypted\n', 0o644, DATE_TEXT)}
    out.append(('encrypted_utf8', raw_zip(encrypted_entries),
                {'succeeds': True, 'password': PASSWORD, 'files': encrypted_files, 'folders': ['folder']}))
    out.append(('encrypted_descriptor', raw_zip([dict(entry, descriptor=True) if 'password' in entry else entry
                                                 for entry in encrypted_entries]),
                {'succeeds': True, 'password': PASSWORD, 'files': encrypted_files, 'folders': ['folder']}))
    # Encrypted with another password than the one given: the check byte tells.
    out.append(('encrypted_other_password',
                raw_zip([{'name': b'first.txt', 'data': good},
                         {'name': b'secret.txt', 'data': secret, 'password': 'passwoerd'}]),
                {'succeeds': False, 'password': PASSWORD, 'files': {'first.txt': file_entry(good)},
                 'absent': ['secret.txt'],
                 'error': {'code': 'WrongPassword', 'entry': 'secret.txt', 'reason': 'password is wrong'}}))
    # Encrypted, and unzipped without a password.
    out.append(('encrypted_without_password',
                raw_zip([{'name': b'first.txt', 'data': good},
                         {'name': b'secret.txt', 'data': secret, 'password': PASSWORD}]),
                {'succeeds': False, 'files': {'first.txt': file_entry(good)}, 'absent': ['secret.txt'],
                 'error': {'code': 'WrongPassword', 'entry': 'secret.txt', 'reason': 'no password was given'}}))
    # Encrypted data shorter than the encryption header.
    out.append(('encrypted_header_cut',
                raw_zip([{'name': b'first.txt', 'data': good},
                         {'name': b'cut.txt', 'data': b'x', 'password': PASSWORD, 'method': 0, 'cut': 7}]),
                {'succeeds': False, 'password': PASSWORD, 'files': {'first.txt': file_entry(good)},
                 'absent': ['cut.txt'],
                 'error': {'code': 'DamagedEntry', 'entry': 'cut.txt', 'reason': 'encryption header'}}))
    # A compression method nothing here reads (an AES-encrypted entry says 99).
    out.append(('unknown_method', raw_zip([{'name': b'first.txt', 'data': good},
                                           {'name': b'odd.txt', 'data': b'odd', 'method': 99}]),
                {'succeeds': False, 'files': {'first.txt': file_entry(good)}, 'absent': ['odd.txt'],
                 'error': {'code': 'UnsupportedEntry', 'entry': 'odd.txt', 'reason': 'compression method 99'}}))

    # An inner archive that holds an entry of its own name: unpacking it must not write
    # over the archive while it is being read. The innermost a.zip is an archive in one
    # fixture (it is unpacked in turn) and no archive in the other (it stays a file, in
    # place of the archive it came from, once that was read).
    deepest = make_zip([(zipinfo('deepest.txt', 0o100644), b'deepest\n')])
    inner = make_zip([(zipinfo('a.zip', 0o100644), deepest), (zipinfo('after.txt', 0o100644), b'after\n')])
    out.append(('nested_own_name', make_zip([(zipinfo('a.zip', 0o100644), inner)]), {
        'succeeds': True,
        'files': {'after.txt': file_entry(b'after\n'), 'deepest.txt': file_entry(b'deepest\n')},
        'absent': ['a.zip'],
    }))
    not_zip = b'this a.zip is no archive\n'
    inner = make_zip([(zipinfo('a.zip', 0o100644), not_zip), (zipinfo('after.txt', 0o100644), b'after\n')])
    out.append(('nested_own_name_not_zip', make_zip([(zipinfo('a.zip', 0o100644), inner)]), {
        'succeeds': True,
        'files': {'after.txt': file_entry(b'after\n'), 'a.zip': file_entry(not_zip)},
    }))
    # An inner archive that fails halfway stays packed, whole; the outer unzip goes on and
    # succeeds.
    damaged_inner = raw_zip([{'name': b'inner-good.txt', 'data': good},
                             {'name': b'inner-bad.txt', 'data': payload, 'crc': zlib.crc32(payload) ^ 1}])
    out.append(('nested_damaged', make_zip([(zipinfo('inner.zip', 0o100644), damaged_inner),
                                            (zipinfo('after.txt', 0o100644), b'after\n')]), {
        'succeeds': True,
        'files': {'inner.zip': file_entry(damaged_inner), 'inner-good.txt': file_entry(good),
                  'after.txt': file_entry(b'after\n')},
        'absent': ['inner-bad.txt'],
    }))
    # An archive holding an entry of the name the test gives the archive itself when it
    # unzips it where it lies.
    out.append(('self_named', make_zip([(zipinfo('self_named.zip', 0o100644), b'the entry, not the archive\n'),
                                        (zipinfo('other.txt', 0o100644), b'other\n')]), {
        'succeeds': True,
        'files': {'self_named.zip': file_entry(b'the entry, not the archive\n'), 'other.txt': file_entry(b'other\n')},
    }))

    # Many entries and a highly compressible one, for the bounds (the test lowers them).
    many = make_zip([(zipinfo('many/%04d.txt' % i, 0o100644), b'%d\n' % i) for i in range(300)])
    out.append(('many_entries', many, {'succeeds': True, 'fileCount': 300}))
    zeros = make_zip([(zipinfo('zeros.bin', 0o100644), b'\x00' * (2 * 1024 * 1024))])
    out.append(('zeros_2mb', zeros, {'succeeds': True, 'files': {'zeros.bin': file_entry(b'\x00' * (2 * 1024 * 1024))}}))
    return out


def corpus(fixture_list):
    entries = [(name + '.zip', data) for name, data, _ in fixture_list]
    entries.append(('empty_file.zip', b''))
    entries.append(('not_a_zip.zip', b'This is not a zip archive at all.\n' * 10))
    entries.append(('end_record_only.zip', struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, 0, 0, 0, 0, 0)))
    entries.append(('end_record_lies.zip', struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, 65535, 65535,
                                                       0xFFFFFFF0, 0xFFFFFFF0, 0)))
    data = make_zip([(zipinfo('a.txt', 0o100644), b'a\n'), (zipinfo('b.txt', 0o100644), b'b\n')])
    central = data.find(b'PK\x01\x02')
    entries.append(('central_truncated.zip', data[:central + 20]))
    entries.append(('central_garbled.zip', data[:central] + bytes(b ^ 0x33 for b in data[central:])))
    # Two entries of one name: the later one wins.
    entries.append(('duplicate_names.zip', raw_zip([{'name': b'same.txt', 'data': b'first'},
                                                    {'name': b'same.txt', 'data': b'second'}])))
    entries.append(('folder_entries.zip', make_zip([(zipinfo('x/', 0o40755), b''), (zipinfo('x/y/', 0o40700), b''),
                                                    (zipinfo('x/y/z.txt', 0o100644), b'z\n')])))
    entries.append(('dot_names.zip', make_zip([(zipinfo('./a.txt', 0o100644), b'a\n'),
                                               (zipinfo('b//c.txt', 0o100644), b'c\n'),
                                               (zipinfo('./', 0o40755), b'')])))
    entries.append(('self_nesting.zip', make_zip([(zipinfo('again.zip', 0o100644),
                                                   make_zip([(zipinfo('again.zip', 0o100644),
                                                              make_zip([(zipinfo('again.zip', 0o100644),
                                                                         make_zip([(zipinfo('again.zip', 0o100644),
                                                                                    make_zip([(zipinfo('again.zip',
                                                                                                       0o100644),
                                                                                               b'PK')]))]))]))]))])))
    entries.append(('stored_method_lies.zip', raw_zip([{'name': b'stored.txt', 'data': b'plain text', 'method': 0,
                                                        'size': 4}])))
    entries.append(('encrypted_unknown_method.zip', raw_zip([{'name': b'odd.txt', 'data': b'odd', 'method': 99,
                                                              'password': PASSWORD}])))
    entries.append(('encrypted_folder.zip', raw_zip([{'name': b'dir/', 'data': b'', 'method': 0,
                                                      'password': PASSWORD}])))
    entries.append(('own_name_chain.zip', make_zip([(zipinfo('a.zip', 0o100644),
                                                     make_zip([(zipinfo('a.zip', 0o100644),
                                                                make_zip([(zipinfo('a.zip', 0o100644),
                                                                           make_zip([(zipinfo('a.zip', 0o100644),
                                                                                      b'PK')]))]))]))])))
    entries.append(('own_name_then_slip.zip', make_zip([(zipinfo('a.zip', 0o100644),
                                                         make_zip([(zipinfo('a.zip', 0o100644), b'x'),
                                                                   (zipinfo('../escape.txt', 0o100644), b'e')]))])))
    entries.append(('name_not_utf8.zip', raw_zip([{'name': b'bytes-\xd7\xcb\xd1\x8b.txt', 'data': b'raw name'}])))
    entries.append(('long_name.zip', raw_zip([{'name': b'n' * 4000, 'data': b'long'}])))
    entries.append(('symlink_into_folder.zip', make_zip([(zipinfo('dir', 0o120777), b'/tmp'),
                                                         (zipinfo('dir/escape.txt', 0o100644), b'escape\n')])))
    return entries


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as out:
        out.write(data)


def main():
    fixture_list = fixtures()
    if os.path.isdir(ZIP_DIR):
        shutil.rmtree(ZIP_DIR)
    expected = {}
    for name, data, expectation in fixture_list:
        write(os.path.join(ZIP_DIR, name + '.zip'), data)
        expected[name] = expectation
    write(os.path.join(ZIP_DIR, 'expected.json'),
          (json.dumps({'nestingBound': NESTING_BOUND, 'archives': expected}, ensure_ascii=False, indent=1,
                      sort_keys=True) + '\n').encode('utf-8'))

    if os.path.isdir(CORPUS_DIR):
        shutil.rmtree(CORPUS_DIR)
    entries = corpus(fixture_list)
    names = set()
    for name, data in entries:
        assert name not in names, name
        names.add(name)
        write(os.path.join(CORPUS_DIR, name), data)
    print('wrote %d zip fixtures and %d corpus files' % (len(fixture_list), len(entries)))


if __name__ == '__main__':
    main()
