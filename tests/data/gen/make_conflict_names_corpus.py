#!/usr/bin/env python3
"""Writes the seed corpus of the conflict-name fuzz target:

  fuzz/corpus/fuzz_conflict_names/   file names, one per file (UTF-8)

The conflict copies Syncthing, Nextcloud, ownCloud and Dropbox clients leave beside a file,
their temporary files, near misses of each form, and plain document names, written from
the tools' documented naming alone.

Run with /usr/bin/python3 from anywhere; the folder is emptied and written again.
"""

import os
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.normpath(os.path.join(HERE, '..', '..', '..'))
CORPUS_DIR = os.path.join(REPO, 'fuzz', 'corpus', 'fuzz_conflict_names')

NAMES = [
    # Syncthing
    'plan.sync-conflict-20261207-101530-ABCDEF7.crvx',
    'plan.sync-conflict-20261207-101530-ABCDEF7',
    'corvex.sync-conflict-20261207-101530-Q2W3E4R.index',
    'a.b.c.sync-conflict-20261207-101530-X.crvx',
    'plan.sync-conflict-20261207-101530-ABCDEF7.sync-conflict-20261208-000000-ZZZZZZZ.crvx',
    '.syncthing.plan.crvx.tmp',
    '~syncthing~plan.crvx.tmp',
    # Nextcloud
    'plan (conflicted copy 2026-12-07 101530).crvx',
    'plan (conflicted copy anna 2026-12-07 101530).crvx',
    'plan (conflicted copy  2026-12-07 101530).crvx',
    '.~lock.plan.crvx#',
    'plan.crvx.~1a2b3c',
    # ownCloud
    'plan_conflict-20261207-101530.crvx',
    'plan_conflict-20261207-101530',
    # Dropbox clients
    "plan (laptop's conflicted copy 2026-12-07).crvx",
    "plan (laptop's conflicted copy 2026-12-07 (2)).crvx",
    "plan (Anna's MacBook's conflicted copy 2026-12-07).crvx",
    # Temporaries
    'plan.crvx.part',
    'plan.crvx.partial',
    'plan.crvx.!sync',
    'plan.crvx.corvex-tmp-Ab12Cd',
    # Near misses and plain names
    'plan.sync-conflict-2026120-101530-ABCDEF7.crvx',
    'plan.sync-conflict-20261207-101530-.crvx',
    '.sync-conflict-20261207-101530-ABCDEF7.crvx',
    'plan (conflicted copy 2026-12-07).crvx',
    "plan (laptop's conflicted copy 2026-12-07 (x)).crvx",
    "('s conflicted copy 2026-12-07).crvx",
    'plan_conflict-20261207.crvx',
    'id1765029000_3.crvx',
    'corvex.index',
    '\u00e9t\u00e9 (conflicted copy 2026-12-07 101530).crvx',
    'a/b.crvx',
    '..',
    '*?*.crvx',
]


def main():
    shutil.rmtree(CORPUS_DIR, ignore_errors=True)
    os.makedirs(CORPUS_DIR)
    for index, name in enumerate(NAMES):
        with open(os.path.join(CORPUS_DIR, 'name_%02d' % index), 'wb') as out:
            out.write(name.encode('utf-8'))


if __name__ == '__main__':
    main()
