#!/usr/bin/env python3
"""Prints "<path> <content hash>" for every path read from stdin, one a line.

The hash is the Dropbox API's content_hash: SHA-256 over the concatenated SHA-256 digests of
the file's 4 MiB blocks. The Dropbox tests compare it with the emulator's.
"""
import hashlib
import sys

BLOCK = 4 * 1024 * 1024


def content_hash(path):
    whole = hashlib.sha256()
    with open(path, "rb") as f:
        while True:
            block = f.read(BLOCK)
            if not block:
                break
            whole.update(hashlib.sha256(block).digest())
    return whole.hexdigest()


def main():
    for line in sys.stdin:
        path = line.rstrip("\n")
        if path:
            print(f"{path} {content_hash(path)}")


if __name__ == "__main__":
    main()
