#!/usr/bin/env python3
"""Crashes the symbol probe from its stripped copy, names the crash's frames as the next
launch does, and compares every name with gdb's backtrace of the same crash of the
unstripped program.

  check_symbols_with_gdb.py <probe> <library> <static|thread|abort|library> <work folder>

<probe> and <library> are the programs built with -g; "<file>.stripped" beside each is the
copy that runs. The frames are named twice: by the stripped copy (its dynamic symbols only)
and by the unstripped program (its .symtab); the library is loaded by neither. Frames are
matched with gdb's by image and offset. Every name given must be gdb's name of that frame
(the probe's and the library's own frames), or, in a system library gdb may know better
through a debug file, a symbol of the library's own dynamic table whose extent holds the
address; a frame inside a listed image keeps that image's file name. Prints "ok", or the
first fault and exit 1.
"""

import json
import os
import shutil
import signal
import subprocess
import sys


def fail(text):
    print(text)
    sys.exit(1)


def records(path):
    with open(path, 'rb') as handle:
        return [json.loads(line) for line in handle.read().split(b'\n') if line]


def run(args, dies=None):
    done = subprocess.run(args, capture_output=True, timeout=60)
    if dies is not None and done.returncode != -dies:
        fail('%s ended with %d, not by signal %d: %s' % (args[:3], done.returncode, dies, done.stderr[-400:]))
    if dies is None and done.returncode != 0:
        fail('%s ended with %d: %s' % (args[:3], done.returncode, done.stderr[-400:]))
    return done


def gdb_name(text):
    """The function's name of a backtrace line's rest: up to the first " (" outside angle
    brackets and parentheses ("std::f<void (*)()> (x=1)", "(anonymous namespace)::g (y=2)")."""
    angles = parens = 0
    for at, char in enumerate(text):
        if char == '<':
            angles += 1
        elif char == '>' and angles:
            angles -= 1
        elif char == '(':
            if at > 0 and text[at - 1] == ' ' and angles == 0 and parens == 0:
                return text[:at - 1]
            parens += 1
        elif char == ')' and parens:
            parens -= 1
    return text


def gdb_frames(probe, library, kind, folder):
    """gdb's names of the crashed thread's frames by place: (image file, offset)."""
    out = subprocess.run(
        ['gdb', '-nx', '-batch', '-iex', 'set debuginfod enabled off', '-iex', 'set backtrace past-main on',
         '-ex', 'run', '-ex', 'bt',
         '-ex', 'frame apply all -q p/x $pc', '-ex', 'info proc mappings',
         '--args', probe, 'crash', kind, folder, library],
        capture_output=True, text=True, timeout=120, env=dict(os.environ, DEBUGINFOD_URLS='')).stdout
    names, pcs, mappings = [], [], []
    for line in out.splitlines():
        if line.startswith('#'):
            rest = line.split(None, 1)[1]
            if rest.startswith('0x') and ' in ' in rest:
                rest = rest.split(' in ', 1)[1]
            names.append(gdb_name(rest))
        elif line.startswith('$') and ' = 0x' in line:
            pcs.append(int(line.split(' = ')[1], 16))
        else:
            bits = line.split()
            if len(bits) == 6 and all(b.startswith('0x') for b in bits[:4]) and bits[5].startswith('/'):
                mappings.append((int(bits[0], 16), int(bits[1], 16), os.path.realpath(bits[5])))
    if not names or len(names) != len(pcs) or not mappings:
        fail('gdb gave %d frames and %d addresses:\n%s' % (len(names), len(pcs), out[-2000:]))
    # A frame's place: its image's file and its offset from the image's first mapping.
    places = {}
    for pc, name in zip(pcs, names):
        path = next((m[2] for m in mappings if m[0] <= pc < m[1]), None)
        if path is not None:
            first = min(m[0] for m in mappings if m[2] == path)
            places.setdefault((path, pc - first), []).append(name)
    return places


def without_parameters(symbol):
    """A demangled name without its parameter list and qualifiers: "f<int>(int) const" -> "f<int>"."""
    text = symbol
    for qualifier in (' const', ' volatile', ' &&', ' &'):
        if text.endswith(qualifier):
            text = text[:-len(qualifier)]
    if not text.endswith(')'):
        return text
    depth = 0
    for at in range(len(text) - 1, -1, -1):
        if text[at] == ')':
            depth += 1
        elif text[at] == '(':
            depth -= 1
            if depth == 0:
                return text[:at]
    return text


def agrees(symbol, gdb):
    """gdb writes functions it has debug information for without parameters or return type."""
    if symbol == gdb:
        return True
    bare = without_parameters(symbol)
    return bare == gdb or bare.endswith(' ' + gdb)


def dynamic_symbols(path, cache={}):
    """(start, size, name) of the file's dynamic table, less its load start."""
    if path not in cache:
        heads = subprocess.run(['readelf', '-lW', path], capture_output=True, text=True).stdout
        loads = [line.split() for line in heads.splitlines() if line.strip().startswith('LOAD')]
        first = min(int(bits[2], 16) - int(bits[1], 16) for bits in loads) if loads else 0
        out = subprocess.run(['nm', '-D', '-S', '--defined-only', path], capture_output=True, text=True).stdout
        found = []
        for line in out.splitlines():
            bits = line.split()
            if len(bits) == 4:
                found.append((int(bits[0], 16) - first, int(bits[1], 16), bits[3].split('@')[0]))
        cache[path] = found
    return cache[path]


def crashed_frames(folder):
    threads = next(r['threads'] for r in records(os.path.join(folder, 'signal.bbxrecord')) if 'threads' in r)
    named = next(r['threads'] for r in records(os.path.join(folder, 'signal.bbxrecord.symbolicated'))
                 if 'threads' in r)
    crashed = [i for i, t in enumerate(threads) if t.get('crashed') is True]
    if len(crashed) != 1 or len(named) != len(threads):
        fail('%d crashed threads, %d named of %d' % (len(crashed), len(named), len(threads)))
    stack, frames = threads[crashed[0]]['stacktrace'], named[crashed[0]]
    if len(stack) != len(frames) or not stack:
        fail('%d frames named for %d addresses' % (len(frames), len(stack)))
    images = [r['load'] for r in records(os.path.join(folder, 'binary_images.bbxrecord')) if 'load' in r]
    return list(zip(stack, frames)), images


def check(folder, own, by_place, label):
    """Every name of the folder's crashed thread against gdb; answers the frames with their
    image key for the scenario's own checks."""
    frames, images = crashed_frames(folder)
    placed = []
    for number, (address, frame) in enumerate(frames):
        image = next((i for i in images if i['base'] <= address < i['base'] + i['size']), None)
        where = '%s frame %d at %#x' % (label, number, address)
        if image is None:
            if frame.get('library') is not None or frame.get('symbol') is not None:
                fail('%s lies in no listed image but is named %r' % (where, frame))
            placed.append((None, 0, frame))
            continue
        path = image.get('path') or ''
        if frame.get('library') != os.path.basename(path):
            fail('%s: library %r, not %r' % (where, frame.get('library'), os.path.basename(path)))
        real = os.path.realpath(path)
        key = own.get(real, real)
        offset = address - image['base']
        placed.append((key, offset, frame))
        symbol = frame.get('symbol')
        if symbol is None:
            continue
        names = by_place.get((key, offset), [])
        if key in own.values():
            if not any(agrees(symbol, name) for name in names):
                fail('%s: %r, gdb says %r' % (where, symbol, names))
            continue
        raw = frame.get('raw_symbol', symbol)
        looked = offset if number == 0 else offset - 1
        holding = [s for s in dynamic_symbols(real) if s[2] == raw and s[0] <= looked < s[0] + s[1]]
        if not holding:
            fail('%s: %r is no symbol of %s holding offset %#x (gdb says %r)' % (where, raw, real, looked, names))
    return placed


def main():
    probe, library, kind, work = sys.argv[1:5]
    probe, library = os.path.realpath(probe), os.path.realpath(library)
    own = {probe + '.stripped': probe, library + '.stripped': library, probe: probe, library: library}
    shutil.rmtree(work, ignore_errors=True)
    crash, again, traced = (os.path.join(work, name) for name in ('crash', 'again', 'gdb'))
    for folder in (crash, traced):
        os.makedirs(folder)
    dies = signal.SIGABRT if kind == 'abort' else signal.SIGSEGV
    run([probe + '.stripped', 'crash', kind, crash, library + '.stripped'], dies)
    shutil.copytree(crash, again)
    run([probe + '.stripped', 'symbolicate', crash])
    run([probe, 'symbolicate', again])

    by_place = gdb_frames(probe, library, kind, traced)

    stripped = check(crash, own, by_place, 'stripped')
    whole = check(again, own, by_place, 'unstripped')
    # The unstripped program's .symtab names every frame of its own that gdb names.
    for (key, offset, frame) in whole:
        names = by_place.get((key, offset), [])
        if key == probe and names and '??' not in names and frame.get('symbol') is None:
            fail('unstripped: the frame at offset %#x is not named (gdb says %r)' % (offset, names))
    if kind == 'static' and (stripped[0][2].get('symbol') is not None or
                             'probeStaticCrash' not in (whole[0][2].get('symbol') or '')):
        fail('the static function: %r stripped, %r unstripped' % (stripped[0][2], whole[0][2]))
    if kind == 'library':
        for frames_of in (stripped, whole):
            first = frames_of[0][2]
            if first.get('symbol') != 'corvex_symbol_library_crash' or \
                    first.get('library') != os.path.basename(library) + '.stripped':
                fail('the library frame %r' % first)
    if kind == 'thread':
        # start_thread and clone3 are not exported by the C library: named by their own
        # symbol (a debug file) or not at all, never by an exported neighbour.
        at = next((n for n, (_, _, f) in enumerate(whole) if 'bbxThreadTrampoline' in (f.get('symbol') or '')), None)
        if at is None or at + 1 >= len(whole):
            fail('no thread trampoline frame: %r' % [f.get('symbol') for _, _, f in whole])
        for frames_of in (stripped, whole):
            start = frames_of[at + 1][2]
            if start.get('library') != 'libc.so.6' or start.get('symbol') not in (None, 'start_thread'):
                fail('the thread start frame %r' % start)
    print('ok %d frames' % len(whole))


main()
