"""The device's file system as a host folder, shared by every runner: placing
artifacts, and listing the files the programs left behind."""

import hashlib
import os
import shutil


def device_to_host(root, device_path):
    """Maps a device path to the host path below root, as written (no case folding)."""
    parts = [p for p in device_path.replace("/", "\\").split("\\") if p not in ("", ".")]
    return os.path.join(root, *parts) if parts else root


class DeviceFolder:
    """A host folder standing for the device root "\\"."""

    def __init__(self, root, artifacts):
        self.root = root
        self.artifacts = artifacts
        self.placed = set()
        # Copies of placed artifacts are left out of files() too: their bytes
        # differ from build to build.
        self.placed_digests = set()
        os.makedirs(self.root)

    def setup_device(self, src_dir):
        shutil.copytree(src_dir, self.root, dirs_exist_ok=True)

    def put(self, artifact, device_path):
        host = device_to_host(self.root, device_path)
        os.makedirs(os.path.dirname(host), exist_ok=True)
        shutil.copyfile(self.artifacts[artifact], host)
        os.chmod(host, 0o755)
        self.placed.add(os.path.relpath(host, self.root))
        with open(host, "rb") as f:
            self.placed_digests.add(hashlib.sha256(f.read()).hexdigest())

    def remove(self, device_path):
        os.remove(device_to_host(self.root, device_path))

    def files(self):
        """Every file on the device but the placed ones: (device path, size, SHA-256), sorted."""
        out = []
        for dirpath, _, names in os.walk(self.root):
            for name in names:
                host = os.path.join(dirpath, name)
                rel = os.path.relpath(host, self.root)
                if rel in self.placed:
                    continue
                with open(host, "rb") as f:
                    data = f.read()
                digest = hashlib.sha256(data).hexdigest()
                if digest in self.placed_digests:
                    continue
                out.append(("\\" + rel.replace(os.sep, "\\"), len(data), digest))
        return sorted(out)
