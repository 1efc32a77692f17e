#!/usr/bin/python3
"""Random runs of a user against the real corvex, checked against what the disk must hold.

One driver (driver.py: Xvfb, openbox, corvex and its observation channel, xdotool), one model
(Model: the documents, each with the tracer words its window must show and its file must
hold), one oracle (Run.check_*: no crash record, no exit nobody asked for, a ping answered in
time, every window showing what the model says, every file read with disk.py holding what the
model says after each save, quit and close). The actions are the table ACTIONS; a run is a
seeded list of them, each carrying the random numbers and the tracer word it uses, so that a
failing list replays (--replay) and shrinks (--shrink) without the generator.

  tools/monkey [--tree build/gcc] [--seed S] [--actions N] [--ping 20]
  tools/monkey --minutes N --seeds K [--seed FIRST] [--ping 2]     long runs, seed after seed
  tools/monkey --replay FILE [--shrink]
"""

import argparse
import json
import math
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import disk  # noqa: E402
from driver import Corvex, Desktop, Gone, Hang  # noqa: E402

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..'))
MAX_WINDOWS = 2
# Long runs allow each process's first web page the CI ping limit (Run.a_add_link).
WEB_ALLOWANCE = False


class Failure(Exception):
    def __init__(self, kind, message):
        super().__init__('%s: %s' % (kind, message))
        self.kind = kind


class Skip(Exception):
    """The action is not legal in the state the channel reports (or the hand missed)."""


def mid(rect):
    return (rect[0] + rect[2] / 2, rect[1] + rect[3] / 2)


def spot(planet, planets):
    """A point where the planet is drawn uppermost, as a hand aims at it: a crowded orbit fans
    its planets over each other, and the middle of one may show another. None when every
    point of it lies under others (or it is not drawn)."""
    if not planet.get('shown') or 'disc' not in planet or 'z' not in planet:
        return None
    above = [mid(p['disc']) + (p['disc'][2] / 2,) for p in planets
             if p.get('shown') and p.get('z', -1) > planet['z'] and 'disc' in p]
    (x, y), radius = mid(planet['disc']), planet['disc'][2] / 2
    tries = [(x, y)] + [(x + reach * radius * math.cos(turn * math.pi / 6),
                         y + reach * radius * math.sin(turn * math.pi / 6))
                        for reach in (0.4, 0.7) for turn in range(12)]
    for point in tries:
        if all(math.hypot(point[0] - ax, point[1] - ay) > ar + 4 for ax, ay, ar in above):
            return point
    return None


def reachable(window):
    """The planets of a map window a click can reach, each with the point to aim at: drawn
    uppermost there, and inside the window's map (an orbit may run past the window's edge)."""
    planets = window['screen']['planets']
    area = window['screen'].get('area') or window['frame']
    found = []
    for planet in planets:
        point = spot(planet, planets)
        if point and area[0] + 4 < point[0] < area[0] + area[2] - 4 and area[1] + 4 < point[1] < area[1] + area[3] - 4:
            found.append(dict(planet, spot=point))
    return found


def letters(number, width):
    out = ''
    for _ in range(width):
        out = chr(ord('a') + number % 26) + out
        number //= 26
    return out


# ---------------------------------------------------------------- the model

class Doc:
    # How often the data folder has been made full or given room again, in this process.
    folder_changes = 0

    def __init__(self, root, live, path=None, saved=None):
        self.root = root      # the root idea's tracer, how an untitled window is known
        self.live = set(live)  # the tracers its window must show
        self.path = path      # its file, once saved into one
        self.saved = saved    # the tracers the file must hold (None: no file yet)
        self.marked = False   # its window said its map has changes, at the last Ctrl+Q
        # folder_changes when it was made or last saved with room: a change since may have left
        # a save that failed on a full folder, which Corvex tells until the next one succeeds.
        self.folder_mark = Doc.folder_changes

    def __repr__(self):
        return 'Doc(%s, %s, live=%s, saved=%s)' % (self.root, self.path, sorted(self.live),
                                                   None if self.saved is None else sorted(self.saved))


class Model:
    def __init__(self):
        self.docs = []
        self.made = set()  # every tracer the user typed
        self.closed = {}   # a file no window shows: its path and the tracers it must hold
        self.cloud = {}    # each document of the iCloud location: its root's tracer and its tracers

    def shelve(self, doc):
        """The document's window goes (or its file is left for another by Save As): its file
        keeps what was saved, for a later Ctrl+O."""
        if doc.path is not None and doc.saved is not None:
            self.closed[doc.path] = set(doc.saved)

    def doc_of(self, window):
        screen = window.get('screen') or {}
        if window.get('file'):
            for doc in self.docs:
                if doc.path == window['file']:
                    return doc
            return None
        for doc in self.docs:
            if doc.path is None and doc.root == screen.get('root'):
                return doc
        return None


# ---------------------------------------------------------------- one run

class Run:
    def __init__(self, binary, ping_limit, log_dir, verbose=False):
        self.binary = binary
        self.ping_limit = ping_limit
        self.log_dir = log_dir
        self.verbose = verbose
        self.model = Model()
        self.desktop = None
        self.corvex = None
        self.notes = []
        self.last_state = None
        self.web_allowance = WEB_ALLOWANCE
        self.web_started = False

    # ---- the driver's side ----
    def start(self):
        self.scratch = tempfile.mkdtemp(prefix='corvex-monkey-')
        self.desktop = Desktop(self.scratch)
        self.launch()

    def launch(self):
        self.web_started = False
        self.corvex = Corvex(self.desktop, self.binary, os.path.join(self.log_dir, 'corvex.log'))
        self.corvex.connect(max(30, self.ping_limit))
        self.wait_for(lambda s: s['windows'], 20, 'no window after the start')
        # A restored window shows nothing until its document is read (state 0).
        if not self.wait_for(lambda s: all(w['screen']['state'] != 0 for w in self.windows(s)), 20):
            raise Failure('shown', 'a window still shows no document 20 s after the start')

    def stop(self):
        if self.corvex:
            self.corvex.kill()
        if self.desktop:
            self.desktop.close()
            shutil.rmtree(self.scratch, ignore_errors=True)

    def note(self, text):
        self.notes.append(text)
        if self.verbose:
            print('    ' + text, flush=True)

    def state(self):
        started = time.time()
        try:
            self.corvex.ask('ping', self.ping_limit)
        except Hang as hang:
            raise Failure('hang', '%s (the main thread did not answer)' % hang)
        except Gone as gone:
            self.ended_unasked(gone)
        if time.time() - started > self.ping_limit:
            raise Failure('hang', 'ping answered after %.1f s' % (time.time() - started))
        try:
            self.last_state = self.corvex.ask('state', max(self.ping_limit, 10))
            return self.last_state
        except Hang as hang:
            raise Failure('hang', str(hang))
        except Gone as gone:
            self.ended_unasked(gone)

    def ended_unasked(self, gone):
        self.check_crash_records()
        # A SIGTERM or SIGINT from outside (another program on a shared machine) is no fault
        # of Corvex's: told apart, and never shrunk.
        marker = 'corvex[%d] Quit requested by signal' % self.corvex.process.pid
        with open(os.path.join(self.log_dir, 'corvex.log'), errors='replace') as log:
            if marker in log.read():
                raise Failure('external', 'Corvex was sent a quit signal from outside: %s' % gone)
        raise Failure('exit', 'Corvex ended unasked: %s' % gone)

    def wait_for(self, condition, seconds, failure=None):
        deadline = time.time() + seconds
        while True:
            state = self.state()
            found = condition(state)
            if found:
                return found
            if time.time() > deadline:
                if failure:
                    raise Skip(failure)
                return None
            time.sleep(0.15)

    def windows(self, state):
        shown = [w for w in state['windows'] if w.get('screen', {}).get('kind') == 'map']
        return sorted(shown, key=lambda w: (w['frame'][0], w['frame'][1]))

    def others(self, state, kind=None):
        return [o for o in state['others'] if kind is None or o['kind'] == kind]

    def pick(self, items, r):
        if not items:
            raise Skip('nothing to pick')
        return items[min(int(r * len(items)), len(items) - 1)]

    def tile(self):
        """The map windows side by side, as a user arranges them to drag between them."""
        state = self.state()
        shown = self.windows(state)
        width = 1580 // max(1, len(shown))
        for i, window in enumerate(shown):
            want = [10 + i * width, 40, width - 20, 900]
            if window['frame'] != want:
                self.desktop.xdotool('windowsize', window['xid'], want[2], want[3], 'windowmove', window['xid'],
                                     want[0], want[1])
        self.wait_for(lambda s: all(w['frame'][0] >= 0 for w in self.windows(s)), 5)
        time.sleep(0.3)

    def focus(self, window, check=True):
        """A click on the window's empty space: the window manager activates it. Windows
        narrower than their least width overlap, and the click may land on a neighbour: keys
        typed then would go to another window than the model thinks, so the action is skipped."""
        area = window['screen'].get('area') or window['frame']
        self.desktop.click(area[0] + area[2] - 25, area[1] + area[3] - 25)
        time.sleep(0.2)
        if check:
            xid = window['xid']
            self.wait_for(lambda s: [w for w in s['windows'] if w['xid'] == xid and w.get('key')], 3,
                          'the click did not give the window the keys')

    def clear(self):
        """Escape on whatever is open over the windows, as a user does before the next thing."""
        for _ in range(4):
            state = self.state()
            open_ = self.others(state)
            if not open_:
                return self.at_rest(state)
            for other in open_:
                if other['kind'] == 'alert':
                    self.note('alert left open: %r %s' % (other.get('text'), [b['text'] for b in other['buttons']]))
            self.desktop.key('Escape')
            time.sleep(0.3)
        return self.state()

    def at_rest(self, state, seconds=3):
        """The state once nothing moves: an orbit turned by a drag runs on for a while, and
        a click must find the planet it was aimed at."""
        def places(state):
            return [(w['xid'], [(p['text'], p.get('rect')) for p in w['screen']['planets']],
                     w['screen']['centre'].get('rect')) for w in self.windows(state)]
        # The channel gives where planets go; a layout animates them there in 0.35 s.
        time.sleep(0.5)
        deadline = time.time() + seconds
        while time.time() < deadline:
            time.sleep(0.15)
            again = self.state()
            if places(again) == places(state):
                return again
            state = again
        return state

    def editor_field(self, seconds=3):
        def found(state):
            for other in self.others(state, 'popover'):
                for field in other['fields']:
                    if field['kind'] == 'line' and field['focus']:
                        return field
            return None
        return self.wait_for(found, seconds)

    def type_title(self, tracer):
        if not self.editor_field():
            raise Skip('no editor took the keys')
        self.desktop.key('ctrl+a')
        self.desktop.type(tracer)
        self.desktop.key('Return')
        self.model.made.add(tracer)

    def window_with(self, state, root):
        for window in self.windows(state):
            if window['screen'].get('root') == root:
                return window
        return None

    def menu_item(self, state, text):
        for menu in self.others(state, 'menu'):
            for item in menu['items']:
                if item['text'].replace('&', '') == text and item['enabled']:
                    return item
        return None

    # ---- the oracle ----
    def check_crash_records(self):
        cache = os.path.join(self.desktop.home, '.cache')
        for folder, _, files in os.walk(cache):
            for name in files:
                if name in ('signal.bbxrecord', 'exception.bbxrecord', 'mach_exception.bbxrecord'):
                    # The run's folders go with it: the record is kept beside the replay.
                    kept = os.path.join(self.log_dir, 'crash-%d-%s' % (self.corvex.process.pid, name))
                    shutil.copyfile(os.path.join(folder, name), kept)
                    raise Failure('crash', 'crash record %s' % kept)

    def check_windows(self, seconds=4):
        """Every map window shows the tracers the model says; a window the model does not know
        is a document nobody made."""
        mismatch = None
        deadline = time.time() + seconds
        while True:
            state = self.state()
            mismatch = None
            for window in self.windows(state):
                doc = self.model.doc_of(window)
                shown = disk.tree_tracers(window['screen'].get('tree', ['', []]))
                if doc is None:
                    mismatch = 'a window (%s) shows a document the model does not know, with %s' % (
                        window['title'], sorted(shown))
                elif shown != doc.live:
                    mismatch = 'the window of %s shows %s; the model says %s' % (
                        doc.root, sorted(shown), sorted(doc.live))
            if mismatch is None:
                return state
            if time.time() > deadline:
                raise Failure('shown', mismatch)
            time.sleep(0.2)

    def check_disk(self, docs, expect='saved', seconds=6):
        """Each document's file holds exactly the tracers the model says."""
        for doc in docs:
            if doc.path is None:
                continue
            want = doc.saved if expect == 'saved' else doc.live
            deadline = time.time() + seconds
            while True:
                try:
                    held = disk.tracers(doc.path)
                except disk.Unreadable as error:
                    held = 'unreadable (%s)' % error
                if held == want:
                    break
                if time.time() > deadline:
                    raise Failure('disk', '%s holds %s; the model says %s' % (
                        os.path.basename(doc.path), held if isinstance(held, str) else sorted(held or []),
                        sorted(want) if want is not None else 'no file'))
                time.sleep(0.2)
        self.note('disk agrees for %s' % [os.path.basename(d.path) for d in docs if d.path])

    # ---- the start, and what a start shows ----
    def adopt(self, tracer):
        """After a start: each window is a document of the model's, restored as the model says
        when `restored`; a fresh untitled map gets its title typed."""
        time.sleep(0.8)
        state = self.state()
        homes = [w for w in state['windows'] if w.get('screen', {}).get('kind') == 'home']
        if homes:
            # The iCloud location's home screen (a fresh start's first window): a map of its own
            # first, then the home screen closed; the home action opens one when it plays.
            if not self.windows(state):
                self.desktop.xdotool('windowactivate', '--sync', homes[0]['xid'])
                self.desktop.key('ctrl+n')
                self.wait_for(lambda s: self.windows(s), 8, 'Ctrl+N on the home screen opened no map')
            for home in homes:
                self.desktop.xdotool('windowactivate', '--sync', home['xid'])
                time.sleep(0.3)
                self.desktop.key('ctrl+w')
            self.wait_for(lambda s: not [w for w in s['windows'] if w.get('screen', {}).get('kind') == 'home'], 5)
            state = self.state()
        for window in self.windows(state):
            screen = window['screen']
            if self.model.doc_of(window) is None and not window.get('file') and screen.get('root') == '':
                # A fresh start opens the editor on the new map's centre by itself.
                if not self.editor_field(5):
                    self.clear()
                    self.desktop.click(*mid(screen['centre']['rect']))
                self.type_title(tracer)
                self.model.docs.append(Doc(tracer, {tracer}))
                self.wait_for(lambda s: self.window_with(s, tracer), 5)
        self.tile()

    # ---- the actions ----
    @staticmethod
    def retitled(doc, screen, old, tracer):
        """The idea titled `old` (the centre or a planet) is titled with the tracer now; a
        copy of it within the document keeps the old title."""
        texts = []
        stack = [screen.get('tree', ['', []])]
        while stack:
            node = stack.pop()
            texts.append(node[0])
            stack.extend(node[1])
        if texts.count(old) < 2:
            doc.live.discard(old)
        doc.live.add(tracer)
        if screen.get('root') == old:
            doc.root = tracer

    def open_editor(self, window, r):
        """The editor of the centre (a click on it) or of a planet (Edit on its menu); the
        text of the idea it edits."""
        screen = window['screen']
        planets = reachable(window)
        self.focus(window)
        if planets and r < 0.5:
            planet = self.pick(planets, r * 2)
            self.note('Edit on %s at %s' % (planet['text'], planet['rect']))
            self.desktop.click(*planet['spot'], button=3)
            item = self.wait_for(lambda s: self.menu_item(s, 'Edit'), 3, 'no Edit on the planet\'s menu')
            self.desktop.click(*mid(item['rect']))
            return planet['text']
        self.desktop.click(*mid(screen['centre']['rect']))
        return screen['centre']['text']

    def a_title(self, r, t):
        state = self.clear()
        window = self.pick(self.windows(state), r[0])
        doc = self.model.doc_of(window)
        old = self.open_editor(window, r[1])
        self.type_title(t)
        self.retitled(doc, window['screen'], old, t)

    def a_edit_note(self, r, t):
        state = self.clear()
        window = self.pick(self.windows(state), r[0])
        doc = self.model.doc_of(window)
        self.open_editor(window, r[1])
        line = self.editor_field()
        if not line:
            raise Skip('no editor')

        def note_field(state):
            for other in self.others(state, 'popover'):
                for field in other['fields']:
                    if field['kind'] == 'text':
                        return field
            return None
        if not note_field(self.state()):
            # The note button, just right of the title field.
            rect = line['rect']
            self.desktop.click(rect[0] + rect[2] + 22, rect[1] + rect[3] / 2)
        note = self.wait_for(note_field, 3, 'no note field')
        rect = note['rect']
        self.desktop.click(rect[0] + rect[2] - 10, rect[1] + rect[3] - 10)
        self.desktop.key('ctrl+End')
        self.desktop.type(' %s ' % t)
        self.model.made.add(t)
        self.focus(window, check=False)
        doc.live.add(t)

    def a_add_child(self, r, t):
        state = self.clear()
        window = self.pick(self.windows(state), r[0])
        doc = self.model.doc_of(window)
        self.focus(window)
        adder = self.pick(window['screen'].get('adders', []), r[1])
        self.desktop.click(*mid(adder['rect']))
        self.type_title(t)
        doc.live.add(t)

    def planet_subtree(self, window, planet):
        """The planet's tracers and its descendants', and the document's tracers without them
        (an idea copied within the document keeps its words in the copy), from the shown tree."""
        tree = window['screen']['tree']
        centre = window['screen']['centre']['text']
        stack = [tree]
        while stack:
            node = stack.pop()
            if node[0] == centre:
                for i, child in enumerate(node[1]):
                    if child[0] == planet['text']:
                        taken = node[1].pop(i)
                        left = disk.tree_tracers(tree)
                        node[1].insert(i, taken)
                        return disk.tree_tracers(taken), left
            stack.extend(node[1])
        raise Skip('the planet is not in the tree')

    def a_delete(self, r, t):
        state = self.clear()
        window = self.pick(self.windows(state), r[0])
        doc = self.model.doc_of(window)
        planet = self.pick(reachable(window), r[1])
        _, left = self.planet_subtree(window, planet)
        self.note('Delete on %s at %s' % (planet['text'], planet['spot']))
        self.focus(window)
        self.desktop.click(*planet['spot'], button=3)
        item = self.wait_for(lambda s: self.menu_item(s, 'Delete'), 3, 'no Delete on the planet\'s menu')
        self.desktop.click(*mid(item['rect']))
        time.sleep(0.5)
        state = self.state()
        for alert in self.others(state, 'alert'):
            for button in alert['buttons']:
                if button['text'].replace('&', '') == 'Delete':
                    self.desktop.click(*mid(button['rect']))
        doc.live = left

    def a_open_planet(self, r, t):
        state = self.clear()
        window = self.pick(self.windows(state), r[0])
        planet = self.pick(reachable(window), r[1])
        self.focus(window)
        self.desktop.click(*planet['spot'], button=3)
        item = self.wait_for(lambda s: self.menu_item(s, 'Open'), 3, 'no Open on the planet\'s menu')
        self.desktop.click(*mid(item['rect']))
        time.sleep(0.6)

    def a_to_parent(self, r, t):
        state = self.clear()
        window = self.pick([w for w in self.windows(state) if 'parent' in w['screen']], r[0])
        self.focus(window)
        self.desktop.click(*mid(window['screen']['parent']))
        time.sleep(0.6)

    def drag(self, start, end, r):
        self.desktop.drag(start, end)
        menu = self.wait_for(lambda s: self.others(s, 'menu'), 4)
        if not menu:
            return None
        items = [i for i in menu[0]['items'] if i['enabled']]
        choice = self.pick(items, r)
        self.desktop.click(*mid(choice['rect']))
        return choice['text'].replace('&', '')

    def check_marked(self, docs, seconds=4):
        """Each window whose file lacks what its map shows says so (the "*" of its title), so
        that closing it asks: an edit that reaches a window's map behind its back (a Move Here
        out of it) would otherwise leave the file holding the old map without a question."""
        deadline = time.time() + seconds
        while True:
            unmarked = []
            for window in self.windows(self.state()):
                doc = self.model.doc_of(window)
                if doc in docs and doc.path and doc.live != doc.saved and not window.get('edited'):
                    unmarked.append((window, doc))
            if not unmarked:
                return
            if time.time() > deadline:
                window, doc = unmarked[0]
                raise Failure('unmarked', 'the window "%s" shows %s, its file holds %s, yet it does not say '
                              'that its map has changes' % (window['title'], sorted(doc.live), sorted(doc.saved)))
            time.sleep(0.2)

    def a_drag_between(self, r, t):
        state = self.clear()
        shown = self.windows(state)
        if len(shown) < 2:
            raise Skip('one window')
        # A window with a planet to take. Half the time one whose file holds its map, when there
        # is one: only there does a move that fails to mark its source show (a map with changes
        # is marked already), and a user does move ideas out of a map just saved.
        takers = [w for w in shown if reachable(w)]
        clean = [w for w in takers if self.model.doc_of(w) and self.model.doc_of(w).path and
                 self.model.doc_of(w).live == self.model.doc_of(w).saved]
        source = self.pick(clean, r[0] * 2) if clean and r[0] < 0.5 else self.pick(takers, r[0])
        target = [w for w in shown if w is not source][0]
        source_doc, target_doc = self.model.doc_of(source), self.model.doc_of(target)
        planet = self.pick(reachable(source), r[1])
        moved, left = self.planet_subtree(source, planet)
        self.focus(source)
        # Between the other window's planets (Move Here, Copy Here) or onto one of them where it
        # is drawn uppermost (Move Inside, Copy Inside); its centre takes no drop.
        spots = [mid(a['rect']) for a in target['screen'].get('adders', [])] + \
            [p['spot'] for p in reachable(target)]
        chose = self.drag(planet['spot'], self.pick(spots, r[2]), r[3])
        self.note('drop between windows: %s' % chose)
        if chose in ('Move Here', 'Move Inside'):
            target_doc.live |= moved
            # One edit of both maps, answered once it is stored (on a busy machine, seconds
            # later): until then the screens that took part are occupied. The windows are
            # known by their documents (a window's X id changes when a web page joins it).
            taking_part = (source_doc, target_doc)
            self.wait_for(lambda s: all(not w['screen'].get('occupied') for w in self.windows(s)
                                        if self.model.doc_of(w) in taking_part), 60)
            # Gone when the source shows what is left without the planet: a word of the planet
            # may stay, in a copy elsewhere in that map.
            gone = self.wait_for(lambda s: [w for w in self.windows(s) if self.model.doc_of(w) is source_doc and
                                            disk.tree_tracers(w['screen']['tree']) == left], 4)
            if gone or not os.path.exists(self.desktop.full_flag):
                source_doc.live = left
            else:
                # The source gives the idea up only once the copy is stored: with the data
                # folder full a move may end as a copy.
                self.note('Move Here kept the source\'s idea (the data folder is full)')
            # One edit of both maps: each window says so.
            self.check_marked([source_doc, target_doc])
        elif chose in ('Copy Here', 'Copy Inside'):
            target_doc.live |= moved
            self.check_marked([target_doc])
        elif chose is not None and chose != 'Cancel':
            self.note('unexpected drop choice %s' % chose)

    def a_drag_within(self, r, t):
        state = self.clear()
        window = self.pick(self.windows(state), r[0])
        planets = reachable(window)
        if len(planets) < 2:
            raise Skip('fewer than two planets')
        planet = self.pick(planets, r[1])
        onto = self.pick([p for p in planets if p is not planet], r[2])
        self.focus(window)
        chose = self.drag(planet['spot'], onto['spot'], r[3])
        self.note('drop within a window: %s' % chose)

    def a_focus_other(self, r, t):
        state = self.clear()
        self.focus(self.pick(self.windows(state), r[0]))

    def a_alt_tab(self, r, t):
        self.desktop.key('alt+Tab')
        time.sleep(0.4)

    def a_editor_away(self, r, t):
        """The editor open, typed into, and the focus moved to the other window or Alt+Tab."""
        state = self.clear()
        shown = self.windows(state)
        window = self.pick(shown, r[0])
        doc = self.model.doc_of(window)
        screen = window['screen']
        self.focus(window)
        self.desktop.click(*mid(screen['centre']['rect']))
        if not self.editor_field():
            raise Skip('no editor')
        self.desktop.key('ctrl+a')
        self.desktop.type(t)
        self.model.made.add(t)
        if len(shown) > 1 and r[1] < 0.5:
            self.focus([w for w in shown if w is not window][0], check=False)
        else:
            self.desktop.key('alt+Tab')
        time.sleep(0.6)
        # What was typed is taken when the editor goes (or still in it, if it stayed).
        self.clear()
        self.retitled(doc, screen, screen['centre']['text'], t)

    def a_new_map(self, r, t):
        state = self.clear()
        before = len(self.windows(state))
        if before >= MAX_WINDOWS:
            raise Skip('enough windows')
        self.focus(self.pick(self.windows(state), r[0]))
        self.desktop.key('ctrl+n')
        self.wait_for(lambda s: len(self.windows(s)) > before, 8, 'Ctrl+N opened no window')
        self.type_title(t)
        self.model.docs.append(Doc(t, {t}))
        self.wait_for(lambda s: self.window_with(s, t), 5)
        self.tile()

    def save_panel(self, name):
        panel = self.wait_for(lambda s: [o for o in self.others(s) if o['class'] == 'QFileDialog'], 5,
                              'no save panel')
        path = os.path.join(self.desktop.files, name + '.corvex')
        self.desktop.key('ctrl+a')
        self.desktop.type(path)
        self.desktop.key('Return')
        self.wait_for(lambda s: not [o for o in self.others(s) if o['class'] == 'QFileDialog'], 5,
                      'the save panel stayed')
        return path

    def a_save(self, r, t, save_as=False):
        state = self.clear()
        window = self.pick(self.windows(state), r[0])
        doc = self.model.doc_of(window)
        self.focus(window)
        self.desktop.key('ctrl+shift+s' if save_as else 'ctrl+s')
        if save_as:
            self.model.shelve(doc)
        if save_as or doc.path is None:
            doc.path = self.save_panel(t)
        doc.saved = set(doc.live)
        time.sleep(0.5)
        self.check_disk([doc])
        if not os.path.exists(self.desktop.full_flag):
            doc.folder_mark = Doc.folder_changes

    def a_save_as(self, r, t):
        self.a_save(r, t, save_as=True)

    def a_close(self, r, t):
        state = self.clear()
        shown = self.windows(state)
        if len(shown) < 2:
            raise Skip('the last window')
        window = self.pick(shown, r[0])
        doc = self.model.doc_of(window)
        self.focus(window)
        self.desktop.key('ctrl+w')
        time.sleep(0.6)
        state = self.state()
        alerts = self.others(state, 'alert')
        if alerts:
            buttons = {b['text'].replace('&', ''): b for b in alerts[0]['buttons']}
            choice = 'Save' if r[1] < 0.4 else 'Do Not Save' if r[1] < 0.8 else 'Cancel'
            if 'Close Anyway' in buttons and (os.path.exists(self.desktop.full_flag) or
                                              doc.folder_mark != Doc.folder_changes):
                # Changes the full data folder could not take: the user lets them go, or not.
                choice = 'Close Anyway' if r[1] < 0.8 else 'Cancel'
                if choice == 'Close Anyway':
                    doc.live = set(doc.saved or ())
            if choice not in buttons:
                raise Failure('alert', 'closing asked %r with %s' % (alerts[0].get('text'), sorted(buttons)))
            self.note('close: %s' % choice)
            self.desktop.click(*mid(buttons[choice]['rect']))
            if choice == 'Cancel':
                return
            if choice == 'Save':
                if doc.path is None:
                    doc.path = self.save_panel(t)
                doc.saved = set(doc.live)
        elif doc.path is None or doc.live != doc.saved:
            raise Failure('lost', 'Ctrl+W closed the window of %s without a question; %s' % (
                doc.root, 'it was never saved' if doc.path is None else
                'its file holds %s, the window showed %s' % (sorted(doc.saved), sorted(doc.live))))
        self.wait_for(lambda s: len(self.windows(s)) < len(shown), 8, 'the window stayed')
        self.model.docs.remove(doc)
        self.check_disk([doc])
        self.model.shelve(doc)
        self.tile()

    def a_overview(self, r, t):
        state = self.clear()
        window = self.pick([w for w in self.windows(state) if 'toggleButton' in w['screen']], r[0])
        self.focus(window)
        self.desktop.click(*mid(window['screen']['toggleButton']))
        xid = window['xid']
        shown = self.wait_for(lambda s: [w for w in self.windows(s) if w['xid'] == xid and
                                         w['screen']['state'] == 2 and 'toggleButton' in w['screen']], 5)
        time.sleep(0.5)
        if shown:
            self.desktop.click(*mid(shown[0]['screen']['toggleButton']))
            self.wait_for(lambda s: [w for w in self.windows(s) if w['xid'] == xid and w['screen']['state'] == 1],
                          5, 'the overview did not go back to the map')

    def a_focus_foreign(self, r, t):
        """A click on another program's window, maybe with the editor open and typed into, then
        a click back into a Corvex window."""
        state = self.clear()
        window = self.pick(self.windows(state), r[0])
        doc = self.model.doc_of(window)
        screen = window['screen']
        spot = self.desktop.foreign()
        editing = r[1] < 0.4
        if editing:
            self.focus(window)
            self.desktop.click(*mid(screen['centre']['rect']))
            if not self.editor_field():
                raise Skip('no editor')
            self.desktop.key('ctrl+a')
            self.desktop.type(t)
            self.model.made.add(t)
        self.desktop.click(*spot)
        time.sleep(0.6)
        self.note('Corvex active after the click on another program: %r' % (self.state()['active'] or None))
        self.focus(self.pick(self.windows(self.state()), r[2]), check=False)
        time.sleep(0.4)
        if editing:
            self.clear()
            self.retitled(doc, screen, screen['centre']['text'], t)

    def a_open_file(self, r, t):
        """Ctrl+O in a window: the open panel, then a file the model knows (one shown in a
        window comes to the front; another opens in a window of its own), or Cancel."""
        state = self.clear()
        shown = self.windows(state)
        paths = sorted(self.model.closed) + sorted(d.path for d in self.model.docs if d.path)
        cancel = r[1] < 0.15 or not paths
        if not cancel:
            path = self.pick(paths, r[2])
            doc = next((d for d in self.model.docs if d.path == path), None)
            if doc is None and len(shown) >= MAX_WINDOWS:
                raise Skip('enough windows')
        self.focus(self.pick(shown, r[0]))
        self.desktop.key('ctrl+o')
        self.wait_for(lambda s: [o for o in self.others(s) if o['class'] == 'QFileDialog'], 5, 'no open panel')
        if cancel:
            self.desktop.key('Escape')
            self.wait_for(lambda s: not [o for o in self.others(s) if o['class'] == 'QFileDialog'], 5,
                          'the open panel stayed')
            return
        self.note('open %s' % os.path.basename(path))
        self.desktop.key('ctrl+a')
        self.desktop.type(path)
        self.desktop.key('Return')
        self.wait_for(lambda s: not [o for o in self.others(s) if o['class'] == 'QFileDialog'], 5,
                      'the open panel stayed')
        if doc is not None:
            # Open already: its window comes to the front, nothing else opens.
            time.sleep(0.8)
            state = self.state()
            front = [w for w in self.windows(state) if w['file'] == path]
            if len(self.windows(state)) != len(shown) or not front:
                raise Failure('open', 'opening %s, open already, changed the windows to %s' % (
                    os.path.basename(path), [w['title'] for w in self.windows(state)]))
            if not front[0]['key']:
                self.note('the window of %s did not come to the front' % os.path.basename(path))
            return
        opened = self.wait_for(lambda s: [w for w in self.windows(s) if w['file'] == path and
                                          w['screen']['state'] != 0], 10)
        if not opened:
            raise Failure('open', 'Ctrl+O of %s opened no window' % os.path.basename(path))
        saved = self.model.closed.pop(path)
        self.model.docs.append(Doc(opened[0]['screen'].get('root'), saved, path, saved))
        self.tile()

    def a_editor_tab(self, r, t):
        """The editor's colour or icon tab: a colour, or an icon's category and a spot of its
        grid, picked; then Escape or a click outside. Neither changes a tracer."""
        state = self.clear()
        window = self.pick(self.windows(state), r[0])
        self.open_editor(window, r[1])
        if not self.editor_field():
            raise Skip('no editor')

        def frame():
            popovers = self.others(self.state(), 'popover')
            if not popovers:
                raise Skip('the editor went')
            return popovers[0]['frame']
        # The tab bar: Text, Colour, Icon and Done, 80 wide each, 61 high, at the top.
        colour = r[2] < 0.5
        at = frame()
        self.desktop.click(at[0] + (120 if colour else 200), at[1] + 30)
        time.sleep(0.8)
        at = frame()
        if colour:
            # Seven swatches a row, four rows, below the idea's picture.
            self.desktop.click(at[0] + 28 + 44 * int(r[3] * 7), at[1] + 266 + 44 * int(r[3] * 28 % 4))
        else:
            # A category row, then a spot of the icons it slides in.
            self.desktop.click(at[0] + 100, at[1] + 232 + 48 * int(r[3] * 5))
            time.sleep(0.8)
            at = frame()
            self.desktop.click(at[0] + 30 + 50 * int(r[3] * 50 % 5), at[1] + 250 + 40 * int(r[3] * 30 % 4))
        time.sleep(0.5)
        self.note('%s picked' % ('a colour' if colour else 'an icon'))
        if r[3] < 0.5:
            self.desktop.key('Escape')
        else:
            self.focus(window)
        time.sleep(0.4)

    def picture(self):
        """A small PNG of the user's, written once."""
        path = os.path.join(self.desktop.files, 'picture.png')
        if not os.path.exists(path):
            import struct
            import zlib

            def chunk(kind, data):
                return struct.pack('>I', len(data)) + kind + data + struct.pack(
                    '>I', zlib.crc32(kind + data) & 0xffffffff)
            rows = b''.join(b'\0' + bytes([200, 60, 40]) * 32 for _ in range(32))
            with open(path, 'wb') as stream:
                stream.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', 32, 32, 8, 2, 0, 0, 0)) +
                             chunk(b'IDAT', zlib.compress(rows)) + chunk(b'IEND', b''))
        return path

    def a_add_link(self, r, t):
        """The top bar's add button: Add Web Link (an address typed, then the page closed) or
        Add Image (a picture of the user's chosen, or the panel cancelled). What they add
        carries no tracer."""
        state = self.clear()
        window = self.pick([w for w in self.windows(state) if 'toggleButton' in w['screen']], r[0])
        self.focus(window)
        toggle = window['screen']['toggleButton']
        # The add button sits just left of the overview's toggle.
        self.desktop.click(toggle[0] + toggle[2] / 2 - 38, toggle[1] + toggle[3] / 2)
        web = r[1] < 0.5
        item = self.wait_for(lambda s: self.menu_item(s, 'Add Web Link' if web else 'Add Image'), 3,
                             'no add menu')
        self.desktop.click(*mid(item['rect']))
        if web:
            # The first web page of a process starts Qt WebEngine on the main thread, seconds
            # long (listed in README.md with its replay): long runs allow that one start-up the
            # CI limit, so that they go on to find other things.
            limit = self.ping_limit
            if self.web_allowance and not self.web_started:
                self.ping_limit = max(limit, 20.0)
            self.web_started = True
            try:
                self.web_page(window, r)
            finally:
                self.ping_limit = limit
            return
        self.wait_for(lambda s: [o for o in self.others(s) if o['class'] == 'QFileDialog'], 5, 'no image panel')
        if r[2] < 0.3:
            self.desktop.key('Escape')
            self.note('image panel cancelled')
        else:
            self.desktop.key('ctrl+a')
            self.desktop.type(self.picture())
            self.desktop.key('Return')
            self.note('picture chosen')
        self.wait_for(lambda s: not [o for o in self.others(s) if o['class'] == 'QFileDialog'], 5,
                      'the image panel stayed')
        time.sleep(1.0)
        self.clear()

    def web_page(self, window, r):
        """Add Web Link's page over the window: an address typed, maybe loaded, the page closed."""
        # A page's view makes the window take a new X window: it is known by its place.
        place = window['frame'][:2]
        def page(s):
            # The page over the map: no overview toggle, and its address field has the keys.
            return [w for w in self.windows(s) if w['frame'][:2] == place and 'toggleButton' not in w['screen'] and
                    [f for f in w['fields'] if f['kind'] == 'line' and f['focus']]]
        self.wait_for(page, 8, 'no web page')
        self.desktop.type('http://127.0.0.1:9/mk')
        if r[2] < 0.7:
            self.desktop.key('Return')
            time.sleep(1.5)
        # The page's close button, at the top bar's left.
        frame = window['frame']
        for _ in range(3):
            self.desktop.click(frame[0] + 26, frame[1] + 42)
            if self.wait_for(lambda s: [w for w in self.windows(s) if w['frame'][:2] == place and
                                        'toggleButton' in w['screen']], 3):
                self.note('web link typed and closed')
                return
        raise Failure('stuck', 'the web page\'s close button did not close it')

    def home_window(self, state):
        homes = [w for w in state['windows'] if w.get('screen', {}).get('kind') == 'home']
        return homes[0] if homes else None

    def home_shows(self, want, seconds=8):
        """The home screen's grid shows exactly the documents `want` (their root tracers)."""
        def shows(s):
            home = self.home_window(s)
            return home if home and sorted(d['text'] for d in home['screen']['documents']) == sorted(want) else None
        home = self.wait_for(shows, seconds)
        if not home:
            home = self.home_window(self.state())
            raise Failure('home', 'the home screen shows %s; the model says %s' % (
                sorted(d['text'] for d in home['screen']['documents']) if home else 'no home screen', sorted(want)))
        return home

    def check_cloud(self, seconds=8):
        """The iCloud location's folder holds one document for each of the model's, with exactly
        its tracers, and nothing of a deleted one."""
        folder = os.path.join(self.desktop.cloud, 'Documents')
        want = sorted(sorted(tracers) for tracers in self.model.cloud.values())
        deadline = time.time() + seconds
        while True:
            held = []
            for name in sorted(os.listdir(folder)):
                if name.endswith('.crvx'):
                    try:
                        held.append(sorted(disk.tracers(os.path.join(folder, name)) or ()))
                    except (disk.Unreadable, FileNotFoundError) as error:
                        held.append(['unreadable: %s' % error])
            if sorted(held) == want:
                self.note('the iCloud folder agrees: %s' % want)
                return
            if time.time() > deadline:
                raise Failure('disk', 'the iCloud folder holds %s; the model says %s' % (sorted(held), want))
            time.sleep(0.3)

    def home_button(self, seconds=8):
        """From a document of the iCloud location back to its home screen."""
        def back(s):
            for w in s['windows']:
                if w.get('screen', {}).get('kind') == 'map' and 'homeButton' in w['screen']:
                    return w
            return None
        # A click while the editor's popover goes away may be taken by it: a hand clicks again.
        for _ in range(3):
            window = self.wait_for(back, seconds, 'no home button')
            self.desktop.click(*mid(window['screen']['homeButton']))
            if self.wait_for(lambda s: self.home_window(s), seconds):
                return
        raise Skip('the home button brought no home screen')

    def close_cloud_maps(self):
        """The iCloud location's documents left open in a window of their own (the home button
        did not bring the home screen back) are closed: the model knows local maps only."""
        for window in self.windows(self.state()):
            if 'homeButton' in window['screen']:
                self.desktop.xdotool('windowactivate', '--sync', window['xid'])
                self.clear()
                self.desktop.key('ctrl+w')
        if not self.wait_for(lambda s: not [w for w in self.windows(s) if 'homeButton' in w['screen']], 8):
            raise Failure('stuck', 'a document of the iCloud location stays open after Ctrl+W')

    def a_home(self, r, t):
        """The iCloud location's home screen (File > New iCloud Window): a document made with
        its adder and titled, one opened and back by the home button, a search typed and
        cleared, one deleted or renamed; then the home screen closed (Ctrl+W)."""
        state = self.clear()
        window = self.pick(self.windows(state), r[0])
        self.focus(window)
        frame = window['frame']
        self.desktop.click(frame[0] + 19, frame[1] + 10)  # the menu bar's File
        item = self.wait_for(lambda s: self.menu_item(s, 'New iCloud Window'), 3, 'no New iCloud Window')
        self.desktop.click(*mid(item['rect']))
        home = self.wait_for(lambda s: self.home_window(s), 8, 'no home screen')
        # Opened over the tiled windows, maybe under one: brought to the front to be used.
        self.desktop.xdotool('windowactivate', '--sync', home['xid'])
        time.sleep(0.5)
        try:
            self.home_step(r, t)
        finally:
            if not self.home_window(self.state()):
                try:
                    self.home_button()
                except Skip:
                    self.close_cloud_maps()
                    raise
            home = self.home_window(self.state())
            if home:
                self.desktop.xdotool('windowactivate', '--sync', home['xid'])
                self.clear()
                self.desktop.key('ctrl+w')
                self.wait_for(lambda s: not self.home_window(s), 5, 'the home screen stayed')
        self.check_cloud()

    def home_step(self, r, t):
        home = self.home_shows(self.model.cloud)
        roots = sorted(self.model.cloud)
        choice = r[1]
        if not roots or (choice < 0.3 and len(roots) < 6):
            if '' in roots:
                raise Skip('an untitled document is there already')
            area = home['screen']['area']
            # The adder, the grid's first slot: a new document, shown with the editor open.
            self.desktop.click(area[0] + 140, area[1] + 130)
            if not self.editor_field(8):
                self.model.cloud[''] = set()
                raise Skip('no editor took the title of the new document')
            self.type_title(t)
            self.model.cloud[t] = {t}
            self.note('made %s in the iCloud location' % t)
            self.home_button()
            self.home_shows(self.model.cloud)
            return
        root = self.pick(roots, r[2])
        if not root and choice < 0.5:
            raise Skip('no title to search for')
        document = [d for d in home['screen']['documents'] if d['text'] == root and 'rect' in d]
        if not document:
            raise Skip('the document is not in view')
        spot = mid(document[0]['rect'])
        if choice < 0.5:
            # A search for part of its title: it shows, and only what matches.
            words = root[-4:]
            self.desktop.xdotool('windowactivate', '--sync', home['xid'])
            self.desktop.key('ctrl+f')
            time.sleep(0.3)
            self.desktop.type(words)
            found = self.wait_for(lambda s: self.home_window(s) and self.home_window(s)['screen']['searching'] and
                                  root in [d['text'] for d in self.home_window(s)['screen']['documents']], 8)
            shown = [d['text'] for d in self.home_window(self.state())['screen']['documents']]
            if not found or [d for d in shown if words.lower() not in d.lower()]:
                raise Failure('home', 'a search for %r shows %s' % (words, shown))
            self.note('searched %r: %s' % (words, shown))
            self.desktop.key('ctrl+a')
            self.desktop.key('BackSpace')
            self.home_shows(self.model.cloud)
            return
        self.desktop.click(*spot, button=3)
        verb = 'Open' if choice < 0.7 else 'Edit' if choice < 0.85 else 'Delete'
        item = self.wait_for(lambda s: self.menu_item(s, verb), 3, 'no %s on the document\'s menu' % verb)
        self.desktop.click(*mid(item['rect']))
        if verb == 'Open':
            def opened(s):
                return [w for w in s['windows'] if w.get('screen', {}).get('kind') == 'map' and
                        w['screen'].get('root') == root and w['screen']['state'] != 0]
            shown = self.wait_for(opened, 8, 'the document did not open')
            tracers = disk.tree_tracers(shown[0]['screen'].get('tree', ['', []]))
            if tracers != self.model.cloud[root]:
                raise Failure('shown', 'the iCloud document %s shows %s; the model says %s' % (
                    root, sorted(tracers), sorted(self.model.cloud[root])))
            self.home_button()
        elif verb == 'Edit':
            self.type_title(t)
            self.model.cloud[t] = (self.model.cloud.pop(root) - {root}) | {t}
            self.note('renamed %s to %s' % (root, t))
        else:
            time.sleep(0.5)
            for alert in self.others(self.state(), 'alert'):
                for button in alert['buttons']:
                    if button['text'].replace('&', '') == 'Delete':
                        self.desktop.click(*mid(button['rect']))
            del self.model.cloud[root]
            self.note('deleted %s' % root)
        self.home_shows(self.model.cloud)

    def a_data_full(self, r, t):
        """The data folder full, or given room again."""
        flag = self.desktop.full_flag
        Doc.folder_changes += 1
        if os.path.exists(flag):
            os.unlink(flag)
            self.note('the data folder has room again')
        else:
            open(flag, 'w').close()
            self.note('the data folder is full')

    def end_checks(self, how):
        code = self.corvex.wait_end(20)
        if code is None:
            raise Failure('hang', 'Corvex did not end within 20 s of %s' % how)
        self.corvex.disconnect()
        self.check_crash_records()
        if code != 0 and how == 'Ctrl+Q':
            raise Failure('exit', 'Ctrl+Q ended Corvex with %s' % self.corvex.describe_end())

    def a_quit(self, r, t, replace=False):
        # A copy within a map changes no tracer: what the window says tells the changes apart.
        shown = self.windows(self.clear())
        for window in shown:
            doc = self.model.doc_of(window)
            if doc:
                doc.marked = bool(window.get('edited'))
        # Into Corvex, as a user clicks its window first: a window closed just before may have
        # left the keys with another program's window.
        if shown:
            self.focus(shown[0])
        self.desktop.key('ctrl+q')
        time.sleep(0.6)
        asked = 0
        deadline = time.time() + 20
        # One question for each window whose changes could not be stored: Quit Anyway to each.
        while self.corvex.alive() and time.time() < deadline:
            try:
                state = self.corvex.ask('state', self.ping_limit)
            except (Gone, Hang):
                break
            for alert in self.others(state, 'alert'):
                for button in alert['buttons']:
                    if 'Quit' in button['text']:
                        asked += 1
                        self.note('quit asked %r' % alert.get('text'))
                        self.desktop.click(*mid(button['rect']))
                        time.sleep(0.5)
            time.sleep(0.3)
        if asked > 1:
            self.note('Ctrl+Q asked %d questions' % asked)
        self.end_checks('Ctrl+Q')
        # Nothing is written at a quit: each file holds what was saved.
        self.check_disk(self.model.docs)
        if replace:
            self.replace_a_file(r, t)
        self.launch()
        if asked:
            return self.resync(t)
        # A quit keeps every window: the next start shows each as it was.
        self.wait_for(lambda s: len(self.windows(s)) >= len(self.model.docs), 10)
        missing = [d.root for d in self.model.docs
                   if not any(self.model.doc_of(w) is d for w in self.windows(self.state()))]
        if missing:
            raise Failure('lost', 'after Ctrl+Q and a new start no window shows %s' % missing)
        self.adopt(t + 'n')
        self.check_windows()

    def replaceable(self):
        """The documents whose file may be replaced: one whose window has changes comes back
        as two windows (the file's and the changes'), so only while there is room for one more."""
        room = len(self.model.docs) < MAX_WINDOWS
        return [d for d in self.model.docs if d.path and (room or (d.live == d.saved and not d.marked))]

    def a_quit_replace(self, r, t):
        for window in self.windows(self.clear()):
            doc = self.model.doc_of(window)
            if doc:
                doc.marked = bool(window.get('edited'))
        if not self.replaceable():
            raise Skip('no file to replace')
        self.a_quit(r, t, replace=True)

    def replace_a_file(self, r, t):
        """Another program (or machine) replaces a file while Corvex is closed; Corvex must show
        and keep the new content."""
        doc = self.pick(self.replaceable(), r[1])
        root, child = t + 'r', t + 's'
        disk.write(doc.path, root, [child])
        self.model.made |= {root, child}
        if doc.live != doc.saved or doc.marked:
            # Both changed: the unsaved changes come back apart, in an untitled window.
            self.model.docs.append(Doc(doc.root, doc.live))
        doc.root, doc.live, doc.saved = root, {root, child}, {root, child}
        self.note('replaced %s' % os.path.basename(doc.path))

    def a_kill(self, r, t):
        self.corvex.kill()
        self.check_crash_records()
        self.check_disk(self.model.docs)
        self.launch()
        self.resync(t)

    def resync(self, t):
        """After a start that may have lost unsaved edits (a kill, Quit Anyway): each window
        shows what it shows, as long as nobody's tracer is invented; the model takes it."""
        time.sleep(1.0)
        state = self.state()
        keep = []
        for window in self.windows(state):
            doc = self.model.doc_of(window)
            shown = disk.tree_tracers(window['screen'].get('tree', ['', []]))
            if not shown <= self.model.made:
                raise Failure('shown', 'after a new start a window shows %s, never made' %
                              sorted(shown - self.model.made))
            if doc is None and shown:
                doc = Doc(window['screen']['root'], shown)
                self.model.docs.append(doc)
            if doc is not None:
                doc.live = shown
                keep.append(doc)
        for doc in self.model.docs:
            if doc not in keep:
                self.model.shelve(doc)
        self.model.docs = [d for d in self.model.docs if d in keep]
        self.adopt(t + 'n')

    def play(self, action):
        name = action['a']
        getattr(self, 'a_' + name)(action['r'], action['t'])
        self.check_crash_records()


# The table: each action, how often it is drawn.
ACTIONS = [
    ('title', 6), ('edit_note', 4), ('add_child', 14), ('delete', 5), ('open_planet', 3), ('to_parent', 3),
    ('drag_between', 10), ('drag_within', 3), ('focus_other', 4), ('alt_tab', 3), ('editor_away', 4),
    ('new_map', 8), ('save', 8), ('save_as', 2), ('close', 3), ('overview', 3), ('quit', 3),
    ('quit_replace', 1), ('kill', 2), ('data_full', 2), ('focus_foreign', 3), ('open_file', 4),
    ('editor_tab', 3), ('add_link', 2), ('home', 5),
]


def actions_of(seed):
    """The endless seeded list of actions."""
    rng = random.Random(seed)
    names = [name for name, weight in ACTIONS for _ in range(weight)]
    index = 0
    while True:
        yield {'a': rng.choice(names), 'r': [round(rng.random(), 4) for _ in range(4)],
               't': 'Mk' + letters(seed, 3) + letters(index, 4)}
        index += 1


def play(binary, actions, ping_limit, log_dir, until=None, verbose=False, seed=None):
    """Plays the actions (an iterable) until one fails, they end or the time is up. Returns
    (failure or None, the actions played)."""
    os.makedirs(log_dir, exist_ok=True)
    run = Run(binary, ping_limit, log_dir, verbose)
    played = []
    try:
        run.start()
        run.adopt('Mkstart' + letters(seed or 0, 3))
        run.check_windows()
        for action in actions:
            if until and time.time() > until:
                break
            played.append(action)
            if verbose:
                print('  %3d %s' % (len(played), json.dumps(action)), flush=True)
            try:
                run.play(action)
            except Skip as skip:
                run.note('skipped: %s' % skip)
                continue
            run.check_windows()
        return None, played, run.notes
    except Failure as failure:
        if run.desktop:
            shot = os.path.join(log_dir, 'failure-%s.png' % seed)
            subprocess.run(['import', '-window', 'root', shot], env=run.desktop.env, check=False,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
            run.notes.append('screenshot: %s' % shot)
        run.notes.append('model: %s' % run.model.docs)
        if run.last_state:
            run.notes.append('shown: %s' % [(w['title'], w['file'], disk.tree_tracers(w['screen'].get('tree', ['', []])))
                                            for w in run.windows(run.last_state)])
        return failure, played, run.notes
    except Exception as error:  # noqa: BLE001  (the monkey's own trouble, told apart)
        return Failure('monkey', '%s\n%s' % (error, traceback.format_exc())), played, run.notes
    finally:
        run.stop()


def shrink(binary, actions, kind, ping_limit, log_dir):
    """Delta debugging: the shortest list found that still fails with the same kind."""
    def fails(candidate):
        failure, _, _ = play(binary, candidate, ping_limit, log_dir)
        print('    shrink: %d actions -> %s' % (len(candidate), failure.kind if failure else 'passes'), flush=True)
        return failure is not None and failure.kind == kind
    parts = 2
    while len(actions) >= 2:
        size = max(1, len(actions) // parts)
        chunks = [actions[i:i + size] for i in range(0, len(actions), size)]
        reduced = False
        for i in range(len(chunks)):
            complement = [a for j, chunk in enumerate(chunks) if j != i for a in chunk]
            if complement and fails(complement):
                actions, parts, reduced = complement, max(parts - 1, 2), True
                break
        if not reduced:
            if parts >= len(actions):
                break
            parts = min(len(actions), parts * 2)
    return actions


def report(failure, seed, played, notes, out_dir, binary, ping_limit, do_shrink):
    os.makedirs(out_dir, exist_ok=True)
    print('FAILED (seed %s) %s' % (seed, failure))
    print('  last notes:\n    %s' % '\n    '.join(str(n) for n in notes[-8:]))
    replay = os.path.join(out_dir, 'seed-%s.json' % seed)
    with open(replay, 'w') as stream:
        json.dump({'seed': seed, 'failure': str(failure), 'actions': played}, stream, indent=1)
    print('  actions (%d): %s' % (len(played), ' '.join(a['a'] for a in played)))
    print('  replay: tools/monkey --replay %s' % replay)
    if do_shrink and failure.kind not in ('monkey', 'external'):
        shrunk = shrink(binary, played, failure.kind, ping_limit, os.path.join(out_dir, 'shrink-log'))
        path = os.path.join(out_dir, 'seed-%s.shrunk.json' % seed)
        with open(path, 'w') as stream:
            json.dump({'seed': seed, 'failure': str(failure), 'actions': shrunk}, stream, indent=1)
        print('  shrunk to %d actions: %s' % (len(shrunk), ' '.join(a['a'] for a in shrunk)))
        print('  replay: tools/monkey --replay %s' % path)


def main():
    # Ended from outside (even from a background job, where SIGINT is ignored), each run still
    # ends its corvex, openbox and X server.
    def end(number, frame):
        raise SystemExit('monkey: ended by signal %d' % number)
    signal.signal(signal.SIGTERM, end)
    signal.signal(signal.SIGINT, end)
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--tree', default=os.path.join(ROOT, 'build', 'gcc'))
    parser.add_argument('--seed', type=int, action='append')
    parser.add_argument('--seeds', type=int)
    parser.add_argument('--actions', type=int, default=30)
    parser.add_argument('--minutes', type=float)
    parser.add_argument('--ping', type=float)
    parser.add_argument('--replay')
    parser.add_argument('--shrink', action='store_true')
    parser.add_argument('--out', default=None)
    parser.add_argument('--verbose', action='store_true')
    options = parser.parse_args()
    # Absolute: corvex starts in the run's HOME.
    binary = os.path.abspath(os.path.join(options.tree, 'app', 'corvex'))
    if not os.access(binary, os.X_OK):
        sys.exit('monkey: no corvex at %s (cmake --build %s --target corvex)' % (binary, options.tree))
    out = options.out or os.path.join(options.tree, 'monkey')
    ping = options.ping or (2.0 if options.minutes else 20.0)
    global WEB_ALLOWANCE
    WEB_ALLOWANCE = bool(options.minutes)

    if options.replay:
        with open(options.replay) as stream:
            recorded = json.load(stream)
        failure, played, notes = play(binary, recorded['actions'], ping, out, verbose=options.verbose,
                                      seed=recorded.get('seed'))
        if failure:
            report(failure, recorded.get('seed'), played, notes, out, binary, ping, options.shrink)
            return 1
        print('replay of %d actions passed' % len(played))
        return 0

    if options.minutes:
        count = options.seeds or 1
        first = options.seed[0] if options.seed else int(time.time()) % 100000
        seeds = [first + i for i in range(count)]
    else:
        seeds = options.seed or [1, 2]
    status = 0
    for seed in seeds:
        started = time.time()
        if options.minutes:
            until = started + options.minutes * 60 / len(seeds)
            actions = actions_of(seed)
        else:
            until = None
            generator = actions_of(seed)
            actions = [next(generator) for _ in range(options.actions)]
        failure, played, notes = play(binary, actions, ping, out, until, options.verbose, seed)
        print('seed %d: %d actions in %.0f s: %s' % (seed, len(played), time.time() - started,
                                                     failure or 'passed'), flush=True)
        if failure:
            status = 1
            report(failure, seed, played, notes, out, binary, ping, options.shrink)
    return status


if __name__ == '__main__':
    sys.exit(main())
