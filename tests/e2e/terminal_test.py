#!/usr/bin/env python3
"""What brixdev prints of a package (its script lines, file names, the
installer's debug output) reaches a terminal with control characters shown as
`cat -v` shows them, so that a package cannot clear the screen or set the
window title of whoever checks or tries it; to a pipe the bytes stay exact.

  terminal_test.py --brixdev BRIXDEV [--artifact ...]
"""

import argparse
import os
import pty
import re
import shutil
import subprocess
import sys
import tempfile

CLEAR = b"\x1b[2J"
TITLE = b"\x1b]0;owned\x07"


def on_terminal(args, cwd):
    """Runs args with stdout and stderr on a new terminal; everything it showed there."""
    master, slave = pty.openpty()
    proc = subprocess.Popen(args, cwd=cwd, stdin=subprocess.DEVNULL, stdout=slave, stderr=slave)
    os.close(slave)
    shown = b""
    while True:
        try:
            chunk = os.read(master, 65536)
        except OSError:  # the terminal is gone once the program has ended
            break
        if not chunk:
            break
        shown += chunk
    os.close(master)
    proc.wait(timeout=120)
    return shown


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--brixdev", required=True)
    parser.add_argument("--artifact", action="append", default=[])
    args = parser.parse_args()
    brixdev = os.path.abspath(args.brixdev)
    work = tempfile.mkdtemp(prefix="brix-terminal-")
    try:
        package = os.path.join(work, "BrixCopy")
        os.makedirs(os.path.join(package, "set"))
        with open(os.path.join(package, "BrixCopy.inf"), "wb") as f:
            f.write(b"'\\evil" + CLEAR + b".txt' '\\Windows\\a.txt'\r\n'\\set\\*' '\\Windows'\r\n")
        with open(os.path.join(package, "set", os.fsdecode(b"t" + TITLE + b".txt")), "wb") as f:
            f.write(b"t")
        failures = []
        for command in (["check", "BrixCopy"], ["try", "BrixCopy"]):
            # brixdev's own colours (select graphic rendition) are its own, not the package's.
            shown = re.sub(rb"\x1b\[[0-9;]*m", b"", on_terminal([brixdev] + command, work))
            if b"\x1b" in shown or b"\x07" in shown:
                failures.append("%s: raw control characters on the terminal: %r" % (command[0], shown[-400:]))
            if b"^[[2J" not in shown:
                failures.append("%s: the script line is not shown visibly: %r" % (command[0], shown[-400:]))
        piped = subprocess.run([brixdev, "check", "BrixCopy"], cwd=work, capture_output=True, timeout=120)
        if CLEAR not in piped.stdout:
            failures.append("check to a pipe: the bytes are not exact: %r" % piped.stdout[-400:])
        for failure in failures:
            print("FAILED", failure)
        if not failures:
            print("ok: a terminal sees control characters shown visibly, a pipe the exact bytes")
        return 1 if failures else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
