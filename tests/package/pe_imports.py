#!/usr/bin/env python3
"""Reads a Windows program's import and delay-import tables without running it, and checks them.

    pe_imports.py PROGRAM [PROGRAM...]

prints what each program imports and every fault found; exits 1 when there is one. The package
test calls check() on the release program. Two faults are looked for:
  - a delay-import slot that does not start out pointing at code inside the program: the first
    call through it jumps there before the library is loaded, so a slot of 0 is a jump to address
    0 (the 32-bit linker once dropped the loading stubs that only the slots referred to);
  - a name, in either table, that the DLL it names does not export: Windows refuses to start the
    program (plain import) or the call fails (delay import). The DLLs looked in are Wine's PE
    builds, installed with Wine, for the program's processor.
"""
import glob
import os
import struct
import sys

MACHINES = {0x14C: "i386", 0x8664: "x86_64"}
EXECUTE = 0x20000000  # IMAGE_SCN_MEM_EXECUTE
ORDINAL_FLAG = {4: 1 << 31, 8: 1 << 63}


class Image:
    """The headers of one PE file and a way to read what an RVA points at."""

    def __init__(self, path):
        self.path = path
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        if d[:2] != b"MZ":
            raise ValueError(f"{path}: not a Windows executable")
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        if d[pe : pe + 4] != b"PE\0\0":
            raise ValueError(f"{path}: no PE header")
        self.machine, count = struct.unpack_from("<HH", d, pe + 4)
        optional_size = struct.unpack_from("<H", d, pe + 20)[0]
        optional = pe + 24
        magic = struct.unpack_from("<H", d, optional)[0]
        self.wide = magic == 0x20B
        self.word = 8 if self.wide else 4
        self.base = struct.unpack_from("<Q" if self.wide else "<I", d,
                                       optional + (24 if self.wide else 28))[0]
        directories = optional + (112 if self.wide else 96)
        self.directories = [struct.unpack_from("<II", d, directories + 8 * i) for i in range(16)]
        self.sections = []
        for i in range(count):
            at = optional + optional_size + 40 * i
            name = d[at : at + 8].rstrip(b"\0").decode("ascii", "replace")
            vsize, va, raw_size, raw = struct.unpack_from("<IIII", d, at + 8)
            flags = struct.unpack_from("<I", d, at + 36)[0]
            self.sections.append((name, va, max(vsize, raw_size), raw, raw_size, flags))

    def offset(self, rva):
        for _, va, size, raw, raw_size, _ in self.sections:
            if va <= rva < va + size and rva - va < raw_size:
                return raw + rva - va
        raise ValueError(f"{self.path}: address {rva:#x} lies in no section's bytes")

    def section_of(self, rva):
        for section in self.sections:
            if section[1] <= rva < section[1] + section[2]:
                return section
        return None

    def string(self, rva):
        at = self.offset(rva)
        return self.data[at : self.data.index(b"\0", at)].decode("ascii")

    def word_at(self, rva):
        return struct.unpack_from("<Q" if self.wide else "<I", self.data, self.offset(rva))[0]

    def names(self, table_rva):
        """The entries of an import name table: names, or '#N' for an import by ordinal."""
        out = []
        while True:
            entry = self.word_at(table_rva + self.word * len(out))
            if entry == 0:
                return out
            if entry & ORDINAL_FLAG[self.word]:
                out.append(f"#{entry & 0xFFFF}")
            else:
                out.append(self.string(entry + 2))  # past the hint

    def imports(self):
        """{dll: [names]} of the import directory."""
        rva, size = self.directories[1]
        found = {}
        at = rva
        while size and any(self.data[self.offset(at) : self.offset(at) + 20]):
            lookup, _, _, name, first_thunk = struct.unpack_from("<5I", self.data, self.offset(at))
            found.setdefault(self.string(name), []).extend(self.names(lookup or first_thunk))
            at += 20
        return found

    def delay_descriptors(self):
        """The RVAs of the delay-load descriptors. GNU ld leaves the delay-import directory empty
        (the program's own helper reads the descriptors, never Windows), so where it is empty the
        sections are searched for records of their shape: RVA-based, naming a DLL whose name
        table and slots lie inside the image."""
        rva, size = self.directories[13]
        if size:
            out = []
            while any(self.data[self.offset(rva) : self.offset(rva) + 32]):
                out.append(rva)
                rva += 32
            return out
        out = []
        for _, va, _, raw, raw_size, _ in self.sections:
            for at in range(raw, raw + raw_size - 31, 4):
                attributes, name, handle, iat, lookup = struct.unpack_from("<5I", self.data, at)
                if attributes != 1 or not (name and handle and iat and lookup):
                    continue
                try:
                    if not self.string(name).lower().endswith(".dll"):
                        continue
                    self.offset(handle), self.offset(iat), self.offset(lookup)
                except (ValueError, UnicodeDecodeError):
                    continue
                out.append(va + at - raw)
        return out

    def delay_imports(self):
        """[(dll, [(name, initial slot value, slot's RVA)])] of the delay-load descriptors."""
        found = []
        for at in self.delay_descriptors():
            attributes, name, _, iat, lookup = struct.unpack_from("<5I", self.data, self.offset(at))
            # Old-style descriptors hold addresses instead of RVAs.
            fix = 0 if attributes & 1 else self.base
            names = self.names(lookup - fix)
            rvas = [iat - fix + self.word * i for i in range(len(names))]
            found.append((self.string(name - fix),
                          [(n, self.word_at(r), r) for n, r in zip(names, rvas)]))
        return found

    def exports(self):
        rva, size = self.directories[0]
        if not size:
            return set()
        count, table = struct.unpack_from("<I4xI", self.data, self.offset(rva) + 24)
        return {self.string(struct.unpack_from("<I", self.data, self.offset(table + 4 * i))[0])
                for i in range(count)}


def system_dll(machine, name):
    """Wine's PE build of a system DLL for this processor, or None."""
    arch = MACHINES[machine]
    for folder in sorted(glob.glob(f"/usr/lib/*/wine/{arch}-windows")) + \
            sorted(glob.glob(f"/usr/lib/wine/{arch}-windows")) + \
            sorted(glob.glob(f"/opt/wine*/lib*/wine/{arch}-windows")):
        for entry in os.listdir(folder):
            if entry.lower() == name.lower():
                return os.path.join(folder, entry)
    return None


def faults(path, dll_path=system_dll):
    """Every fault of one program's tables, as sentences; empty when it is sound."""
    image = Image(path)
    if image.machine not in MACHINES:
        return [f"{path}: unknown machine {image.machine:#x}"]
    out = []
    delayed = image.delay_imports()
    for dll, entries in delayed:
        for name, slot, _ in entries:
            section = image.section_of(slot - image.base) if slot >= image.base else None
            if section is None or not section[5] & EXECUTE:
                out.append(f"{path}: the delay-import slot of {dll}!{name} starts out at "
                           f"{slot:#x}, not at code inside the program")
    wanted = image.imports()
    for dll, entries in delayed:
        wanted.setdefault(dll, []).extend(entry[0] for entry in entries)
    exported = {}
    for dll, names in sorted(wanted.items()):
        found = dll_path(image.machine, dll)
        if found is None:
            out.append(f"{path}: {dll} is not among the system's {MACHINES[image.machine]} DLLs")
            continue
        if found not in exported:
            exported[found] = Image(found).exports()
        for name in names:
            if not name.startswith("#") and name not in exported[found]:
                out.append(f"{path}: {dll} does not export {name}")
    return out


def check(path):
    """Raises AssertionError naming every fault of the program's tables."""
    found = faults(path)
    assert not found, "\n".join(found[:20]) + (
        f"\n... and {len(found) - 20} more" if len(found) > 20 else "")


def main(paths):
    status = 0
    for path in paths:
        image = Image(path)
        print(f"{path} ({MACHINES.get(image.machine, hex(image.machine))}):")
        print("  loaded at start: " + ", ".join(sorted(d.lower() for d in image.imports())))
        for dll, entries in image.delay_imports():
            print(f"  on first use: {dll} ({len(entries)} functions)")
        for line in faults(path):
            print("  FAULT " + line)
            status = 1
    return status


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__.strip().splitlines()[2].strip())
    sys.exit(main(sys.argv[1:]))
