#!/usr/bin/env python3
"""Prints a keyed archive as JSON, read with plistlib only (an independent reader of the
public format), so that a test can look at what another reader finds in our archives.

  dump_keyed_archive.py PATH

The layout is checked first ("$archiver" "NSKeyedArchiver", "$version" 100000, "$objects"
starting with "$null", a "$top" dictionary); then "$top" is printed with every UID resolved:
  - an object of a class of its own: {"$class": name, "$classes": [...], "$uid": n, key: value...}
  - NSArray / NSMutableArray / NSSet...: a list; NSDictionary / NSMutableDictionary: an object
  - NSDate and plain dates: {"$date": seconds since 2001-01-01}
  - data: {"$data": base64}; NSString and NSData objects: their contents
  - nil (UID 0): null
Exit code 0 on success, 1 when the file is no keyed archive (reason on stderr), 2 on bad
arguments.
"""

import base64
import datetime
import json
import plistlib
import sys

REFERENCE = datetime.datetime(2001, 1, 1)
ARRAY_CLASSES = {"NSArray", "NSMutableArray", "NSSet", "NSMutableSet", "NSOrderedSet", "NSMutableOrderedSet"}
DICTIONARY_CLASSES = {"NSDictionary", "NSMutableDictionary"}
STRING_CLASSES = {"NSString", "NSMutableString"}
DATA_CLASSES = {"NSData", "NSMutableData"}


class Malformed(Exception):
    pass


class Resolver:
    def __init__(self, objects):
        self.objects = objects

    def plain(self, value):
        if isinstance(value, bytes):
            return {"$data": base64.b64encode(value).decode("ascii")}
        if isinstance(value, datetime.datetime):
            return {"$date": (value - REFERENCE).total_seconds()}
        if isinstance(value, list):
            return [self.resolve(v) for v in value]
        if isinstance(value, dict):
            return {k: self.resolve(v) for k, v in value.items()}
        return value

    def resolve(self, value, depth=0):
        if depth > 1000:
            raise Malformed("nested too deep")
        if not isinstance(value, plistlib.UID):
            return self.plain(value)
        if value.data == 0:
            return None
        if value.data >= len(self.objects):
            raise Malformed("UID %d out of range" % value.data)
        entry = self.objects[value.data]
        if not (isinstance(entry, dict) and isinstance(entry.get("$class"), plistlib.UID)):
            return self.plain(entry)
        description = self.objects[entry["$class"].data]
        name = description["$classname"]
        if name in ARRAY_CLASSES:
            return [self.resolve(v, depth + 1) for v in entry.get("NS.objects", [])]
        if name in DICTIONARY_CLASSES:
            keys = [self.resolve(k, depth + 1) for k in entry.get("NS.keys", [])]
            values = [self.resolve(v, depth + 1) for v in entry.get("NS.objects", [])]
            return dict(zip(keys, values))
        if name == "NSDate":
            return {"$date": entry["NS.time"]}
        if name in STRING_CLASSES:
            return self.resolve(entry.get("NS.string"), depth + 1)
        if name in DATA_CLASSES:
            return self.resolve(entry.get("NS.data"), depth + 1)
        result = {"$class": name, "$classes": description.get("$classes", [name]), "$uid": value.data}
        for key, stored in entry.items():
            if key != "$class":
                result[key] = self.resolve(stored, depth + 1)
        return result


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    try:
        with open(argv[1], "rb") as f:
            raw = f.read()
        if not raw.startswith(b"bplist00"):
            raise Malformed("no bplist00 header")
        root = plistlib.loads(raw, fmt=plistlib.FMT_BINARY)
        if not isinstance(root, dict) or root.get("$archiver") != "NSKeyedArchiver":
            raise Malformed("no $archiver NSKeyedArchiver")
        if root.get("$version") != 100000:
            raise Malformed("$version is %r" % (root.get("$version"),))
        objects = root.get("$objects")
        if not isinstance(objects, list) or not objects or objects[0] != "$null":
            raise Malformed("$objects does not start with $null")
        if not isinstance(root.get("$top"), dict):
            raise Malformed("no $top dictionary")
        resolver = Resolver(objects)
        top = {k: resolver.resolve(v) for k, v in root["$top"].items()}
    except (Malformed, plistlib.InvalidFileException, ValueError, KeyError, OSError) as error:
        sys.stderr.write("dump_keyed_archive: %s: %s\n" % (argv[1], error))
        return 1
    json.dump({"$top": top}, sys.stdout, ensure_ascii=False, sort_keys=True)
    sys.stdout.write("\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
