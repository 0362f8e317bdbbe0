#!/usr/bin/env python3
"""Packs the release program and the user guide into one zip, with its SHA-256 file beside it.

    package_zip.py EXE GUIDE VERSION DIST_DIR

The guide is kept in UTF-8 with @VERSION@ in its text; users read it in Notepad on Chinese
Windows, so it goes into the zip in GBK with CRLF line ends. Nothing in the zip depends on when
or where it was made: entry times, order and permissions are fixed, and no extra fields are
written, so two builds of one commit give the same bytes.
"""
import hashlib
import os
import sys
import zipfile

PROGRAM_NAME = "RivermeshTools.exe"
# ASCII on purpose: zip tools on Chinese Windows read names without the UTF-8 flag as code
# page 936, and others read them as code page 437.
GUIDE_NAME = "README-zh-CN.txt"
ENTRY_TIME = (1980, 1, 1, 0, 0, 0)  # the earliest time a zip entry can hold


def guide_bytes(path, version):
    with open(path, encoding="utf-8") as f:
        text = f.read().replace("@VERSION@", version)
    # A checkout with CRLF conversion gives CRLF already; either way every line ends in CRLF.
    text = text.replace("\r\n", "\n").replace("\n", "\r\n")
    return text.encode("gbk")  # strict: a character without a GBK form stops the package


def entry(name):
    info = zipfile.ZipInfo(name, date_time=ENTRY_TIME)
    info.compress_type = zipfile.ZIP_DEFLATED
    info.create_system = 3
    info.external_attr = 0o100644 << 16
    return info


def main(exe, guide, version, dist):
    with open(exe, "rb") as f:
        program = f.read()
    readme = guide_bytes(guide, version)
    os.makedirs(dist, exist_ok=True)
    name = f"RivermeshTools-{version}-win32.zip"
    path = os.path.join(dist, name)
    # Written beside and renamed at the end, so a failed run leaves no half-written package.
    partial = path + ".partial"
    with zipfile.ZipFile(partial, "w") as z:
        z.writestr(entry(PROGRAM_NAME), program, compresslevel=9)
        z.writestr(entry(GUIDE_NAME), readme, compresslevel=9)
    with open(partial, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    os.replace(partial, path)
    # The form sha256sum -c reads.
    with open(path + ".sha256", "w", encoding="ascii", newline="\n") as f:
        f.write(f"{digest}  {name}\n")
    print(path)


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__.strip().splitlines()[2].strip())
    main(*sys.argv[1:])
