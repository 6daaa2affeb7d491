#!/usr/bin/env python3
"""In the field the companion runs beside the client's own NubraSdk.dll and
VEXUI32.dll, which export only what the client's developers promise: the
companion must import exactly that from them (a single other name and
Windows refuses to start it), and the strict stand-ins of tests/contract,
beside which the flow scenarios run a second time, must offer exactly that.
The PE tables are read here directly from the files.

    python3 tests/release/test_import_tables.py --bin build/bin [--strict-bin build/bin-strict]
"""

import argparse
import os
import struct
import sys
import unittest

NETWORK_LIBRARY = "NubraSdk.dll"
SKIN_LIBRARY = "VEXUI32.dll"
PROMISED = {
    NETWORK_LIBRARY: {"InternetTrackAttach", "GetIEProxy", "InternetTrackSetServer", "InitHttpX",
                      "InternetTrackStartNetTrack", "InternetTrackCheckNetState", "UpgradeDownLoadFile",
                      "Md5CalFile", "InternetTrackDeAttach", "InternetTrackShutDownNetTrack"},
    SKIN_LIBRARY: {"OpenSkinW@20", "FreeSkin@0", "GetCtrlBase@4"},
}
COMPANION = "DazuvuVevUpgrade.exe"
folders = {}


class PeFile:
    """The import and export tables of a 32-bit PE image."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        self.path = path
        pe = self.u32(0x3C)
        if self.data[:2] != b"MZ" or self.data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("%s is no PE image" % path)
        sections, optional_size = struct.unpack_from("<H12xH", self.data, pe + 6)
        optional = pe + 24
        if struct.unpack_from("<H", self.data, optional)[0] != 0x10B:
            raise ValueError("%s is no 32-bit image" % path)
        self.directories = [struct.unpack_from("<II", self.data, optional + 96 + 8 * i) for i in range(16)]
        self.sections = []
        for i in range(sections):
            size, rva, raw_size, raw = struct.unpack_from("<IIII", self.data, optional + optional_size + 40 * i + 8)
            self.sections.append((rva, max(size, raw_size), raw))

    def u32(self, offset):
        return struct.unpack_from("<I", self.data, offset)[0]

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("%s: address %#x lies in no section" % (self.path, rva))

    def text(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii")

    def imports(self):
        """{library name in lower case: [imported names, "#n" for ordinals]}"""
        found = {}
        rva, size = self.directories[1]
        at = self.offset(rva) if size else None
        while at is not None:
            lookup, _, _, name, thunks = struct.unpack_from("<IIIII", self.data, at)
            if not (lookup or name or thunks):
                break
            names = found.setdefault(self.text(name).lower(), [])
            entry = self.offset(lookup or thunks)
            while self.u32(entry):
                value = self.u32(entry)
                names.append("#%d" % (value & 0xFFFF) if value & 0x80000000 else self.text(value + 2))
                entry += 4
            at += 20
        return found

    def delay_imported_libraries(self):
        rva, size = self.directories[13]
        names, at = [], self.offset(rva) if size else None
        while at is not None and struct.unpack_from("<8I", self.data, at) != (0,) * 8:
            names.append(self.text(self.u32(at + 4)).lower())
            at += 32
        return names

    def exports(self):
        """(names, number of exported functions)"""
        rva, size = self.directories[0]
        if not size:
            return [], 0
        functions, count, _, names = struct.unpack_from("<IIII", self.data, self.offset(rva) + 20)
        table = self.offset(names)
        return [self.text(self.u32(table + 4 * i)) for i in range(count)], functions


def image(folder, name):
    path = os.path.join(folders[folder], name)
    if not os.path.isfile(path):
        raise AssertionError("%s is not built" % path)
    return PeFile(path)


class ImportTables(unittest.TestCase):

    def test_the_companion_imports_exactly_the_promised_functions(self):
        companion = image("bin", COMPANION)
        imports = companion.imports()
        for library, promised in PROMISED.items():
            with self.subTest(library=library):
                names = imports.get(library.lower(), [])
                self.assertEqual(len(names), len(set(names)), "imported twice: %r" % names)
                self.assertEqual(set(names), promised, "extra: %r, missing: %r" % (
                    sorted(set(names) - promised), sorted(promised - set(names))))
        delayed = set(companion.delay_imported_libraries()) & {name.lower() for name in PROMISED}
        self.assertEqual(delayed, set(), "loaded late, out of this check's sight")

    def test_strict_libraries_export_exactly_the_promised_functions(self):
        for library, promised in PROMISED.items():
            with self.subTest(library=library):
                names, functions = image("strict", library).exports()
                self.assertEqual(sorted(names), sorted(promised))
                self.assertEqual(functions, len(promised), "a function exported by ordinal only")

    def test_the_strict_folder_runs_the_current_programs_within_the_promise(self):
        # A stale copy there would test yesterday's companion.
        with open(os.path.join(folders["bin"], COMPANION), "rb") as f:
            self.assertEqual(image("strict", COMPANION).data, f.read(), "the strict folder's companion is stale")
        for name in sorted(os.listdir(folders["strict"])):
            if not name.lower().endswith((".exe", ".dll")):
                continue
            with self.subTest(program=name):
                imports = image("strict", name).imports()
                for library, promised in PROMISED.items():
                    self.assertLessEqual(set(imports.get(library.lower(), [])), promised)


def main():
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--bin", default=os.path.join("build", "bin"))
    parser.add_argument("--strict-bin")
    args, rest = parser.parse_known_args()
    folders["bin"] = os.path.abspath(args.bin)
    folders["strict"] = os.path.abspath(args.strict_bin or os.path.join(args.bin, os.pardir, "bin-strict"))
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
