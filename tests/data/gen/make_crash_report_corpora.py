#!/usr/bin/env python3
"""Writes the corpora of the crash reporter's readers of outside bytes:

  fuzz/corpus/fuzz_report_directory/  report directories a crash left, packed as one input:
                                      pieces "--FILE <n>\\n<bytes>" joined by 0x1e, <n> the
                                      index of the record name (metadata 0, images 1, signal 2,
                                      exception 3, mach exception 4, errors 5, user kv 6 and 7,
                                      internal kv 8 and 9, custom exceptions 10, log 11)
  fuzz/corpus/fuzz_beta_update/       the beta service's answers
  fuzz/corpus/fuzz_elf_symbol_table/  small ELF files with a load segment, .symtab, .dynsym and
                                      build-id notes, sized symbols and a label

Standard library only; run with /usr/bin/python3 from anywhere.
"""

import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', '..', 'fuzz', 'corpus')


def write(folder, name, data):
    path = os.path.join(ROOT, folder)
    os.makedirs(path, exist_ok=True)
    with open(os.path.join(path, name), 'wb') as out:
        out.write(data)


def pack(files):
    return b'\x1e'.join(b'--FILE %d\n' % index + data for index, data in files)


METADATA = (b'{"identity":{"api_key":"k","started_at":1767000000,"session_id":"abc"}}\n'
            b'{"host":{"os_display_version":"6.1"}}\n{"application":{"build_version":"7"}}\n')
IMAGES = b'{"load":{"path":"/bin/true","uuid":"00112233445566778899aabbccddeeff","base":4096,"size":65536}}\n'
SIGNAL = (b'{"signal":{"number":11,"time":5}}\n'
          b'{"threads":[{"stacktrace":[4200,4300,0,18446744073709551615],"crashed":true},{"stacktrace":[]}]}\n')


def report_directories():
    folder = 'fuzz_report_directory'
    write(folder, 'whole_crash', pack([(0, METADATA), (1, IMAGES), (2, SIGNAL), (11, b'{"log":{"msg":"6869","time":1}}\n')]))
    write(folder, 'torn_metadata', pack([(0, METADATA[:70]), (5, b'{"error":{"domain":"61","code":-1}}\n')]))
    write(folder, 'no_metadata', pack([(2, SIGNAL)]))
    write(folder, 'wrong_types', pack([(0, b'{"identity":{"session_id":7,"started_at":"x"}}\n[1]\n"s"\n'),
                                       (1, b'{"load":{"base":null,"size":"big"}}\n{"load":[]}\n'),
                                       (2, b'{"threads":{"stacktrace":1}}\n{"threads":[1,"x",{"stacktrace":"y"}]}\n')]))
    write(folder, 'bad_utf8_and_junk', pack([(0, METADATA), (2, b'\xff\xfe{"threads":\n\x00\x01\n'),
                                             (4, b'{"mach_exception":{"time":-3}}\n')]))
    write(folder, 'key_values', pack([(0, METADATA), (6, b'{"kv":{"key":"61","value":"62"}}\n{"kv":{"key":"61","value":null}}\n'
                                                          b'{"kv":{"key":"zz"}}\n{"kv":'),
                                      (7, b'{"kv":{"key":"63","value":"64"}}\n' * 40)]))
    write(folder, 'deep', pack([(0, METADATA), (2, b'{"threads":' + b'[' * 5000 + b']' * 5000 + b'}\n')]))
    write(folder, 'empty', b'')


def beta_answers():
    folder = 'fuzz_beta_update'
    write(folder, 'good', b'{"url":"https://builds.example.invalid/2.0","version_string":"2.0"}')
    write(folder, 'no_url', b'{"version_string":"2.0"}')
    write(folder, 'url_number', b'{"url":7}')
    write(folder, 'not_object', b'["https://a.invalid"]')
    write(folder, 'bad_url', b'{"url":"http://[::1"}')
    write(folder, 'cut', b'{"url":"https://a.inv')
    write(folder, 'deep', b'[' * 3000)


def elf(symbols, build_id=b'\x11' * 16, stripped=False, cut=None):
    """A 64-bit little-endian ELF with one load segment, .text, a note, a symbol table and its
    strings; symbols are (name, value, size)."""
    names = b'\x00' + b''.join(name + b'\x00' for name, _, _ in symbols)
    entries = [b'\x00' * 24]
    at = 1
    for name, value, size in symbols:
        entries.append(struct.pack('<IBBHQQ', at, 0x12, 0, 1, value, size))
        at += len(name) + 1
    symtab = b''.join(entries)
    note = struct.pack('<III', 4, len(build_id), 3) + b'GNU\x00' + build_id
    shstr = b'\x00.text\x00.note\x00.symtab\x00.strtab\x00.shstrtab\x00'
    text = b'\xc3' * 64
    body = [text, note, symtab, names, shstr]
    offsets = []
    offset = 64 + 56
    for part in body:
        offsets.append(offset)
        offset += len(part)
    shoff = offset
    table_type = 11 if stripped else 2  # SHT_DYNSYM or SHT_SYMTAB
    sections = [b'\x00' * 64,
                struct.pack('<IIQQQQIIQQ', 1, 1, 6, 0x1000, offsets[0], len(text), 0, 0, 16, 0),
                struct.pack('<IIQQQQIIQQ', 7, 7, 2, 0, offsets[1], len(note), 0, 0, 4, 0),
                struct.pack('<IIQQQQIIQQ', 13, table_type, 0, 0, offsets[2], len(symtab), 4, 1, 8, 24),
                struct.pack('<IIQQQQIIQQ', 21, 3, 0, 0, offsets[3], len(names), 0, 0, 1, 0),
                struct.pack('<IIQQQQIIQQ', 29, 3, 0, 0, offsets[4], len(shstr), 0, 0, 1, 0)]
    header = (b'\x7fELF\x02\x01\x01' + b'\x00' * 9 +
              struct.pack('<HHIQQQIHHHHHH', 3, 62, 1, 0x1000, 64, shoff, 0, 64, 56, 1, 64, len(sections), 5))
    # PT_LOAD, read and execute: the file from offset 0 at address 0.
    segment = struct.pack('<IIQQQQQQ', 1, 5, 0, 0, 0, shoff, shoff, 0x1000)
    data = header + segment + b''.join(body) + b''.join(sections)
    return data[:cut] if cut else data


def elf_files():
    folder = 'fuzz_elf_symbol_table'
    symbols = [(b'_ZN6corvex5probeEv', 0x1000, 16), (b'static_helper', 0x1010, 16), (b'main', 0x1020, 16),
               (b'main_label', 0x1028, 0)]
    write(folder, 'symtab', elf(symbols))
    write(folder, 'dynsym_only', elf(symbols, stripped=True))
    write(folder, 'short_build_id', elf(symbols, build_id=b'\x01\x02'))
    write(folder, 'cut_in_sections', elf(symbols, cut=300))
    write(folder, 'header_only', elf(symbols, cut=64))
    data = bytearray(elf(symbols))
    struct.pack_into('<H', data, 60, 0xffff)  # e_shnum beyond the file
    write(folder, 'too_many_sections', bytes(data))
    data = bytearray(elf(symbols))
    struct.pack_into('<QH', data, 32, 1 << 40, 0xffff)  # program headers far beyond the file
    write(folder, 'program_headers_beyond', bytes(data))
    data = bytearray(elf(symbols))
    struct.pack_into('<Q', data, 64 + 8, 0x2000)  # a segment whose offset passes its address
    write(folder, 'segment_offset_past_address', bytes(data))
    write(folder, 'not_elf', b'#!/bin/sh\necho hi\n')


report_directories()
beta_answers()
elf_files()
