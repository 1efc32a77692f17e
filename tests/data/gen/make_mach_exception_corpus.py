#!/usr/bin/env python3
"""Seeds of fuzz/corpus/fuzz_mach_exception_message: exception-port requests as a kernel
delivers them (92 bytes: header, body, thread and task descriptors, NDR, exception, code
count, two 64-bit codes, trailer), one per table row worth reaching, and a short one."""

import os
import struct

OUT = os.path.join(os.path.dirname(__file__), '..', '..', '..', 'fuzz', 'corpus', 'fuzz_mach_exception_message')


def request(exception, codes, identifier=2405):
    header = struct.pack('<IIIIIi', 0x1513, 84, 0x2207, 0x1003, 0, identifier)
    body = struct.pack('<I', 2)
    thread = struct.pack('<IIHBB', 0x503, 0, 0, 17, 0)
    task = struct.pack('<IIHBB', 0x103, 0, 0, 17, 0)
    ndr = bytes([0, 0, 0, 0, 1, 0, 0, 0])
    padded = (list(codes) + [0, 0])[:2]
    tail = struct.pack('<iI', exception, len(codes)) + struct.pack('<qq', *padded)
    trailer = struct.pack('<II', 0, 8)
    return header + body + thread + task + ndr + tail + trailer


def main():
    os.makedirs(OUT, exist_ok=True)
    seeds = {
        'bad_access': request(1, [1, 0x10]),
        'bad_instruction': request(2, [1]),
        'arithmetic': request(3, [1]),
        'breakpoint': request(6, [33]),
        'guard': request(12, []),
        'many_codes': request(1, [2, 3])[:64] + struct.pack('<I', 900) + request(1, [2, 3])[68:],
        'short': request(1, [1])[:91],
        'identifier_wraps': request(6, [1], identifier=0x7fffffff),
    }
    for name, data in seeds.items():
        with open(os.path.join(OUT, name), 'wb') as out:
            out.write(data)


main()
