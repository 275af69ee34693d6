#!/usr/bin/env python3
"""Benchmark of the installer's copy lines on the device simulator, side by
side with cp in the same run: one 1 GiB file by a single-file line, and 10,000
small files by one wildcard line. Prints the times and the ratios.

  copy_bench.py BRIXCOPY_BINARY [--size-mib 1024] [--files 10000] [--repeat 3]
"""

import argparse
import os
import shutil
import subprocess
import tempfile
import time


def timed(fn, repeat, before):
    """Best time of fn over repeat runs, each after before() and a sync outside
    the timing, so that no run pays for another's write-back."""
    best = None
    for _ in range(repeat):
        before()
        os.sync()
        start = time.perf_counter()
        fn()
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    return best


def remove(path):
    if os.path.isdir(path):
        shutil.rmtree(path)
    elif os.path.exists(path):
        os.remove(path)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("brixcopy")
    ap.add_argument("--size-mib", type=int, default=1024)
    ap.add_argument("--files", type=int, default=10000)
    ap.add_argument("--file-bytes", type=int, default=1024)
    ap.add_argument("--repeat", type=int, default=3)
    args = ap.parse_args()

    work = tempfile.mkdtemp(prefix="brix-bench-", dir=os.environ.get("BENCH_DIR"))
    device = os.path.join(work, "device")
    fs = os.path.join(device, "fs")
    pkg = os.path.join(fs, "Pkg", "BrixCopy")
    os.makedirs(os.path.join(pkg, "many"))
    os.makedirs(os.path.join(fs, "Temp"))
    exe = os.path.join(fs, "Pkg", "BrixCopy.exe")
    shutil.copyfile(args.brixcopy, exe)
    os.chmod(exe, 0o755)
    env = dict(os.environ, BRIX_DEVICE=device)

    big = os.path.join(pkg, "big.bin")
    chunk = os.urandom(1 << 20)
    with open(big, "wb") as f:
        for _ in range(args.size_mib):
            f.write(chunk)
    small = os.urandom(args.file_bytes)
    for i in range(args.files):
        with open(os.path.join(pkg, "many", f"file{i:05d}.dat"), "wb") as f:
            f.write(small)

    def run_installer(script):
        with open(os.path.join(pkg, "BrixCopy.inf"), "w") as f:
            f.write(script)
        log = os.path.join(fs, "Temp", "brixcopy.log")
        if os.path.exists(log):
            os.remove(log)
        subprocess.run([exe], env=env, check=True, stderr=subprocess.DEVNULL)

    # Both copy into a destination that does not exist yet, as on a fresh device.
    out_big = os.path.join(fs, "Out", "big.bin")
    cp_big = os.path.join(work, "cp-big.bin")
    t_cp_big = timed(lambda: subprocess.run(["cp", big, cp_big], check=True), args.repeat,
                     lambda: remove(cp_big))
    t_brix_big = timed(lambda: run_installer("'big.bin' '\\Out'\n"), args.repeat,
                       lambda: remove(out_big))
    assert os.path.getsize(out_big) == args.size_mib << 20
    remove(out_big)
    remove(cp_big)

    out_many = os.path.join(fs, "Many")
    cp_many = os.path.join(work, "cp-many")
    t_cp_many = timed(lambda: subprocess.run(
        ["cp", "-r", os.path.join(pkg, "many"), cp_many], check=True), args.repeat,
        lambda: remove(cp_many))
    t_brix_many = timed(lambda: run_installer("'\\many\\*' '\\Many'\n"), args.repeat,
                        lambda: remove(out_many))
    assert len(os.listdir(out_many)) == args.files

    print(f"big file ({args.size_mib} MiB): BrixCopy {t_brix_big:.3f} s, cp {t_cp_big:.3f} s, "
          f"ratio {t_brix_big / t_cp_big:.2f}x")
    print(f"wildcard ({args.files} files of {args.file_bytes} bytes): BrixCopy {t_brix_many:.3f} s, "
          f"cp {t_cp_many:.3f} s, ratio {t_brix_many / t_cp_many:.2f}x")
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
