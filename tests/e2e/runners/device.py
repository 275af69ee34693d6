"""The device's file system as a host folder, shared by every runner: placing
artifacts, and listing the files the programs left behind."""

import errno
import fcntl
import hashlib
import os
import shutil
import struct

FS_IOC_GETFLAGS = 0x80086601
FS_IOC_SETFLAGS = 0x40086602
FS_IMMUTABLE_FL = 0x10


def set_immutable(path, on):
    """Sets or clears a folder's immutable flag: no entry can be added, even by root."""
    fd = os.open(path, os.O_RDONLY | os.O_DIRECTORY)
    try:
        flags = struct.unpack("<i", fcntl.ioctl(fd, FS_IOC_GETFLAGS, b"\0" * 8)[:4])[0]
        flags = flags | FS_IMMUTABLE_FL if on else flags & ~FS_IMMUTABLE_FL
        fcntl.ioctl(fd, FS_IOC_SETFLAGS, struct.pack("<i", flags) + b"\0" * 4)
    finally:
        os.close(fd)


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
        self.readonly = []
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

    def make_readonly(self, device_path):
        """Makes a folder read-only for every user, root included (its immutable flag;
        without the right to set it, a user who is not root takes its write permission)."""
        host = device_to_host(self.root, device_path)
        try:
            set_immutable(host, True)
        except OSError as e:
            if e.errno not in (errno.EPERM, errno.ENOTTY, errno.EOPNOTSUPP) or os.geteuid() == 0:
                raise RuntimeError("cannot make %s read-only for root: %s" % (host, e)) from e
            os.chmod(host, 0o555)
        self.readonly.append(host)

    def release_readonly(self):
        """Makes the read-only folders writable again, so that the device can be removed."""
        for host in self.readonly:
            try:
                set_immutable(host, False)
            except OSError:
                pass
            os.chmod(host, 0o755)
        self.readonly = []

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
