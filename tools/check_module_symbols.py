#!/usr/bin/env python3
"""Fails when a module carries a copy of the core.

The program holds the core once and its modules take it from there. A module
that defines any of the core archive's global symbols (a function or a global
variable; inline functions and templates, which every user instantiates, are
weak and do not count) has its own copy, with globals the program never sees.
Usage: tools/check_module_symbols.py CORE_ARCHIVE MODULE...
"""
import subprocess
import sys


def defined_symbols(path, strong_globals_only):
    listing = subprocess.run(["nm", "--defined-only", path], check=True, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, text=True).stdout
    symbols = set()
    for line in listing.splitlines():
        fields = line.split()
        if len(fields) != 3:
            continue
        kind, name = fields[1], fields[2]
        if strong_globals_only and kind not in "TDBR":
            continue
        symbols.add(name)
    return symbols


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    core = defined_symbols(sys.argv[1], strong_globals_only=True)
    if not core:
        print(f"no core symbols read from {sys.argv[1]}")
        return 2
    failed = False
    for module in sys.argv[2:]:
        copies = sorted(core & defined_symbols(module, strong_globals_only=False))
        for name in copies:
            print(f"{module}: defines core symbol {name}")
        failed = failed or bool(copies)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
