#!/usr/bin/env python3
"""Mach-O files for the kit's image reader, made from the published format with struct, and
what a reader must find in each: slices (cpu type and subtype, offset), and per slice the
UUID, the minimum-OS and SDK versions, the encryption flag and the __TEXT,__text section, or
nothing where the file is damaged. Also fills the fuzz corpus of the reader.

Writes tests/data/kit/macho/*.macho, tests/data/kit/macho/expected.json and
fuzz/corpus/fuzz_macho/."""

import json
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", "..", ".."))
OUT = os.path.join(ROOT, "tests", "data", "kit", "macho")
CORPUS = os.path.join(ROOT, "fuzz", "corpus", "fuzz_macho")

MH_MAGIC, MH_MAGIC_64 = 0xFEEDFACE, 0xFEEDFACF
LC_SEGMENT, LC_SEGMENT_64, LC_UUID = 0x1, 0x19, 0x1B
LC_VERSION_MIN_MACOSX, LC_ENCRYPTION_INFO_64, LC_LOAD_DYLIB = 0x24, 0x2C, 0xC
ABI64 = 0x01000000


def name16(text):
    return text.encode().ljust(16, b"\0")


def version(major, minor, patch):
    return (major << 16) | (minor << 8) | patch


def cmd_uuid(uuid_bytes, endian="<"):
    return struct.pack(endian + "II", LC_UUID, 24) + uuid_bytes


def cmd_version_min(min_os, sdk):
    return struct.pack("<IIII", LC_VERSION_MIN_MACOSX, 16, version(*min_os), version(*sdk))


def cmd_encryption64(cryptid):
    return struct.pack("<IIIIII", LC_ENCRYPTION_INFO_64, 24, 0x4000, 0x1000, cryptid, 0)


def cmd_dylib(path):
    name = path.encode() + b"\0"
    name = name.ljust((len(name) + 3) // 4 * 4, b"\0")
    return struct.pack("<IIIIII", LC_LOAD_DYLIB, 24 + len(name), 24, 2, 0x10000, 0x10000) + name


def cmd_segment64(segname, vmaddr, vmsize, sections):
    body = b""
    for sectname, addr, size, offset in sections:
        body += name16(sectname) + name16(segname) + struct.pack("<QQIIIIIIII", addr, size, offset, 4, 0, 0, 0, 0, 0, 0)
    size = 72 + len(body)
    return struct.pack("<II", LC_SEGMENT_64, size) + name16(segname) + struct.pack(
        "<QQQQIIII", vmaddr, vmsize, 0, 0x2000, 5, 5, len(sections), 0) + body


def cmd_segment32(segname, vmaddr, vmsize, sections):
    body = b""
    for sectname, addr, size, offset in sections:
        body += name16(sectname) + name16(segname) + struct.pack("<IIIIIIIII", addr, size, offset, 4, 0, 0, 0, 0, 0)
    size = 56 + len(body)
    return struct.pack("<II", LC_SEGMENT, size) + name16(segname) + struct.pack(
        "<IIIIIIII", vmaddr, vmsize, 0, 0x2000, 5, 5, len(sections), 0) + body


def image(is64, cputype, cpusubtype, commands, ncmds=None, sizeofcmds=None, pad_to=0x200):
    blob = b"".join(commands)
    n = len(commands) if ncmds is None else ncmds
    s = len(blob) if sizeofcmds is None else sizeofcmds
    if is64:
        header = struct.pack("<IiiIIIII", MH_MAGIC_64, cputype, cpusubtype, 2, n, s, 0, 0)
    else:
        header = struct.pack("<IiiIIII", MH_MAGIC, cputype, cpusubtype, 2, n, s, 0)
    data = header + blob
    return data.ljust(pad_to, b"\xCC")


def fat(slices):
    header = struct.pack(">II", 0xCAFEBABE, len(slices))
    offset = 0x1000
    entries, bodies = b"", b""
    for cputype, cpusubtype, body in slices:
        entries += struct.pack(">iiIII", cputype, cpusubtype, offset, len(body), 12)
        bodies = bodies.ljust(offset - 0x1000, b"\0") + body
        offset = (0x1000 + len(bodies) + 0xFFF) // 0x1000 * 0x1000
    return (header + entries).ljust(0x1000, b"\0") + bodies


UUID_A = bytes(range(0x10, 0x20))
UUID_B = bytes.fromhex("0123456789abcdeffedcba9876543210")
UUID_C = bytes.fromhex("a1b2c3d4e5f60718293a4b5c6d7e8f90")


def slice_expect(cputype, cpusubtype, offset, arch, uuid=None, min_os=None, sdk=None, encrypted=False,
                 text=None, dylib=None, commands=0):
    return {
        "cpuType": cputype, "cpuSubtype": cpusubtype, "offset": offset, "arch": arch,
        "uuid": uuid.hex() if uuid else None,
        "minOS": "%d.%d.%d" % min_os if min_os else None,
        "sdk": "%d.%d.%d" % sdk if sdk else None,
        "encrypted": encrypted, "text": text, "dylib": dylib, "commands": commands,
    }


def build():
    files, expected = {}, {}

    text64 = ("__text", 0x100001000, 0x80, 0x100)
    thin64_cmds = [cmd_segment64("__TEXT", 0x100000000, 0x2000, [text64, ("__unwind_info", 0x100001080, 0x40, 0x180)]),
                   cmd_uuid(UUID_A), cmd_version_min((10, 11, 1), (10, 12, 0)), cmd_encryption64(1),
                   cmd_dylib("/usr/lib/libSystem.B.dylib")]
    files["thin64.macho"] = image(True, ABI64 | 7, 3, thin64_cmds)
    expected["thin64.macho"] = [slice_expect(ABI64 | 7, 3, 0, "x86_64", UUID_A, (10, 11, 1), (10, 12, 0), True,
                                             [0x100001000, 0x80, 0x100], "/usr/lib/libSystem.B.dylib", 5)]

    text32 = ("__text", 0x1000, 0x40, 0x100)
    thin32_cmds = [cmd_segment32("__TEXT", 0x0, 0x2000, [text32]), cmd_uuid(UUID_B),
                   cmd_version_min((10, 9, 0), (10, 10, 3))]
    files["thin32.macho"] = image(False, 7, 3, thin32_cmds)
    expected["thin32.macho"] = [slice_expect(7, 3, 0, "i386", UUID_B, (10, 9, 0), (10, 10, 3), False,
                                             [0x1000, 0x40, 0x100], None, 3)]

    arm64 = image(True, ABI64 | 12, 0, [cmd_uuid(UUID_C), cmd_version_min((11, 0, 0), (11, 3, 0))])
    x86 = image(True, ABI64 | 7, 3, [cmd_uuid(UUID_A)])
    files["fat2.macho"] = fat([(ABI64 | 7, 3, x86), (ABI64 | 12, 0, arm64)])
    expected["fat2.macho"] = [slice_expect(ABI64 | 7, 3, 0x1000, "x86_64", UUID_A, commands=1),
                              slice_expect(ABI64 | 12, 0, 0x2000, "arm64", UUID_C, (11, 0, 0), (11, 3, 0),
                                           commands=2)]

    # A fat entry that claims bytes past the end of the file is skipped.
    broken_fat = bytearray(fat([(ABI64 | 7, 3, x86), (ABI64 | 12, 0, arm64)]))
    struct.pack_into(">I", broken_fat, 8 + 20 + 12, 0x7FFFFFFF)
    files["fat_entry_past_end.macho"] = bytes(broken_fat)
    expected["fat_entry_past_end.macho"] = [slice_expect(ABI64 | 7, 3, 0x1000, "x86_64", UUID_A, commands=1)]

    # Other byte order: named by its cpu type, walked as having no commands.
    swapped = struct.pack(">IiiIIIII", MH_MAGIC_64, ABI64 | 7, 3, 2, 1, 24, 0, 0) + cmd_uuid(UUID_A, ">")
    files["swapped.macho"] = swapped.ljust(0x100, b"\0")
    expected["swapped.macho"] = [slice_expect(ABI64 | 7, 3, 0, "x86_64")]

    # Cut inside the second command: the first (the segment) is still read, the UUID not.
    full = image(True, ABI64 | 7, 3, thin64_cmds, pad_to=0)
    cut = len(thin64_cmds[0]) + 32 + 12
    files["truncated.macho"] = full[:cut]
    expected["truncated.macho"] = [slice_expect(ABI64 | 7, 3, 0, "x86_64", text=[0x100001000, 0x80, 0x100],
                                                commands=1)]

    # A command of size 0 would repeat for ever: the walk stops there.
    zero = [cmd_uuid(UUID_A), struct.pack("<II", LC_UUID, 0) + bytes(16)]
    files["cmdsize0.macho"] = image(True, ABI64 | 7, 3, zero, sizeofcmds=48)
    expected["cmdsize0.macho"] = [slice_expect(ABI64 | 7, 3, 0, "x86_64", UUID_A, commands=1)]

    # ncmds says 100000: the walk ends where sizeofcmds does.
    files["ncmds_past_end.macho"] = image(True, ABI64 | 7, 3, [cmd_uuid(UUID_B), cmd_version_min((12, 0, 0), (13, 1, 0))],
                                          ncmds=100000)
    expected["ncmds_past_end.macho"] = [slice_expect(ABI64 | 7, 3, 0, "x86_64", UUID_B, (12, 0, 0), (13, 1, 0),
                                                     commands=2)]

    # Not Mach-O at all: one slice of zeros (the reader names it "unknown") and no commands.
    files["not_macho.macho"] = b"\x7fELF" + bytes(60)
    expected["not_macho.macho"] = [slice_expect(0, 0, 0, "unknown")]
    return files, expected


def main():
    files, expected = build()
    os.makedirs(OUT, exist_ok=True)
    os.makedirs(CORPUS, exist_ok=True)
    for name, data in files.items():
        for folder in (OUT, CORPUS):
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
    with open(os.path.join(OUT, "expected.json"), "w") as f:
        json.dump(expected, f, indent=1, sort_keys=True)
        f.write("\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
