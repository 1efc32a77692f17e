#!/usr/bin/env python3
"""Reads a document archive (".corvex") and prints the texts of its ideas, one a line, in
pre-order; exit 1 with a message for a file that is no sound archive.

Written from the archive layout alone, standard library only:
    9C 78 78 01, then chunks of [u32 big-endian length][data]: first the zlib-compressed
    JSON payload, then pairs of (attachment identifier in UTF-8, attachment bytes).
The payload's "ideaDocumentDataObject" holds the root under "idea"; each idea may carry a
"text" and its children under "ideas". The attachment identifiers are printed after the
texts as "attachment <identifier> <size>".
"""

import json
import struct
import sys
import zlib


def chunks(data, offset):
    while offset < len(data):
        if offset + 4 > len(data):
            raise ValueError("stray bytes after the last chunk")
        (length,) = struct.unpack(">I", data[offset:offset + 4])
        offset += 4
        if offset + length > len(data):
            raise ValueError("a chunk runs past the end of the file")
        yield data[offset:offset + length]
        offset += length


def texts(idea, out):
    out.append(idea.get("text", ""))
    for child in idea.get("ideas", []):
        texts(child, out)


def main(path):
    with open(path, "rb") as source:
        data = source.read()
    if data[:4] != bytes.fromhex("9c787801"):
        raise ValueError("no archive magic")
    parts = list(chunks(data, 4))
    if not parts:
        raise ValueError("no payload chunk")
    payload = json.loads(zlib.decompress(parts[0]).decode("utf-8"))
    root = payload["ideaDocumentDataObject"]["idea"]
    out = []
    texts(root, out)
    pairs = parts[1:]
    if len(pairs) % 2:
        raise ValueError("an attachment identifier without its bytes")
    for i in range(0, len(pairs), 2):
        out.append("attachment %s %d" % (pairs[i].decode("utf-8"), len(pairs[i + 1])))
    print("\n".join(out))


if __name__ == "__main__":
    try:
        main(sys.argv[1])
    except Exception as error:  # noqa: BLE001 - any failure is a verdict on the file
        print("not an archive: %s" % error)
        sys.exit(1)
