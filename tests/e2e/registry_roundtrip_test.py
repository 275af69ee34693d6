#!/usr/bin/env python3
"""Registry export round trip on the device simulator: a script using every
value form is imported, exported, the export imported on a fresh device and
exported again: both exports must be the same text."""

import argparse
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from runners.device import device_to_host  # noqa: E402
from runners.sim import SimRunner  # noqa: E402


def import_script(artifacts, brixdev, data):
    workdir = tempfile.mkdtemp(prefix="brix-roundtrip-")
    runner = SimRunner(workdir, artifacts, brixdev=brixdev)
    runner.put("Brixparse", "\\Windows\\Brixparse.exe")
    os.makedirs(device_to_host(runner.root, "\\Storage"))
    with open(device_to_host(runner.root, "\\Storage\\in.reg"), "wb") as f:
        f.write(data)
    err, code = runner.run("\\Windows\\Brixparse.exe", "\\Storage\\in.reg")
    assert code == 0 and err == b"", (code, err)
    exported = runner.registry_export("")
    shutil.rmtree(workdir, ignore_errors=True)
    return exported


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--artifact", action="append", default=[])
    ap.add_argument("--brixdev", required=True)
    ap.add_argument("script")
    args = ap.parse_args()
    artifacts = dict(a.split("=", 1) for a in args.artifact)
    with open(args.script, "rb") as f:
        first = import_script(artifacts, args.brixdev, f.read())
    second = import_script(artifacts, args.brixdev, first.encode("utf-8"))
    if first != second:
        print("round trip changed the registry:\n--- first\n" + first + "--- second\n" + second)
        return 1
    if first.count("\n[") < 3:
        print("the export holds too little to prove anything:\n" + first)
        return 1
    print("round trip ok:", first.count("\n["), "keys")
    return 0


if __name__ == "__main__":
    sys.exit(main())
