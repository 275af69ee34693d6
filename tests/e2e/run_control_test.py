#!/usr/bin/env python3
"""Run control of the installer on the device simulator, with real processes:
two installers started at once (exactly one installs), and an installer killed
with SIGKILL while it works (the next run must not find a stale lock)."""

import argparse
import os
import shutil
import signal
import struct
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from runners.device import device_to_host  # noqa: E402
from runners.sim import SimRunner  # noqa: E402

SLOW_SCRIPT = "'\\Windows\\slowjob.exe' -x\n'\\Windows\\slowjob.exe.cmdline' '\\Done\\marker.txt'\n"


def make_device(artifacts):
    workdir = tempfile.mkdtemp(prefix="brix-runctl-")
    runner = SimRunner(workdir, artifacts)
    os.makedirs(device_to_host(runner.root, "\\Temp"))
    os.makedirs(device_to_host(runner.root, "\\Storage\\BrixCopy"))
    with open(device_to_host(runner.root, "\\Storage\\BrixCopy\\BrixCopy.inf"), "w") as f:
        f.write(SLOW_SCRIPT)
    runner.put("BrixCopy", "\\Storage\\BrixCopy.exe")
    runner.put("recorder", "\\Windows\\slowjob.exe")
    return workdir, runner


def counter(runner):
    with open(device_to_host(runner.root, "\\Temp\\brixcopy.log"), "rb") as f:
        data = f.read()
    assert len(data) == 4, data
    return struct.unpack("<i", data)[0]


def two_at_once(artifacts):
    workdir, runner = make_device(artifacts)
    try:
        procs = [runner.start("\\Storage\\BrixCopy.exe", None) for _ in range(2)]
        outs = [p.communicate(timeout=60)[1].decode() for p in procs]
        assert all(p.returncode == 0 for p in procs), [p.returncode for p in procs]
        installed = [o for o in outs if "This is the first execution\r\n" in o]
        refused = [o for o in outs if "Another instance is running!\r\n" in o]
        assert len(installed) == 1 and len(refused) == 1, outs
        assert refused[0] == ("\r\n----- BrixCopy Starting -----\r\nAnother instance is running!\r\n"
                              "----- BrixCopy Finished ----- \r\n\n"), refused[0]
        assert counter(runner) == 1
        assert os.path.exists(device_to_host(runner.root, "\\Done\\marker.txt"))
    finally:
        shutil.rmtree(workdir, ignore_errors=True)


def killed_leaves_no_lock(artifacts):
    workdir, runner = make_device(artifacts)
    try:
        victim = runner.start("\\Storage\\BrixCopy.exe", None)
        counter_path = device_to_host(runner.root, "\\Temp\\brixcopy.log")
        deadline = time.time() + 30
        # The counter file is created empty and then written: only its 4 bytes
        # show that the first run has counted itself.
        def counted():
            return os.path.exists(counter_path) and os.path.getsize(counter_path) == 4
        while not counted() and time.time() < deadline:
            time.sleep(0.02)
        assert counted(), "the first installer never started installing"
        victim.send_signal(signal.SIGKILL)
        victim.communicate(timeout=30)
        # The killed installer's waited-for program may still run; it must not keep the lock.
        err, code = runner.run("\\Storage\\BrixCopy.exe", None)
        text = err.decode()
        assert code == 0
        assert "Another instance is running!" not in text, text
        assert "This is execution 2\r\n" in text, text
        assert counter(runner) == 2
    finally:
        shutil.rmtree(workdir, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--artifact", action="append", default=[])
    ap.add_argument("--brixdev")
    args = ap.parse_args()
    artifacts = dict(a.split("=", 1) for a in args.artifact)
    failed = 0
    for test in (two_at_once, killed_leaves_no_lock):
        try:
            test(artifacts)
            print("ok", test.__name__)
        except AssertionError as e:
            failed += 1
            print("FAILED", test.__name__, e)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
