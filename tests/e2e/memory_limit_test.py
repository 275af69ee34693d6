#!/usr/bin/env python3
"""The installer and the importer under a limit on their address space, from
too little for the program to load up to enough for the whole run: whatever
the limit, a run that starts ends with exit status 0 and its own messages (a
failure for lack of memory says so with error 8), never ended by an exception
or a signal.

  memory_limit_test.py --artifact BrixCopy=... --artifact Brixparse=... [--sanitized]
"""

import argparse
import os
import resource
import shutil
import subprocess
import sys
import tempfile

BANNER = "----- BrixCopy Finished ----- \r\n\n"
MIB = 1 << 20


def limited(size):
    def limit():
        resource.setrlimit(resource.RLIMIT_AS, (size, size))
    return limit


def run(program, args, device, size):
    res = subprocess.run([program] + args, env=dict(os.environ, BRIX_DEVICE=device), stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, preexec_fn=limited(size), timeout=300)
    return res.returncode, res.stderr.decode("utf-8", "replace")


def loader_failed(code, err):
    """Too little memory to load the program at all: the host's loader says so."""
    return code == 127 or "error while loading shared libraries" in err


def big_script(path, keys):
    with open(path, "w", newline="") as f:
        f.write("REGEDIT4\r\n\r\n")
        for k in range(keys):
            f.write('[HKEY_LOCAL_MACHINE\\Software\\Big\\Key%07d]\r\n"Value"="%s"\r\n' % (k, "v" * 200))


def check_importer(program, work):
    device = os.path.join(work, "import")
    os.makedirs(os.path.join(device, "fs", "Windows"))
    exe = os.path.join(device, "fs", "Windows", "Brixparse.exe")
    shutil.copy(program, exe)
    # About 200 MB of key list: more than the limits below leave.
    big_script(os.path.join(device, "fs", "big.reg"), 400000)
    said = 0
    for size in (16, 32, 48, 64, 96, 128):
        code, err = run(exe, ["\\big.reg"], device, size * MIB)
        if loader_failed(code, err):
            continue
        assert code == 0, (size, code, err[-500:])
        assert "bad_alloc" not in err and "terminate" not in err, (size, err[-500:])
        assert err == "CBrixparse::ParseFile::cannot read script = \\big.reg err = 8\r\n", (size, err[-500:])
        assert not os.path.exists(os.path.join(device, "registry.db")), "nothing may be written"
        said += 1
    assert said > 0, "no limit let the importer start and run out of memory"
    return said


def check_installer(program, work):
    device = os.path.join(work, "install")
    fs = os.path.join(device, "fs")
    for folder in ("Temp", "Storage/BrixCopy/big"):
        os.makedirs(os.path.join(fs, folder))
    exe = os.path.join(fs, "Storage", "BrixCopy.exe")
    shutil.copy(program, exe)
    with open(os.path.join(fs, "Storage", "BrixCopy", "BrixCopy.inf"), "wb") as f:
        f.write(b"'\\big\\*' '\\Windows'\r\n")
    for i in range(4):
        with open(os.path.join(fs, "Storage", "BrixCopy", "big", "f%d.bin" % i), "wb") as f:
            f.write(os.urandom(3 * MIB))
    ran = short = 0
    for size in range(4, 40, 2):
        counter = os.path.join(fs, "Temp", "brixcopy.log")
        if os.path.exists(counter):
            os.remove(counter)
        code, err = run(exe, [], device, size * MIB)
        if loader_failed(code, err):
            continue
        assert code == 0, (size, code, err[-500:])
        assert "bad_alloc" not in err and "terminate" not in err, (size, err[-500:])
        assert err.endswith(BANNER), (size, err[-500:])
        ran += 1
        short += "GetLastError returned: 8\r\n" in err
    assert short > 0, "no limit let the installer start and run out of memory"
    return ran


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--artifact", action="append", default=[])
    parser.add_argument("--brixdev")
    parser.add_argument("--sanitized", action="store_true")
    args = parser.parse_args()
    if args.sanitized:
        print("skipped: the sanitizers reserve more address space than any limit here leaves")
        return 77
    artifacts = dict(a.split("=", 1) for a in args.artifact)
    work = tempfile.mkdtemp(prefix="brix-memory-")
    try:
        imports = check_importer(artifacts["Brixparse"], work)
        installs = check_installer(artifacts["BrixCopy"], work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("importer out of memory under %d limits, installer run under %d limits: all said, none aborted"
          % (imports, installs))
    return 0


if __name__ == "__main__":
    sys.exit(main())
