#!/usr/bin/env python3
"""Checks a file written by our property list code against tests/data/keyed/expected.json,
reading it with plistlib only (an independent reader of the public formats).

  check_keyed_archive.py --archive PATH NAME   PATH is a keyed archive that must hold the
                                               top-level keys of expected["archives"][NAME]
  check_keyed_archive.py --plist PATH NAME     PATH is a binary property list that must equal
                                               expected["plists"][NAME]

For archives the layout is checked too: "$archiver" "NSKeyedArchiver", "$version" 100000,
"$objects" starting with "$null", classes named through "$class" UIDs, and every use of one
shared object referring to the same UID. Exit code 0 when everything matches, 1 otherwise
(with the first difference on stderr), 2 on bad arguments.
"""

import base64
import datetime
import json
import os
import plistlib
import sys

EXPECTED = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "keyed", "expected.json")
REFERENCE = datetime.datetime(2001, 1, 1)
ARRAY_CLASSES = {"NSArray", "NSMutableArray", "NSSet", "NSMutableSet", "NSOrderedSet", "NSMutableOrderedSet"}
DICTIONARY_CLASSES = {"NSDictionary", "NSMutableDictionary"}


class Mismatch(Exception):
    pass


def expect(condition, path, text):
    if not condition:
        raise Mismatch("%s: %s" % (path or "<top>", text))


def seconds(value):
    return (value - REFERENCE).total_seconds()


# ---------------------------------------------------------------------------------------
# Plain property lists


def match_plist(expected, actual, path):
    kind = expected[0]
    if kind == "null":
        expect(actual is None, path, "expected null, found %r" % (actual,))
    elif kind == "bool":
        expect(isinstance(actual, bool) and actual == expected[1], path, "expected %r, found %r" % (expected[1], actual))
    elif kind == "int":
        expect(isinstance(actual, int) and not isinstance(actual, bool) and actual == int(expected[1]), path,
               "expected integer %s, found %r" % (expected[1], actual))
    elif kind == "real":
        expect(isinstance(actual, float) and actual == expected[1], path, "expected real %r, found %r" % (expected[1], actual))
    elif kind == "date":
        expect(isinstance(actual, datetime.datetime) and abs(seconds(actual) - expected[1]) < 5e-7, path,
               "expected date %r, found %r" % (expected[1], actual))
    elif kind == "data":
        expect(isinstance(actual, bytes) and actual == base64.b64decode(expected[1]), path, "data differs: %r" % (actual,))
    elif kind == "string":
        expect(isinstance(actual, str) and actual == expected[1], path, "expected %r, found %r" % (expected[1], actual))
    elif kind == "uid":
        expect(isinstance(actual, plistlib.UID) and actual.data == expected[1], path,
               "expected UID %r, found %r" % (expected[1], actual))
    elif kind == "array":
        expect(isinstance(actual, list) and len(actual) == len(expected[1]), path,
               "expected an array of %d, found %r" % (len(expected[1]), actual))
        for index, (e, a) in enumerate(zip(expected[1], actual)):
            match_plist(e, a, "%s[%d]" % (path, index))
    elif kind == "dict":
        expect(isinstance(actual, dict), path, "expected a dictionary, found %r" % (actual,))
        expect(sorted(actual.keys()) == sorted(k for k, _ in expected[1]), path,
               "keys %r differ from %r" % (sorted(actual.keys()), sorted(k for k, _ in expected[1])))
        for key, e in expected[1]:
            match_plist(e, actual[key], "%s.%s" % (path, key))
    else:
        raise Mismatch("%s: unknown expected kind %r" % (path, kind))


# ---------------------------------------------------------------------------------------
# Keyed archives


class ArchiveChecker:
    def __init__(self, root):
        expect(isinstance(root, dict), "", "the top object is no dictionary")
        expect(root.get("$archiver") == "NSKeyedArchiver", "$archiver", "is %r" % (root.get("$archiver"),))
        version = root.get("$version")
        expect(isinstance(version, int) and not isinstance(version, bool) and version == 100000, "$version",
               "is %r" % (version,))
        expect(isinstance(root.get("$top"), dict), "$top", "missing or no dictionary")
        objects = root.get("$objects")
        expect(isinstance(objects, list) and objects and objects[0] == "$null", "$objects", "does not start with $null")
        self.top = root["$top"]
        self.objects = objects
        self.shared = {}

    def entry(self, stored, path):
        """The stored value itself, or the $objects entry its UID names (and the UID)."""
        if isinstance(stored, plistlib.UID):
            expect(0 <= stored.data < len(self.objects), path, "UID %d out of range" % stored.data)
            return self.objects[stored.data], stored.data
        return stored, None

    def class_of(self, entry, path):
        expect(isinstance(entry, dict) and isinstance(entry.get("$class"), plistlib.UID), path, "no $class UID")
        description, _ = self.entry(entry["$class"], path + ".$class")
        expect(isinstance(description, dict) and isinstance(description.get("$classname"), str), path,
               "$class names no class description")
        classes = description.get("$classes", [description["$classname"]])
        expect(isinstance(classes, list) and all(isinstance(c, str) for c in classes), path, "bad $classes")
        return description["$classname"], classes

    def match(self, expected, stored, path):
        kind = expected[0]
        entry, uid = self.entry(stored, path)
        if kind == "nil":
            expect(uid == 0 or entry is None or entry == "$null" or
                   (isinstance(entry, dict) and self.class_of(entry, path)[0] == "NSNull"), path,
                   "expected nil, found %r" % (entry,))
            return
        expect(uid != 0, path, "expected %s, found nil" % kind)
        if isinstance(entry, dict) and kind != "object":
            name, _ = self.class_of(entry, path)
            if kind == "array":
                expect(name in ARRAY_CLASSES, path, "expected an array class, found %s" % name)
                elements = entry.get("NS.objects")
                expect(isinstance(elements, list) and len(elements) == len(expected[1]), path,
                       "expected %d elements, found %r" % (len(expected[1]), elements))
                for index, (e, a) in enumerate(zip(expected[1], elements)):
                    self.match(e, a, "%s[%d]" % (path, index))
                return
            if kind == "dict":
                expect(name in DICTIONARY_CLASSES, path, "expected a dictionary class, found %s" % name)
                keys, values = entry.get("NS.keys"), entry.get("NS.objects")
                expect(isinstance(keys, list) and isinstance(values, list) and len(keys) == len(values), path,
                       "unmatched NS.keys and NS.objects")
                found = {}
                for k, v in zip(keys, values):
                    key, _ = self.entry(k, path + ".key")
                    if isinstance(key, dict) and self.class_of(key, path)[0] in ("NSString", "NSMutableString"):
                        key = key.get("NS.string")
                    expect(isinstance(key, str), path, "a key that is no string: %r" % (key,))
                    found[key] = v
                expect(sorted(found) == sorted(k for k, _ in expected[1]), path,
                       "keys %r differ from %r" % (sorted(found), sorted(k for k, _ in expected[1])))
                for key, e in expected[1]:
                    self.match(e, found[key], "%s.%s" % (path, key))
                return
            if kind == "date":
                expect(name == "NSDate", path, "expected NSDate, found %s" % name)
                time = entry.get("NS.time")
                expect(isinstance(time, (int, float)) and not isinstance(time, bool) and abs(time - expected[1]) < 5e-7,
                       path, "expected NS.time %r, found %r" % (expected[1], time))
                return
            if kind == "string":
                expect(name in ("NSString", "NSMutableString"), path, "expected a string class, found %s" % name)
                entry, _ = self.entry(entry.get("NS.string"), path + ".NS.string")
            elif kind == "data":
                expect(name in ("NSData", "NSMutableData"), path, "expected a data class, found %s" % name)
                entry, _ = self.entry(entry.get("NS.data"), path + ".NS.data")
            else:
                raise Mismatch("%s: expected %s, found an object of class %s" % (path, kind, name))
        if kind == "object":
            body = expected[1]
            name, classes = self.class_of(entry, path)
            expect(name == body["class"], path, "class %s, expected %s" % (name, body["class"]))
            expect(classes == body["classes"], path, "$classes %r, expected %r" % (classes, body["classes"]))
            label = body.get("shared")
            if label is not None:
                expect(uid is not None, path, "a shared object stored inline")
                first = self.shared.setdefault(label, uid)
                expect(first == uid, path, "shared object %r stored twice (UIDs %r and %r)" % (label, first, uid))
            keys = sorted(k for k in entry if k != "$class")
            expect(keys == sorted(k for k, _ in body["values"]), path,
                   "keys %r differ from %r" % (keys, sorted(k for k, _ in body["values"])))
            for key, e in body["values"]:
                self.match(e, entry[key], "%s.%s" % (path, key))
            return
        if kind == "int":
            expect(isinstance(entry, int) and not isinstance(entry, bool) and entry == int(expected[1]), path,
                   "expected integer %s, found %r" % (expected[1], entry))
        elif kind == "real":
            expect(isinstance(entry, float) and entry == expected[1], path, "expected real %r, found %r" % (expected[1], entry))
        elif kind == "bool":
            expect(isinstance(entry, bool) and entry == expected[1], path, "expected %r, found %r" % (expected[1], entry))
        elif kind == "string":
            expect(isinstance(entry, str) and entry == expected[1], path, "expected %r, found %r" % (expected[1], entry))
        elif kind == "data":
            expect(isinstance(entry, bytes) and entry == base64.b64decode(expected[1]), path, "data differs: %r" % (entry,))
        elif kind == "date":
            expect(isinstance(entry, datetime.datetime) and abs(seconds(entry) - expected[1]) < 5e-7, path,
                   "expected date %r, found %r" % (expected[1], entry))
        else:
            raise Mismatch("%s: expected %s, found %r" % (path, kind, entry))

    def check(self, expected_top):
        expect(sorted(self.top) == sorted(k for k, _ in expected_top), "$top",
               "keys %r differ from %r" % (sorted(self.top), sorted(k for k, _ in expected_top)))
        for key, e in expected_top:
            self.match(e, self.top[key], key)


def main(argv):
    if len(argv) != 4 or argv[1] not in ("--archive", "--plist"):
        sys.stderr.write(__doc__)
        return 2
    mode, path, name = argv[1], argv[2], argv[3]
    with open(EXPECTED, encoding="utf-8") as f:
        expected = json.load(f)
    try:
        with open(path, "rb") as f:
            raw = f.read()
        expect(raw.startswith(b"bplist00"), "", "no bplist00 header")
        root = plistlib.loads(raw, fmt=plistlib.FMT_BINARY)
        if mode == "--plist":
            match_plist(expected["plists"][name], root, "")
        else:
            ArchiveChecker(root).check(expected["archives"][name])
    except Mismatch as error:
        sys.stderr.write("check_keyed_archive: %s: %s\n" % (name, error))
        return 1
    except (plistlib.InvalidFileException, ValueError, KeyError, OSError) as error:
        sys.stderr.write("check_keyed_archive: %s: cannot read %s: %r\n" % (name, path, error))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
