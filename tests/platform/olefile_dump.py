#!/usr/bin/python3
"""Lists a compound file's streams with an independent reader (olefile):
one line per stream, "path size sha256", paths joined with '/'."""
import hashlib
import sys

import olefile

with olefile.OleFileIO(sys.argv[1]) as ole:
    for entry in sorted(ole.listdir(streams=True, storages=False)):
        path = "/".join(entry)
        data = ole.openstream(entry).read()
        print(path, len(data), hashlib.sha256(data).hexdigest())
