#!/usr/bin/env python3
"""Checks that the Windows build calls only functions the device provides.

Reads the undefined symbols of the Win32 backend's and the programs' object
files (the manifest device_api.json that the Windows build writes) and looks
each one up in the system import libraries they link: every Windows function
found there must be listed in the section "## The device's functions" of
docs/windows.md. Symbols of the C and C++ runtimes are not judged. Prints one
line per offending function and exits with 1 when there is any.

  check_device_api.py MANIFEST [--list docs/windows.md]
"""
import argparse
import json
import os
import pathlib
import re
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
SECTION = "## The device's functions"
IMPORT = "__imp_"
LIST_ROW = re.compile(r"\|\s*`([A-Za-z_][A-Za-z0-9_]*)`\s*\|")


def listed_functions(doc):
    """The function names in the first column of the tables of SECTION."""
    names = set()
    inside = False
    for line in doc.read_text(encoding="utf-8").splitlines():
        if line.startswith("## "):
            inside = line.strip() == SECTION
        elif inside:
            match = LIST_ROW.match(line)
            if match:
                names.add(match.group(1))
    return names


def nm(tool, *args):
    result = subprocess.run([tool, "-P", *args], capture_output=True, text=True)
    if result.returncode != 0:
        raise SystemExit(f"error: {tool} failed: {result.stderr.strip()}")
    return result.stdout.splitlines()


def library_imports(manifest, name):
    """Names of the functions the import library libNAME.a imports."""
    found = subprocess.run([manifest["compiler"], f"-print-file-name=lib{name}.a"],
                           capture_output=True, text=True).stdout.strip()
    if not pathlib.Path(found).is_file():
        raise SystemExit(f"error: library lib{name}.a not found by {manifest['compiler']}")
    names = set()
    for line in nm(manifest["nm"], "--defined-only", found):
        symbol = line.split(" ", 1)[0]
        if symbol.startswith(IMPORT):
            names.add(symbol[len(IMPORT):])
    return names


def external_references(manifest):
    """Each symbol the objects use but none of them defines -> the objects using it."""
    defined, used = set(), {}
    for line in nm(manifest["nm"], "-A", "-g", *manifest["objects"]):
        where, rest = line.rsplit(": ", 1)
        where = os.path.normpath(where)
        fields = rest.split()
        if fields[1] == "U":
            used.setdefault(fields[0], set()).add(where)
        else:
            defined.add(fields[0])
    return {symbol: objects for symbol, objects in used.items() if symbol not in defined}


def violations(manifest, allowed):
    """(function, library, objects) of every Windows function outside the list."""
    system = {}
    for library in manifest["system_libraries"]:
        for function in library_imports(manifest, library):
            system.setdefault(function, library)
    runtime = set()
    for library in manifest["runtime_libraries"]:
        runtime |= library_imports(manifest, library)
    found = []
    for symbol, objects in sorted(external_references(manifest).items()):
        imported = symbol.startswith(IMPORT)
        name = symbol[len(IMPORT):] if imported else symbol
        if name in system:
            if name not in allowed:
                found.append((name, f"lib{system[name]}.a", objects))
        elif imported and name not in runtime:
            # A DLL import from neither the system nor the runtime: a library the device may lack.
            found.append((name, "an unknown library", objects))
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("manifest", type=pathlib.Path)
    parser.add_argument("--list", type=pathlib.Path, default=ROOT / "docs" / "windows.md")
    args = parser.parse_args()
    manifest = json.loads(args.manifest.read_text(encoding="utf-8"))
    allowed = listed_functions(args.list)
    if not allowed:
        print(f"error: {args.list} has no function list under \"{SECTION}\"")
        return 1
    found = violations(manifest, allowed)
    for name, library, objects in found:
        for obj in sorted(objects):
            print(f"{obj}: error: {name} ({library}) is not among the device's functions in {args.list}")
    if found:
        return 1
    print(f"{len(manifest['objects'])} objects use only functions the device provides")
    return 0


if __name__ == "__main__":
    sys.exit(main())
