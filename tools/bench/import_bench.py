#!/usr/bin/env python3
"""Benchmark of a whole registry import on the device simulator: a generated
script of 10,000 keys and 100,000 values of mixed types, imported by the
importer into a fresh device registry. Prints the script size and the median time.

  import_bench.py BRIXPARSE_BINARY [--keys 10000] [--values-per-key 10] [--runs 5]
"""

import argparse
import os
import shutil
import statistics
import subprocess
import tempfile
import time


def generate(keys, per_key):
    lines = ["REGEDIT4", ""]
    for k in range(keys):
        lines.append(f"[HKEY_LOCAL_MACHINE\\Software\\Bench\\Group{k // 100:03d}\\Key{k:05d}]")
        for v in range(per_key):
            kind = v % 5
            if kind == 0:
                lines.append(f'"String{v}"="Value number {k}-{v} with some text"')
            elif kind == 1:
                lines.append(f'"Dword{v}"=dword:{(k * 31 + v) & 0xffffffff:08x}')
            elif kind == 2:
                lines.append(f'"Binary{v}"=hex:' + ",".join(f"{(k + i) & 0xff:02x}" for i in range(16)))
            elif kind == 3:
                lines.append(f'"Multi{v}"=multi_sz:"alpha{k}","beta{v}","gamma"')
            else:
                lines.append(f'"Expand{v}"=hex(2):25,00,50,00,41,00,54,00,48,00,25,00,00,00')
        lines.append("")
    return ("\n".join(lines) + "\n").encode()


def import_seconds(brixparse, keys, per_key, runs):
    """Median seconds of a whole import of the generated script into a fresh
    device registry, and the script's size in bytes."""
    script = generate(keys, per_key)
    times = []
    for _ in range(runs):
        work = tempfile.mkdtemp(prefix="brix-import-bench-")
        try:
            fs = os.path.join(work, "device", "fs")
            os.makedirs(os.path.join(fs, "Windows"))
            exe = os.path.join(fs, "Windows", "Brixparse.exe")
            shutil.copyfile(brixparse, exe)
            os.chmod(exe, 0o755)
            with open(os.path.join(fs, "bench.reg"), "wb") as f:
                f.write(script)
            env = dict(os.environ, BRIX_DEVICE=os.path.join(work, "device"))
            start = time.perf_counter()
            subprocess.run([exe, "\\bench.reg"], env=env, check=True)
            times.append(time.perf_counter() - start)
        finally:
            shutil.rmtree(work, ignore_errors=True)
    return statistics.median(times), len(script)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("brixparse")
    ap.add_argument("--keys", type=int, default=10000)
    ap.add_argument("--values-per-key", type=int, default=10)
    ap.add_argument("--runs", type=int, default=5)
    args = ap.parse_args()
    seconds, size = import_seconds(args.brixparse, args.keys, args.values_per_key, args.runs)
    print(f"import of {args.keys} keys and {args.keys * args.values_per_key} values "
          f"({size / 1e6:.1f} MB script) on the simulator: median {seconds:.3f} s")


if __name__ == "__main__":
    main()
