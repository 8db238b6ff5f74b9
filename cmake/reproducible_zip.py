#!/usr/bin/env python3
"""Rewrites a zip so that its bytes depend on its contents alone: entries sorted by name, each
with the given time (seconds since the epoch, read as UTC), its Unix mode, and no extra fields.
An archiver's own zip carries each file's access and change times, which no build can fix.

Usage: reproducible_zip.py ZIP EPOCH
"""

import os
import sys
import time
import zipfile


def main():
    path, epoch = sys.argv[1], int(sys.argv[2])
    stamp = time.gmtime(max(epoch, 315532800))[:6]  # a zip holds no time before 1980
    with zipfile.ZipFile(path) as source:
        entries = [(info, source.read(info)) for info in source.infolist()]
    rewritten = path + ".tmp"
    with zipfile.ZipFile(rewritten, "w") as target:
        for info, data in sorted(entries, key=lambda entry: entry[0].filename):
            entry = zipfile.ZipInfo(info.filename, stamp)
            entry.create_system = 3  # Unix, so that the mode below is read
            entry.external_attr = info.external_attr & 0xFFFF0000
            entry.compress_type = zipfile.ZIP_STORED if info.is_dir() else zipfile.ZIP_DEFLATED
            target.writestr(entry, data)
    os.replace(rewritten, path)


if __name__ == "__main__":
    main()
