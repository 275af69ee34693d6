#!/usr/bin/env python3
"""Benchmark of the installer's copy lines on the device simulator, each
measured in the same run as its reference:

- one big file by a single-file line, against plaincopy (a plain program that
  moves the file through its own memory in 1 MiB read and write calls), on the
  file system of BENCH_DIR (default: the system's temporary folder) and on
  tmpfs (/dev/shm);
- many small files by one wildcard line, against cp -r, on both file systems.

Runs of the installer and of the reference alternate; the figures are medians,
with the ratio of the best runs beside them.

  copy_bench.py BRIXCOPY_BINARY [--size-mib 1024] [--files 10000] [--runs 7]
"""

import argparse
import collections
import os
import shutil
import statistics
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def build_plaincopy(folder):
    """Compiles the reference program into folder; returns its path."""
    exe = os.path.join(folder, "plaincopy")
    subprocess.run(["cc", "-O2", "-o", exe, os.path.join(HERE, "plaincopy.c")], check=True)
    return exe


def remove(path):
    if os.path.isdir(path) and not os.path.islink(path):
        shutil.rmtree(path)
    elif os.path.lexists(path):
        os.remove(path)


def one_run(fn, before):
    """Seconds of fn, after before() and a sync outside the timing, so that no
    run pays for another's write-back."""
    before()
    os.sync()
    start = time.perf_counter()
    fn()
    return time.perf_counter() - start


class Timing(collections.namedtuple("Timing", "ours ref best_ours best_ref")):
    """Median and best seconds of the installer (ours) and of the reference."""

    def ratio(self):
        return self.ours / self.ref

    def best_ratio(self):
        return self.best_ours / self.best_ref


def alternate(runs, ours, reference):
    """Timing of ours and reference, each a (fn, before) pair, run in turns.

    The shared machine's memory bandwidth and file system state drift during a
    benchmark, so the two take turns going first (ours, reference, reference,
    ours, ...): a drift then weighs on both alike."""
    # One untimed run of each first: on the development machine (a virtual
    # machine) the first writes after a large file was made run several times
    # slower, into memory the host has to hand out again.
    one_run(*ours)
    one_run(*reference)
    mine, theirs = [], []
    for n in range(runs):
        if n % 2 == 0:
            mine.append(one_run(*ours))
            theirs.append(one_run(*reference))
        else:
            theirs.append(one_run(*reference))
            mine.append(one_run(*ours))
    return Timing(statistics.median(mine), statistics.median(theirs), min(mine), min(theirs))


class Device:
    """A simulated device below base with the installer at \\Pkg\\BrixCopy.exe."""

    def __init__(self, base, brixcopy):
        self.work = tempfile.mkdtemp(prefix="brix-bench-", dir=base)
        self.fs = os.path.join(self.work, "device", "fs")
        self.pkg = os.path.join(self.fs, "Pkg", "BrixCopy")
        os.makedirs(self.pkg)
        os.makedirs(os.path.join(self.fs, "Temp"))
        self.exe = os.path.join(self.fs, "Pkg", "BrixCopy.exe")
        shutil.copyfile(brixcopy, self.exe)
        os.chmod(self.exe, 0o755)
        self.env = dict(os.environ, BRIX_DEVICE=os.path.join(self.work, "device"))

    def install(self, script):
        """A first run of the installer carrying out script."""
        with open(os.path.join(self.pkg, "BrixCopy.inf"), "w") as f:
            f.write(script)
        remove(os.path.join(self.fs, "Temp", "brixcopy.log"))
        subprocess.run([self.exe], env=self.env, check=True, stderr=subprocess.DEVNULL)

    def close(self):
        shutil.rmtree(self.work, ignore_errors=True)


def big_file(brixcopy, plaincopy, base, size_mib, runs):
    """Timing (installer against plaincopy) of copying one file of size_mib MiB below base."""
    device = Device(base, brixcopy)
    try:
        big = os.path.join(device.pkg, "big.bin")
        chunk = os.urandom(1 << 20)
        with open(big, "wb") as f:
            for _ in range(size_mib):
                f.write(chunk)
        out = os.path.join(device.fs, "Out", "big.bin")
        ref = os.path.join(device.work, "plain-big.bin")
        result = alternate(
            runs,
            (lambda: device.install("'big.bin' '\\Out'\n"), lambda: remove(out)),
            (lambda: subprocess.run([plaincopy, big, ref], check=True), lambda: remove(ref)))
        if os.path.getsize(out) != size_mib << 20:
            raise SystemExit("copy_bench: the installer's copy has the wrong size")
        return result
    finally:
        device.close()


def many_files(brixcopy, base, files, file_bytes, runs):
    """Timing (installer against cp -r) of copying files small files below base.

    Every run copies into a folder of its own and nothing is removed until the
    end: ext4 without a journal passes over recently freed inodes one by one
    when it allocates new ones, so a run right after removing the last run's
    10,000 files measured that file system's search, several seconds at random.
    For the same reason, figures on such a disk taken within minutes of
    removing many files (another benchmark's clean-up) are slow at random.
    """
    device = Device(base, brixcopy)
    try:
        many = os.path.join(device.pkg, "many")
        os.makedirs(many)
        small = os.urandom(file_bytes)
        for i in range(files):
            with open(os.path.join(many, f"file{i:05d}.dat"), "wb") as f:
                f.write(small)
        turn = {"ours": 0, "cp": 0}

        def ours():
            turn["ours"] += 1
            device.install(f"'\\many\\*' '\\Many{turn['ours']}'\n")

        def reference():
            turn["cp"] += 1
            subprocess.run(["cp", "-r", many, os.path.join(device.work, f"cp-many{turn['cp']}")], check=True)

        result = alternate(runs, (ours, lambda: None), (reference, lambda: None))
        for n in range(1, turn["ours"] + 1):
            if len(os.listdir(os.path.join(device.fs, f"Many{n}"))) != files:
                raise SystemExit("copy_bench: the installer copied the wrong number of files")
        return result
    finally:
        device.close()


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("brixcopy")
    ap.add_argument("--size-mib", type=int, default=1024)
    ap.add_argument("--files", type=int, default=10000)
    ap.add_argument("--file-bytes", type=int, default=1024)
    ap.add_argument("--runs", type=int, default=7)
    args = ap.parse_args()
    tools = tempfile.mkdtemp(prefix="brix-bench-tools-")
    try:
        plaincopy = build_plaincopy(tools)
        for label, base in (("disk", os.environ.get("BENCH_DIR")), ("tmpfs", "/dev/shm")):
            t = big_file(args.brixcopy, plaincopy, base, args.size_mib, args.runs)
            print(f"big file ({args.size_mib} MiB, {label}): BrixCopy {t.ours:.3f} s, "
                  f"plaincopy {t.ref:.3f} s, ratio {t.ratio():.2f}x (best runs {t.best_ratio():.2f}x)")
        for label, base in (("tmpfs", "/dev/shm"), ("disk", os.environ.get("BENCH_DIR"))):
            t = many_files(args.brixcopy, base, args.files, args.file_bytes, args.runs)
            print(f"wildcard ({args.files} files of {args.file_bytes} bytes, {label}): BrixCopy {t.ours:.3f} s, "
                  f"cp -r {t.ref:.3f} s, ratio {t.ratio():.2f}x (best runs {t.best_ratio():.2f}x)")
    finally:
        shutil.rmtree(tools, ignore_errors=True)


if __name__ == "__main__":
    main()
