"""What every check of a record file shares: one line read as UTF-8 JSON, one member."""

import json
import sys


def fail(message):
    print(message)
    sys.exit(1)


def read_record_line(number, line):
    """The line's object; fails the check for a line that is not a one-member object."""
    try:
        record = json.loads(line.decode('utf-8'))
    except (UnicodeDecodeError, ValueError) as error:
        fail('line %d does not read: %s' % (number, error))
    if not isinstance(record, dict) or len(record) != 1:
        fail('line %d is not a one-member object' % number)
    return record
