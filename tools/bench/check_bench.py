#!/usr/bin/env python3
"""The time and temporary space that 'brixdev check' takes for a package whose
size is mostly one large sparse data file: the package holds a 2 GiB file (a
hole but for a few bytes) that one line copies, a second line copies onward
and a wildcard line copies once more, beside a small registry script that the
importer is started on. The check places the package on its throw-away device
and carries out the three copies with the installer's own code; its time must
not grow with the data file.

The temporary space is sampled every few milliseconds in a TMPDIR of the
benchmark's own during one more check (the blocks of every file below it);
the timed runs go without the sampling.

  check_bench.py BRIXDEV [--size-gib 2] [--runs 5] [--try]

--try also times 'brixdev try' of the package once: a real install, which
writes the 2 GiB the installer copies (informative, no target).
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time


def make_package(base, size_gib):
    package = os.path.join(base, "pkg")
    os.makedirs(os.path.join(package, "more"))
    data = os.path.join(package, "data.bin")
    with open(data, "wb") as f:
        f.write(b"head")
        f.truncate(size_gib << 30)
    with open(os.path.join(package, "more", "data2.bin"), "wb") as f:
        f.write(b"more")
        f.truncate(size_gib << 30)
    with open(os.path.join(package, "settings.reg"), "w") as f:
        f.write('REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Big]\n"Size"=dword:00000002\n')
    with open(os.path.join(package, "BrixCopy.inf"), "w") as f:
        f.write("'data.bin' '\\Program Files\\Big'\n"
                "'\\Program Files\\Big\\data.bin' '\\Data\\copy.bin'\n"
                "'\\more\\*' '\\Data\\More'\n"
                "'\\Windows\\Brixparse.exe \\Storage Card\\BrixCopy\\settings.reg' -x\n")
    return package


def used_bytes(folder):
    total = 0
    for dirpath, _, filenames in os.walk(folder):
        for name in filenames:
            try:
                total += os.lstat(os.path.join(dirpath, name)).st_blocks * 512
            except OSError:
                pass
    return total


def timed(args, tmpdir, sampled=True):
    """Seconds of one run, its exit status and (sampled) the most temporary space seen meanwhile."""
    peak = [0]
    done = threading.Event()

    def sample():
        while not done.is_set():
            peak[0] = max(peak[0], used_bytes(tmpdir))
            time.sleep(0.005)

    # The sampling takes CPU time of its own: timed runs go without it.
    sampler = threading.Thread(target=sample if sampled else lambda: None)
    sampler.start()
    env = dict(os.environ, TMPDIR=tmpdir)
    start = time.perf_counter()
    res = subprocess.run(args, env=env, capture_output=True)
    seconds = time.perf_counter() - start
    done.set()
    sampler.join()
    return seconds, res.returncode, peak[0], res.stdout.decode(errors="replace") + res.stderr.decode(errors="replace")


def check_seconds(brixdev, size_gib, runs):
    """Median seconds of the check of the package, and the most temporary space any run took."""
    base = tempfile.mkdtemp(prefix="brix-check-bench-", dir=os.environ.get("BENCH_DIR"))
    try:
        package = make_package(base, size_gib)
        tmpdir = os.path.join(base, "tmp")
        os.makedirs(tmpdir)
        times = []
        for _ in range(runs):
            seconds, status, _, out = timed([brixdev, "check", package], tmpdir, sampled=False)
            if status != 0:
                raise SystemExit("check_bench.py: the check failed (%d):\n%s" % (status, out))
            times.append(seconds)
        _, _, peak, _ = timed([brixdev, "check", package], tmpdir)
        return times, peak
    finally:
        shutil.rmtree(base, ignore_errors=True)


def try_seconds(brixdev, size_gib):
    """Seconds of one try of the package, its exit status and the most temporary space it took."""
    base = tempfile.mkdtemp(prefix="brix-check-bench-", dir=os.environ.get("BENCH_DIR"))
    try:
        package = make_package(base, size_gib)
        tmpdir = os.path.join(base, "tmp")
        os.makedirs(tmpdir)
        seconds, status, peak, _ = timed([brixdev, "try", package], tmpdir)
        return seconds, status, peak
    finally:
        shutil.rmtree(base, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("brixdev")
    ap.add_argument("--size-gib", type=int, default=2)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--try", dest="try_too", action="store_true")
    args = ap.parse_args()
    times, peak = check_seconds(args.brixdev, args.size_gib, args.runs)
    print("check of a package with a %d GiB sparse file copied three times: median %.3f s (runs %s), "
          "most temporary space %.1f MB" % (args.size_gib, statistics.median(times),
                                            ", ".join("%.3f" % t for t in times), peak / 1e6))
    if args.try_too:
        seconds, status, peak = try_seconds(args.brixdev, args.size_gib)
        print("try of the same package (a real install): %.1f s, exit %d, most temporary space %.1f MB"
              % (seconds, status, peak / 1e6))
    return 0 if statistics.median(times) < 1.0 else 1


if __name__ == "__main__":
    sys.exit(main())
