#!/usr/bin/env python3
"""Writes the seed corpus of the HTTP response-header fuzz target:

  fuzz/corpus/fuzz_http_response_headers/   header blocks, good and broken

An HTTP/1.x response head is a status line ("HTTP/1.1 200 OK"), header fields
("Name: value"), and an empty line, each ended by CR LF (RFC 9112). Several heads may follow
one another (interim 1xx answers, redirects), and chunked bodies may end with trailer fields.
Written from that grammar alone, without the program's code: valid heads, interim and
redirect chains, folded lines, trailers, and broken ones (no colon, bad status lines, bare
LF, NUL bytes, oversized values, many fields).

Standard library only; the output is deterministic. Run with /usr/bin/python3 from anywhere;
the folder is emptied and written again.
"""

import os
import random
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.normpath(os.path.join(HERE, '..', '..', '..'))
CORPUS_DIR = os.path.join(REPO, 'fuzz', 'corpus', 'fuzz_http_response_headers')


def head(status=b'HTTP/1.1 200 OK', fields=(), end=True, eol=b'\r\n'):
    lines = [status] + [name + b': ' + value for name, value in fields]
    text = eol.join(lines) + eol
    if end:
        text += eol
    return text


def main():
    shutil.rmtree(CORPUS_DIR, ignore_errors=True)
    os.makedirs(CORPUS_DIR)
    rng = random.Random(20261207)
    cases = {
        'ok_plain': head(fields=[(b'Content-Type', b'text/plain'), (b'Content-Length', b'12')]),
        'ok_no_reason': head(status=b'HTTP/1.1 204'),
        'ok_http10': head(status=b'HTTP/1.0 200 OK', fields=[(b'Connection', b'close')]),
        'ok_http2': head(status=b'HTTP/2 200', fields=[(b'server', b'x')]),
        'ok_bare_lf': head(fields=[(b'X-A', b'1')], eol=b'\n'),
        'ok_empty_value': head(fields=[(b'X-Empty', b'')]),
        'ok_repeated': head(fields=[(b'Set-Cookie', b'a=1'), (b'Set-Cookie', b'b=2')]),
        'interim_then_final': head(status=b'HTTP/1.1 100 Continue') + head(fields=[(b'X-Final', b'1')]),
        'redirect_chain': head(status=b'HTTP/1.1 302 Found', fields=[(b'Location', b'/a')]) +
                          head(status=b'HTTP/1.1 301 Moved Permanently', fields=[(b'Location', b'/b')]) +
                          head(fields=[(b'Content-Length', b'0')]),
        'folded': b'HTTP/1.1 200 OK\r\nX-Long: one\r\n\t two\r\n  three\r\n\r\n',
        'trailers': head(fields=[(b'Transfer-Encoding', b'chunked')]) + b'X-Checksum: abc\r\n\r\n',
        'dropbox_result': head(fields=[(b'Dropbox-API-Result',
                                        b'{"name":"x.crvx","rev":"0f3a9c4e1b2d","size":12}'),
                                       (b'Content-Type', b'application/octet-stream')]),
        'no_colon': b'HTTP/1.1 200 OK\r\nNoColonHere\r\n\r\n',
        'empty_name': b'HTTP/1.1 200 OK\r\n: value\r\n\r\n',
        'space_in_name': b'HTTP/1.1 200 OK\r\nBad Name: v\r\n\r\n',
        'no_status': b'Content-Type: text/plain\r\n\r\n',
        'status_letters': b'HTTP/1.1 2x0 OK\r\n\r\n',
        'status_short': b'HTTP/1.1 20\r\n\r\n',
        'status_long': b'HTTP/1.1 2000 OK\r\n\r\n',
        'status_low': b'HTTP/1.1 042 Odd\r\n\r\n',
        'version_missing': b'HTTP/ 200 OK\r\n\r\n',
        'version_long': b'HTTP/1.1.1.1 200 OK\r\n\r\n',
        'fold_first': b'HTTP/1.1 200 OK\r\n folded\r\n\r\n',
        'nul_bytes': b'HTTP/1.1 200 OK\r\nX-N\x00ul: a\x00b\r\n\r\n',
        'cr_only': b'HTTP/1.1 200 OK\rX-A: 1\r\r',
        'empty': b'',
        'only_newlines': b'\r\n\r\n\n\n',
        'big_value': head(fields=[(b'X-Big', b'v' * 70000)]),
        'many_fields': head(fields=[(b'X-F%d' % i, b'v') for i in range(300)]),
        'trailer_no_colon': head() + b'garbage\r\n\r\n',
        'huge_trailers': head() + b''.join(b'X-T: ' + b't' * 1000 + b'\r\n' for _ in range(80)),
    }
    for i in range(8):
        fields = [(b'X-R%d' % k, bytes(rng.randrange(0x21, 0x7f) for _ in range(rng.randrange(0, 40))))
                  for k in range(rng.randrange(0, 12))]
        cases['random_%d' % i] = head(status=b'HTTP/1.1 %d R' % rng.randrange(100, 600), fields=fields)
    for name, data in sorted(cases.items()):
        with open(os.path.join(CORPUS_DIR, name + '.txt'), 'wb') as out:
            out.write(data)


if __name__ == '__main__':
    main()
