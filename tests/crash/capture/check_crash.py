#!/usr/bin/env python3
"""Checks a crash record a probe child wrote, with Python's own json module.

  check_crash.py <record file> <executable> <load bias> <probe symbol> <frame0|anywhere>
                 [--first <section>] [--repeated] [--tids <file>] [--names <n>] [--labels <label>,...]
                 [--empty-stack-name <name>]

Every line must be UTF-8 and one JSON object with one member. The sections follow each other
in the handler's order after the capture's own; there is exactly one "threads" line with
exactly one crashed thread, whose stack holds the probe (its address range from `nm -S`
moved by the load bias) in frame 0 or anywhere. Prints "ok", or the first fault and exit 1.
"""

import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))
from record_lines import fail, read_record_line  # noqa: E402

ORDER = ['threads', 'runtime', 'dispatch_queue_names', 'thread_names', 'process_stats', 'storage']
REGISTERS = ['rax', 'rbx', 'rcx', 'rdx', 'rdi', 'rsi', 'rbp', 'rsp', 'r8', 'r9', 'r10', 'r11', 'r12',
             'r13', 'r14', 'r15', 'rip', 'rflags', 'cs', 'fs', 'gs']


def symbol_range(executable, symbol):
    out = subprocess.run(['nm', '-S', executable], capture_output=True, text=True, check=True).stdout
    for line in out.splitlines():
        parts = line.split()
        if len(parts) == 4 and parts[3] == symbol:
            start = int(parts[0], 16)
            return start, start + int(parts[1], 16)
    fail('no symbol %s in %s' % (symbol, executable))


def option(args, name, default=None):
    return args[args.index(name) + 1] if name in args else default


def main():
    path, executable, bias, symbol, where = sys.argv[1:6]
    rest = sys.argv[6:]
    start, end = symbol_range(executable, symbol)
    start += int(bias)
    end += int(bias)
    raw = open(path, 'rb').read()
    if not raw.endswith(b'\n'):
        fail('the record does not end with a line feed')
    records = [read_record_line(number, line) for number, line in enumerate(raw.split(b'\n')[:-1], 1)]
    names = [next(iter(r)) for r in records]
    first = option(rest, '--first', 'signal')
    if names != [first] + ORDER:
        fail('sections %r' % names)
    values = {next(iter(r)): next(iter(r.values())) for r in records}
    threads = values['threads']
    crashed = [t for t in threads if t.get('crashed') is True]
    if len(crashed) != 1:
        fail('%d crashed threads' % len(crashed))
    thread = crashed[0]
    if list(thread.get('registers', {}).keys()) != REGISTERS:
        fail('crashed thread registers %r' % list(thread.get('registers', {}).keys()))
    stack = thread['stacktrace']
    # Frame 0 is where the thread stopped; every later frame is a return address, which lies
    # just past its call (the end of a function whose last call does not return).
    inside = [i for i, pc in enumerate(stack) if start <= (pc if i == 0 else pc - 1) < end]
    if where == 'frame0' and (not stack or not start <= stack[0] < end):
        fail('frame 0 %s outside %s [%#x, %#x)' % (hex(stack[0]) if stack else None, symbol, start, end))
    if where == 'anywhere' and not inside:
        fail('%s [%#x, %#x) not in the stack %s' % (symbol, start, end, [hex(pc) for pc in stack[:40]]))
    if '--repeated' in rest:
        if 'repeated_pc' not in thread or thread.get('repeat_count', 0) < 10:
            fail('no repeated_pc: %r' % {k: v for k, v in thread.items() if k != 'stacktrace'})
    count = len(threads)
    if len(values['dispatch_queue_names']) != count or len(values['thread_names']) != count:
        fail('%d threads, %d queue names, %d thread names' % (
            count, len(values['dispatch_queue_names']), len(values['thread_names'])))
    stats = values['process_stats']
    if stats.get('freeMem') != stats.get('free_mem') or stats.get('resident', 0) <= 0:
        fail('process_stats %r' % stats)
    if values['runtime'] != {'objc_selector': '', 'crash_info_entries': []}:
        fail('runtime %r' % values['runtime'])
    tids_path = option(rest, '--tids')
    if tids_path:
        listed = [line.split('\t', 1)[1] for line in open(tids_path).read().splitlines()]
        thread_names = values['thread_names']
        if thread_names != listed:
            fail('thread names %r, the child listed %r' % (thread_names, listed))
        wanted = int(option(rest, '--names', '0'))
        named = [n for n in thread_names if n.startswith('probe-')]
        if len(named) != wanted:
            fail('%d probe names of %d: %r' % (len(named), wanted, thread_names))
        labels = option(rest, '--labels', '').split(',')
        for label in filter(None, labels):
            if label not in values['dispatch_queue_names']:
                fail('label %s not in %r' % (label, values['dispatch_queue_names']))
        empty = option(rest, '--empty-stack-name')
        if empty:
            index = thread_names.index(empty)
            if threads[index].get('stacktrace') != [] or 'registers' in threads[index]:
                fail('the blocking thread %r' % threads[index])
    print('ok')


main()
