#!/usr/bin/env python3
"""Checks two release packages built from the same sources and writes a JUnit report.

    check_package.py RESULTS_XML SOURCE_ROOT COPY_DIR COPY_DIR

Each COPY_DIR holds build/ and dist/ of one run of scripts/package.sh.
"""
import glob
import hashlib
import os
import re
import struct
import sys
import xml.etree.ElementTree as ET
import zipfile

import pe_imports

ENTRIES = ["RivermeshTools.exe", "README-zh-CN.txt"]
# What Windows loads before the program's first line runs; the file dialog, the network, OLE and
# the shell are loaded on first use, after the window has appeared.
LOADED_AT_START = {"advapi32.dll", "comctl32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll",
                   "user32.dll"}


def package(copy):
    """The zip of one copy: the only RivermeshTools-<version>-win32.zip in its dist folder."""
    found = glob.glob(os.path.join(copy, "dist", "RivermeshTools-*-win32.zip"))
    assert len(found) == 1, f"expected one package in {copy}/dist, found {found}"
    return found[0]


def version_of(zip_path):
    return re.fullmatch(r"RivermeshTools-(.+)-win32\.zip", os.path.basename(zip_path)).group(1)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def member(zip_path, name):
    with zipfile.ZipFile(zip_path) as z:
        return z.read(name)


def product_version(exe):
    """The ProductVersion text of the version resource, as Windows shows it in the properties."""
    key = "ProductVersion\0".encode("utf-16-le")
    at = exe.find(key)
    assert at >= 0, "the program has no ProductVersion in its version resource"
    at += len(key)
    while exe[at : at + 2] == b"\0\0":  # padding before the value
        at += 2
    end = at
    while end + 2 <= len(exe) and exe[end : end + 2] != b"\0\0":
        end += 2
    return exe[at:end].decode("utf-16-le")


def imported_dlls(exe):
    """The names in a 32-bit PE's import directory, lower case."""
    pe = struct.unpack_from("<I", exe, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H12xH", exe, pe + 6)
    optional = pe + 24
    import_rva = struct.unpack_from("<I", exe, optional + 104)[0]
    table = optional + optional_size

    def offset(rva):
        for i in range(sections):
            size, address, _, raw = struct.unpack_from("<IIII", exe, table + 40 * i + 8)
            if address <= rva < address + size:
                return rva - address + raw
        raise AssertionError(f"address {rva:#x} lies in no section")

    names = set()
    at = offset(import_rva)
    while any(exe[at : at + 20]):
        name = offset(struct.unpack_from("<I", exe, at + 12)[0])
        names.add(exe[name : exe.index(b"\0", name)].decode("ascii").lower())
        at += 20
    return names


def check_reproducible(root, copies):
    first, second = (package(c) for c in copies)
    assert os.path.basename(first) == os.path.basename(second), "the two packages differ in name"
    assert read(first) == read(second), f"{first} and {second} differ"


def check_contents(root, copies):
    zip_path = package(copies[0])
    with zipfile.ZipFile(zip_path) as z:
        names = z.namelist()
        assert names == ENTRIES, f"entries {names}, expected {ENTRIES}"
        assert z.testzip() is None, "an entry fails its CRC"
        for info in z.infolist():
            assert not info.extra, f"{info.filename} has extra fields"
    built = read(os.path.join(copies[0], "build", "RivermeshTools.exe"))
    assert member(zip_path, ENTRIES[0]) == built, "the packed program is not the one built"


def check_program(root, copies):
    zip_path = package(copies[0])
    exe = member(zip_path, ENTRIES[0])
    assert exe[:2] == b"MZ", "not a Windows executable"
    pe = struct.unpack_from("<I", exe, 0x3C)[0]
    assert exe[pe : pe + 4] == b"PE\0\0", "no PE header"
    machine, _, stamp, symbols, symbol_count = struct.unpack_from("<HHIII", exe, pe + 4)
    assert machine == 0x14C, f"machine {machine:#x}, expected a 32-bit x86 program"
    assert stamp == 0, f"the PE header holds a time stamp ({stamp})"
    assert symbols == 0 and symbol_count == 0, "the program is not stripped"
    for path in [root] + copies:
        assert path.encode() not in exe, f"the program holds the build machine's path {path}"
    loaded = imported_dlls(exe)
    assert loaded == LOADED_AT_START, (
        f"the program loads {sorted(loaded)} at start, expected {sorted(LOADED_AT_START)}")
    shown = product_version(exe)
    assert shown == version_of(zip_path), (
        f"the package is named {version_of(zip_path)} but the program's version resource "
        f"says {shown}")


def check_imports(root, copies):
    """Every slot of the packed program and of the x86-64 build beside it (where this machine
    built it: RMT_X64_PROGRAM) starts out inside the program, and every name it imports is one
    that its DLL exports."""
    pe_imports.check(os.path.join(copies[0], "build", "RivermeshTools.exe"))
    other = os.environ.get("RMT_X64_PROGRAM")
    if other:
        pe_imports.check(other)


def check_import_faults_seen(root, copies):
    """The check above sees both faults: in a copy of the program with one delay-import slot set
    to 0 and one imported name changed, it names each."""
    exe = bytearray(read(os.path.join(copies[0], "build", "RivermeshTools.exe")))
    path = os.path.join(copies[0], "broken-imports.exe")
    with open(path, "wb") as f:
        f.write(exe)
    image = pe_imports.Image(path)
    dll, ((name, _, slot), *_) = next(d for d in image.delay_imports()
                                      if d[0].lower() == "shell32.dll")
    exe[image.offset(slot) : image.offset(slot) + image.word] = bytes(image.word)
    at = exe.index(b"CreateWindowExA\0")
    exe[at : at + 15] = b"CreateWindowExZ"
    with open(path, "wb") as f:
        f.write(exe)
    found = "\n".join(pe_imports.faults(path))
    assert f"{dll}!{name} starts out at 0x0" in found, f"a slot of 0 went unseen: {found}"
    assert "does not export CreateWindowExZ" in found, f"a name not exported went unseen: {found}"


def check_guide(root, copies):
    zip_path = package(copies[0])
    raw = member(zip_path, ENTRIES[1])
    try:
        text = raw.decode("gbk")
    except UnicodeDecodeError as e:
        raise AssertionError(f"the guide is not GBK: {e}")
    assert raw.endswith(b"\r\n"), "the guide's last line has no CRLF"
    assert raw.count(b"\n") == raw.count(b"\r\n"), "the guide has a bare LF"
    assert raw.count(b"\r") == raw.count(b"\r\n"), "the guide has a bare CR"
    assert "@VERSION@" not in text, "the guide's version was not filled in"
    assert version_of(zip_path) in text.splitlines()[0], "the guide's title lacks the version"


def check_checksum(root, copies):
    zip_path = package(copies[0])
    name = os.path.basename(zip_path)
    listed = sorted(os.listdir(os.path.dirname(zip_path)))
    assert listed == sorted([name, name + ".sha256"]), f"dist holds {listed}"
    with open(zip_path + ".sha256", encoding="ascii", newline="") as f:
        line = f.read()
    expected = f"{hashlib.sha256(read(zip_path)).hexdigest()}  {name}\n"
    assert line == expected, f"checksum file says {line!r}, expected {expected!r}"


CHECKS = [("Reproducible", check_reproducible), ("Contents", check_contents),
          ("Program", check_program), ("Imports", check_imports),
          ("ImportFaultsSeen", check_import_faults_seen),
          ("Guide", check_guide), ("Checksum", check_checksum)]


def main(results, root, *copies):
    suite = ET.Element("testsuite", name="Package")
    failures = 0
    for name, check in CHECKS:
        case = ET.SubElement(suite, "testcase", classname="Package", name=name)
        try:
            check(root, list(copies))
            print(f"[  PASSED  ] Package.{name}")
        except Exception as e:  # a missing file is as much a failure as a wrong byte
            failures += 1
            ET.SubElement(case, "failure", message=str(e))
            print(f"[  FAILED  ] Package.{name}: {e}")
    suite.set("tests", str(len(CHECKS)))
    suite.set("failures", str(failures))
    top = ET.Element("testsuites")
    top.append(suite)
    ET.ElementTree(top).write(results, encoding="utf-8", xml_declaration=True)
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__.strip().splitlines()[2].strip())
    sys.exit(main(*sys.argv[1:]))
