#!/usr/bin/env python3
"""Writes the corpora of what the reporting kit reads back from its own files on disk:

  fuzz/corpus/fuzz_tally_settings/        the kit settings file as the analytics view takes it:
                                          an "analytics" and a "features" section whose values
                                          are numbers, numeric texts, booleans, huge, negative and
                                          non-finite numbers, or of the wrong type
  fuzz/corpus/fuzz_event_log_packaging/   event logs ("<ms>\\t<name>\\t<length>\\t<json>" lines) and
                                          their ".gz" files: whole, torn, empty, gzip of the fixed
                                          two-line log the target leaves beside a ".gz", cut,
                                          with a bad check sum, two members, not gzip
  fuzz/corpus/fuzz_historic_install_id/   the crash reporter's historic defaults file: XML property
                                          lists with the identifier as a string, empty, of another
                                          type, at another level, a binary list, no list at all

Standard library only; the output is deterministic (gzip headers carry no time). Run with
/usr/bin/python3 from anywhere; each folder is emptied and written again.
"""

import gzip
import json
import os
import shutil
import struct
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', '..', 'fuzz', 'corpus')


def write_all(folder, samples):
    path = os.path.join(ROOT, folder)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    for name, data in samples:
        with open(os.path.join(path, name), 'wb') as out:
            out.write(data)


def settings(analytics, features=None):
    body = {'app': {'status': 'activated'}, 'analytics': analytics}
    if features is not None:
        body['features'] = features
    return json.dumps(body, separators=(',', ':')).encode()


def tally_settings():
    yield 'defaults', b'{}'
    yield 'full', settings({'url': 'https://127.0.0.1:1/spi/v2/events', 'max_byte_size_per_file': 500,
                            'max_pending_send_file_count': 2, 'flush_interval_secs': 600, 'sampling_rate': 3,
                            'upload_timeout_secs': 30, 'low_power_upload_timeout_secs': 60,
                            'track_custom_events': False}, {'collect_analytics': True})
    yield 'disabled', settings({}, {'collect_analytics': False})
    yield 'numeric_texts', settings({'max_pending_send_file_count': ' 1abc', 'sampling_rate': '-7',
                                     'flush_interval_secs': '2.5s', 'upload_timeout_secs': 'never'},
                                    {'collect_analytics': '0'})
    yield 'huge', b'{"analytics":{"max_pending_send_file_count":1e300,"sampling_rate":-1e300,' \
                  b'"max_byte_size_per_file":9223372036854775807,"flush_interval_secs":1e308}}'
    yield 'beyond_double', b'{"analytics":{"max_pending_send_file_count":1e400,"flush_interval_secs":-1e400}}'
    yield 'int64_edges', b'{"analytics":{"max_pending_send_file_count":-9223372036854775808,' \
                         b'"sampling_rate":9223372036854775808,"max_byte_size_per_file":-1}}'
    yield 'zero_cap', settings({'max_pending_send_file_count': 0, 'sampling_rate': 0})
    yield 'one_cap', settings({'max_pending_send_file_count': 1})
    yield 'negative_times', settings({'flush_interval_secs': -5, 'upload_timeout_secs': -1,
                                      'low_power_upload_timeout_secs': 0})
    yield 'wrong_types', b'{"analytics":{"url":7,"max_pending_send_file_count":[1],"sampling_rate":{},' \
                         b'"flush_interval_secs":null,"upload_timeout_secs":true},"features":[]}'
    yield 'sections_not_objects', b'{"analytics":"x","features":3}'
    yield 'bad_url', settings({'url': 'http://[::1'})
    yield 'not_object', b'[{"analytics":{}}]'
    yield 'cut', settings({'sampling_rate': 2})[:20]
    yield 'nan_token', b'{"analytics":{"flush_interval_secs":NaN,"sampling_rate":Infinity}}'


LOG = b'1767000000000\tmetadata\t2\t{}\n1767000000001\tapp_launched\t2\t{}\n'


def fixed_gzip(data, level=9):
    return gzip.compress(data, compresslevel=level, mtime=0)


def event_logs():
    line = b'1767000000002\tapp_became_active\t17\t{"foreground":1}\n'
    yield 'log_whole', LOG + line
    yield 'log_torn', LOG + line[:25]
    yield 'log_one_torn_line', line[:30]
    yield 'log_empty', b''
    yield 'log_binary', bytes(range(256))
    yield 'log_long', LOG + b'1767000000003\tcustom\t9000\t{"k":"' + b'x' * 8990 + b'"}\n'
    yield 'gz_of_left_log', fixed_gzip(LOG)
    yield 'gz_of_other_log', fixed_gzip(LOG + line)
    yield 'gz_cut', fixed_gzip(LOG)[:-6]
    bad = bytearray(fixed_gzip(LOG))
    bad[-8] ^= 0xff
    yield 'gz_bad_check_sum', bytes(bad)
    half = len(LOG) // 2
    yield 'gz_two_members', fixed_gzip(LOG[:half]) + fixed_gzip(LOG[half:])
    yield 'gz_trailing_junk', fixed_gzip(LOG) + b'junk'
    yield 'gz_header_only', fixed_gzip(LOG)[:10]
    yield 'gz_large_output', fixed_gzip(b'\n' * (1 << 20))
    yield 'zlib_not_gzip', zlib.compress(LOG)


def plist(body):
    return (b'<?xml version="1.0" encoding="UTF-8"?>\n'
            b'<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" '
            b'"http://www.apple.com/DTDs/PropertyList-1.0.dtd">\n'
            b'<plist version="1.0">\n' + body + b'\n</plist>\n')


def historic_defaults():
    identifier = b'<string>E621E1F8-C36C-495A-93FC-0C247A3E6E5F</string>'
    yield 'identifier', plist(b'<dict>\n\t<key>com.blackbox.iuuid</key>\n\t' + identifier + b'\n</dict>')
    yield 'identifier_among_others', plist(b'<dict><key>a</key><integer>1</integer><key>com.blackbox.iuuid</key>'
                                           + identifier + b'<key>z</key><array><true/></array></dict>')
    yield 'empty_identifier', plist(b'<dict><key>com.blackbox.iuuid</key><string></string></dict>')
    yield 'identifier_number', plist(b'<dict><key>com.blackbox.iuuid</key><integer>42</integer></dict>')
    yield 'identifier_data', plist(b'<dict><key>com.blackbox.iuuid</key><data>AAEC</data></dict>')
    yield 'identifier_nested', plist(b'<dict><key>x</key><dict><key>com.blackbox.iuuid</key>' + identifier
                                     + b'</dict></dict>')
    yield 'identifier_twice', plist(b'<dict><key>com.blackbox.iuuid</key><string>one</string>'
                                    b'<key>com.blackbox.iuuid</key><string>two</string></dict>')
    yield 'identifier_entities', plist(b'<dict><key>com.blackbox.iuuid</key><string>&#x1F600;&amp;&lt;</string>'
                                       b'</dict>')
    yield 'array_top', plist(b'<array>' + identifier + b'</array>')
    yield 'key_without_value', plist(b'<dict><key>com.blackbox.iuuid</key></dict>')
    yield 'cut', plist(b'<dict><key>com.blackbox.iuuid</key>' + identifier)[:150]
    yield 'binary_plist', b'bplist00\xd1\x01\x02Qa\x08\x0b\x0d' + b'\x00' * 6 + b'\x01\x01' + b'\x00' * 7 \
        + b'\x03' + b'\x00' * 7 + b'\x00' + b'\x00' * 7 + struct.pack('>Q', 13)
    yield 'not_xml', b'com.blackbox.iuuid = "E621E1F8";'
    yield 'empty', b''
    yield 'deep', plist(b'<dict><key>k</key>' * 300 + b'<true/>' + b'</dict>' * 300)


def main():
    write_all('fuzz_tally_settings', tally_settings())
    write_all('fuzz_event_log_packaging', event_logs())
    write_all('fuzz_historic_install_id', historic_defaults())


if __name__ == '__main__':
    main()
