#!/usr/bin/env python3
"""Writes the seed corpus of the analytics crash-metadata fuzz target:

  fuzz/corpus/fuzz_crash_metadata/   "crash_metadata" files, good and broken

The file holds one compact JSON object: the previous run's metadata record ("generator",
"api_key", "session_id", "started_at", booleans, counts and texts). Written from that
layout alone: a full record, empty and nested objects, other JSON types at the top, text
that is no JSON, truncations, non-finite tokens, lone surrogate escapes, deep nesting and
control characters.

Standard library only; the output is deterministic. Run with /usr/bin/python3 from anywhere;
the folder is emptied and written again.
"""

import json
import os
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.normpath(os.path.join(HERE, '..', '..', '..'))
CORPUS_DIR = os.path.join(REPO, 'fuzz', 'corpus', 'fuzz_crash_metadata')

RECORD = {
    "generator": "Tally Mac SDK/1.3.5", "api_key": "key", "session_id": "0123456789abcdef0123456789abcdef",
    "started_at": 1767268800, "links_ad_support": False, "advertising_tracking_enabled": False,
    "install_id": "6F1C2A7E-3B4D-4C5E-9F80-112233445566", "locale": "en_US", "os_build": "6.1.0-18-amd64",
    "os_version": "12.0.0", "platform": "Mac", "platform_code": 0, "cores": 8, "jailbroken": False,
    "bundle_id": "com.tallowfen.corvex", "bundle_version": "42", "bundle_short_version": "1.6.0",
    "instance_id": "da39a3ee5e6b4b0d3255bfef95601890afd80709",
}


def samples():
    full = json.dumps(RECORD, separators=(',', ':')).encode()
    yield 'full', full
    yield 'pretty', json.dumps(RECORD, indent=2).encode()
    yield 'empty_object', b'{}'
    yield 'array', b'[1,2,3]'
    yield 'string', b'"metadata"'
    yield 'number', b'42'
    yield 'null', b'null'
    yield 'empty', b''
    yield 'not_json', b'{not json at all'
    yield 'truncated', full[:len(full) // 2]
    yield 'nan_token', b'{"cores":NaN,"x":Infinity}'
    yield 'huge_number', b'{"started_at":1e400}'
    yield 'lone_surrogate', b'{"locale":"\\ud83d"}'
    yield 'pair_escape', b'{"locale":"\\ud83d\\ude00"}'
    yield 'control_chars', b'{"a\\tb":"line\\nbreak\\r","c":"\\u0000"}'
    yield 'nested', b'{"a":{"b":{"c":[1,{"d":true}]}}}'
    yield 'deep', b'{"a":' * 40 + b'1' + b'}' * 40
    yield 'duplicate_keys', b'{"a":1,"a":2}'
    yield 'utf8', '{"locale":"de_DE","name":"Grüße 😀"}'.encode()
    yield 'bad_utf8', b'{"locale":"\xff\xfe"}'
    yield 'trailing', full + b' {}'


def main():
    shutil.rmtree(CORPUS_DIR, ignore_errors=True)
    os.makedirs(CORPUS_DIR)
    for name, data in samples():
        with open(os.path.join(CORPUS_DIR, name), 'wb') as handle:
            handle.write(data)


if __name__ == '__main__':
    main()
