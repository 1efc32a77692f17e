#!/usr/bin/env python3
"""The exception-port reply a request asks for, packed with struct, as hex on stdout.

  mach_reply.py <bits> <remote port> <identifier> <return code>

Header (bits & 31, size 36, remote port, no local port, no voucher, identifier + 100), the
little-endian NDR record, the return code.
"""

import struct
import sys

bits, remote, identifier, code = (int(value) for value in sys.argv[1:5])
reply = struct.pack('<IIIIIi', bits & 31, 36, remote, 0, 0, identifier + 100)
reply += bytes([0, 0, 0, 0, 1, 0, 0, 0]) + struct.pack('<i', code)
print(reply.hex())
