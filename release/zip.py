#!/usr/bin/env python3
"""Writes a zip whose bytes depend only on the files' names and contents.

Usage: zip.py OUT.zip FOLDER PREFIX
Every file under FOLDER goes in as PREFIX/relative/path, in sorted order, with the time
SOURCE_DATE_EPOCH (the commit's time), mode 644 and no extra fields.
"""

import os
import sys
import time
import zipfile


def main(out, folder, prefix):
    stamp = time.gmtime(max(int(os.environ["SOURCE_DATE_EPOCH"]), 315532800))[:6]  # zip: >= 1980
    names = sorted(os.path.relpath(os.path.join(d, f), folder).replace(os.sep, "/")
                   for d, _, files in os.walk(folder) for f in files)
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        for name in names:
            info = zipfile.ZipInfo(f"{prefix}/{name}", stamp)
            info.external_attr = 0o100644 << 16
            info.create_system = 3  # Unix, whichever system packs it: mode 644 above
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(os.path.join(folder, name), "rb") as f:
                z.writestr(info, f.read())


if __name__ == "__main__":
    main(*sys.argv[1:])
