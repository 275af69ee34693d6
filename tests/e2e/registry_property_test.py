#!/usr/bin/env python3
"""Registry round trip as a property, on the device simulator: a random
registry (keys and value names with characters beyond ASCII, empty names and
data, every type the importer stores) is written as a desktop export,
converted with `brixdev reg convert`, imported, exported with `brixdev reg
export`, and the export imported on a fresh device. Both devices' registries,
read straight from their databases, must hold exactly the random registry.

  registry_property_test.py --artifact ... --brixdev BRIXDEV [--seed N] [--rounds N]
"""

import argparse
import os
import random
import shutil
import sqlite3
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from runners.device import device_to_host  # noqa: E402
from runners.sim import SimRunner  # noqa: E402

ROOTS = ["HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"]
# Characters of names and texts: ASCII, the importer's delimiters, Latin-1,
# characters of three UTF-8 bytes and one beyond U+FFFF (a UTF-16 pair).
COMMON = "abcXYZ019 -_.!#$%&()*+/<>?@^{|}~'`" + "éÄßü€中\U0001F600"
KEY_CHARS = COMMON + "=:[\""           # a key line ends at "]"; ";" would start a comment
NAME_CHARS = COMMON + ";=:[]\\"        # a name ends at its double quote
TEXT_CHARS = NAME_CHARS + "\""       # a text holds anything but a line feed and a zero
LIST_CHARS = TEXT_CHARS.replace(",", "")  # a multi_sz element ends at ","


def fold(name):
    """Names as the registry matches them: ASCII and Latin-1 capitals folded."""
    return "".join(chr(ord(c) + 32) if "A" <= c <= "Z" or ("\xc0" <= c <= "\xde" and c != "\xd7") else c
                   for c in name)


def utf16(text):
    return text.encode("utf-16-le", "surrogatepass")


def random_text(rng, chars, longest):
    return "".join(rng.choice(chars) for _ in range(rng.randint(0, longest)))


def random_value(rng):
    """(type, data) of one value the importer can store."""
    kind = rng.choice([1, 1, 2, 3, 3, 4, 7, 7])
    if kind == 1:
        return 1, utf16(random_text(rng, TEXT_CHARS, 40) + "\0")
    if kind == 2:  # hex(2): one number 0..255 per character
        return 2, b"".join(bytes([rng.randint(0, 255), 0]) for _ in range(rng.randint(0, 30)))
    if kind == 3:
        return 3, bytes(rng.randint(0, 255) for _ in range(rng.choice([0, 1, 8, 25, 26, 70])))
    if kind == 4:
        return 4, bytes(rng.randint(0, 255) for _ in range(4))
    if rng.random() < 0.3:  # hex(7) of narrow characters
        return 7, b"".join(bytes([rng.randint(0, 255), 0]) for _ in range(rng.randint(0, 30)))
    items = [random_text(rng, LIST_CHARS, 8) for _ in range(rng.randint(1, 4))]
    return 7, utf16("".join(item + "\0" for item in items) + "\0")


def random_registry(rng, keys):
    """{(root, (names...)): {folded name: (name, type, data)}}, every parent key included."""
    registry = {}
    for _ in range(keys):
        root = rng.choice(ROOTS)
        path = ()
        for _ in range(rng.randint(0 if rng.random() < 0.1 else 1, 4)):
            name = ""
            while not name.strip():
                name = random_text(rng, KEY_CHARS, 12)
            siblings = {fold(p[-1]): p[-1] for (r, p) in registry if r == root and p[:-1] == path and p}
            path += (siblings.get(fold(name), name),)  # a sibling differing in case only is that sibling
            registry.setdefault((root, path), {})
        values = registry.setdefault((root, path), {})
        for _ in range(rng.randint(0, 5)):
            name = rng.choice(["", "x" * 255, random_text(rng, NAME_CHARS, 10), random_text(rng, NAME_CHARS, 10)])
            if fold(name) not in values:
                values[fold(name)] = (name,) + random_value(rng)
    return registry


def escaped(text):
    return text.replace("\\", "\\\\").replace('"', '\\"').replace("\r", "\\r")


def hex_list(data):
    return ",".join("%02x" % b for b in data)


def desktop_export(registry):
    """The registry as a version-5 export of the desktop editors: UTF-16 with its mark, CR LF."""
    lines = ["Windows Registry Editor Version 5.00", ""]
    for (root, path), values in registry.items():
        lines.append("[" + "\\".join((root,) + path) + "]")
        for name, kind, data in values.values():
            head = '"' + escaped(name) + '"='
            if kind == 1:
                lines.append(head + '"' + escaped(data.decode("utf-16-le", "surrogatepass")[:-1]) + '"')
            elif kind == 4:
                lines.append(head + "dword:%08x" % int.from_bytes(data, "little"))
            else:
                lines.append(head + ("hex:" if kind == 3 else "hex(%x):" % kind) + hex_list(data))
        lines.append("")
    return b"\xff\xfe" + utf16("\r\n".join(lines) + "\r\n")


def read_registry(device):
    """The registry of a device folder, read from its database, in the form random_registry gives."""
    db = sqlite3.connect("file:" + os.path.join(device, "registry.db") + "?mode=ro", uri=True)
    db.text_factory = bytes
    names = {}
    for key_id, parent, name in db.execute("SELECT id, parent, name FROM keys"):
        names[key_id] = (parent, name.decode("utf-8", "surrogatepass"))

    def path_of(key_id):
        parent, name = names[key_id]
        return (name,) if parent is None else path_of(parent) + (name,)

    registry = {}
    for key_id in names:
        full = path_of(key_id)
        if len(full) > 1:
            registry.setdefault((full[0], full[1:]), {})
    for key_id, name, kind, data in db.execute("SELECT key, name, type, data FROM vals"):
        full = path_of(key_id)
        name = name.decode("utf-8", "surrogatepass")
        registry.setdefault((full[0], full[1:]), {})[fold(name)] = (name, kind, bytes(data))
    db.close()
    return registry


def import_on_fresh_device(artifacts, brixdev, script, workdir):
    runner = SimRunner(workdir, artifacts, brixdev=brixdev)
    runner.put("Brixparse", "\\Windows\\Brixparse.exe")
    with open(device_to_host(runner.root, "\\in.reg"), "wb") as f:
        f.write(script)
    err, code = runner.run("\\Windows\\Brixparse.exe", "\\in.reg")
    if code != 0 or err != b"":
        raise AssertionError("the import failed: %d %r" % (code, err))
    return runner


def difference(expected, found):
    """The first difference between two registries, in words; None when they are equal."""
    # A root is no key of its own: it shows only by its values.
    expected = {key: values for key, values in expected.items() if key[1] or values}
    for key in sorted(set(expected) | set(found)):
        if key not in found:
            return "key missing: %r" % (key,)
        if key not in expected:
            return "key not expected: %r" % (key,)
        if expected[key] != found[key]:
            return "values of %r differ:\n  expected %r\n  found    %r" % (key, expected[key], found[key])
    return None


def round_trip(artifacts, brixdev, rng, work):
    registry = random_registry(rng, 25)
    desktop = os.path.join(work, "desktop.reg")
    with open(desktop, "wb") as f:
        f.write(desktop_export(registry))
    converted = subprocess.run([brixdev, "reg", "convert", desktop], capture_output=True, timeout=120)
    if converted.returncode != 0:
        return "reg convert left something out (%d):\n%s" % (converted.returncode, converted.stderr.decode())
    first = import_on_fresh_device(artifacts, brixdev, converted.stdout, os.path.join(work, "a"))
    problem = difference(registry, read_registry(first.device))
    if problem:
        return "after convert and import: " + problem
    exported = first.registry_export("")
    second = import_on_fresh_device(artifacts, brixdev, exported.encode("utf-8"), os.path.join(work, "b"))
    problem = difference(registry, read_registry(second.device))
    if problem:
        return "after export and import: " + problem + "\n--- export\n" + exported
    if second.registry_export("") != exported:
        return "the second export differs from the first"
    return None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--artifact", action="append", default=[])
    ap.add_argument("--brixdev", required=True)
    ap.add_argument("--seed", type=int, default=None)
    ap.add_argument("--rounds", type=int, default=4)
    args = ap.parse_args()
    artifacts = dict(a.split("=", 1) for a in args.artifact)
    seed = args.seed if args.seed is not None else random.SystemRandom().randrange(1 << 32)
    for round_number in range(args.rounds):
        work = tempfile.mkdtemp(prefix="brix-property-")
        try:
            problem = round_trip(artifacts, args.brixdev, random.Random(seed + round_number), work)
        finally:
            shutil.rmtree(work, ignore_errors=True)
        if problem:
            print("round trip failed with --seed %d (round %d): %s" % (seed, round_number, problem))
            return 1
    print("round trip ok: %d random registries from --seed %d" % (args.rounds, seed))
    return 0


if __name__ == "__main__":
    sys.exit(main())
