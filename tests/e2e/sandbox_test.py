#!/usr/bin/env python3
"""The device folder as a sandbox: a device whose folder holds symbolic links and
hard links to host files outside it is installed and imported with the built
programs, and nothing outside the device folder may be read or changed."""

import argparse
import hashlib
import os
import shutil
import struct
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from runners.device import device_to_host  # noqa: E402
from runners.sim import SimRunner  # noqa: E402

SECRET = b"SECRET-OUTSIDE"
SCRIPT = (
    "'\\Storage\\BrixCopy\\linkfile.txt' '\\Out\\a.txt'\n"      # source: a link to a host file
    "'\\linkdir\\*' '\\Out\\W'\n"                                # wildcard folder: a link to a host folder
    "'\\Storage\\BrixCopy\\good.txt' '\\ToOut\\x.txt'\n"         # destination folder: a link to a host folder
    "'\\Storage\\BrixCopy\\good.txt' '\\Windows\\dangling.txt'\n"  # destination: a link to a missing host file
    "'\\Storage\\BrixCopy\\good.txt' '\\Windows\\hard.txt'\n"    # destination: a hard link to a host file
    "'\\Windows\\Brixparse.exe \\Storage\\linked.reg' -x\n"      # importer script: a link to a host file
    "'\\Windows\\Brixparse.exe \\Storage\\real.reg' -x\n"
)
LINK_ERRORS = [
    "BrixCopy: cannot open source file: \\Storage\\BrixCopy\\linkfile.txt\r\nGetLastError returned: 1921\r\n",
    "BrixCopy: Failed to copy file: \\linkdir\\*\r\nGetLastError returned: 1921\r\n",
    "BrixCopy: cannot create destination file: \\ToOut\\x.txt\r\nGetLastError returned: 1921\r\n",
    "BrixCopy: cannot create destination file: \\Windows\\dangling.txt\r\nGetLastError returned: 1921\r\n",
]


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def make_outside(outside):
    write(os.path.join(outside, "secret.txt"), SECRET + b" file")
    write(os.path.join(outside, "secretdir", "s.txt"), SECRET + b" in a folder")
    write(os.path.join(outside, "victim.txt"), b"host file shared by a hard link")
    write(os.path.join(outside, "counter"), struct.pack("<i", 7))
    write(os.path.join(outside, "secret.reg"),
          b'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Secret]\n"Leak"="' + SECRET + b'"\n')
    os.makedirs(os.path.join(outside, "target"))
    os.makedirs(os.path.join(outside, "rundir"))


def snapshot(root):
    """Everything about the tree that a write would change: names, kinds, modes, sizes,
    modification times and contents. Not the change time or link count: a file shared
    with the device through a hard link loses a name when the device's name gets a
    file of its own, and that is the inode's, not the content's, change."""
    state = {}
    for dirpath, dirnames, filenames in os.walk(root):
        for name in dirnames + filenames:
            path = os.path.join(dirpath, name)
            st = os.lstat(path)
            entry = (st.st_mode, st.st_size, st.st_mtime_ns)
            if os.path.isfile(path) and not os.path.islink(path):
                with open(path, "rb") as f:
                    entry += (hashlib.sha256(f.read()).hexdigest(),)
            state[os.path.relpath(path, root)] = entry
    return state


def files_holding(root, needle):
    """Regular files below root (links not followed) whose bytes hold needle."""
    found = []
    for dirpath, _, filenames in os.walk(root):
        for name in filenames:
            path = os.path.join(dirpath, name)
            if os.path.islink(path) or not os.path.isfile(path):
                continue
            with open(path, "rb") as f:
                if needle in f.read():
                    found.append(path)
    return found


def make_device(runner, outside):
    fs = runner.root
    host = lambda device_path: device_to_host(fs, device_path)  # noqa: E731
    runner.put("BrixCopy", "\\Storage\\BrixCopy.exe")
    runner.put("Brixparse", "\\Windows\\Brixparse.exe")
    write(host("\\Storage\\BrixCopy\\BrixCopy.inf"), SCRIPT.encode())
    write(host("\\Storage\\BrixCopy\\good.txt"), b"device content")
    write(host("\\Storage\\real.reg"), b'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Real]\n"Ok"="yes"\n')
    os.makedirs(host("\\Temp"))
    os.makedirs(host("\\Out"))
    os.symlink(os.path.join(outside, "secret.txt"), host("\\Storage\\BrixCopy\\linkfile.txt"))
    os.symlink(os.path.join(outside, "secretdir"), host("\\Storage\\BrixCopy\\linkdir"))
    os.symlink(os.path.join(outside, "target"), host("\\ToOut"))
    os.symlink(os.path.join(outside, "target", "created.txt"), host("\\Windows\\dangling.txt"))
    os.symlink(os.path.join(outside, "secret.reg"), host("\\Storage\\linked.reg"))
    os.link(os.path.join(outside, "victim.txt"), host("\\Windows\\hard.txt"))


def run(runner, path, command_line=None):
    err, code = runner.run(path, command_line)
    assert code == 0, (path, code, err)
    return err.decode("utf-8")


def check(artifacts, brixdev):
    workdir = tempfile.mkdtemp(prefix="brix-sandbox-")
    outside = os.path.join(workdir, "outside")
    try:
        make_outside(outside)
        runner = SimRunner(workdir, artifacts, brixdev=brixdev)
        make_device(runner, outside)
        counter = device_to_host(runner.root, "\\Temp\\brixcopy.log")
        before = snapshot(outside)

        # A linked lock folder: no mutex, so nothing is done at all.
        run_folder = os.path.join(runner.device, "run")
        os.symlink(os.path.join(outside, "rundir"), run_folder)
        text = run(runner, "\\Storage\\BrixCopy.exe")
        assert "BrixCopy: cannot create mutex: BrixCopy\r\nGetLastError returned: 1921\r\n" in text, text
        os.remove(run_folder)

        # A linked counter: neither read nor created through the link; nothing installed.
        os.symlink(os.path.join(outside, "counter"), counter)
        text = run(runner, "\\Storage\\BrixCopy.exe")
        assert ("BrixCopy: cannot open execution counter file: \\Temp\\brixcopy.log\r\n"
                "GetLastError returned: 1921\r\n") in text, text
        os.remove(counter)

        # A hard-linked counter counts on, in a file of the device's own.
        os.link(os.path.join(outside, "counter"), counter)
        text = run(runner, "\\Storage\\BrixCopy.exe")
        assert "This is execution 8\r\n" in text, text
        os.remove(counter)

        # The install: every link is refused and reported, the hard link replaced.
        text = run(runner, "\\Storage\\BrixCopy.exe")
        assert "This is the first execution\r\n" in text, text
        for message in LINK_ERRORS:
            assert message in text, (message, text)
        with open(device_to_host(runner.root, "\\Windows\\hard.txt"), "rb") as f:
            assert f.read() == b"device content"
        assert not os.path.exists(device_to_host(runner.root, "\\Out\\a.txt"))

        # The importer on its own, with the linked script: refused and reported.
        text = run(runner, "\\Windows\\Brixparse.exe", "\\Storage\\linked.reg")
        assert text == "CScriptFile::Open::cannot open script = \\Storage\\linked.reg err = 1921\r\n", text

        after = snapshot(outside)
        assert before == after, {k: (before.get(k), after.get(k))
                                 for k in set(before) | set(after) if before.get(k) != after.get(k)}
        registry = runner.registry_export("")
        assert "[HKEY_LOCAL_MACHINE\\Software\\Real]" in registry, registry
        assert SECRET.decode() not in registry and "Secret" not in registry, registry
        assert files_holding(runner.device, SECRET) == [], files_holding(runner.device, SECRET)
        leftovers = [n for _, _, names in os.walk(runner.root) for n in names if ".brix-" in n]
        assert leftovers == [], leftovers  # no temporary name of a replaced file
        with open(os.path.join(runner.device, "simulator.log"), encoding="utf-8") as f:
            log = f.read()
        assert "/Storage/BrixCopy/linkfile.txt: a symbolic link" in log, log
    finally:
        shutil.rmtree(workdir, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--artifact", action="append", default=[])
    ap.add_argument("--brixdev", required=True)
    args = ap.parse_args()
    check(dict(a.split("=", 1) for a in args.artifact), args.brixdev)
    print("ok: nothing outside the device folder was read or changed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
