#!/usr/bin/env python3
"""Seeds the corpora of the Dropbox fuzz targets (fuzz/corpus/fuzz_dropbox_*): status files
from dropbox_status_files.py, route answers as the service sends them, redirect URLs and token
files. Run from the repository root: tests/data/gen/make_dropbox_corpora.py
"""
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))
import dropbox_status_files  # noqa: E402

ROOT = Path(__file__).resolve().parents[3] / "fuzz" / "corpus"

ANSWERS = [
    b'{"entries":[{".tag":"file","name":"a.crvx","path_lower":"/a.crvx","path_display":"/a.crvx","id":"id:1",'
    b'"rev":"00000001a2b3c","size":3,"content_hash":"ab"},{".tag":"folder","name":"attachments",'
    b'"path_lower":"/attachments","id":"id:2"}],"cursor":"c1","has_more":true}',
    b'{"entries":[],"cursor":"c2","has_more":false}',
    b'{"entries":[{".tag":"file","path_lower":"/x"}],"has_more":true}',
    b'{".tag":"file","name":"a","path_lower":"/a","rev":"0123456789ab"}',
    b'{"metadata":{".tag":"folder","name":"attachments","path_lower":"/attachments","id":"id:3"}}',
    b'{"error_summary":"path/not_found/..","error":{".tag":"path","path":{".tag":"not_found"}}}',
    b'{"error_summary":"path/conflict/file/..","error":{".tag":"path","reason":{".tag":"conflict",'
    b'"conflict":{".tag":"file"}},"upload_session_id":"s"}}',
    b'{"error":{".tag":"path_lookup","path_lookup":{".tag":"not_found"}}}',
    b'{"error":{".tag":"reset"}}',
    b'{"error_summary":"expired_access_token/..","error":{".tag":"expired_access_token"}}',
    b'Error in call to API function "files/upload": Bad HTTP "Content-Type" header',
    b'{"path":"/\\u00e9\\u007f.crvx"}',
    '{"path":"/é\x7f😀.crvx"}'.encode("utf-8"),
]

REDIRECTS = [
    b"db-k://2/token?code=abc&state=s1",
    b"db-k://2/token?error=access_denied&error_description=The+user+chose+not+to+give+access&state=s",
    b"db-k://2/token?code=a&state=s&state=t",
    b"db-k://2/token?code=a%2B%20b&state=%E2%82%AC",
    b"https://www.dropbox.com/oauth2/authorize?client_id=k",
    b'{"access_token":"sl.abc","refresh_token":"r"}',
    b'{"access_token":7}',
]


def write(name, items):
    folder = ROOT / name
    folder.mkdir(parents=True, exist_ok=True)
    for n, data in enumerate(items):
        (folder / f"seed_{n:02d}").write_bytes(data)


def main():
    import random
    rng = random.Random(5)
    statuses = []
    for _ in range(24):
        statuses.append(dropbox_status_files.write(rng, ("obj", [("dropboxFolderManagerState",
                                                                  dropbox_status_files.gen_state(rng))])).encode())
    statuses.append(b'{"dropboxFolderManagerState":{"fileFormatVersion":"1","index":{"input":{}}}}')
    statuses.append(b'{"dropboxFolderManagerState":{"documents":[')
    write("fuzz_dropbox_status", statuses)
    write("fuzz_dropbox_answers", ANSWERS)
    write("fuzz_dropbox_redirect", REDIRECTS)


if __name__ == "__main__":
    main()
