#!/usr/bin/env python3
"""Host failures injected with strace where a program meets them:

- a lock on the registry's shared-memory index that cannot be released (each
  such unlock of an import in turn) costs no waiting: the import ends at once,
  every key stored or reported (SQLite used to wait out its retries, about 10
  seconds a key);
- a library that cannot be read is reported with the read's error, not as a
  file that is no library (193).

  injected_faults_test.py --artifact Brixparse=... --artifact BrixCopy=... --artifact testreg=... --brixdev BRIXDEV
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


def traced_env(folder):
    """The environment of a traced program: LeakSanitizer cannot run under ptrace (sanitizer builds)."""
    env = dict(os.environ, BRIX_DEVICE=folder)
    env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS"), "detect_leaks=0"]))
    return env


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
    res = subprocess.run(args, env=traced_env(folder), capture_output=True, timeout=300)
    with open(trace) as f:
        return res, time.monotonic() - started, f.read().splitlines()


def unreleased_locks(importer, brixdev, work):
    clean, _, lines = run(device(work, importer), [])
    assert clean.returncode == 0 and clean.stderr == b"", clean
    unlocks = [n for n, line in enumerate((l for l in lines if " fcntl(" in l), 1) if SHM_UNLOCK.match(line)]
    assert len(unlocks) >= KEYS, lines
    for n in unlocks:
        folder = device(work, importer)
        res, seconds, _ = run(folder, ["-e", "inject=fcntl:error=EIO:when=%d" % n])
        assert res.returncode == 0, (n, res)
        assert seconds < 5, "unlock #%d failing made the import take %.1f s" % (n, seconds)
        export = subprocess.run([brixdev, "-d", folder, "reg", "export", "HKEY_LOCAL_MACHINE\\Software\\Lock"],
                                capture_output=True, timeout=60).stdout.decode()
        stored = export.count("[HKEY_LOCAL_MACHINE\\Software\\Lock\\K")
        reported = res.stderr.decode().count("err = ")
        assert stored + reported >= KEYS, (n, export, res.stderr)
    return len(unlocks)


def unreadable_library(artifacts, work):
    folder = tempfile.mkdtemp(dir=work)
    fs = os.path.join(folder, "fs")
    for sub in ("Temp", "Windows", "Storage/BrixCopy"):
        os.makedirs(os.path.join(fs, sub))
    shutil.copy(artifacts["BrixCopy"], os.path.join(fs, "Storage", "BrixCopy.exe"))
    library = os.path.join(fs, "Windows", "testreg.dll")
    shutil.copy(artifacts["testreg"], library)
    with open(os.path.join(fs, "Storage", "BrixCopy", "BrixCopy.inf"), "wb") as f:
        f.write(b"'\\Windows\\testreg.dll' -r\r\n")
    # Only the calls on the library's file are traced, so the first read failing is its own.
    res = subprocess.run(["strace", "-f", "-qq", "-o", os.devnull, "-P", library, "-e", "trace=read",
                          "-e", "inject=read:error=EIO:when=1", os.path.join(fs, "Storage", "BrixCopy.exe")],
                         env=traced_env(folder), capture_output=True, timeout=120)
    assert res.returncode == 0, res
    assert (b"BrixCopy: Failed to register file: \\Windows\\testreg.dll\r\nGetLastError returned: 31\r\n"
            in res.stderr), res.stderr


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--artifact", action="append", default=[])
    parser.add_argument("--brixdev", required=True)
    args = parser.parse_args()
    artifacts = dict(a.split("=", 1) for a in args.artifact)
    if shutil.which("strace") is None or subprocess.run(
            ["strace", "-qq", "-o", os.devnull, "true"], capture_output=True).returncode != 0:
        print("skipped: strace is missing or cannot trace here")
        return 77
    work = tempfile.mkdtemp(prefix="brix-injected-")
    try:
        unreadable_library(artifacts, work)
        print("ok: a library that cannot be read is reported with the read's error")
        unlocks = unreleased_locks(artifacts["Brixparse"], args.brixdev, work)
        print("ok: %d unlocks failed in turn, each import ended at once" % unlocks)
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
