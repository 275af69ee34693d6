#!/usr/bin/env python3
"""Every speed figure of the programs, side by side with its reference and
target, in one table:

- parse alone of the generated registry script (MB/s; bench_regimport);
- whole import of 10,000 keys and 100,000 values on the simulator (seconds);
- one 1 GiB file by a single-file line, against a plain read/write program,
  on disk and on tmpfs;
- 10,000 files of 1 KiB by one wildcard line, against cp -r, on disk and on tmpfs;
- the counting run (a start after the first);
- brixdev check of a package holding a 2 GiB sparse data file (seconds).

Builds the native preset first. Exit status 0 when every figure meets its
target, 1 otherwise.

  python3 tools/bench/run.py [--quick] [--build build/default]
"""

import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)

import check_bench  # noqa: E402
import copy_bench  # noqa: E402
import import_bench  # noqa: E402


def parse_rate(bench, runs):
    """Median MB/s of the parse alone over runs, as bench_regimport reports it."""
    out = subprocess.run([bench, str(runs)], check=True, capture_output=True, text=True).stdout
    m = re.search(r"median [\d.]+ ms \(([\d.]+) MB/s\)", out)
    if not m:
        raise SystemExit("run.py: unexpected output of bench_regimport:\n" + out)
    return float(m.group(1))


def counting_run_seconds(brixcopy, runs):
    """Median seconds of an installer start that finds the counter file."""
    device = copy_bench.Device(None, brixcopy)
    try:
        device.install("")
        times = []
        for _ in range(runs):
            start = time.perf_counter()
            subprocess.run([device.exe], env=device.env, check=True, stderr=subprocess.DEVNULL)
            times.append(time.perf_counter() - start)
        return statistics.median(times)
    finally:
        device.close()


def main():
    ap = argparse.ArgumentParser(description="Prints every speed figure with its reference and target.")
    ap.add_argument("--build", default=os.path.join(ROOT, "build", "default"))
    ap.add_argument("--quick", action="store_true", help="smaller inputs and fewer runs (a smoke test)")
    args = ap.parse_args()
    if args.build == os.path.join(ROOT, "build", "default"):
        subprocess.run(["cmake", "--preset", "default"], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", "--preset", "default", "--target", "BrixCopy", "Brixparse",
                        "bench_regimport", "brixdev"], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    brixcopy = os.path.join(args.build, "installer", "BrixCopy")
    brixparse = os.path.join(args.build, "regimport", "Brixparse")
    bench = os.path.join(args.build, "tests", "regimport", "bench_regimport")
    brixdev = os.path.join(args.build, "brixdev", "brixdev")
    size_mib, files, runs = (64, 1000, 3) if args.quick else (1024, 10000, 7)

    rows = []  # (figure, ours, reference, ratio text, met)

    rate = parse_rate(bench, 3 if args.quick else 20)
    rows.append(("parse alone, 7 MB script", f"{rate:.0f} MB/s", "target 200 MB/s", "", rate >= 200))

    seconds, size = import_bench.import_seconds(brixparse, 10000, 10, 3 if args.quick else 5)
    rows.append((f"whole import, 10,000 keys ({size / 1e6:.1f} MB)", f"{seconds:.3f} s",
                 "target 0.300 s", "", seconds <= 0.3))

    times, peak = check_bench.check_seconds(brixdev, 2, 3 if args.quick else 7)
    check = statistics.median(times)
    rows.append(("check, package with a 2 GiB sparse file", f"{check:.3f} s", "target 1 s (27.7 s before)",
                 f"temporary space {peak / 1e6:.1f} MB", check < 1.0))

    tools = tempfile.mkdtemp(prefix="brix-bench-tools-")
    try:
        plaincopy = copy_bench.build_plaincopy(tools)
        for label, base in (("disk", os.environ.get("BENCH_DIR")), ("tmpfs", "/dev/shm")):
            t = copy_bench.big_file(brixcopy, plaincopy, base, size_mib, runs)
            rows.append((f"{size_mib} MiB file, {label}", f"{t.ours:.3f} s", f"plaincopy {t.ref:.3f} s",
                         f"{t.ratio():.2f}x (max 1.10x; best runs {t.best_ratio():.2f}x)", t.ratio() <= 1.1))
    finally:
        shutil.rmtree(tools, ignore_errors=True)

    counting = counting_run_seconds(brixcopy, 21)
    counting_row = ("counting run (second start)", f"{counting * 1e3:.1f} ms", "target 5 ms", "",
                    counting <= 0.005)

    # The disk case last: removing its files at the end makes ext4 without a
    # journal slow to allocate inodes for a while (docs/performance.md), which
    # must not fall on another figure of this run.
    for label, base in (("tmpfs", "/dev/shm"), ("disk", os.environ.get("BENCH_DIR"))):
        t = copy_bench.many_files(brixcopy, base, files, 1024, runs)
        rows.append((f"{files} files of 1 KiB, {label}", f"{t.ours:.3f} s", f"cp -r {t.ref:.3f} s",
                     f"{t.ratio():.2f}x (max 1.30x; best runs {t.best_ratio():.2f}x)", t.ratio() <= 1.3))
    rows.append(counting_row)

    widths = [max(len(r[i]) for r in rows) for i in range(4)]
    for figure, ours_text, ref_text, ratio, met in rows:
        print(f"{figure:<{widths[0]}}  {ours_text:>{widths[1]}}  {ref_text:<{widths[2]}}  "
              f"{ratio:<{widths[3]}}  {'ok' if met else 'OVER'}")
    return 0 if all(r[4] for r in rows) else 1


if __name__ == "__main__":
    sys.exit(main())
