"""Runs scenario steps on the POSIX device simulator: a device folder whose
fs/ subfolder is the device root, the registry in registry.db beside it."""

import hashlib
import os
import shutil
import subprocess


def device_to_host(root, device_path):
    """Maps a device path to the host path below root, as written (no case folding)."""
    parts = [p for p in device_path.replace("/", "\\").split("\\") if p not in ("", ".")]
    return os.path.join(root, *parts) if parts else root


class SimRunner:
    def __init__(self, workdir, artifacts, brixdev=None, timeout=120):
        self.device = os.path.join(workdir, "device")
        self.root = os.path.join(self.device, "fs")
        self.artifacts = artifacts
        self.brixdev = brixdev
        self.timeout = timeout
        self.placed = set()
        self.placed_digests = set()
        os.makedirs(self.root)

    def env(self):
        env = dict(os.environ)
        env["BRIX_DEVICE"] = self.device
        return env

    def setup_device(self, src_dir):
        shutil.copytree(src_dir, self.root, dirs_exist_ok=True)

    def put(self, artifact, device_path):
        host = device_to_host(self.root, device_path)
        os.makedirs(os.path.dirname(host), exist_ok=True)
        shutil.copyfile(self.artifacts[artifact], host)
        os.chmod(host, 0o755)
        self.placed.add(os.path.normcase(os.path.relpath(host, self.root)))
        with open(host, "rb") as f:
            self.placed_digests.add(hashlib.sha256(f.read()).hexdigest())

    def remove(self, device_path):
        os.remove(device_to_host(self.root, device_path))

    def start(self, device_path, command_line):
        args = [device_to_host(self.root, device_path)]
        if command_line is not None:
            args.append(command_line)
        return subprocess.Popen(args, env=self.env(), stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)

    def run(self, device_path, command_line):
        proc = self.start(device_path, command_line)
        _, err = proc.communicate(timeout=self.timeout)
        return err, proc.returncode

    def files(self):
        out = []
        for dirpath, _, names in os.walk(self.root):
            for name in names:
                host = os.path.join(dirpath, name)
                rel = os.path.relpath(host, self.root)
                if os.path.normcase(rel) in self.placed:
                    continue
                with open(host, "rb") as f:
                    data = f.read()
                digest = hashlib.sha256(data).hexdigest()
                if digest in self.placed_digests:
                    continue
                out.append(("\\" + rel.replace(os.sep, "\\"), len(data), digest))
        return sorted(out)

    def registry_export(self, key):
        args = [self.brixdev, "-d", self.device, "reg", "export"]
        if key:
            args.append(key)
        res = subprocess.run(args, capture_output=True, timeout=self.timeout)
        if res.returncode != 0:
            raise RuntimeError("brixdev failed: " + res.stderr.decode(errors="replace"))
        return res.stdout.decode("utf-8")
