#!/usr/bin/env python3
"""Stress check of the installer's one-at-a-time guard on the device simulator:
in each round, many installers start at once on one device whose counter was
removed; exactly one may install. Not part of the test run (see docs/performance.md).

  tools/stress_run_control.py build/default [--installers 100] [--rounds 10] [--other-user]

--other-user: the lock folder and lock file are made beforehand by this user
(as a root run leaves them: 0755 and 0644) and the installers run as nobody;
without root, the lock folder and file are made unwritable for this user instead.
"""

import argparse
import os
import shutil
import struct
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from runners.device import device_to_host  # noqa: E402
from runners.sim import SimRunner  # noqa: E402

SCRIPT = "'\\Windows\\slowjob.exe' -x\n'\\Windows\\slowjob.exe.cmdline' '\\Done\\marker.txt'\n"


def as_nobody():
    if os.geteuid() == 0:
        os.setgroups([])
        os.setgid(65534)
        os.setuid(65534)


def open_to_all(top):
    for dirpath, _, filenames in os.walk(top):
        os.chmod(dirpath, 0o777)
        for name in filenames:
            path = os.path.join(dirpath, name)
            os.chmod(path, os.stat(path).st_mode | 0o666)


def make_lock_folder_of_another_user(device):
    run = os.path.join(device, "run")
    os.mkdir(run, 0o755)
    lock = os.path.join(run, "mutex-BrixCopy.lock")
    with open(lock, "w"):
        pass
    root = os.geteuid() == 0
    os.chmod(lock, 0o644 if root else 0o444)
    os.chmod(run, 0o755 if root else 0o555)


def one_round(runner, installers, preexec):
    counter = device_to_host(runner.root, "\\Temp\\brixcopy.log")
    marker = device_to_host(runner.root, "\\Done\\marker.txt")
    for path in (counter, marker):
        if os.path.exists(path):
            os.remove(path)
    start = time.monotonic()
    procs = [runner.start("\\Storage\\BrixCopy.exe", None, preexec) for _ in range(installers)]
    outs = [p.communicate(timeout=300)[1].decode() for p in procs]
    elapsed = time.monotonic() - start
    bad_exit = [p.returncode for p in procs if p.returncode != 0]
    installs = sum("This is the first execution\r\n" in o for o in outs)
    refused = sum("Another instance is running!\r\n" in o for o in outs)
    counted = [int(o.split("This is execution ")[1].split("\r")[0]) for o in outs if "This is execution " in o]
    failed = sum("cannot create mutex" in o or "counter file" in o for o in outs)
    with open(counter, "rb") as f:
        value = struct.unpack("<i", f.read())[0]
    # The install holds the mutex for its one-second job, so starts meet it.
    ok = (installs == 1 and refused > 0 and not bad_exit and failed == 0 and os.path.exists(marker)
          and installs + refused + len(counted) == installers
          and sorted(counted) == list(range(2, 2 + len(counted))) and value == 1 + len(counted))
    return ok, dict(installs=installs, refused=refused, counted=len(counted), counter=value,
                    failures=failed, bad_exit=len(bad_exit), seconds=round(elapsed, 2))


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("build", help="the native build tree, such as build/default")
    ap.add_argument("--installers", type=int, default=100)
    ap.add_argument("--rounds", type=int, default=10)
    ap.add_argument("--other-user", action="store_true")
    args = ap.parse_args()
    artifacts = {"BrixCopy": os.path.join(args.build, "installer", "BrixCopy"),
                 "recorder": os.path.join(args.build, "tests", "e2e", "recorder")}
    workdir = tempfile.mkdtemp(prefix="brix-stress-")
    os.chmod(workdir, 0o755)
    try:
        runner = SimRunner(workdir, artifacts)
        runner.put("BrixCopy", "\\Storage\\BrixCopy.exe")
        runner.put("recorder", "\\Windows\\slowjob.exe")
        os.makedirs(device_to_host(runner.root, "\\Temp"))
        script = device_to_host(runner.root, "\\Storage\\BrixCopy\\BrixCopy.inf")
        os.makedirs(os.path.dirname(script))
        with open(script, "w") as f:
            f.write(SCRIPT)
        preexec = None
        if args.other_user:
            open_to_all(runner.device)
            make_lock_folder_of_another_user(runner.device)
            preexec = as_nobody
        failures = 0
        for number in range(1, args.rounds + 1):
            ok, result = one_round(runner, args.installers, preexec)
            failures += not ok
            print("round %2d %s %s" % (number, "ok    " if ok else "FAILED", result), flush=True)
        print("%d of %d rounds passed: one install, every other start refused or counted" % (args.rounds - failures, args.rounds))
        return 1 if failures else 0
    finally:
        run = os.path.join(workdir, "device", "run")
        if os.path.isdir(run):
            os.chmod(run, 0o755)
        shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
