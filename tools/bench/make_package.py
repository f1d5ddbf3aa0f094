#!/usr/bin/env python3
"""Writes a benchmark package: the stand-in app and files of random bytes in
one folder, stored (random bytes do not deflate), so the zip is about the given
size. Prints the package's SHA-256.

    make_package.py <out.zip> <MB> <files> <Movora.exe>
"""
import hashlib
import os
import sys
import zipfile

path, mb, files, app = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
size = mb * 1024 * 1024 // files
with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as archive:
    archive.write(app, "Movora 9.9/Movora.exe")
    for i in range(files - 1):
        archive.writestr(f"Movora 9.9/part{i % 50}/file{i}.bin", os.urandom(size))
digest = hashlib.sha256()
with open(path, "rb") as source:
    for block in iter(lambda: source.read(1 << 20), b""):
        digest.update(block)
print(digest.hexdigest())
