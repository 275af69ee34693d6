#!/usr/bin/env python3
"""Runs one end-to-end scenario (see README.md) on a throw-away device and
compares the debug output, the device's files and the registry byte for byte.

  run_scenario.py --runner sim --artifact BrixCopy=PATH ... [--brixdev PATH] SCENARIO_DIR
  --update writes the expected files instead of comparing (for writing new scenarios).
"""

import argparse
import difflib
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))


def make_runner(name, workdir, artifacts, args):
    if name == "sim":
        from runners.sim import SimRunner
        return SimRunner(workdir, artifacts, brixdev=args.brixdev)
    if name == "wine":
        from runners.wine import WineRunner
        return WineRunner(workdir, artifacts, **dict(kv.split("=", 1) for kv in args.option))
    raise SystemExit("unknown runner " + name)


def parse_steps(path):
    steps = []
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            verb, _, rest = line.partition(" ")
            steps.append((number, verb, rest))
    return steps


def execute(runner, scenario):
    debug = b""
    registry = ""
    device_src = os.path.join(scenario, "device")
    if os.path.isdir(device_src):
        runner.setup_device(device_src)
    for number, verb, rest in parse_steps(os.path.join(scenario, "steps.txt")):
        if verb == "put":
            artifact, device_path = rest.split(" ", 1)
            runner.put(artifact, device_path)
        elif verb == "run":
            device_path, blank, command_line = rest.partition(" ")
            out, code = runner.run(device_path, command_line if blank else None)
            debug += out
            if code != 0:
                raise AssertionError(f"step {number}: {device_path} exited with {code}")
        elif verb == "remove":
            runner.remove(rest)
        elif verb == "readonly":
            runner.make_readonly(rest)
        elif verb == "regexport":
            registry += runner.registry_export(rest)
        else:
            raise SystemExit(f"{scenario}/steps.txt:{number}: unknown step {verb}")
    files = "".join(f"{p} {size} {digest}\n" for p, size, digest in runner.files())
    return debug, files, registry


def compare(label, expected, actual):
    if expected == actual:
        return True
    exp = expected.decode("utf-8", "replace") if isinstance(expected, bytes) else expected
    act = actual.decode("utf-8", "replace") if isinstance(actual, bytes) else actual
    print(f"--- {label} differs:")
    for line in difflib.unified_diff(exp.splitlines(True), act.splitlines(True),
                                     "expected", "actual"):
        sys.stdout.write(repr(line) + "\n")
    return False


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--runner", default="sim")
    ap.add_argument("--artifact", action="append", default=[], help="NAME=PATH")
    ap.add_argument("--brixdev")
    ap.add_argument("--option", action="append", default=[], help="runner option KEY=VALUE")
    ap.add_argument("--update", action="store_true")
    ap.add_argument("--keep", action="store_true", help="keep the device folder")
    ap.add_argument("scenario")
    args = ap.parse_args()
    artifacts = dict(a.split("=", 1) for a in args.artifact)
    scenario = os.path.abspath(args.scenario)
    expected_dir = os.path.join(scenario, "expected")

    workdir = tempfile.mkdtemp(prefix="brix-e2e-")
    runner = make_runner(args.runner, workdir, artifacts, args)
    try:
        debug, files, registry = execute(runner, scenario)
    finally:
        runner.release_readonly()
        if hasattr(runner, "close"):
            runner.close()
    checks = [("debug.txt", debug, True),
              ("files.txt", files.encode(), os.path.exists(os.path.join(expected_dir, "files.txt"))),
              ("registry.txt", registry.encode(),
               bool(registry) or os.path.exists(os.path.join(expected_dir, "registry.txt")))]
    ok = True
    for name, actual, wanted in checks:
        path = os.path.join(expected_dir, name)
        if args.update:
            if wanted or name == "files.txt":
                os.makedirs(expected_dir, exist_ok=True)
                with open(path, "wb") as f:
                    f.write(actual)
            continue
        if not wanted:
            continue
        with open(path, "rb") as f:
            ok &= compare(name, f.read(), actual)
    if args.keep:
        print("device kept in", workdir)
    else:
        import shutil
        shutil.rmtree(workdir, ignore_errors=True)
    print("scenario", os.path.basename(scenario), "passed" if ok else "FAILED")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
