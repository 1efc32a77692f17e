#!/usr/bin/python3
"""Seeds of fuzz/corpus/fuzz_instance_message: what a second launch sends on the instance
socket, good and bad. The first byte of each seed chooses the piece size of the replay."""
import os

OUT = os.path.join(os.path.dirname(__file__), "..", "..", "..", "fuzz", "corpus", "fuzz_instance_message")

SEEDS = {
    "one_path": b"\x00/home/user/Documents/Map.corvex\n",
    "file_url": b"\x05file:///home/user/B%20c.opml\n",
    "redirect": b"\x03db-k3rt9wq0zvm5lhx://1/connect?state=abc&code=xyz\n",
    "other_scheme": b"\x01https://example.invalid/x\n",
    "relative": b"\x02docs/a.corvex\n",
    "not_utf8": b"\x07/tmp/\xff\xfe.corvex\n",
    "control": b"\x04/tmp/a\x01b\n",
    "crlf_mixed": b"\x09/a\r\n/b\nfile://otherhost/c\n\n",
    "long_line": b"\x3f/" + b"a" * 9000 + b"\n/ok\n",
    "flood": b"\x20" + b"/x\n" * 300,
    "no_newline": b"\x06/tmp/last",
}

os.makedirs(OUT, exist_ok=True)
for name, data in SEEDS.items():
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)
