#!/usr/bin/env python3
"""XML property lists written by Python's plistlib for the kit's defaults store, with the
values a reader must find in them; and the check that a property list we wrote loads in
plistlib to the same dictionary.

    make_kit_plist_fixtures.py            writes tests/data/kit/plist/{all_types.plist,
                                          expected.json} and fuzz/corpus/fuzz_xml_property_list/
    make_kit_plist_fixtures.py --check F  exit 0 when plistlib loads F to VALUE, else 1"""

import base64
import datetime
import json
import os
import plistlib
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", "..", ".."))
OUT = os.path.join(ROOT, "tests", "data", "kit", "plist")
CORPUS = os.path.join(ROOT, "fuzz", "corpus", "fuzz_xml_property_list")

VALUE = {
    "com.blackbox.iuuid": "E621E1F8-C36C-495A-93FC-0C247A3E6E5F",
    "string": "plain text",
    "entities": "<tag> & \"quoted\" 'single' ]]> end",
    "whitespace": "  tab\there\nnew line  ",
    "emptyString": "",
    "integer": 42,
    "negative": -7,
    "int64Max": 2**63 - 1,
    "int64Min": -(2**63),
    "real": 3.25,
    "realNegative": -0.001,
    "realWhole": 2.0,
    "realTiny": 1e-300,
    "true": True,
    "false": False,
    "date": datetime.datetime(2024, 3, 5, 14, 7, 9),
    "dateOld": datetime.datetime(1969, 12, 31, 23, 59, 59),
    "data": bytes(range(256)),
    "emptyData": b"",
    "array": [1, "two", 3.5, False, [], {}],
    "nested": {"deeper": {"list": [{"k": "v"}, [datetime.datetime(2001, 1, 1, 0, 0, 0)]]}},
    "schlüssel": "Wert",
    "ключ": "значение",
    "鍵": "値",
    "emoji 🙂": "🙂 smile",
}


def tagged(value):
    if isinstance(value, bool):
        return {"t": "bool", "v": value}
    if isinstance(value, int):
        return {"t": "integer", "v": str(value)}
    if isinstance(value, float):
        return {"t": "real", "v": repr(value)}
    if isinstance(value, str):
        return {"t": "string", "v": value}
    if isinstance(value, bytes):
        return {"t": "data", "v": base64.b64encode(value).decode()}
    if isinstance(value, datetime.datetime):
        return {"t": "date", "v": value.strftime("%Y-%m-%dT%H:%M:%SZ")}
    if isinstance(value, list):
        return {"t": "array", "v": [tagged(v) for v in value]}
    if isinstance(value, dict):
        return {"t": "dict", "v": [[k, tagged(v)] for k, v in value.items()]}
    raise TypeError(type(value))


def corpus():
    valid = plistlib.dumps(VALUE)
    yield "all_types.plist", valid
    yield "empty_dict.plist", plistlib.dumps({})
    yield "sorted.plist", plistlib.dumps(VALUE, sort_keys=True)
    yield "truncated.plist", valid[: len(valid) // 2]
    yield "billion_laughs.plist", (b'<?xml version="1.0"?><!DOCTYPE plist [<!ENTITY a "aaaaaaaa">'
                                   b'<!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;">]><plist><dict><key>k</key>'
                                   b'<string>&b;</string></dict></plist>')
    yield "external_entity.plist", (b'<?xml version="1.0"?><!DOCTYPE plist [<!ENTITY x SYSTEM "file:///etc/passwd">]>'
                                    b'<plist><string>&x;</string></plist>')
    yield "deep.plist", b"<plist>" + b"<array>" * 400 + b"</array>" * 400 + b"</plist>"
    yield "unknown_element.plist", b"<plist><dict><key>a</key><float>1</float></dict></plist>"
    yield "bad_base64.plist", b"<plist><data>!!!!</data></plist>"
    yield "bad_date.plist", b"<plist><date>2024-13-45T99:00:00Z</date></plist>"
    yield "key_without_value.plist", b"<plist><dict><key>a</key></dict></plist>"
    yield "char_refs.plist", b"<plist><string>&#65;&#x42;&#x1F642;&lt;&amp;</string></plist>"
    yield "bad_char_ref.plist", b"<plist><string>&#0;</string></plist>"
    yield "cdata.plist", b"<plist><string><![CDATA[<raw> & text]]></string></plist>"


def check(path):
    with open(path, "rb") as f:
        loaded = plistlib.load(f)
    if loaded != VALUE:
        for key in sorted(set(loaded) | set(VALUE)):
            if loaded.get(key) != VALUE.get(key):
                print("differs at %r: %r != %r" % (key, loaded.get(key), VALUE.get(key)), file=sys.stderr)
        return 1
    return 0


def main(argv):
    if len(argv) == 3 and argv[1] == "--check":
        return check(argv[2])
    os.makedirs(OUT, exist_ok=True)
    os.makedirs(CORPUS, exist_ok=True)
    with open(os.path.join(OUT, "all_types.plist"), "wb") as f:
        plistlib.dump(VALUE, f)
    with open(os.path.join(OUT, "expected.json"), "w", encoding="utf-8") as f:
        json.dump(tagged(VALUE), f, indent=1, ensure_ascii=False)
        f.write("\n")
    for name, data in corpus():
        with open(os.path.join(CORPUS, name), "wb") as f:
            f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
