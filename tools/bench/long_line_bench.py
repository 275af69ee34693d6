#!/usr/bin/env python3
"""Benchmark of the importer on scripts made of one very long line, on the
device simulator: junk without any line feed, one string value line, one byte
list line, and a long line under an address-space limit; besides, value lines
just short of the longest line kept, the most one line can cost. Every script
but the junk ends with a short value line, which must still be stored. Prints,
for each, the script size, the time and the peak resident memory.

  long_line_bench.py BRIXPARSE_BINARY BRIXDEV_BINARY [--size-mib 1024]
                     [--limited-mib 300] [--limit-mib 800]

Nothing of a line longer than the importer keeps can be stored, so its memory
must stay bounded whatever the line's length; docs/behaviour.md gives the
bound. A run that exits with another status than 0, writes debug output, or
does not store the value after the long line makes the benchmark fail.
"""

import argparse
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

BLOCK = 1 << 20
KEY = "HKEY_LOCAL_MACHINE\\Software\\Bench"
AFTER = '"after"=dword:00000007\n'


def junk_block():
    # Printable junk with every character the line rules look at, but no line
    # feed: comment, quote, bracket and backslash characters included.
    unit = 'junk;"[x]\\ =:\t' * 8
    text = (unit * (BLOCK // len(unit) + 1))[:BLOCK]
    return text.encode()


def text(t):
    return (t.encode(), len(t.encode()))


def write_script(path, parts):
    # Each part is a block written over and over up to a size, so that no
    # script is ever held whole (this process's memory counts in the peak
    # measured of the importer it starts, see main).
    with open(path, "wb") as f:
        for block, size in parts:
            written = 0
            while written < size:
                part = block[: min(len(block), size - written)]
                f.write(part)
                written += len(part)


# Longest line the importer keeps, in characters (docs/behaviour.md).
LINE_LIMIT = 4 << 20


def scripts(size, limited):
    key = text(f"[{KEY}]\n")
    after = text(AFTER)
    # Lines of each costly form just short of the limit: all are parsed, none
    # can be stored (their data would exceed 1 MiB).
    near = LINE_LIMIT - 32
    near_limit = [key, text('"s"="'), (b"a" * BLOCK, near), text('"\n"h"=hex:'),
                  (b"1," * (BLOCK // 2), near), text('\n"m"=multi_sz:'),
                  (b'"a",' * (BLOCK // 4), near - 16), text("\n"), after]
    return [
        ("value lines just short of the line limit", near_limit),
        ("junk, no line feed at all", [(junk_block(), size)]),
        ("one string value line", [key, text('"s"="'), (b"a" * BLOCK, size), text('"\n'), after]),
        ("one byte list line", [key, text('"h"=hex:'), (b"01," * (BLOCK // 3), size), text("02\n"), after]),
        ("string value line under the limit",
         [key, text('"s"="'), (b"a" * BLOCK, limited), text('"\n'), after]),
    ]


def run(brixparse, brixdev, work, name, limit):
    device = os.path.join(work, "device")
    shutil.rmtree(os.path.join(device, "run"), ignore_errors=True)
    db = os.path.join(device, "registry.db")
    if os.path.exists(db):
        os.remove(db)
    exe = os.path.join(device, "fs", "Windows", "Brixparse.exe")
    env = dict(os.environ, BRIX_DEVICE=device)

    def apply_limit():
        if limit:
            resource.setrlimit(resource.RLIMIT_AS, (limit, limit))

    start = time.perf_counter()
    proc = subprocess.Popen([exe, "\\" + name], env=env, stderr=subprocess.PIPE,
                            preexec_fn=apply_limit)
    stderr = proc.stderr.read()
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = time.perf_counter() - start
    code = os.waitstatus_to_exitcode(status)
    proc.returncode = code  # reaped here, so that the usage of this child is read
    if code != 0 or stderr:
        raise SystemExit(f"{name}: exit {code}, output {stderr[:200]!r}")
    export = subprocess.run([brixdev, "-d", device, "reg", "export"], capture_output=True,
                            check=True, text=True).stdout
    return elapsed, usage.ru_maxrss / 1024, export


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("brixparse")
    ap.add_argument("brixdev")
    ap.add_argument("--size-mib", type=int, default=1024)
    ap.add_argument("--limited-mib", type=int, default=300)
    ap.add_argument("--limit-mib", type=int, default=800)
    args = ap.parse_args()
    work = tempfile.mkdtemp(prefix="brix-long-line-bench-")
    try:
        fs = os.path.join(work, "device", "fs")
        os.makedirs(os.path.join(fs, "Windows"))
        exe = os.path.join(fs, "Windows", "Brixparse.exe")
        shutil.copyfile(args.brixparse, exe)
        os.chmod(exe, 0o755)
        floor = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
        # Linux counts a child's memory before it starts the importer (a copy
        # of this process) in its peak: the figures are upper bounds.
        print(f"(peaks include this process's own, {floor:.1f} MiB: smaller ones show as that)")
        for index, (what, parts) in enumerate(scripts(args.size_mib << 20, args.limited_mib << 20)):
            name = f"long{index}.reg"
            path = os.path.join(fs, name)
            write_script(path, parts)
            limited = "under the limit" in what
            elapsed, peak_mib, export = run(args.brixparse, args.brixdev, work, name,
                                            (args.limit_mib << 20) if limited else 0)
            if parts[-1] == text(AFTER) and AFTER.strip() not in export:
                raise SystemExit(f"{what}: the value after the long line was not stored")
            size = os.path.getsize(path) / (1 << 20)
            limit = f", address space limited to {args.limit_mib} MiB" if limited else ""
            print(f"{what} ({size:.0f} MiB script{limit}): {elapsed:.1f} s, "
                  f"peak RSS {peak_mib:.1f} MiB")
            sys.stdout.flush()
            os.remove(path)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
