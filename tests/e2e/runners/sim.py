"""Runs scenario steps on the POSIX device simulator: a device folder whose
fs/ subfolder is the device root, the registry in registry.db beside it."""

import os
import subprocess

from runners.device import DeviceFolder, device_to_host


class SimRunner(DeviceFolder):
    def __init__(self, workdir, artifacts, brixdev=None, timeout=120):
        self.device = os.path.join(workdir, "device")
        super().__init__(os.path.join(self.device, "fs"), artifacts)
        self.brixdev = brixdev
        self.timeout = timeout

    def env(self):
        env = dict(os.environ)
        env["BRIX_DEVICE"] = self.device
        return env

    def start(self, device_path, command_line, preexec_fn=None):
        """Starts a device program; preexec_fn runs in the child first (a user, limits)."""
        args = [device_to_host(self.root, device_path)]
        if command_line is not None:
            args.append(command_line)
        return subprocess.Popen(args, env=self.env(), stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                preexec_fn=preexec_fn)

    def run(self, device_path, command_line, preexec_fn=None):
        proc = self.start(device_path, command_line, preexec_fn)
        _, err = proc.communicate(timeout=self.timeout)
        return err, proc.returncode

    def registry_export(self, key):
        args = [self.brixdev, "-d", self.device, "reg", "export"]
        if key:
            args.append(key)
        res = subprocess.run(args, capture_output=True, timeout=self.timeout)
        if res.returncode != 0:
            raise RuntimeError("brixdev failed: " + res.stderr.decode(errors="replace"))
        return res.stdout.decode("utf-8")
