#!/usr/bin/env python3
"""The importer on the device simulator when the registry cannot take what it
writes, end to end.

Full disk: registry.db lies on a small tmpfs, and a script of 10,000 keys
with 10 values each is imported. Every key must be stored with all its values
or be reported by the importer's messages, in script order; the database must
be sound, with no value outside a key; a second import, with room again, must
store its keys whole, none showing values of another key. Needs root (for
mount); elsewhere the test is skipped with exit code 77.

Read-only registry: an import as a user who may not write registry.db must
report every key and change nothing.

  registry_failures_test.py --artifact Brixparse=PATH --brixdev PATH [--runs N] [--keys N] [--size 3m]
"""

import argparse
import os
import re
import shutil
import sqlite3
import subprocess
import sys
import tempfile

SKIP = 77
VALUES = 10
MESSAGE = re.compile(r"CBrixparse::UpdateRegistry::(RegCreateKeyEx|RegSetValueEx|RegCloseKey) err = (\d+)\r$")


def value_of(prefix, k, v):
    """Name and data of value v of key k; the data names its key."""
    return f"v{v}", f"{prefix}{k:05d}:v{v}:" + "x" * (v * 4)


def script(prefix, path, keys):
    lines = ["REGEDIT4", ""]
    for k in range(keys):
        lines.append(f"[HKEY_LOCAL_MACHINE\\{path}\\G{k // 100:03d}\\{prefix}{k:05d}]")
        for v in range(VALUES):
            name, data = value_of(prefix, k, v)
            lines.append(f'"{name}"="{data}"')
    return ("\r\n".join(lines) + "\r\n").encode()


def run_importer(device, script_name, user=None):
    exe = os.path.join(device, "fs", "Windows", "Brixparse.exe")
    res = subprocess.run([exe, "\\" + script_name], env=dict(os.environ, BRIX_DEVICE=device),
                         capture_output=True, timeout=600, user=user, group=user)
    if res.returncode != 0:
        raise AssertionError(f"importer exited with {res.returncode}")
    lines = res.stderr.decode("utf-8").split("\n")
    messages = [line for line in lines if line and not line.startswith("device simulator:")]
    for line in messages:
        if not MESSAGE.match(line):
            raise AssertionError("unexpected debug output: " + repr(line))
    return [MESSAGE.match(line).group(1) for line in messages], [l for l in lines if l.startswith("device")]


def read_registry(db_path, path):
    """{key name: {value name: text}} of the keys two levels below path, after the checks of soundness."""
    db = sqlite3.connect(db_path)
    try:
        assert db.execute("PRAGMA integrity_check").fetchone()[0] == "ok"
        assert db.execute("PRAGMA foreign_key_check").fetchall() == []
        orphans = db.execute("SELECT count(*) FROM vals WHERE key NOT IN (SELECT id FROM keys)").fetchone()[0]
        assert orphans == 0, f"{orphans} values belong to no key"
        node = 3
        for name in path.split("\\"):
            row = db.execute("SELECT id FROM keys WHERE parent = ? AND fold = ?", (node, name.lower())).fetchone()
            if row is None:
                return {}
            node = row[0]
        keys = {}
        for group, in db.execute("SELECT id FROM keys WHERE parent = ?", (node,)).fetchall():
            for kid, kname in db.execute("SELECT id, name FROM keys WHERE parent = ?", (group,)).fetchall():
                values = db.execute("SELECT name, type, data FROM vals WHERE key = ?", (kid,)).fetchall()
                keys[kname] = {n: bytes(d).decode("utf-16-le").rstrip("\0") for n, t, d in values if t == 1}
                assert all(t == 1 for _, t, _ in values)
        return keys
    finally:
        db.close()


def check_whole_or_reported(prefix, keys, stored, messages):
    """Walks the script's keys and the messages in order: each key is whole and
    unreported, or its failures are reported before the next key's."""
    at = 0
    lost = 0
    for k in range(keys):
        name = f"{prefix}{k:05d}"
        expected = dict(value_of(prefix, k, v) for v in range(VALUES))
        have = stored.get(name)
        if have == expected:
            continue
        # Not whole: the key's own messages must come now.
        if at < len(messages) and messages[at] == "RegCreateKeyEx":
            assert have is None, f"{name}: reported not created, but stored"
            at += 1
            lost += 1
            continue
        failed_sets = 0
        while at < len(messages) and messages[at] == "RegSetValueEx":
            failed_sets += 1
            at += 1
        lost += 1
        if at < len(messages) and messages[at] == "RegCloseKey":
            at += 1
            assert have is None or have == {}, f"{name}: its close failed, but values are stored"
            continue
        assert failed_sets > 0 and have is not None, f"{name}: not stored whole, and nothing said so"
        for vname, data in have.items():
            assert expected.get(vname) == data, f"{name}: value {vname} holds {data!r}"
        assert len(have) == VALUES - failed_sets, f"{name}: {len(have)} values, {failed_sets} reported"
    assert at == len(messages), f"{len(messages) - at} messages left over"
    assert set(stored) <= {f"{prefix}{k:05d}" for k in range(keys)}, "keys the script does not name"
    return lost


def disk_bytes(size):
    units = {"k": 1 << 10, "m": 1 << 20, "g": 1 << 30}
    return int(size[:-1]) * units[size[-1].lower()] if size[-1].lower() in units else int(size)


def disk_full_run(artifacts, keys, size):
    work = tempfile.mkdtemp(prefix="brix-diskfull-")
    device = os.path.join(work, "device")
    files = os.path.join(work, "files")
    os.makedirs(os.path.join(files, "Windows"))
    os.makedirs(device)
    shutil.copyfile(artifacts["Brixparse"], os.path.join(files, "Windows", "Brixparse.exe"))
    os.chmod(os.path.join(files, "Windows", "Brixparse.exe"), 0o755)
    with open(os.path.join(files, "full.reg"), "wb") as f:
        f.write(script("K", "Software\\Full", keys))
    with open(os.path.join(files, "brand.reg"), "wb") as f:
        f.write(script("New", "Software\\Brand", 200))
    mounted = []
    try:
        # Only the registry lies on the small disk; the device's files are bound in from outside.
        for cmd in (["mount", "-t", "tmpfs", "-o", "size=" + size, "tmpfs", device],
                    ["mkdir", os.path.join(device, "fs")],
                    ["mount", "--bind", files, os.path.join(device, "fs")]):
            res = subprocess.run(cmd, capture_output=True)
            if res.returncode != 0:
                return None, f"{' '.join(cmd)}: {res.stderr.decode().strip()}"
            if cmd[0] == "mount":
                mounted.insert(0, cmd[-1])
        messages, diagnostics = run_importer(device, "full.reg")
        subprocess.run(["mount", "-o", "remount,size=64m", device], check=True)
        stored = read_registry(os.path.join(device, "registry.db"), "Software\\Full")
        lost = check_whole_or_reported("K", keys, stored, messages)
        assert lost > 0, "the disk never filled up"
        # The log is checkpointed as room runs short, so the data, not the log, fills the disk:
        # a key takes about 1.3 KiB there.
        assert len(stored) * 4096 > disk_bytes(size), f"only {len(stored)} keys stored: the log filled the disk"
        # With room again, a later import's keys are whole and adopt nothing.
        brand_messages, _ = run_importer(device, "brand.reg")
        assert brand_messages == [], brand_messages
        check_whole_or_reported("New", 200, read_registry(os.path.join(device, "registry.db"), "Software\\Brand"), [])
        assert read_registry(os.path.join(device, "registry.db"), "Software\\Full") == stored
        return (len(stored), lost, len(messages), len(diagnostics)), None
    finally:
        for point in mounted:
            subprocess.run(["umount", point])
        shutil.rmtree(work, ignore_errors=True)


def read_only_run(artifacts, brixdev):
    work = tempfile.mkdtemp(prefix="brix-readonly-")
    try:
        os.chmod(work, 0o755)
        device = os.path.join(work, "device")
        os.makedirs(os.path.join(device, "fs", "Windows"))
        exe = os.path.join(device, "fs", "Windows", "Brixparse.exe")
        shutil.copyfile(artifacts["Brixparse"], exe)
        os.chmod(exe, 0o755)
        with open(os.path.join(device, "fs", "first.reg"), "wb") as f:
            f.write(b'[HKEY_LOCAL_MACHINE\\Software\\Ro]\r\n"v"="before"\r\n')
        with open(os.path.join(device, "fs", "second.reg"), "wb") as f:
            f.write(b'[HKEY_LOCAL_MACHINE\\Software\\Ro]\r\n"v"="after"\r\n"w"="new"\r\n'
                    b'[HKEY_LOCAL_MACHINE\\Software\\Ro\\New]\r\n"x"="new"\r\n')
        assert run_importer(device, "first.reg")[0] == []
        before = subprocess.run([brixdev, "-d", device, "reg", "export"], capture_output=True, check=True).stdout
        os.chmod(device, 0o777)
        os.chmod(os.path.join(device, "registry.db"), 0o444)
        # Root writes any file: the import runs as an unprivileged user then.
        messages, _ = run_importer(device, "second.reg", user=65534 if os.geteuid() == 0 else None)
        assert messages == ["RegCreateKeyEx", "RegCreateKeyEx"], messages
        after = subprocess.run([brixdev, "-d", device, "reg", "export"], capture_output=True, check=True).stdout
        assert after == before, after
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--artifact", action="append", default=[])
    ap.add_argument("--brixdev", required=True)
    ap.add_argument("--runs", type=int, default=2)
    ap.add_argument("--keys", type=int, default=10000)
    ap.add_argument("--size", default="3m")
    args = ap.parse_args()
    artifacts = dict(a.split("=", 1) for a in args.artifact)
    read_only_run(artifacts, args.brixdev)
    print("read-only registry: every key reported, nothing changed")
    if os.geteuid() != 0:
        print("disk-full runs skipped: mounting a tmpfs needs root")
        return SKIP
    for run in range(args.runs):
        result, why = disk_full_run(artifacts, args.keys, args.size)
        if result is None:
            print("disk-full runs skipped: cannot mount a small tmpfs here: " + why)
            return SKIP
        stored, lost, messages, diagnostics = result
        print(f"run {run + 1}: {stored} of {args.keys} keys stored whole, {lost} reported "
              f"({messages} messages, {diagnostics} simulator diagnostics); no orphan, no adoption")
    return 0


if __name__ == "__main__":
    sys.exit(main())
