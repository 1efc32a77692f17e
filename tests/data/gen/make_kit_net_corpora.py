#!/usr/bin/env python3
"""Writes the seed corpora of the kit's network readers:

  fuzz/corpus/fuzz_kit_settings/          stored settings files, good and broken
  fuzz/corpus/fuzz_kit_response_headers/  Content-Type, Accept, Accept-Charset and
                                          Retry-After lines

Settings files are JSON texts (RFC 8259) as a settings service might send them: objects
with "app" status fields, nulls where objects belong, arrays, scalars, truncated and deep
texts, invalid UTF-8. Header lines follow RFC 9110 media types (type "/" subtype, ";"
parameters, quoted strings) and Retry-After (delay seconds or an HTTP date), with broken
and oversized values. Standard library only; deterministic. Run with /usr/bin/python3 from
anywhere; both folders are emptied and written again.
"""

import json
import os
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.normpath(os.path.join(HERE, '..', '..', '..'))
SETTINGS_DIR = os.path.join(REPO, 'fuzz', 'corpus', 'fuzz_kit_settings')
HEADERS_DIR = os.path.join(REPO, 'fuzz', 'corpus', 'fuzz_kit_response_headers')


def settings_cases():
    good = {"app": {"status": "activated", "update_required": False},
            "features": {"collect_analytics": True},
            "analytics": {"url": "https://127.0.0.1:1/spi/v2/events", "flush_interval_secs": 600}}
    cases = {
        'activated': json.dumps(good).encode(),
        'new': json.dumps({"app": {"status": "new"}}).encode(),
        'update_required': json.dumps({"app": {"status": "activated", "update_required": True}}).encode(),
        'null_app': b'{"app": null}',
        'null_status': b'{"app": {"status": null, "update_required": null}}',
        'status_number': b'{"app": {"status": 7, "update_required": "yes"}}',
        'array': b'[{"app": {"status": "new"}}]',
        'scalar': b'"settings"',
        'empty': b'',
        'truncated': json.dumps(good).encode()[:40],
        'deep': b'{"a":' * 600 + b'1' + b'}' * 600,
        'bad_utf8': b'{"app": {"status": "\xff\xfe"}}',
        'duplicate_keys': b'{"app": {"status": "new"}, "app": {"status": "activated"}}',
        'huge_number': b'{"app": {"update_required": 1e400}}',
    }
    return cases


def header_cases():
    def lines(content_type, accept=b'application/json', charset=b'utf-8', retry=None):
        parts = [content_type, accept, charset]
        if retry is not None:
            parts.append(retry)
        return b'\n'.join(parts)

    return {
        'json_utf8': lines(b'application/json; charset=utf-8', retry=b'30'),
        'no_space': lines(b'application/json;charset=UTF-8', retry=b'2.5'),
        'quoted': lines(b'application/json; charset="utf-8"; foo=bar', retry=b'0'),
        'html': lines(b'text/html', retry=b'-1'),
        'no_slash': lines(b'json', retry=b'soon'),
        'empty': lines(b'', b'', b''),
        'date': lines(b'application/json', retry=b'Wed, 21 Oct 2015 07:28:00 GMT'),
        'huge_retry': lines(b'application/json', retry=b'999999'),
        'endless_retry': lines(b'application/json', retry=b'9' * 400),
        'fraction_only': lines(b'application/json', retry=b'.5'),
        'semicolons': lines(b';;;=;charset=;charset', b'*/*', b''),
        'many_params': lines(b'a/b' + b'; p=v' * 500),
    }


def write(folder, cases):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, data in sorted(cases.items()):
        with open(os.path.join(folder, name), 'wb') as handle:
            handle.write(data)


def main():
    write(SETTINGS_DIR, settings_cases())
    write(HEADERS_DIR, header_cases())


if __name__ == '__main__':
    main()
