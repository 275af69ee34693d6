#!/usr/bin/env python3
"""Every end-to-end scenario, and the example package, checked by 'brixdev check':
each scenario's device is built as its steps build it (its files, the artifacts
it puts), then every package folder and every registry script outside one is
checked on it. A scenario checks clean, or with exactly what its
expected/check.txt holds: the report, the messages, and the exit status when
it is not 0.

  check_scenarios.py --artifact NAME=PATH ... --brixdev PATH --example DIR SCENARIOS_DIR
  --update writes expected/check.txt where a scenario has findings (for new scenarios).
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run_scenario import parse_steps  # noqa: E402
from runners.device import DeviceFolder  # noqa: E402


def targets(root):
    """Package folders (named BrixCopy, as the installer names them) and registry scripts outside them."""
    found = []
    for dirpath, dirnames, filenames in os.walk(root):
        rel = os.path.relpath(dirpath, root)
        for name in sorted(dirnames):
            if name.lower() == "brixcopy":
                found.append(os.path.normpath(os.path.join(rel, name)))
        dirnames[:] = [d for d in dirnames if d.lower() != "brixcopy"]
        found += [os.path.normpath(os.path.join(rel, f)) for f in sorted(filenames) if f.lower().endswith(".reg")]
    return sorted(found)


def check_scenario(scenario, artifacts, brixdev):
    with tempfile.TemporaryDirectory(prefix="brix-check-") as work:
        device = os.path.join(work, "device")
        folder = DeviceFolder(os.path.join(device, "fs"), artifacts)
        if os.path.isdir(os.path.join(scenario, "device")):
            folder.setup_device(os.path.join(scenario, "device"))
        for _, verb, rest in parse_steps(os.path.join(scenario, "steps.txt")):
            if verb == "put":
                artifact, device_path = rest.split(" ", 1)
                folder.put(artifact, device_path)
        paths = targets(folder.root)
        if not paths:
            return ""
        res = subprocess.run([brixdev, "-d", device, "check"] + paths, cwd=folder.root, capture_output=True,
                             timeout=120)
        out, err = res.stdout.decode("utf-8"), res.stderr.decode("utf-8")
        # A check that ran (0, 1) ends with the summary line; one that could not (2) has none.
        report = out + (without_summary(out, err) if res.returncode in (0, 1) else err)
        return report + ("exit status %d\n" % res.returncode if res.returncode else "")


def summary_of(report):
    """The summary line that a text report of these findings ends with on standard error."""
    counts = [len(re.findall(r"^[^\n]*:\d+:\d+: %s: " % word, report, re.M)) for word in ("error", "warning", "note")]
    return ", ".join("%d %s%s" % (n, word, "" if n == 1 else "s")
                     for n, word in zip(counts, ("error", "warning", "note"))) + "\n"


def without_summary(report, err):
    """Standard error less its summary line, which must count the findings of report; an error if not."""
    if err.endswith(summary_of(report)):
        return err[:-len(summary_of(report))]
    return err + "(no summary line %r)\n" % summary_of(report).strip()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--artifact", action="append", default=[], help="NAME=PATH")
    ap.add_argument("--brixdev", required=True)
    ap.add_argument("--example", required=True)
    ap.add_argument("--update", action="store_true")
    ap.add_argument("scenarios")
    args = ap.parse_args()
    artifacts = dict(a.split("=", 1) for a in args.artifact)
    ok = True

    example = subprocess.run([args.brixdev, "check", args.example], capture_output=True, timeout=120)
    if example.returncode != 0 or example.stdout or example.stderr != b"0 errors, 0 warnings, 0 notes\n":
        print("example package: expected a clean check, got status %d:\n%s%s" % (
            example.returncode, example.stdout.decode(), example.stderr.decode()))
        ok = False

    for name in sorted(os.listdir(args.scenarios)):
        scenario = os.path.join(args.scenarios, name)
        if not os.path.isdir(scenario):
            continue
        actual = check_scenario(scenario, artifacts, args.brixdev)
        path = os.path.join(scenario, "expected", "check.txt")
        if args.update:
            if actual:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(actual)
            elif os.path.exists(path):
                os.remove(path)
            continue
        expected = open(path, encoding="utf-8").read() if os.path.exists(path) else ""
        if actual != expected:
            print("--- %s: the check differs\nexpected:\n%sactual:\n%s" % (name, expected, actual))
            ok = False
    print("checks of the scenarios and the example", "passed" if ok else "FAILED")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
