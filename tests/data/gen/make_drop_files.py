#!/usr/bin/env python3
"""Files dropped on a window from the file manager, for the window-level drag and drop tests.

Written with Python's standard library only (struct, zlib), from the file formats alone:

  tests/data/drops/PLAN.OPML        an OPML 2.0 outline "Plan" with the children "Buy" and
                                    "Sell" (upper-case name: the ending is compared lower-cased)
  tests/data/drops/photo.PNG        a sound 8 x 8 RGB picture
  tests/data/drops/truncated.png    the first 40 bytes of that picture: no picture at all
  tests/data/drops/truncated.corvex the archive magic and a payload chunk claiming 1,000 bytes
                                    of which 12 follow
  tests/data/drops/bomb.opml        an OPML file whose nested entities would expand to
                                    gigabytes (the "billion laughs")
  tests/data/drops/notes.txt        a file of a type no window takes

Run with /usr/bin/python3 from anywhere; commit the outputs.
"""

import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.normpath(os.path.join(HERE, "..", "drops"))


def png(width, height):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    rows = b""
    for y in range(height):
        rows += b"\x00" + b"".join(bytes((40 * x % 256, 30 * y % 256, 200)) for x in range(width))
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows))
            + chunk(b"IEND", b""))


PLAN = """<?xml version="1.0" encoding="UTF-8"?>
<opml version="2.0">
  <head><title>Plan</title></head>
  <body>
    <outline text="Plan">
      <outline text="Buy"/>
      <outline text="Sell"/>
    </outline>
  </body>
</opml>
"""


def bomb():
    lines = ['<?xml version="1.0"?>', "<!DOCTYPE opml [", '  <!ENTITY a0 "laugh">']
    for level in range(1, 10):
        lines.append('  <!ENTITY a%d "%s">' % (level, ("&a%d;" % (level - 1)) * 10))
    lines += ["]>", '<opml version="2.0"><body><outline text="&a9;"/></body></opml>', ""]
    return "\n".join(lines)


def main():
    os.makedirs(OUT, exist_ok=True)
    picture = png(8, 8)
    files = {
        "PLAN.OPML": PLAN.encode("utf-8"),
        "photo.PNG": picture,
        "truncated.png": picture[:40],
        "truncated.corvex": bytes.fromhex("9c787801") + struct.pack(">I", 1000) + b"not a payl..",
        "bomb.opml": bomb().encode("utf-8"),
        "notes.txt": b"Nothing to import here.\n",
    }
    for name, data in files.items():
        with open(os.path.join(OUT, name), "wb") as out:
            out.write(data)


if __name__ == "__main__":
    main()
