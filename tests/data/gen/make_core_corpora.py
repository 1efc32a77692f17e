#!/usr/bin/env python3
"""Writes the seed corpora of the core codec fuzz targets:

  fuzz/corpus/fuzz_json_text/     JSON text for JsonText::parse
  fuzz/corpus/fuzz_zlib_inflate/  zlib, raw deflate and gzip streams (good and broken),
                                  plus date and Base64 text for the same target
  fuzz/corpus/fuzz_inflate_roads/ the same streams and the headers and blocks where the
                                  whole-buffer inflate and zlib's could part ways

Standard library only. Output is deterministic (gzip headers carry mtime 0), so running it
again leaves the checked-in files unchanged. Run from anywhere:
  python3 tests/data/gen/make_core_corpora.py
"""

import gzip
import json
import os
import shutil
import zlib

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
JSON_DIR = os.path.join(ROOT, "fuzz", "corpus", "fuzz_json_text")
ZLIB_DIR = os.path.join(ROOT, "fuzz", "corpus", "fuzz_zlib_inflate")
ROADS_DIR = os.path.join(ROOT, "fuzz", "corpus", "fuzz_inflate_roads")

# Keep in step with JsonText::DefaultMaxDepth and the small bound fuzz_json_text also uses.
DEFAULT_MAX_DEPTH = 2100
SMALL_MAX_DEPTH = 8
INFLATE_BOUND = 1024 * 1024  # the bound fuzz_zlib_inflate passes


def reset(folder):
    if os.path.isdir(folder):
        shutil.rmtree(folder)
    os.makedirs(folder)


def write(folder, name, data):
    if isinstance(data, str):
        data = data.encode("utf-8")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def idea(index, depth, fan_out):
    node = {
        "identifier": "id%d_1" % index,
        "ideaType": 1,
        "colorThemeType": 0,
        "text": ("Idea %d café über 😀 " % index).ljust(40, "x")[:40],
    }
    if index % 5 == 0:
        node["note"] = "A note\nwith two lines and \"quotes\"."
    node["color"] = "blue%d" % (index % 7 + 1)
    if index % 3 == 0:
        node["iconImage"] = {"name": "grinning face", "category": "Smileys & People", "symbol": "😀"}
    if depth > 0:
        node["ideas"] = [idea(index * fan_out + k + 1, depth - 1, fan_out) for k in range(fan_out)]
    return node


def payload(depth=2, fan_out=3):
    return {
        "ideaDocumentDataObject": {
            "fileFormatVersion": 4,
            "idea": idea(0, depth, fan_out),
            "dateCreated": "2024-01-02 03:04:00 GMT",
            "dateModified": "2024-01-02 03:04:00 GMT",
            "appInstance": "MAC_1704164640.000000",
        }
    }


def compact(value):
    return json.dumps(value, ensure_ascii=False, separators=(",", ":"))


def nested(depth):
    return "[" * depth + "]" * depth


def json_corpus():
    reset(JSON_DIR)
    w = lambda name, data: write(JSON_DIR, name, data)
    w("valid_payload.json", compact(payload()))
    w("valid_payload_pretty.json", json.dumps(payload(1, 2), indent=2, ensure_ascii=True))
    w("valid_scalars.json", '[null,true,false,0,-0,1,-1,1.5,-2.5e-3,1E+2,"",' '"\\u00e9\\ud83d\\ude00\\/\\b\\f\\n\\r\\t"]')
    w("valid_top_string.json", '"just a string"')
    w("valid_top_number.json", "42")
    w("valid_empty_containers.json", '{"a":[],"b":{},"c":[[],{}]}')
    w("valid_bom.json", b"\xef\xbb\xbf" + b'{"bom":true}')
    w("empty.json", b"")
    w("whitespace_only.json", " \n\t\r ")
    full = compact(payload()).encode("utf-8")
    w("truncated_payload.json", full[: len(full) // 2])
    w("truncated_string.json", '{"a":"unterminated')
    w("trailing_garbage.json", '{"a":1} x')
    w("two_values.json", "1 2")
    w("trailing_comma.json", "[1,2,]")
    w("single_quotes.json", "{'a':1}")
    w("comment.json", "/* comment */ {\"a\":1}")
    w("nan_literal.json", "[NaN, Infinity]")
    w("control_char_in_string.json", b'"tab\there"')
    w("bad_escape.json", '"\\x41"')
    w("lone_surrogate_escape.json", '"\\ud800"')
    w("duplicate_keys.json", '{"a":1,"b":2,"a":{"x":3},"c":4,"b":5}')
    w("duplicate_keys_nested.json", '{"k":{"k":1,"k":2},"k":[{"k":0}]}')
    # Numbers at and beyond every range.
    w("int64_limits.json", "[9223372036854775807,-9223372036854775808]")
    w("uint64_range.json", "[9223372036854775808,18446744073709551615]")
    w("beyond_uint64.json", "[18446744073709551616,-9223372036854775809]")
    w("huge_integer.json", "1" + "0" * 400)
    w("huge_exponent.json", "1e400")
    w("tiny_exponent.json", "[1e-400,-1e-400,5e-324]")
    w("max_double.json", "1.7976931348623157e308")
    w("leading_zero.json", "[01]")
    # Invalid UTF-8 inside and outside strings.
    w("invalid_utf8_byte.json", b'"\xff"')
    w("invalid_utf8_overlong.json", b'"\xc0\xaf"')
    w("invalid_utf8_surrogate.json", b'["\xed\xa0\x80"]')
    w("invalid_utf8_truncated.json", b'{"k\xc3":1}')
    w("invalid_utf8_outside.json", b"[1,\xfe]")
    # Nesting at and beyond both bounds the target uses.
    w("depth_small_at_limit.json", nested(SMALL_MAX_DEPTH))
    w("depth_small_beyond_limit.json", nested(SMALL_MAX_DEPTH + 1))
    w("depth_default_at_limit.json", nested(DEFAULT_MAX_DEPTH))
    w("depth_default_beyond_limit.json", nested(DEFAULT_MAX_DEPTH + 1))
    objects = "1"
    for _ in range(DEFAULT_MAX_DEPTH):
        objects = '{"k":' + objects + "}"
    w("depth_default_objects_at_limit.json", objects)
    w("depth_unclosed_100000.json", "[" * 100000)
    deep_ideas = payload(0, 1)
    node = deep_ideas["ideaDocumentDataObject"]["idea"]
    for level in range(1, 200):
        child = {"identifier": "id%d_1" % level, "text": "x" * 40}
        node["ideas"] = [child]
        node = child
    w("valid_deep_idea_chain.json", compact(deep_ideas))


def deflate(data, wbits, level=zlib.Z_DEFAULT_COMPRESSION, zdict=None):
    if zdict is None:
        c = zlib.compressobj(level, zlib.DEFLATED, wbits)
    else:
        c = zlib.compressobj(level, zlib.DEFLATED, wbits, zdict=zdict)
    return c.compress(data) + c.flush()


def zlib_corpus():
    reset(ZLIB_DIR)
    w = lambda name, data: write(ZLIB_DIR, name, data)
    text = compact(payload()).encode("utf-8")
    stream = deflate(text, 15)
    assert stream[:2] == b"\x78\x9c"
    w("zlib_payload.zlib", stream)
    w("zlib_level1.zlib", deflate(text, 15, 1))
    w("zlib_level9.zlib", deflate(text, 15, 9))
    w("zlib_stored.zlib", deflate(text[:300], 15, 0))
    w("zlib_small_window.zlib", deflate(text, 9))
    w("zlib_one_byte.zlib", deflate(b"x", 15))
    w("zlib_empty_stream.zlib", deflate(b"", 15))
    w("zlib_with_dictionary.zlib", deflate(text, 15, zdict=b"identifier text color"))
    w("zlib_truncated.zlib", stream[: len(stream) // 2])
    w("zlib_missing_checksum.zlib", stream[:-4])
    w("zlib_trailing_garbage.zlib", stream + b"garbage")
    w("zlib_two_streams.zlib", stream + stream)
    bad = bytearray(stream)
    bad[-1] ^= 0x01
    w("zlib_bad_checksum.zlib", bytes(bad))
    corrupt = bytearray(stream)
    corrupt[len(corrupt) // 2] ^= 0xFF
    w("zlib_corrupt_body.zlib", bytes(corrupt))
    w("zlib_bad_header_check.zlib", b"\x78\x9d" + stream[2:])
    w("zlib_bad_method.zlib", b"\x79\x9c" + stream[2:])
    w("zlib_window_too_large.zlib", b"\x88\x98" + stream[2:])
    # Bombs: far more output than the 1 MiB bound from a few kilobytes.
    w("zlib_bomb_16MiB.zlib", deflate(b"\0" * (16 * 1024 * 1024), 15, 9))
    w("zlib_at_bound.zlib", deflate(b"\0" * INFLATE_BOUND, 15, 9))
    w("zlib_one_over_bound.zlib", deflate(b"\0" * (INFLATE_BOUND + 1), 15, 9))
    raw = deflate(text, -15)
    w("raw_payload.deflate", raw)
    w("raw_truncated.deflate", raw[: len(raw) // 3])
    w("raw_trailing_garbage.deflate", raw + b"\x00\x01")
    w("raw_bomb_8MiB.deflate", deflate(b"A" * (8 * 1024 * 1024), -15, 9))
    gz = gzip.compress(text, mtime=0)
    w("gzip_payload.gz", gz)
    w("gzip_two_members.gz", gz + gzip.compress(b"second member", mtime=0))
    w("gzip_truncated.gz", gz[: len(gz) - 5])
    w("gzip_trailing_garbage.gz", gz + b"junk")
    bad_crc = bytearray(gz)
    bad_crc[-6] ^= 0x40
    w("gzip_bad_crc.gz", bytes(bad_crc))
    w("gzip_bomb_4MiB.gz", gzip.compress(b"\0" * (4 * 1024 * 1024), compresslevel=9, mtime=0))
    w("gzip_header_only.gz", gz[:10])
    w("empty.bin", b"")
    w("not_compressed.txt", "plain text that is no compressed stream at all")
    # Text for DateText::parse and Base64::decode.
    w("date_valid.txt", "2024-03-05 14:07:00 GMT")
    w("date_offset.txt", "2024-03-05 15:07:00 GMT+01:00")
    w("date_short_offset.txt", "2024-03-05 15:07:00 GMT+1")
    w("date_seconds.txt", "2024-03-05 14:07:30 GMT")
    w("date_feb30.txt", "2024-02-30 14:07:00 GMT")
    w("date_extra_text.txt", "2024-03-05 14:07:00 GMT trailing")
    w("base64_lines.txt", "Zm9v\nYmFy\r\nYmF6\n")
    w("base64_junk.txt", "  Zm 9v*Y!mF\ty====extra")


class BitWriter:
    """Deflate's bit order: fields from their least significant bit, Huffman codes from their
    most significant one."""

    def __init__(self):
        self.bits = []

    def field(self, value, count):
        self.bits += [(value >> i) & 1 for i in range(count)]

    def code(self, value, length):
        self.bits += [(value >> (length - 1 - i)) & 1 for i in range(length)]

    def bytes(self):
        padded = self.bits + [0] * (-len(self.bits) % 8)
        return bytes(sum(padded[i + j] << j for j in range(8)) for i in range(0, len(padded), 8))


def canonical_codes(lengths):
    """The canonical Huffman code of each symbol with a length (RFC 1951, 3.2.2)."""
    counts = [0] * 16
    for length in lengths:
        if length:
            counts[length] += 1
    next_code, code = [0] * 16, 0
    for bits in range(1, 16):
        code = (code + counts[bits - 1]) << 1
        next_code[bits] = code
    codes = {}
    for symbol, length in enumerate(lengths):
        if length:
            codes[symbol] = (next_code[length], length)
            next_code[length] += 1
    return codes


def dynamic_block(literal_count, text, missing_codeword=False, overrun=False):
    """One final dynamic block whose literal/length code has `literal_count` lengths (286 at
    most by RFC 1951; zlib refuses more), holding `text` as literals. Its distance code has
    one codeword; with `missing_codeword` a match of three bytes follows that takes the
    other, missing one (zlib refuses it). With `overrun` the distance code has none, its one
    length given by a run of eleven zeros that reaches ten past the count (zlib refuses it)."""
    # A complete code: 8 bits for some symbols, 9 for the rest.
    lengths = [8] * (512 - literal_count) + [9] * (2 * literal_count - 512)
    writer = BitWriter()
    writer.field(1, 1)  # final
    writer.field(2, 2)  # dynamic
    writer.field(literal_count - 257, 5)
    writer.field(0, 5)  # one distance code
    order = [16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15]
    length_code_lengths = [0] * 19
    length_code_lengths[8] = 1
    length_code_lengths[9] = 2
    length_code_lengths[18 if overrun else 1] = 2
    writer.field(19 - 4, 4)
    for symbol in order:
        writer.field(length_code_lengths[symbol], 3)
    length_codes = canonical_codes(length_code_lengths)
    for length in lengths:
        writer.code(*length_codes[length])
    if overrun:
        writer.code(*length_codes[18])
        writer.field(0, 7)  # eleven zeros
    else:
        writer.code(*length_codes[1])  # the one distance code
    codes = canonical_codes(lengths)
    for byte in text:
        writer.code(*codes[byte])
    if missing_codeword:
        writer.code(*codes[257])  # a length of three
        writer.code(1, 1)  # the distance codeword no symbol has
    writer.code(*codes[256])
    return writer.bytes()


def gzip_member(data, flags=0, extra=b"", name=b"", comment=b"", header_crc=None):
    header = bytes([0x1F, 0x8B, 8, flags, 0, 0, 0, 0, 0, 255])
    if flags & 0x04:
        header += len(extra).to_bytes(2, "little") + extra
    if flags & 0x08:
        header += name + b"\0"
    if flags & 0x10:
        header += comment + b"\0"
    if flags & 0x02:
        crc = zlib.crc32(header) & 0xFFFF if header_crc is None else header_crc
        header += crc.to_bytes(2, "little")
    trailer = zlib.crc32(data).to_bytes(4, "little") + (len(data) & 0xFFFFFFFF).to_bytes(4, "little")
    return header + deflate(data, -15) + trailer


def zlib_wrapped(raw, data, header=b"\x78\x9c"):
    return header + raw + zlib.adler32(data).to_bytes(4, "big")


def roads_corpus():
    reset(ROADS_DIR)
    for name in sorted(os.listdir(ZLIB_DIR)):
        if not name.endswith(".txt"):
            shutil.copy(os.path.join(ZLIB_DIR, name), os.path.join(ROADS_DIR, name))
    w = lambda name, data: write(ROADS_DIR, name, data)
    text = compact(payload(3, 4)).encode("utf-8")
    for level in (1, 6, 9):
        w("zlib_made_at_level%d.zlib" % level, deflate(text, 15, level))
    w("zlib_stored_blocks.zlib", deflate(text * 8, 15, 0))
    # Stored blocks of 64 KiB ending just beyond the bound, and exactly at it.
    for name, zeros in (("zlib_stored_block_over_bound.zlib", INFLATE_BOUND - 1000),
                        ("zlib_stored_block_at_bound.zlib", INFLATE_BOUND - 65535)):
        head = zlib.compressobj(9, zlib.DEFLATED, -15)
        raw = head.compress(b"\0" * zeros) + head.flush(zlib.Z_SYNC_FLUSH)
        raw += b"\x01\xff\xff\x00\x00" + b"s" * 65535
        w(name, zlib_wrapped(raw, b"\0" * zeros + b"s" * 65535))
    # A 1 KiB window declared over a stream that reaches back 32 KiB.
    far = deflate(text * 4, 15)
    w("zlib_far_reach_small_window.zlib", b"\x28\x15" + far[2:])
    w("gzip_header_checksum.gz", gzip_member(text, flags=0x02))
    w("gzip_header_checksum_wrong.gz", gzip_member(text, flags=0x02, header_crc=0x1234))
    w("gzip_extra_name_comment.gz", gzip_member(text, flags=0x1C, extra=b"ab\x02\x00xy", name=b"a.json",
                                                comment=b"note"))
    w("gzip_reserved_flag.gz", gzip_member(text, flags=0x20))
    w("gzip_second_member_checksum.gz", gzip_member(text) + gzip_member(b"second", flags=0x02))
    w("gzip_wrong_size.gz", gzip_member(text)[:-4] + b"\x01\x00\x00\x00")
    literals = b"literal text in a dynamic block"
    for count in (286, 288):
        raw = dynamic_block(count, literals)
        w("deflate_%d_literal_codes.deflate" % count, raw)
        w("zlib_%d_literal_codes.zlib" % count, zlib_wrapped(raw, literals))
    w("deflate_missing_distance_codeword.deflate", dynamic_block(286, literals, missing_codeword=True))
    w("deflate_lengths_past_the_count.deflate", dynamic_block(286, literals, overrun=True))


def main():
    json_corpus()
    zlib_corpus()
    roads_corpus()
    for folder in (JSON_DIR, ZLIB_DIR, ROADS_DIR):
        print("%s: %d files" % (os.path.relpath(folder, ROOT), len(os.listdir(folder))))


if __name__ == "__main__":
    main()
