#!/usr/bin/python3
"""The built Windows module as Windows and the host application see it, read
by pefile: a 32-bit x86 DLL with exactly the two exports at their ordinals and
its export directory named Morvalind.dev, only system libraries imported (the
runtimes are linked in, the card's library is bound at the first open), and
its version resource.
Usage: module_file.py Morvalind.dev"""
import sys
from pathlib import Path

import pefile

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "packaging"))
from pe_imports import SYSTEM  # noqa: E402  Windows' own libraries

STRINGS = {"FileDescription": "Morvalind DVB-S WDM adapter", "FileVersion": "1.0.0",
           "InternalName": "Morvalind.dev", "OriginalFilename": "Morvalind.dll",
           "ProductVersion": "1.1.0"}

pe = pefile.PE(sys.argv[1])
problems = []


def expect(condition, what):
    if not condition:
        problems.append(what)


def version(high, low):
    return f"{high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}"


expect(pe.FILE_HEADER.Machine == 0x14C, "not a 32-bit x86 module")
expect(pe.is_dll(), "not a DLL")
exports = pe.DIRECTORY_ENTRY_EXPORT
expect(pe.get_string_at_rva(exports.struct.Name) == b"Morvalind.dev", "export directory name")
expect([(e.ordinal, e.name) for e in exports.symbols] ==
       [(1, b"DeviceGetInterface"), (2, b"DeviceGetInterfaceInfo")],
       f"exports {[(e.ordinal, e.name) for e in exports.symbols]}")
imports = {entry.dll.decode().lower() for entry in pe.DIRECTORY_ENTRY_IMPORT}
expect(imports <= SYSTEM and "kernel32.dll" in imports, f"imports {sorted(imports)}")

fixed = pe.VS_FIXEDFILEINFO[0]
expect(version(fixed.FileVersionMS, fixed.FileVersionLS) == "1.0.0.0", "file version")
expect(version(fixed.ProductVersionMS, fixed.ProductVersionLS) == "1.1.0.0", "product version")
expect(fixed.FileOS == 0x4 and fixed.FileType == 2, "not a DLL for 32-bit Windows")
tables = [table for info in pe.FileInfo[0] if info.Key == b"StringFileInfo"
          for table in info.StringTable]
expect([table.LangID for table in tables] == [b"040904b0"], "one string table, 040904b0")
strings = {key.decode(): value.decode() for key, value in tables[0].entries.items()}
for key, value in STRINGS.items():
    expect(strings.get(key) == value, f"{key} is {strings.get(key)!r}, not {value!r}")
expect(strings.get("ProductName"), "no ProductName")
translations = [var.entry for info in pe.FileInfo[0] if info.Key == b"VarFileInfo"
                for var in info.Var]
expect(translations == [{b"Translation": "0x0409 0x04b0"}], f"translations {translations}")

for problem in problems:
    print("FAILED:", problem)
if not problems:
    print("the module file is as Windows and the host application expect it")
sys.exit(1 if problems else 0)
