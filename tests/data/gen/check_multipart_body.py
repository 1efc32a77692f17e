#!/usr/bin/env python3
"""Parses a multipart/form-data body the kit wrote with Python's email package.

Usage: check_multipart_body.py <body file> <content type>

The body begins with its own "MIME-Version: 1.0" line, so the content type is put in
front of it as a header and the rest is read as a MIME message. Prints JSON: the
message's defects and, per part in order, its field name, file name, content type and
payload (Base64).
"""

import base64
import json
import sys
from email import policy
from email.parser import BytesParser


def main():
    with open(sys.argv[1], "rb") as handle:
        body = handle.read()
    message = BytesParser(policy=policy.HTTP).parsebytes(
        b"Content-Type: " + sys.argv[2].encode("ascii") + b"\r\n" + body)
    parts = []
    for part in message.iter_parts():
        parts.append({
            "name": part.get_param("name", header="content-disposition"),
            "filename": part.get_filename(),
            "type": part.get_content_type(),
            "payload": base64.b64encode(part.get_payload(decode=True) or b"").decode("ascii"),
        })
    print(json.dumps({
        "multipart": message.is_multipart(),
        "defects": [type(d).__name__ for d in message.defects],
        "parts": parts,
    }))


if __name__ == "__main__":
    main()
