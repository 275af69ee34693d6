#!/usr/bin/env python3
"""A lock on the registry's shared-memory index that cannot be released (a
host I/O error, injected with strace into each such unlock of an import in
turn) costs no waiting: the import ends at once, every key stored or reported.
Before, every later key waited out SQLite's retries, about 10 seconds each.

  registry_lock_test.py --artifact Brixparse=... --brixdev BRIXDEV
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

KEYS = 4
# The shared-memory index keeps its locks at bytes 120 to 127 of its file.
SHM_UNLOCK = re.compile(r"^\d+ +fcntl\(\d+, F_SETLK, \{l_type=F_UNLCK, l_whence=SEEK_SET, l_start=12[0-7],")


def device(work, importer):
    folder = tempfile.mkdtemp(dir=work)
    os.makedirs(os.path.join(folder, "fs", "Windows"))
    shutil.copy(importer, os.path.join(folder, "fs", "Windows", "Brixparse.exe"))
    lines = ["REGEDIT4", ""]
    for k in range(KEYS):
        lines += ["[HKEY_LOCAL_MACHINE\\Software\\Lock\\K%d]" % k, '"v"=dword:%d' % k, ""]
    with open(os.path.join(folder, "fs", "k.reg"), "w", newline="") as f:
        f.write("\r\n".join(lines))
    return folder


def run(folder, strace):
    trace = os.path.join(folder, "trace")
    args = ["strace", "-f", "-qq", "-o", trace, "-e", "trace=fcntl"] + strace + [
        os.path.join(folder, "fs", "Windows", "Brixparse.exe"), "\\k.reg"]
    started = time.monotonic()
    res = subprocess.run(args, env=dict(os.environ, BRIX_DEVICE=folder), capture_output=True, timeout=300)
    with open(trace) as f:
        return res, time.monotonic() - started, f.read().splitlines()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--artifact", action="append", default=[])
    parser.add_argument("--brixdev", required=True)
    args = parser.parse_args()
    importer = dict(a.split("=", 1) for a in args.artifact)["Brixparse"]
    if shutil.which("strace") is None or subprocess.run(
            ["strace", "-qq", "-o", os.devnull, "true"], capture_output=True).returncode != 0:
        print("skipped: strace is missing or cannot trace here")
        return 77
    work = tempfile.mkdtemp(prefix="brix-lock-")
    try:
        clean, _, lines = run(device(work, importer), [])
        assert clean.returncode == 0 and clean.stderr == b"", clean
        unlocks = [n for n, line in enumerate((l for l in lines if " fcntl(" in l), 1) if SHM_UNLOCK.match(line)]
        assert len(unlocks) >= KEYS, lines
        for n in unlocks:
            folder = device(work, importer)
            res, seconds, _ = run(folder, ["-e", "inject=fcntl:error=EIO:when=%d" % n])
            assert res.returncode == 0, (n, res)
            assert seconds < 5, "unlock #%d failing made the import take %.1f s" % (n, seconds)
            export = subprocess.run([args.brixdev, "-d", folder, "reg", "export", "HKEY_LOCAL_MACHINE\\Software\\Lock"],
                                    capture_output=True, timeout=60).stdout.decode()
            stored = export.count("[HKEY_LOCAL_MACHINE\\Software\\Lock\\K")
            reported = res.stderr.decode().count("err = ")
            assert stored + reported >= KEYS, (n, export, res.stderr)
        print("ok: %d unlocks failed in turn, each import ended at once" % len(unlocks))
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
