#!/usr/bin/env python3
"""Zips a staged install folder reproducibly: entries in sorted order, one
fixed time (SOURCE_DATE_EPOCH), fixed permissions and compression.

Usage: make_zip.py STAGING_FOLDER OUTPUT.zip
The staging folder's own name becomes the top folder inside the zip.
"""
import os
import sys
import time
import zipfile


def main():
    if len(sys.argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    staging = os.path.abspath(sys.argv[1])
    output = sys.argv[2]
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "315532800"))
    # Zip times start in 1980 and have two-second steps.
    stamp = time.gmtime(max(epoch, 315532800))[:6]
    top = os.path.basename(staging)
    paths = []
    for folder, folders, files in os.walk(staging):
        folders.sort()
        for name in files:
            paths.append(os.path.join(folder, name))
    paths.sort()
    with zipfile.ZipFile(output + ".part", "w") as archive:
        for path in paths:
            name = top + "/" + os.path.relpath(path, staging).replace(os.sep, "/")
            entry = zipfile.ZipInfo(name, date_time=stamp)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.create_system = 3  # Unix, so that the permissions below are read
            entry.external_attr = (0o100755 if name.endswith(".exe") else 0o100644) << 16
            with open(path, "rb") as source:
                archive.writestr(entry, source.read(), compresslevel=9)
    os.replace(output + ".part", output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
