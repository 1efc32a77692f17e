#!/usr/bin/env python3
"""Status files of the Dropbox location ("corvex.local.status") and the states they hold.

    dropbox_status_files.py generate DIR SEED COUNT
        writes DIR/status_NNN.json (seeded, with members reordered, "\\/" escapes, repeated
        keys, "documents" elements without "key" or "val", members of wrong types, and a few
        files that are no status file) and DIR/expected_NNN.json, the state each holds.
    dropbox_status_files.py read FILE...
        prints, one line per file, the state the file holds ("null" for no status file).

A state is {"fileFormatVersion": str|null, "index": record|null, "documents": {key: record}}
with record = {"input": info|null, "current": info|null, "output": info|null} and
info = {"name": str|null, "rev": str|null}. The reading rules: the top object's member
"dropboxFolderManagerState" must be an object; members of unexpected types count as absent;
a "documents" element without a string "key" and an object "val" is skipped; a later member
or element of the same key wins.
"""
import json
import random
import sys
from pathlib import Path

SLOTS = ("input", "current", "output")
CHARS = "abcxyz019_-./ é😀\x7f\"\\ß"


def read_info(value):
    if not isinstance(value, dict):
        return None
    name = value.get("name")
    rev = value.get("rev")
    return {"name": name if isinstance(name, str) else None, "rev": rev if isinstance(rev, str) else None}


def read_record(value):
    return {slot: read_info(value.get(slot)) for slot in SLOTS}


def read_state(text):
    try:
        top = json.loads(text)
    except ValueError:
        return None
    if not isinstance(top, dict):
        return None
    state = top.get("dropboxFolderManagerState")
    if not isinstance(state, dict):
        return None
    version = state.get("fileFormatVersion")
    index = state.get("index")
    documents = {}
    elements = state.get("documents")
    if isinstance(elements, list):
        for element in elements:
            if not isinstance(element, dict):
                continue
            key, val = element.get("key"), element.get("val")
            if isinstance(key, str) and isinstance(val, dict):
                documents[key] = read_record(val)
    return {
        "fileFormatVersion": version if isinstance(version, str) else None,
        "index": read_record(index) if isinstance(index, dict) else None,
        "documents": documents,
    }


# Values are written from a tree of ("obj", [(key, value), ...]), ("arr", [...]) and scalars,
# so that member order, repeated keys and escapes are the generator's to choose.
def text(rng, s):
    encoded = json.dumps(s, ensure_ascii=rng.random() < 0.5)
    if rng.random() < 0.5:
        encoded = encoded.replace("/", "\\/")
    return encoded


def write(rng, value):
    if isinstance(value, tuple) and value[0] == "obj":
        members = list(value[1])
        rng.shuffle(members)
        return "{" + ",".join(text(rng, k) + ":" + write(rng, v) for k, v in members) + "}"
    if isinstance(value, tuple) and value[0] == "arr":
        return "[" + ",".join(write(rng, v) for v in value[1]) + "]"
    if isinstance(value, str):
        return text(rng, value)
    return json.dumps(value)


def random_string(rng, prefix=""):
    return prefix + "".join(rng.choice(CHARS) for _ in range(rng.randint(0, 12)))


def wrong_type(rng):
    return rng.choice([7, 1.5, True, None, ("arr", [1]), ("obj", [])])


def gen_info(rng):
    members = []
    for field in ("name", "rev"):
        roll = rng.random()
        if roll < 0.55:
            members.append((field, random_string(rng, "file" if field == "name" else "")))
        elif roll < 0.65:
            members.append((field, wrong_type(rng)))
    if rng.random() < 0.1 and members:
        members.insert(0, (members[-1][0], random_string(rng)))  # repeated: the later wins
    if rng.random() < 0.05:
        members.append(("extra", random_string(rng)))
    return ("obj", members)


def gen_record(rng):
    members = []
    for slot in SLOTS:
        roll = rng.random()
        if roll < 0.6:
            members.append((slot, gen_info(rng)))
        elif roll < 0.68:
            members.append((slot, wrong_type(rng)))
    return ("obj", members)


def gen_state(rng):
    members = []
    roll = rng.random()
    if roll < 0.8:
        members.append(("fileFormatVersion", "1"))
    elif roll < 0.9:
        members.append(("fileFormatVersion", wrong_type(rng)))
    if rng.random() < 0.85:
        members.append(("index", gen_record(rng) if rng.random() < 0.9 else wrong_type(rng)))
    if rng.random() < 0.9:
        elements = []
        keys = []
        for _ in range(rng.randint(0, 12)):
            roll = rng.random()
            if roll < 0.75 or not keys:
                key = random_string(rng, "dropbox:/")
                keys.append(key)
            else:
                key = rng.choice(keys)  # a repeated key: the later element wins
            element = [("key", key), ("val", gen_record(rng))]
            roll = rng.random()
            if roll < 0.05:
                element = element[1:]
            elif roll < 0.1:
                element = element[:1]
            elif roll < 0.14:
                element[0] = ("key", wrong_type(rng))
            elif roll < 0.18:
                element[1] = ("val", wrong_type(rng))
            elements.append(("obj", element) if rng.random() > 0.03 else random_string(rng))
        documents = ("arr", elements)
        members.append(("documents", documents if rng.random() > 0.04 else ("obj", [])))
    return ("obj", members)


def generate(folder, seed, count):
    rng = random.Random(seed)
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    for n in range(count):
        roll = rng.random()
        if roll < 0.03:
            body = '{"dropboxFolderManagerState":{"documents":['  # cut short
        elif roll < 0.05:
            body = write(rng, ("obj", [("someOtherState", gen_state(rng))]))
        else:
            top = [("dropboxFolderManagerState", gen_state(rng))]
            if rng.random() < 0.05:
                top.append(("unrelated", 1))
            body = write(rng, ("obj", top))
        (folder / f"status_{n:03d}.json").write_text(body, encoding="utf-8")
        (folder / f"expected_{n:03d}.json").write_text(json.dumps(read_state(body)), encoding="utf-8")


def main(argv):
    if len(argv) == 5 and argv[1] == "generate":
        generate(argv[2], int(argv[3]), int(argv[4]))
        return 0
    if len(argv) >= 3 and argv[1] == "read":
        for name in argv[2:]:
            print(json.dumps(read_state(Path(name).read_text(encoding="utf-8"))))
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
