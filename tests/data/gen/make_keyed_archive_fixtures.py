#!/usr/bin/env python3
"""Writes the keyed-archive and binary property list fixtures and the seed corpus of
fuzz_keyed_archive:

  tests/data/keyed/index.archive      a keyed archive shaped like a document index: an
                                      NSMutableArray of two "IdeaProxy" objects (strings, an
                                      integer, a real, bools, dates, data, nested arrays, a
                                      dictionary, nil), a "PortableImage" object with one key,
                                      and an "IconImage" object both proxies share
  tests/data/keyed/forms.archive      the other forms a keyed archive may use (NSSet,
                                      NSMutableString, NSMutableData, NSMutableDictionary,
                                      NSNull, an empty $top-level array)
  tests/data/keyed/primitives.bplist  a plain binary property list of every primitive kind
                                      (written by plistlib)
  tests/data/keyed/handmade.bplist    forms plistlib never writes: a 4-byte real, a 16-byte
                                      negative integer, a set, an ordered set, counts spelled
                                      with an integer object, a 16-byte UID, 2-byte references
                                      and offsets, an object shared by two arrays
  tests/data/keyed/expected.json      what each fixture decodes to (format below)
  fuzz/corpus/fuzz_keyed_archive/     the fixtures plus broken files of every kind the reader
                                      must refuse

Standard library only (plistlib with plistlib.UID); the archives are laid out here from the
public keyed-archive layout, never with the code under test. Output is deterministic, so
running it again leaves the checked-in files unchanged. Run from anywhere:
  /usr/bin/python3 tests/data/gen/make_keyed_archive_fixtures.py

Format of expected.json: {"plists": {file: value}, "archives": {file: [[key, value], ...]}},
where a value is a tagged list:
  ["null"] (property lists) or ["nil"] (archives), ["bool", b], ["int", "decimal text"],
  ["real", x], ["date", seconds since 2001-01-01 UTC], ["data", "base64"], ["string", s],
  ["uid", n], ["array", [values]], ["dict", [[key, value], ...]] (any order),
  ["object", {"class": name, "classes": [names], "values": [[key, value], ...],
              "shared": label (optional: every use of one label is one archived object)}].
In the archive descriptions a third element of "array", "dict", "string" or "data" names the
class the fixture writes it as (e.g. "NSMutableArray"); readers ignore it.
"""

import base64
import json
import os
import plistlib
import shutil
import struct

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
KEYED_DIR = os.path.join(ROOT, "tests", "data", "keyed")
CORPUS_DIR = os.path.join(ROOT, "fuzz", "corpus", "fuzz_keyed_archive")

# Keep in step with BinaryPropertyList::DefaultMaxDepth and KeyedArchive::DefaultMaxDepth.
MAX_DEPTH = 512


def b64(data):
    return base64.b64encode(data).decode("ascii")


# ---------------------------------------------------------------------------------------
# Descriptions


def s(text, cls=None):
    return ["string", text] if cls is None else ["string", text, cls]


def i(value):
    return ["int", str(value)]


def r(value):
    return ["real", value]


def d(seconds):
    return ["date", seconds]


def data(raw, cls=None):
    return ["data", b64(raw)] if cls is None else ["data", b64(raw), cls]


def arr(values, cls=None):
    return ["array", values] if cls is None else ["array", values, cls]


def dic(pairs, cls=None):
    return ["dict", pairs] if cls is None else ["dict", pairs, cls]


def obj(cls, values, classes=None, shared=None):
    body = {"class": cls, "classes": classes or [cls, "NSObject"], "values": values}
    if shared is not None:
        body["shared"] = shared
    return ["object", body]


NIL = ["nil"]
PNG_BYTES = bytes.fromhex("89504e470d0a1a0a0000000d49484452") + bytes(range(16))

ICON = obj("IconImage", [["symbol", s("\U0001F600")], ["name", s("grinning face")]], shared="icon")


def proxy(n, title, date_seconds, starred, tags):
    return obj("IdeaProxy", [
        ["docIdentifier", s("id7310%02d_%d.crvx" % (n, n))],
        ["title", s(title)],
        ["ideaCount", i(40 + n)],
        ["bigCount", i(-(2 ** 40) - n)],
        ["score", r(0.25 * n)],
        ["isStarred", ["bool", starred]],
        ["modified", d(date_seconds)],
        ["thumbnail", data(bytes([n, 0, 255, 128]))],
        ["image", obj("PortableImage", [["$0", data(PNG_BYTES)]])],
        ["iconImage", ICON],
        ["tags", arr(tags)],
        ["note", NIL],
    ])


INDEX_TOP = [
    ["fileFormatVersion", i(1)],
    ["appInstance", s("9F1C2B3A-instance")],
    ["proxyList", arr([
        proxy(1, "Plans for the garden", 694224000.5, True,
              [s("home"), arr([i(1), r(2.5), arr([])]), dic([["colour", s("blue")], ["weight", i(2)]])]),
        proxy(2, "Caf\u00e9 \u00fcber Stra\u00dfe \u2615", -86400.25, False,
              [arr([arr([s("deep")])]), ["bool", False], d(0)]),
    ], "NSMutableArray")],
]

FORMS_TOP = [
    ["set", arr([s("a"), s("b")], "NSSet")],
    ["mutableText", s("mutable text", "NSMutableString")],
    ["mutableData", data(b"\x00\x01\x02", "NSMutableData")],
    ["mutableDictionary", dic([["k", i(-1)], ["\u00e9", NIL]], "NSMutableDictionary")],
    ["null", ["nil", "NSNull"]],
    ["emptyArray", arr([])],
    ["emptyText", s("")],
    ["emptyData", data(b"")],
    ["realInline", r(-1.0e300)],
    ["largeInteger", i(2 ** 63 - 1)],
    ["smallestInteger", i(-(2 ** 63))],
]


# ---------------------------------------------------------------------------------------
# A keyed archiver written from the public layout

HIERARCHIES = {
    "NSMutableArray": ["NSMutableArray", "NSArray", "NSObject"],
    "NSMutableSet": ["NSMutableSet", "NSSet", "NSObject"],
    "NSMutableDictionary": ["NSMutableDictionary", "NSDictionary", "NSObject"],
}


class Archiver:
    def __init__(self):
        self.objects = ["$null"]
        self.classes = {}
        self.shared = {}

    def add(self, entry):
        self.objects.append(entry)
        return len(self.objects) - 1

    def class_uid(self, name, hierarchy):
        if name not in self.classes:
            self.classes[name] = self.add({"$classname": name, "$classes": hierarchy})
        return plistlib.UID(self.classes[name])

    def keyed(self, value):
        """The form under a key: numbers and bools inline, everything else by UID."""
        kind = value[0]
        if kind == "int":
            return int(value[1])
        if kind == "real":
            return value[1]
        if kind == "bool":
            return value[1]
        return plistlib.UID(self.ref(value))

    def ref(self, value):
        kind = value[0]
        cls = value[2] if len(value) > 2 else None
        if kind == "nil":
            if cls == "NSNull":
                return self.add({"$class": self.class_uid("NSNull", ["NSNull", "NSObject"])})
            return 0
        if kind == "string":
            if cls:
                uid = self.add(None)
                self.objects[uid] = {"$class": self.class_uid(cls, [cls, "NSString", "NSObject"]),
                                     "NS.string": value[1]}
                return uid
            return self.add(value[1])
        if kind == "data":
            raw = base64.b64decode(value[1])
            if cls:
                uid = self.add(None)
                self.objects[uid] = {"$class": self.class_uid(cls, [cls, "NSData", "NSObject"]), "NS.data": raw}
                return uid
            return self.add(raw)
        if kind == "int":
            return self.add(int(value[1]))
        if kind in ("real", "bool"):
            return self.add(value[1])
        if kind == "date":
            uid = self.add(None)
            self.objects[uid] = {"$class": self.class_uid("NSDate", ["NSDate", "NSObject"]), "NS.time": value[1]}
            return uid
        if kind == "array":
            cls = cls or "NSArray"
            uid = self.add(None)
            entry = {"$class": self.class_uid(cls, HIERARCHIES.get(cls, [cls, "NSObject"]))}
            entry["NS.objects"] = [plistlib.UID(self.ref(v)) for v in value[1]]
            self.objects[uid] = entry
            return uid
        if kind == "dict":
            cls = cls or "NSDictionary"
            uid = self.add(None)
            entry = {"$class": self.class_uid(cls, HIERARCHIES.get(cls, [cls, "NSObject"]))}
            entry["NS.keys"] = [plistlib.UID(self.ref(s(k))) for k, _ in value[1]]
            entry["NS.objects"] = [plistlib.UID(self.ref(v)) for _, v in value[1]]
            self.objects[uid] = entry
            return uid
        if kind == "object":
            body = value[1]
            label = body.get("shared")
            if label is not None and label in self.shared:
                return self.shared[label]
            uid = self.add(None)
            if label is not None:
                self.shared[label] = uid
            entry = {"$class": self.class_uid(body["class"], body["classes"])}
            for key, v in body["values"]:
                entry[key] = self.keyed(v)
            self.objects[uid] = entry
            return uid
        raise ValueError("unknown kind %r" % kind)

    def archive(self, top_pairs):
        top = {key: self.keyed(value) for key, value in top_pairs}
        root = {"$version": 100000, "$archiver": "NSKeyedArchiver", "$top": top, "$objects": self.objects}
        return plistlib.dumps(root, fmt=plistlib.FMT_BINARY, sort_keys=False)


def keyed_archive(top_pairs):
    return Archiver().archive(top_pairs)


def archive_plist(top_pairs):
    """The root dictionary of an archive, for building broken variants."""
    archiver = Archiver()
    top = {key: archiver.keyed(value) for key, value in top_pairs}
    return {"$version": 100000, "$archiver": "NSKeyedArchiver", "$top": top, "$objects": archiver.objects}


# ---------------------------------------------------------------------------------------
# Plain property lists

REFERENCE_DATE = 978307200  # 2001-01-01 00:00:00 UTC as Unix time


def plist_date(seconds):
    import datetime
    return datetime.datetime(2001, 1, 1) + datetime.timedelta(seconds=seconds)


PRIMITIVES = [
    ("null", None, ["null"]),
    ("true", True, ["bool", True]),
    ("false", False, ["bool", False]),
    ("zero", 0, i(0)),
    ("oneByte", 255, i(255)),
    ("twoBytes", 256, i(256)),
    ("twoBytesMax", 65535, i(65535)),
    ("fourBytes", 65536, i(65536)),
    ("fourBytesMax", 2 ** 32 - 1, i(2 ** 32 - 1)),
    ("eightBytes", 2 ** 32, i(2 ** 32)),
    ("int64Max", 2 ** 63 - 1, i(2 ** 63 - 1)),
    ("minusOne", -1, i(-1)),
    ("int64Min", -(2 ** 63), i(-(2 ** 63))),
    ("uint64Max", 2 ** 64 - 1, i(2 ** 64 - 1)),
    ("uint64AboveInt64", 2 ** 63, i(2 ** 63)),
    ("real", 1.5, r(1.5)),
    ("negativeReal", -0.1, r(-0.1)),
    ("hugeReal", 1.0e300, r(1.0e300)),
    ("tinyReal", 5e-324, r(5e-324)),
    ("date", plist_date(694224000.5), d(694224000.5)),
    ("dateBefore2001", plist_date(-978307200.25), d(-978307200.25)),
    ("dateMilliseconds", plist_date(1.001), d(1.001)),
    ("emptyData", b"", data(b"")),
    ("data", bytes(range(256)) * 2, data(bytes(range(256)) * 2)),
    ("emptyString", "", s("")),
    ("ascii", "plain ascii text longer than fourteen characters", s("plain ascii text longer than fourteen characters")),
    ("latin", "caf\u00e9", s("caf\u00e9")),
    ("bmp", "\u65e5\u672c\u8a9e\u2615", s("\u65e5\u672c\u8a9e\u2615")),
    ("astral", "a\U0001F600b", s("a\U0001F600b")),
    ("uidSmall", plistlib.UID(7), ["uid", 7]),
    ("uidLarge", plistlib.UID(2 ** 40), ["uid", 2 ** 40]),
    ("emptyArray", [], arr([])),
    ("emptyDict", {}, dic([])),
    ("longArray", list(range(20)), arr([i(n) for n in range(20)])),
    ("nested", [[1, [2, {"k": "v"}]], {"inner": [True]}],
     arr([arr([i(1), arr([i(2), dic([["k", s("v")]])])]), dic([["inner", arr([["bool", True]])]])])),
]


def primitives_plist():
    value = {key: python_value for key, python_value, _ in PRIMITIVES}
    return plistlib.dumps(value, fmt=plistlib.FMT_BINARY, sort_keys=False)


def primitives_expected():
    return dic([[key, expected] for key, _, expected in PRIMITIVES])


# A hand-laid binary property list: objects as raw bytes, references into the list.


def int_bytes(value, size):
    return value.to_bytes(size, "big", signed=value < 0)


def count_marker(high, count):
    if count < 15:
        return bytes([(high << 4) | count])
    if count < 256:
        return bytes([(high << 4) | 0xF, 0x10, count])
    if count < 65536:
        return bytes([(high << 4) | 0xF, 0x11]) + int_bytes(count, 2)
    return bytes([(high << 4) | 0xF, 0x13]) + int_bytes(count, 8)


def raw_plist(objects, top=0, ref_size=1, offset_size=None, count=None, table_offset=None,
              trailer_ref_size=None, trailer_offset_size=None, offsets=None, tail=b""):
    """objects: list of bytes, or ("array"|"set"|"oset"|"dict", [refs]) tuples."""
    body = b"bplist00"
    real_offsets = []
    for entry in objects:
        real_offsets.append(len(body))
        if isinstance(entry, tuple):
            kind, refs = entry
            high = {"array": 0xA, "oset": 0xB, "set": 0xC, "dict": 0xD}[kind]
            n = len(refs) // 2 if kind == "dict" else len(refs)
            body += count_marker(high, n) + b"".join(int_bytes(ref, ref_size) for ref in refs)
        else:
            body += entry
    body += tail
    offsets = real_offsets if offsets is None else offsets
    if offset_size is None:
        offset_size = max(1, (max(offsets) .bit_length() + 7) // 8)
        offset_size = {1: 1, 2: 2, 3: 4, 4: 4}.get(offset_size, 8)
    table = len(body)
    body += b"".join(o.to_bytes(offset_size, "big") for o in offsets)
    trailer = bytes(6) + bytes([offset_size if trailer_offset_size is None else trailer_offset_size,
                                ref_size if trailer_ref_size is None else trailer_ref_size])
    trailer += struct.pack(">QQQ", len(objects) if count is None else count, top,
                           table if table_offset is None else table_offset)
    return body + trailer


def ascii_object(text):
    return count_marker(0x5, len(text)) + text.encode("ascii")


def utf16_object(text):
    raw = text.encode("utf-16-be")
    return count_marker(0x6, len(raw) // 2) + raw


def int_object(value):
    if 0 <= value < 256:
        return b"\x10" + int_bytes(value, 1)
    return b"\x13" + int_bytes(value, 8)


def handmade_plist():
    objects = [
        ("array", [1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 12]),  # 0: top
        b"\x22" + struct.pack(">f", 1.5),                    # 1: 4-byte real
        b"\x14" + b"\xff" * 8 + int_bytes(-5, 8),             # 2: 16-byte negative integer
        b"\x14" + bytes(8) + int_bytes(42, 8),                # 3: 16-byte small integer
        ("set", [13, 14]),                                    # 4: set of two integers
        ("oset", [14]),                                       # 5: ordered set
        b"\x5f\x10\x03abc",                                   # 6: ASCII with a spelled-out count
        b"\x4f\x11\x00\x02\xca\xfe",                          # 7: data with a 2-byte count
        utf16_object("\u00fcber \U0001F600"),                 # 8: UTF-16 with a surrogate pair
        b"\x8f" + bytes(14) + b"\x01\x02",                    # 9: 16-byte UID 258
        ("dict", [6, 15]),                                    # 10: {"abc": 3.25}
        b"\x33" + struct.pack(">d", -1.5),                    # 11: date before 2001
        ("array", [16, 16]),                                  # 12: shared twice from the top
        int_object(1),                                        # 13
        int_object(2),                                        # 14
        b"\x23" + struct.pack(">d", 3.25),                    # 15
        ascii_object("shared"),                               # 16
    ]
    shared = arr([s("shared"), s("shared")])
    expected = arr([
        r(1.5), i(-5), i(42), arr([i(1), i(2)]), arr([i(2)]), s("abc"), data(b"\xca\xfe"),
        s("\u00fcber \U0001F600"), ["uid", 258], dic([["abc", r(3.25)]]), d(-1.5), shared, shared,
    ])
    return raw_plist(objects, ref_size=2, offset_size=2), expected


# ---------------------------------------------------------------------------------------
# Broken inputs for the fuzz corpus


def nested_arrays(depth):
    objects = [("array", [k + 1]) for k in range(depth - 1)] + [("array", [])]
    return raw_plist(objects, ref_size=2)


def uid_chain_archive(depth):
    """$top "root" -> NSArray -> NSArray -> ... `depth` levels, through UIDs."""
    objects = ["$null", {"$classname": "NSArray", "$classes": ["NSArray", "NSObject"]}]
    for k in range(depth):
        objects.append({"$class": plistlib.UID(1), "NS.objects": [plistlib.UID(len(objects) + 1)] if k < depth - 1 else []})
    root = {"$version": 100000, "$archiver": "NSKeyedArchiver", "$top": {"root": plistlib.UID(2)}, "$objects": objects}
    return plistlib.dumps(root, fmt=plistlib.FMT_BINARY, sort_keys=False)


def broken_inputs(valid):
    out = {}
    out["empty"] = b""
    out["not_a_plist.txt"] = b"<?xml version=\"1.0\"?><plist><dict/></plist>\n"
    out["xml_plist.plist"] = plistlib.dumps({"a": 1})
    out["header_only"] = b"bplist00"
    out["wrong_version_header"] = b"bplist01" + valid[8:]
    out["truncated_trailer"] = valid[:-5]
    out["truncated_half"] = valid[: len(valid) // 2]
    simple = [("array", [1, 2]), int_object(7), ascii_object("x")]
    out["valid_simple"] = raw_plist(simple)
    out["offset_table_outside"] = raw_plist(simple, table_offset=10 ** 6)
    out["offset_table_overlaps_trailer"] = raw_plist(simple, count=200)
    out["offset_pointing_outside"] = raw_plist(simple, offsets=[8, 11, 5000])
    out["offset_into_header"] = raw_plist(simple, offsets=[8, 3, 13])
    out["top_out_of_range"] = raw_plist(simple, top=3)
    out["object_ref_out_of_range"] = raw_plist([("array", [1, 9]), int_object(7), ascii_object("x")])
    out["zero_objects"] = raw_plist(simple, count=0)
    out["huge_object_count"] = raw_plist(simple, count=2 ** 63)
    out["bad_offset_size"] = raw_plist(simple, trailer_offset_size=0)
    out["bad_ref_size"] = raw_plist(simple, trailer_ref_size=9)
    out["huge_array_count"] = raw_plist([b"\xaf\x13" + b"\x7f" + b"\xff" * 7 + b"\x00"])
    out["huge_array_count_u64"] = raw_plist([b"\xaf\x13" + b"\xff" * 8 + b"\x00"])
    out["huge_string_count"] = raw_plist([b"\x5f\x13" + b"\x00\x00\x00\x01\x00\x00\x00\x00abc"])
    out["huge_data_count"] = raw_plist([b"\x4f\x12\xff\xff\xff\xffabc"])
    out["huge_dict_count"] = raw_plist([b"\xdf\x12\x40\x00\x00\x00\x00\x00"])
    out["self_referencing_array"] = raw_plist([("array", [0])])
    out["indirect_cycle"] = raw_plist([("array", [1]), ("dict", [2, 0]), ascii_object("k")])
    out["deep_nesting_at_limit"] = nested_arrays(MAX_DEPTH)
    out["deep_nesting_beyond_limit"] = nested_arrays(MAX_DEPTH + 1)
    out["deep_nesting_huge"] = nested_arrays(20000)
    # 40 levels of [x, x]: 2^40 values once expanded.
    laughs = [("array", [k + 1, k + 1]) for k in range(40)] + [ascii_object("lol")]
    out["exponential_sharing"] = raw_plist(laughs)
    out["int16_small"] = raw_plist([b"\x14" + bytes(15) + b"\x07"])
    out["int16_negative"] = raw_plist([b"\x14" + b"\xff" * 15 + b"\xfe"])
    out["int16_beyond_64_bits"] = raw_plist([b"\x14" + b"\x00" * 7 + b"\x01" + bytes(8)])
    out["int16_bad_sign"] = raw_plist([b"\x14" + b"\xff" * 8 + b"\x00" * 8])
    out["int32_bytes_marker"] = raw_plist([b"\x15" + bytes(32)])
    out["utf16_odd_length"] = raw_plist([b"\x63\x00\x41\x00\x42\x00"])
    out["utf16_lone_surrogate"] = raw_plist([b"\x61\xd8\x00"])
    out["ascii_high_bytes"] = raw_plist([b"\x53\xe9\xff\x80"])
    out["unknown_marker"] = raw_plist([b"\x70"])
    out["fill_marker"] = raw_plist([b"\x0f"])
    out["real_3_bytes"] = raw_plist([b"\x21\x00\x00"])
    out["uid_beyond_64_bits"] = raw_plist([b"\x8f" + b"\x01" + bytes(15)])
    out["dict_key_not_string"] = raw_plist([("dict", [1, 1]), int_object(3)])
    out["truncated_object"] = raw_plist([b"\x13\x00\x00"])
    out["count_marker_not_int"] = raw_plist([b"\x5f\x23" + bytes(8)])

    # Keyed-archive layout faults.
    def dump(root):
        return plistlib.dumps(root, fmt=plistlib.FMT_BINARY, sort_keys=False)

    base = archive_plist([["x", s("text")], ["n", i(3)]])
    without = dict(base)
    del without["$archiver"]
    out["archive_no_archiver"] = dump(without)
    out["archive_other_archiver"] = dump(dict(base, **{"$archiver": "SomeArchiver"}))
    out["archive_version_as_string"] = dump(dict(base, **{"$version": "100000"}))
    out["archive_version_other"] = dump(dict(base, **{"$version": 99}))
    out["archive_no_top"] = dump({k: v for k, v in base.items() if k != "$top"})
    out["archive_top_not_dict"] = dump(dict(base, **{"$top": ["x"]}))
    out["archive_objects_without_null"] = dump(dict(base, **{"$objects": ["text"]}))
    out["archive_top_is_array"] = dump(["$null"])
    out["archive_uid_out_of_range"] = dump(dict(base, **{"$top": {"x": plistlib.UID(99)}}))
    cls = {"$classname": "Node", "$classes": ["Node", "NSObject"]}
    out["archive_uid_cycle"] = dump({
        "$version": 100000, "$archiver": "NSKeyedArchiver", "$top": {"root": plistlib.UID(1)},
        "$objects": ["$null", {"$class": plistlib.UID(3), "next": plistlib.UID(2)},
                     {"$class": plistlib.UID(3), "next": plistlib.UID(1)}, cls]})
    out["archive_self_reference"] = dump({
        "$version": 100000, "$archiver": "NSKeyedArchiver", "$top": {"root": plistlib.UID(1)},
        "$objects": ["$null", {"$class": plistlib.UID(2), "NS.objects": [plistlib.UID(1)]},
                     {"$classname": "NSArray", "$classes": ["NSArray", "NSObject"]}]})
    out["archive_class_not_description"] = dump({
        "$version": 100000, "$archiver": "NSKeyedArchiver", "$top": {"root": plistlib.UID(1)},
        "$objects": ["$null", {"$class": plistlib.UID(1)}]})
    out["archive_class_missing"] = dump({
        "$version": 100000, "$archiver": "NSKeyedArchiver", "$top": {"root": plistlib.UID(1)},
        "$objects": ["$null", {"key": 1}]})
    out["archive_dictionary_unmatched"] = dump({
        "$version": 100000, "$archiver": "NSKeyedArchiver", "$top": {"root": plistlib.UID(1)},
        "$objects": ["$null", {"$class": plistlib.UID(2), "NS.keys": [plistlib.UID(3)], "NS.objects": []},
                     {"$classname": "NSDictionary", "$classes": ["NSDictionary", "NSObject"]}, "k"]})
    out["archive_date_bad_time"] = dump({
        "$version": 100000, "$archiver": "NSKeyedArchiver", "$top": {"root": plistlib.UID(1)},
        "$objects": ["$null", {"$class": plistlib.UID(2), "NS.time": 1e300},
                     {"$classname": "NSDate", "$classes": ["NSDate", "NSObject"]}]})
    out["archive_plain_date_entries"] = dump({
        "$version": 100000, "$archiver": "NSKeyedArchiver", "$top": {"root": plistlib.UID(1), "when": plist_date(-0.5)},
        "$objects": ["$null", {"$class": plistlib.UID(2), "NS.objects": [plistlib.UID(3), plistlib.UID(3)]},
                     {"$classname": "NSArray", "$classes": ["NSArray", "NSObject"]}, plist_date(86400.5)]})
    out["archive_deep_at_limit"] = uid_chain_archive(MAX_DEPTH)
    out["archive_deep_beyond_limit"] = uid_chain_archive(MAX_DEPTH + 1)
    objects = ["$null", {"$classname": "NSArray", "$classes": ["NSArray", "NSObject"]}]
    for k in range(40):
        nxt = plistlib.UID(len(objects) + 1)
        objects.append({"$class": plistlib.UID(1), "NS.objects": [nxt, nxt]})
    objects.append("lol")
    out["archive_exponential_sharing"] = dump({
        "$version": 100000, "$archiver": "NSKeyedArchiver", "$top": {"root": plistlib.UID(2)}, "$objects": objects})
    return out


# ---------------------------------------------------------------------------------------


def reset(folder):
    if os.path.isdir(folder):
        shutil.rmtree(folder)
    os.makedirs(folder)


def write(folder, name, payload):
    with open(os.path.join(folder, name), "wb") as f:
        f.write(payload)


def main():
    reset(KEYED_DIR)
    reset(CORPUS_DIR)

    index = keyed_archive(INDEX_TOP)
    forms = keyed_archive(FORMS_TOP)
    primitives = primitives_plist()
    handmade, handmade_expected = handmade_plist()
    fixtures = {
        "index.archive": index,
        "forms.archive": forms,
        "primitives.bplist": primitives,
        "handmade.bplist": handmade,
    }
    for name, payload in fixtures.items():
        write(KEYED_DIR, name, payload)
        write(CORPUS_DIR, "valid_" + name.replace(".", "_"), payload)

    expected = {
        "plists": {"primitives.bplist": primitives_expected(), "handmade.bplist": handmade_expected},
        "archives": {"index.archive": INDEX_TOP, "forms.archive": FORMS_TOP},
    }
    with open(os.path.join(KEYED_DIR, "expected.json"), "w", encoding="utf-8") as f:
        json.dump(expected, f, indent=1, ensure_ascii=False)
        f.write("\n")

    for name, payload in broken_inputs(index).items():
        write(CORPUS_DIR, name, payload)


if __name__ == "__main__":
    main()
