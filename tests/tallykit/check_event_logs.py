#!/usr/bin/env python3
"""Checks analytics event logs and packages written by the program.

Every ".log" file and every ".multipartmime" package (its one gzip part inflated) of the
folder must hold lines of four tab-separated fields: a decimal timestamp, an event name, the
payload's length in UTF-8 bytes, and the payload, a JSON object (no NaN or infinities). The
first line of each log is the metadata record. With --soak, the "soak" custom events must be
there with their attribute cut before a surrogate pair (99 code units, no lone surrogate)
and without the attributes that held NaN and infinity.

Exit status 0 when everything holds; the problems are printed otherwise.
"""

import gzip
import json
import os
import sys


def reject_constant(name):
    raise ValueError("non-finite number " + name)


def log_of_package(data, name):
    # "<boundary>.multipartmime", or "<boundary>.<n>.multipartmime" for the n-th copy received.
    boundary = name.split(".")[0].encode()
    opening = b"MIME-Version: 1.0\r\n--" + boundary + b"\r\n"
    closing = b"\r\n--" + boundary + b"--\r\n"
    if not data.startswith(opening) or not data.endswith(closing):
        raise ValueError("not a one-part multipart body of boundary " + boundary.decode())
    head_end = data.index(b"\r\n\r\n", len(opening))
    head = data[len(opening):head_end]
    if b"Content-Type: application/vnd.blackbox.mac.events" not in head:
        raise ValueError("the part is not of the events type")
    return gzip.decompress(data[head_end + 4:len(data) - len(closing)])


def check_log(text, where, problems, soak_events):
    if not text:
        return
    if not text.endswith(b"\n"):
        problems.append(where + ": the last line has no line feed")
        return
    for number, line in enumerate(text[:-1].split(b"\n")):
        fields = line.split(b"\t", 3)
        if len(fields) != 4:
            problems.append("%s:%d: %d fields" % (where, number + 1, len(fields)))
            continue
        stamp, name, length, payload = fields
        if not stamp.isdigit():
            problems.append("%s:%d: timestamp %r" % (where, number + 1, stamp))
        if number == 0 and name != b"metadata":
            problems.append("%s: the first line is %r, not the metadata record" % (where, name))
        if int(length) != len(payload):
            problems.append("%s:%d: length %s, payload %d bytes" % (where, number + 1, length.decode(), len(payload)))
        try:
            record = json.loads(payload.decode("utf-8"), parse_constant=reject_constant)
        except (ValueError, UnicodeDecodeError) as error:
            problems.append("%s:%d: payload is no JSON: %s" % (where, number + 1, error))
            continue
        if not isinstance(record, dict):
            problems.append("%s:%d: payload is no object" % (where, number + 1))
        elif record.get("custom_type") == "soak":
            soak_events.append(record)


def main():
    folder = sys.argv[1]
    soak = "--soak" in sys.argv[2:]
    problems = []
    soak_events = []
    files = 0
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        with open(path, "rb") as handle:
            data = handle.read()
        try:
            if name.endswith(".log"):
                text = data
            elif name.endswith(".multipartmime"):
                text = log_of_package(data, name)
            else:
                continue
        except (ValueError, OSError, EOFError) as error:
            problems.append(name + ": " + str(error))
            continue
        files += 1
        check_log(text, name, problems, soak_events)
    if soak:
        if not soak_events:
            problems.append("no soak events")
        for record in soak_events:
            attributes = record.get("custom_attributes", {})
            cut = attributes.get("cut")
            if not isinstance(cut, str) or len(cut.encode("utf-16-le")) // 2 != 99:
                problems.append("event %s: attribute 'cut' is %r" % (record.get("eventId"), cut))
            if "nan" in attributes or "inf" in attributes:
                problems.append("event %s kept a non-finite attribute" % record.get("eventId"))
    for problem in problems[:50]:
        print(problem)
    print("%d files, %d soak events, %d problems" % (files, len(soak_events), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
