#!/usr/bin/env python3
"""The installer and the importer on a device in trouble, with real processes:
a lock folder made by another user, a lock folder that is a file, a full disk,
a folder that cannot be read, a registry that cannot be opened. Nothing may
run unguarded, install twice or fail in silence, and the debug output carries
the programs' messages only.

Permissions are tried as an unprivileged user: nobody (65534) when the test
runs as root, else the test's own user with the rights taken away."""

import argparse
import os
import resource
import shutil
import signal
import stat
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from runners.device import device_to_host  # noqa: E402
from runners.sim import SimRunner  # noqa: E402

AS_ROOT = os.geteuid() == 0
NOBODY = 65534
START = "\r\n----- BrixCopy Starting -----\r\n"
BANNER = "----- BrixCopy Finished ----- \r\n\n"
FIRST = "This is the first execution\r\n"


def unprivileged():
    if AS_ROOT:
        os.setgroups([])
        os.setgid(NOBODY)
        os.setuid(NOBODY)


def limited_to(size):
    """An unprivileged child whose files cannot grow beyond size bytes: a full disk."""
    def limit():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))
        unprivileged()
    return limit


def open_to_all(top):
    """Lets every user read and write the tree, as a device folder shared by operators."""
    for dirpath, dirnames, filenames in os.walk(top):
        os.chmod(dirpath, 0o777)
        for name in filenames:
            path = os.path.join(dirpath, name)
            os.chmod(path, os.stat(path).st_mode | 0o666)


class Device:
    def __init__(self, artifacts, brixdev, script="", files=None):
        self.workdir = tempfile.mkdtemp(prefix="brix-faults-")
        os.chmod(self.workdir, 0o755)
        self.runner = SimRunner(self.workdir, artifacts, brixdev=brixdev)
        self.runner.put("BrixCopy", "\\Storage\\BrixCopy.exe")
        os.makedirs(self.host("\\Temp"))
        self.write("\\Storage\\BrixCopy\\BrixCopy.inf", script.encode())
        for path, data in (files or {}).items():
            self.write(path, data)
        open_to_all(self.runner.device)

    def host(self, device_path):
        return device_to_host(self.runner.root, device_path)

    def write(self, device_path, data):
        os.makedirs(os.path.dirname(self.host(device_path)), exist_ok=True)
        with open(self.host(device_path), "wb") as f:
            f.write(data)

    def install(self, preexec_fn=unprivileged):
        err, code = self.runner.run("\\Storage\\BrixCopy.exe", None, preexec_fn)
        assert code == 0, (code, err)
        return err.decode("utf-8")

    def counter(self):
        with open(self.host("\\Temp\\brixcopy.log"), "rb") as f:
            data = f.read()
        return struct.unpack("<i", data)[0] if len(data) == 4 else data

    def close(self):
        shutil.rmtree(self.workdir, ignore_errors=True)


def lock_folder_of_another_user(artifacts, brixdev):
    """What a run as root leaves behind guards every later user: 20 at once, one install."""
    device = Device(artifacts, brixdev, "'\\Windows\\slowjob.exe' -x\n")
    try:
        device.runner.put("recorder", "\\Windows\\slowjob.exe")
        open_to_all(device.runner.device)
        run = os.path.join(device.runner.device, "run")
        lock = os.path.join(run, "mutex-BrixCopy.lock")
        os.mkdir(run, 0o755)
        with open(lock, "w"):
            pass
        os.chmod(lock, 0o644 if AS_ROOT else 0o444)
        os.chmod(run, 0o755 if AS_ROOT else 0o555)
        procs = [device.runner.start("\\Storage\\BrixCopy.exe", None, unprivileged) for _ in range(20)]
        outs = [p.communicate(timeout=120)[1].decode() for p in procs]
        assert all(p.returncode == 0 for p in procs), [p.returncode for p in procs]
        installs = [o for o in outs if FIRST in o]
        counted = [o for o in outs if "This is execution" in o]
        refused = [o for o in outs if "Another instance is running!\r\n" in o]
        assert len(installs) == 1, outs
        assert len(installs) + len(counted) + len(refused) == len(outs), outs
        # The install holds the mutex for its one-second job: the others meet it.
        assert refused, outs
        counts = sorted(int(o.split("This is execution ")[1].split("\r")[0]) for o in counted)
        assert counts == list(range(2, 2 + len(counted))), counts
        assert device.counter() == 1 + len(counted), (device.counter(), outs)
    finally:
        os.chmod(os.path.join(device.runner.device, "run"), 0o755)
        device.close()


def lock_folder_that_is_a_file(artifacts, brixdev):
    device = Device(artifacts, brixdev, "'\\Storage\\BrixCopy\\a.txt' '\\a.txt'\n",
                    {"\\Storage\\BrixCopy\\a.txt": b"a"})
    try:
        with open(os.path.join(device.runner.device, "run"), "w"):
            pass
        for _ in range(3):
            text = device.install()
            assert text == START + "BrixCopy: cannot create mutex: BrixCopy\r\nGetLastError returned: 3\r\n" + BANNER, text
        assert not os.path.exists(device.host("\\Temp\\brixcopy.log"))
        assert not os.path.exists(device.host("\\a.txt"))
    finally:
        device.close()


def counter_on_a_full_disk(artifacts, brixdev):
    """The counter cannot be written: reported, installed once, later runs only count."""
    device = Device(artifacts, brixdev, "'\\Storage\\BrixCopy\\a.txt' '\\a.txt'\n",
                    {"\\Storage\\BrixCopy\\a.txt": b"a"})
    try:
        text = device.install(limited_to(0))
        assert text.startswith(START + "BrixCopy: cannot write execution counter file: \\Temp\\brixcopy.log\r\n"
                               "GetLastError returned: 112\r\n" + FIRST), text
        assert device.counter() == b""
        text = device.install()
        assert text == START + "This is execution 1\r\n" + BANNER, text
        assert device.counter() == 1
    finally:
        device.close()


def every_failed_copy_is_reported(artifacts, brixdev):
    """Copies cut short by a full disk are each reported, single and wildcard alike."""
    big = b"x" * 20000
    device = Device(artifacts, brixdev, "'\\Storage\\BrixCopy\\big.bin' '\\Dest\\big.bin'\n'\\set\\*' '\\Dest\\W'\n",
                    {"\\Storage\\BrixCopy\\big.bin": big, "\\Storage\\BrixCopy\\set\\big.bin": big,
                     "\\Storage\\BrixCopy\\set\\small.txt": b"small"})
    try:
        text = device.install(limited_to(10000))
        for message in ("BrixCopy: cannot write destination file: \\Dest\\big.bin\r\nGetLastError returned: 112\r\n",
                        "BrixCopy: cannot write destination file: \\Dest\\W\\big.bin\r\nGetLastError returned: 112\r\n"
                        "BrixCopy: Failed to copy file: \\set\\*\r\nGetLastError returned: 112\r\n"):
            assert message in text, (message, text)
        with open(device.host("\\Dest\\W\\small.txt"), "rb") as f:
            assert f.read() == b"small"
    finally:
        device.close()


def unreadable_wildcard_folder(artifacts, brixdev):
    device = Device(artifacts, brixdev, "'\\locked\\*' '\\Dest'\n'\\none\\*' '\\Dest'\n",
                    {"\\Storage\\BrixCopy\\locked\\a.txt": b"a"})
    try:
        os.chmod(device.host("\\Storage\\BrixCopy\\locked"), 0o333)  # may be entered, not read
        text = device.install()
        assert text.endswith("BrixCopy: Copying from '\\locked\\*'\r\nBrixCopy:          to '\\Dest'\r\n"
                             "BrixCopy: Failed to copy file: \\locked\\*\r\nGetLastError returned: 5\r\n"
                             "BrixCopy: Copying from '\\none\\*'\r\nBrixCopy:          to '\\Dest'\r\n" + BANNER), text
    finally:
        os.chmod(device.host("\\Storage\\BrixCopy\\locked"), 0o755)
        device.close()


def names_the_device_cannot_hold(artifacts, brixdev):
    """A package file whose host name is not UTF-8 is met and refused, never left out unsaid."""
    device = Device(artifacts, brixdev, "'\\set\\*' '\\Dest'\n", {"\\Storage\\BrixCopy\\set\\a.txt": b"a"})
    try:
        with open(os.path.join(os.fsencode(device.host("\\Storage\\BrixCopy\\set")), b"b\xff.txt"), "wb") as f:
            f.write(b"b")
        text = device.install()
        assert ("BrixCopy: cannot open source file: \\Storage\\BrixCopy\\set\\b\ufffd.txt\r\n"
                "GetLastError returned: 123\r\n"
                "BrixCopy: Failed to copy file: \\set\\*\r\nGetLastError returned: 123\r\n") in text, text
        with open(device.host("\\Dest\\a.txt"), "rb") as f:
            assert f.read() == b"a"
    finally:
        device.close()


def no_device_says_why(artifacts, brixdev):
    """A device folder that cannot be opened is named with the host's reason."""
    work = tempfile.mkdtemp(prefix="brix-faults-")
    try:
        program = os.path.join(work, "BrixCopy.exe")
        shutil.copy(artifacts["BrixCopy"], program)
        missing = os.path.join(work, "missing")
        res = subprocess.run([program], env=dict(os.environ, BRIX_DEVICE=missing), capture_output=True)
        assert res.returncode == 2, res
        assert res.stderr.decode() == ("BrixCopy.exe: not on a simulated device: BRIX_DEVICE=%s is not a device "
                                       "folder holding fs/: No such file or directory\n" % missing), res.stderr
    finally:
        shutil.rmtree(work, ignore_errors=True)


def registry_diagnostics_stay_out_of_the_debug_output(artifacts, brixdev):
    device = Device(artifacts, brixdev)
    try:
        device.runner.put("Brixparse", "\\Windows\\Brixparse.exe")
        device.write("\\Storage\\in.reg", b"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\A]\n"
                                          b"[HKEY_LOCAL_MACHINE\\Software\\B]\n")
        os.makedirs(os.path.join(device.runner.device, "registry.db"))
        err, code = device.runner.run("\\Windows\\Brixparse.exe", "\\Storage\\in.reg")
        assert code == 0
        assert err == b"CBrixparse::UpdateRegistry::RegCreateKeyEx err = 1016\r\n" * 2, err
        with open(os.path.join(device.runner.device, "simulator.log"), encoding="utf-8") as f:
            log = f.read().splitlines()
        assert log and all("Brixparse.exe[" in line and "]: registry: " in line for line in log), log
    finally:
        device.close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--artifact", action="append", default=[])
    ap.add_argument("--brixdev")
    args = ap.parse_args()
    artifacts = dict(a.split("=", 1) for a in args.artifact)
    failed = 0
    for test in (lock_folder_of_another_user, lock_folder_that_is_a_file, counter_on_a_full_disk,
                 every_failed_copy_is_reported, unreadable_wildcard_folder, names_the_device_cannot_hold,
                 no_device_says_why,
                 registry_diagnostics_stay_out_of_the_debug_output):
        try:
            test(artifacts, args.brixdev)
            print("ok", test.__name__)
        except AssertionError as e:
            failed += 1
            print("FAILED", test.__name__, e)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
