#!/usr/bin/env python3
"""Writes the seed corpora of the unwinder's fuzz targets:

  fuzz/corpus/fuzz_dwarf_cfi/          call-frame sections behind a five-byte header
  fuzz/corpus/fuzz_dwarf_expression/   DWARF expressions behind a one-byte header

Built from the published formats alone (the DWARF call-frame and expression encodings and
the .eh_frame augmentations), without the program's code. fuzz_dwarf_cfi inputs: a
little-endian u16 FDE offset into the section, a u16 PC offset from the FDE's begin, a flag
byte (bit 0: the PC is exact), then the section: a CIE ("zR", "zPLR", "zRS", "eh",
versions 1, 3, 4) and an FDE with typical prologues, remember and restore state, the PLT's
expression, and cut or damaged records. fuzz_dwarf_expression inputs: a byte choosing the
initial value, then a ULEB128 length and the program.

Standard library only; the output is deterministic. Run with /usr/bin/python3 from anywhere;
the folders are emptied and written again.
"""

import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.normpath(os.path.join(HERE, '..', '..', '..'))
CFI_DIR = os.path.join(REPO, 'fuzz', 'corpus', 'fuzz_dwarf_cfi')
EXPRESSION_DIR = os.path.join(REPO, 'fuzz', 'corpus', 'fuzz_dwarf_expression')


def uleb(value):
    out = bytearray()
    while True:
        byte = value & 0x7F
        value >>= 7
        if value:
            out.append(byte | 0x80)
        else:
            out.append(byte)
            return bytes(out)


def pad(record):
    while (len(record) + 4) % 8:
        record += b'\x00'
    return record


def cie(augmentation=b'zR', version=1, aug_data=b'\x1b', instructions=b'\x0c\x07\x08\x90\x01'):
    body = struct.pack('<IB', 0, version) + augmentation + b'\x00' + uleb(1) + b'\x78'
    body += bytes([16]) if version == 1 else uleb(16)
    if augmentation.startswith(b'z'):
        body += uleb(len(aug_data)) + aug_data
    body = pad(body + instructions)
    return struct.pack('<I', len(body)) + body


def fde(cie_bytes, instructions, pc_begin=0x1000, pc_range=0x100, aug=True):
    offset = len(cie_bytes)
    # pc-relative sdata4: relative to the field, which lies 8 bytes into the FDE.
    body = struct.pack('<Iii', offset + 4, pc_begin - (offset + 8), pc_range)
    if aug:
        body += uleb(0)
    body = pad(body + instructions)
    return struct.pack('<I', len(body)) + body


def cfi_input(section, fde_offset, pc_offset, exact):
    return struct.pack('<HHB', fde_offset, pc_offset, 1 if exact else 0) + section


PROLOGUE = b'\x41\x0e\x10\x86\x02\x43\x0d\x06'  # push rbp; mov rbp, rsp
SAVES = b'\x42\x0e\x10\x8f\x02\x42\x0e\x18\x8e\x03\x41\x0e\x20\x83\x04\x44\x0e\x40'
EPILOGUE = b'\x0a\x41\x0e\x08\x0b'  # remember, leave, restore
PLT_CFA = b'\x0f\x0b\x77\x08\x80\x00\x3f\x1a\x3b\x2a\x33\x24\x22'
SIGNAL = b'\x0f\x03\x77\xa0\x01\x10\x10\x02\x77\x28\x10\x06\x02\x77\x20'


def cfi_cases():
    cases = {}
    base = cie()
    for name, instructions in [('prologue', PROLOGUE), ('saves', SAVES), ('epilogue', SAVES + EPILOGUE + b'\x45\x0e\x40'),
                               ('plt', PLT_CFA), ('restore', SAVES + b'\xc3\xc6\x06\x0f'),
                               ('extended', b'\x05\x0c\x02\x11\x03\x7e\x2f\x0d\x01\x07\x10\x08\x06\x09\x03\x0c'),
                               ('advances', b'\x02\x80\x0e\x10\x03\x00\x01\x0e\x18\x04\x00\x00\x01\x00\x0e\x20'),
                               ('args_size', b'\x41\x2e\x10\x41\x2e\x00'), ('undefined_ra', b'\x07\x10'),
                               ('unknown_opcode', b'\x41\x17'), ('window_save', b'\x2d')]:
        section = base + fde(base, instructions)
        for pc_offset, exact in [(0, True), (1, False), (8, True), (0x40, False)]:
            cases['%s_%d_%d' % (name, pc_offset, exact)] = cfi_input(section, len(base), pc_offset, exact)
    signal_cie = cie(b'zRS')
    cases['signal_frame'] = cfi_input(signal_cie + fde(signal_cie, SIGNAL), len(signal_cie), 4, True)
    zplr = cie(b'zPLR', 1, b'\x03\x44\x33\x22\x11\x1b\x1b')
    cases['zplr'] = cfi_input(zplr + fde(zplr, PROLOGUE, aug=True), len(zplr), 2, False)
    v3 = cie(b'zR', 3)
    cases['version3'] = cfi_input(v3 + fde(v3, PROLOGUE), len(v3), 2, True)
    v4 = cie(b'zR', 4)
    cases['version4'] = cfi_input(v4 + fde(v4, PROLOGUE), len(v4), 2, True)
    eh = cie(b'eh', 1, b'')
    cases['augmentation_eh'] = cfi_input(eh + fde(eh, PROLOGUE, aug=False), len(eh), 2, True)
    whole = base + fde(base, SAVES + EPILOGUE)
    cases['cut_short'] = cfi_input(whole[:len(whole) - 9], len(base), 4, False)
    cases['zero_length_fde'] = cfi_input(base + b'\x00' * 8, len(base), 0, True)
    cases['bad_cie_pointer'] = cfi_input(base + struct.pack('<II', 12, 0x7FFF) + b'\x00' * 8, len(base), 0, True)
    # An .eh_frame_hdr: version 1, eh_frame_ptr pcrel sdata4, count udata4, table datarel sdata4.
    hdr = struct.pack('<BBBBiI', 1, 0x1B, 0x03, 0x3B, 0x100, 3) + struct.pack('<6i', 0, 0x20, 0x40, 0x40, 0x80, 0x60)
    cases['eh_frame_hdr'] = cfi_input(hdr, 0, 0x50, True)
    return cases


def expression_cases():
    programs = {
        'lit_plus_uconst': b'\x35\x23\x03',
        'breg_rsp': b'\x77\x08',
        'plt': b'\x77\x08\x80\x00\x3f\x1a\x3b\x2a\x33\x24\x22',
        'deref': b'\x06',
        'deref_size_4': b'\x94\x04',
        'deref_size_3': b'\x94\x03',
        'dup_swap_ne': b'\x12\x16\x2e',
        'and': b'\x3f\x1a',
        'breg17': b'\x81\x00',
        'mul': b'\x31\x1e',
        'empty_pop': b'\x22\x22',
        'many_pushes': b'\x31' * 101,
        'signal_cfa': b'\x77\xa0\x01\x06',
    }
    cases = {}
    for name, program in programs.items():
        for initial in (0, 0x10, 0xFF):
            cases['%s_%02x' % (name, initial)] = bytes([initial]) + uleb(len(program)) + program
    cases['zero_length'] = b'\x00\x00'
    cases['length_past_end'] = b'\x00\x10\x31'
    cases['short_of_end'] = b'\x00\x03\x31\x23\xac\x02'
    return cases


def write(folder, cases):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, data in sorted(cases.items()):
        with open(os.path.join(folder, name), 'wb') as out:
            out.write(data)


def main():
    write(CFI_DIR, cfi_cases())
    write(EXPRESSION_DIR, expression_cases())


if __name__ == '__main__':
    main()
