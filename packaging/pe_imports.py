#!/usr/bin/python3
"""Checks that the Windows programs of the zip import only libraries every
Windows has, so that they run with nothing beside them (the C and C++
runtimes are linked in; the module binds the card's library at its first
open, not by import). Prints each file's imports.
Usage: pe_imports.py FILE..."""
import sys

import pefile

# Windows' own libraries, on every Windows the host application runs on.
SYSTEM = {"kernel32.dll", "user32.dll", "msvcrt.dll", "advapi32.dll", "ntdll.dll", "gdi32.dll",
          "shell32.dll", "ole32.dll", "version.dll", "ws2_32.dll", "mswsock.dll"}


def main(paths):
    failed = False
    for path in paths:
        pe = pefile.PE(path, fast_load=True)
        pe.parse_data_directories(
            directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"]])
        names = sorted(entry.dll.decode().lower()
                       for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []))
        others = [name for name in names if name not in SYSTEM]
        print(f"{path}: {' '.join(names)}")
        if others:
            print(f"{path}: imports {' '.join(others)}, which Windows does not have")
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
