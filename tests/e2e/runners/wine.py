"""Runs scenario steps on the Windows builds under Wine.

The device root is a throw-away folder mounted as Wine drive D:, and the
programs run from that drive, each under brixdbg.exe (a small debugger of
ours) which hands back everything they and the programs they start write to
the debug output. Every runner has its own light Wine prefix: its own
registry files and drive letters, sharing drive C: with one template prefix
that is created once in the Windows build tree (<build>/wineprefix). Windows
need a display: the runner starts its own Xvfb server unless given one.

Options (run_scenario.py --option KEY=VALUE):
  build=DIR      the Windows build tree (default: two levels above BrixCopy.exe)
  display=:N     an X display to use instead of a private Xvfb server
  timeout=SEC    time limit of one program run (default 120)
"""

import fcntl
import os
import shutil
import subprocess
import tempfile

from runners.device import DeviceFolder

DRIVE = "D:"
WINE_ENV = {
    "WINEDEBUG": "-all",
    "WINEDLLOVERRIDES": "mscoree,mshtml=",  # no Mono or Gecko install prompts
    "LC_ALL": "C.UTF-8",  # command lines pass through Wine as UTF-8
}


def wine_program():
    for name in ("wine64", "wine"):
        path = shutil.which(name)
        if path:
            return path
    raise RuntimeError("Wine is not installed")


def device_to_wine(device_path):
    """The Windows path of a device path on the device drive (leading backslashes collapse)."""
    return DRIVE + "\\" + device_path.lstrip("\\")


def unix_to_wine(path):
    """The Windows path of a host file through drive Z: (the host's root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def ensure_template(build, env):
    """Creates the template prefix <build>/wineprefix once; safe against parallel runners."""
    template = os.path.join(build, "wineprefix")
    with open(os.path.join(build, "wineprefix.lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.path.exists(os.path.join(template, "system.reg")):
            os.makedirs(template, exist_ok=True)
            boot_env = dict(env, WINEPREFIX=template)
            boot_env.pop("DISPLAY", None)
            subprocess.run([wine_program(), "wineboot", "-i"], env=boot_env, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600)
            # The registry files are complete once the prefix's server has ended.
            subprocess.run(["wineserver", "-w"], env=boot_env, check=True, timeout=600)
    return template


def start_xvfb():
    """Starts a private Xvfb server; returns (process, display name)."""
    read_end, write_end = os.pipe()
    proc = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                             "-nolisten", "tcp"], pass_fds=(write_end,),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    with os.fdopen(read_end, "rb") as f:
        while not number.endswith(b"\n"):
            chunk = f.read(1)
            if not chunk:
                proc.kill()
                raise RuntimeError("Xvfb did not start")
            number += chunk
    return proc, ":" + number.decode().strip()


# Services a prefix starts with its first program that no program here uses:
# left to start on demand, they cost a new prefix seconds less.
IDLE_SERVICES = ("Eventlog", "NDIS", "nsiproxy", "PlugPlay")


def on_demand(system_reg, services):
    """The text of a system.reg with the named services set from automatic to on-demand start."""
    blocks = system_reg.split("\n\n")
    for i, block in enumerate(blocks):
        head = block.split("\n", 1)[0]
        for name in services:
            if head.startswith("[System\\\\CurrentControlSet\\\\Services\\\\%s]" % name):
                blocks[i] = block.replace('"Start"=dword:00000002', '"Start"=dword:00000003')
    return "\n\n".join(blocks)


# ---- Registry export: Wine's export text to the device export format ----

ROOT_ORDER = {"HKEY_CLASSES_ROOT": 0, "HKEY_CURRENT_USER": 1, "HKEY_LOCAL_MACHINE": 2}
MAX_NAME_UNITS = 255
MAX_DATA_BYTES = 1 << 20


def fold(text):
    """Name folding for sorting: ASCII and Latin-1 capitals (not U+00D7) to small letters."""
    return "".join(chr(ord(c) + 0x20) if "A" <= c <= "Z" or ("\u00c0" <= c <= "\u00de" and c != "\u00d7")
                   else c for c in text)


def _unescape(text):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            nxt = text[i + 1]
            out.append({"n": "\n", "r": "\r", "0": "\0"}.get(nxt, nxt))
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def _quoted(text, start):
    """Reads an escaped quoted string starting at text[start] == '"'; returns (value, index after)."""
    i = start + 1
    while i < len(text):
        if text[i] == "\\":
            i += 2
            continue
        if text[i] == '"':
            return _unescape(text[start + 1:i]), i + 1
        i += 1
    raise ValueError("unterminated string: " + text)


def _logical_lines(text):
    lines, pending = [], ""
    for line in text.replace("\r\n", "\n").split("\n"):
        if pending:
            line = pending + line.lstrip(" ")
            pending = ""
        if line.endswith("\\") and not line.startswith("[") and "=hex" in line:
            pending = line[:-1]
            continue
        lines.append(line)
    return lines


def parse_wine_export(text):
    """Wine's registry export text as [(key path, [(name, type, data bytes)])]."""
    keys = []
    for line in _logical_lines(text):
        if not line or line.startswith("Windows Registry Editor") or line.startswith(";"):
            continue
        if line.startswith("["):
            keys.append((line[1:line.rindex("]")], []))
            continue
        if line.startswith("@="):
            name, rest = "", line[2:]
        else:
            name, end = _quoted(line, 0)
            if line[end:end + 1] != "=":
                raise ValueError("no '=' in " + line)
            rest = line[end + 1:]
        if rest.startswith('"'):
            value, _ = _quoted(rest, 0)
            kind, data = 1, value.encode("utf-16-le", "surrogatepass") + b"\0\0"
        elif rest.startswith("dword:"):
            kind, data = 4, int(rest[6:], 16).to_bytes(4, "little")
        elif rest.startswith("hex"):
            head, _, body = rest.partition(":")
            kind = 3 if head == "hex" else int(head[4:-1], 16)
            data = bytes(int(b, 16) for b in body.split(",") if b.strip())
        else:
            raise ValueError("unknown value form: " + line)
        keys[-1][1].append((name, kind, data))
    return keys


def _well_formed(text):
    try:
        text.encode("utf-16-le")
        return True
    except UnicodeEncodeError:
        return False


def _units(data):
    return [data[i] | (data[i + 1] << 8) for i in range(0, len(data) - 1, 2)]


def _hex_list(values):
    return ",".join("%02x" % (v & 0xFF) for v in values)


def _comment_text(text):
    out = []
    for c in text:
        if ord(c) < 0x20 or c == ";" or 0xD800 <= ord(c) <= 0xDFFF:
            out.append("\\u%04x" % ord(c))
        else:
            out.append(c)
    return "".join(out)


def _comment(name, kind, data):
    line = '; "%s" type %d:' % (_comment_text(name), kind)
    return line + (" " + _hex_list(data) if data else "")


def _reads_back(line):
    if "\n" in line or not _well_formed(line):
        return False
    if line and line[-1] in " \t\\":
        return False
    semicolon = line.rfind(";")
    return semicolon < 0 or line.rfind('"') > semicolon


def _string_text(data):
    if len(data) < 2 or len(data) % 2 or len(data) > MAX_DATA_BYTES:
        return None
    units = _units(data)
    if units[-1] != 0 or any(u in (0, 0x0A) for u in units[:-1]):
        return None
    text = b"".join(u.to_bytes(2, "little") for u in units[:-1]).decode("utf-16-le", "surrogatepass")
    return text if _well_formed(text) else None


def _string_list(data):
    """The multi_sz form "a","b" of a type-7 list: texts, each terminated, then the
    closing terminator, none holding "," or a line feed; None where it is none."""
    units = _units(data)
    if not units or units[-1] != 0:
        return None
    items, item = [], []
    for u in units[:-1]:
        if u == 0:
            items.append(item)
            item = []
        elif u in (0x2C, 0x0A):
            return None
        else:
            item.append(u)
    if item:
        return None
    return ",".join('"' + b"".join(u.to_bytes(2, "little") for u in it).decode("utf-16-le", "surrogatepass") + '"'
                    for it in items)


def format_value(name, kind, data):
    """One value line as the device export writes it."""
    if len(name) > MAX_NAME_UNITS or '"' in name or "\n" in name or not _well_formed(name):
        return _comment(name, kind, data)
    head = '"%s"=' % name
    line = None
    if kind == 1:
        text = _string_text(data)
        if text is not None:
            line = head + '"' + text + '"'
    elif kind == 4 and len(data) == 4:
        line = head + "dword:%08x" % int.from_bytes(data, "little")
    elif kind == 3 and len(data) <= MAX_DATA_BYTES:
        line = head + "hex:" + _hex_list(data)
    elif kind in (2, 7) and len(data) % 2 == 0 and len(data) <= MAX_DATA_BYTES \
            and all(data[i] == 0 for i in range(1, len(data), 2)):
        line = head + "hex(%d):" % kind + _hex_list(_units(data))
    elif kind == 7 and len(data) % 2 == 0 and len(data) <= MAX_DATA_BYTES and _string_list(data) is not None:
        line = head + "multi_sz:" + _string_list(data)
    if line is None or not _reads_back(line):
        return _comment(name, kind, data)
    return line


def format_export(keys):
    """The device export text of [(key path, [(name, type, data)])]."""
    def order(entry):
        root, _, rest = entry[0].partition("\\")
        return (ROOT_ORDER.get(root, 99), [fold(part) for part in rest.split("\\")] if rest else [])

    out = ["REGEDIT4\n\n"]
    for path, values in sorted(keys, key=order):
        if "\\" not in path and not values:
            continue
        values = sorted(values, key=lambda v: fold(v[0]))
        # A root that holds values is written with a final backslash, as the device export does.
        key_line = "[" + (path if "\\" in path else path + "\\") + "]"
        if _reads_back(key_line) and "]" not in path:
            out.append(key_line + "\n")
            out.extend(format_value(*v) + "\n" for v in values)
        else:
            out.append("; " + _comment_text(key_line) + "\n")
            out.extend(_comment(*v) + "\n" for v in values)
        out.append("\n")
    return "".join(out)


class WineRunner(DeviceFolder):
    def __init__(self, workdir, artifacts, build=None, display=None, timeout="120"):
        super().__init__(os.path.join(workdir, "device"), artifacts)
        self.timeout = float(timeout)
        self.build = os.path.abspath(build or os.path.dirname(os.path.dirname(artifacts["BrixCopy"])))
        self.debugger = os.path.join(self.build, "tests", "e2e", "win32", "brixdbg.exe")
        self.workdir = workdir
        self.prefix = os.path.join(workdir, "wineprefix")
        self.xvfb = None
        base = dict(os.environ, **WINE_ENV)
        template = ensure_template(self.build, base)
        self._make_prefix(template)
        if display is None:
            self.xvfb, display = start_xvfb()
        self.environ = dict(base, WINEPREFIX=self.prefix, DISPLAY=display)
        try:
            # One server for the runner's lifetime: a fresh server per program would
            # start the prefix's system services again each time (seconds each).
            subprocess.run(["wineserver", "-p"], env=self.environ, check=True, timeout=60,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            # The prefix's services start with its first program and live on; started
            # here, they hold none of the output files of the programs under test.
            self.wine("wineboot", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).wait(
                timeout=self.timeout)
        except BaseException:
            self.close()
            raise

    def _make_prefix(self, template):
        """A prefix of its own registry and drives; drive C: is the template's."""
        devices = os.path.join(self.prefix, "dosdevices")
        os.makedirs(devices)
        for name in ("user.reg", "userdef.reg", ".update-timestamp"):
            shutil.copy2(os.path.join(template, name), os.path.join(self.prefix, name))
        with open(os.path.join(template, "system.reg"), encoding="latin-1") as f:
            system = f.read()
        with open(os.path.join(self.prefix, "system.reg"), "w", encoding="latin-1") as f:
            f.write(on_demand(system, IDLE_SERVICES))
        os.symlink(os.path.join(template, "drive_c"), os.path.join(devices, "c:"))
        os.symlink(self.root, os.path.join(devices, "d:"))
        os.symlink("/", os.path.join(devices, "z:"))

    def close(self):
        subprocess.run(["wineserver", "-k"], env=self.environ, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
        if self.xvfb is not None:
            self.xvfb.terminate()
            self.xvfb.wait(timeout=30)
            self.xvfb = None

    def wine(self, *args, **kwargs):
        """Starts a Wine program in this runner's prefix."""
        return subprocess.Popen([wine_program(), *args], env=self.environ, stdin=subprocess.DEVNULL,
                                **kwargs)

    def start(self, device_path, command_line, output):
        """Starts a device program under the debugger, its debug output going to the open file output.

        A file, not a pipe: Wine's helper processes may inherit the descriptor and
        outlive the program, so the end of the program is its exit, never end-of-file.
        """
        args = [self.debugger, device_to_wine(device_path)]
        if command_line is not None:
            args.append(command_line)
        return self.wine(*args, stdout=output, stderr=subprocess.DEVNULL)

    def run(self, device_path, command_line):
        with tempfile.TemporaryFile(dir=self.workdir) as output:
            proc = self.start(device_path, command_line, output)
            code = proc.wait(timeout=self.timeout)
            output.seek(0)
            return output.read(), code

    def registry_export(self, key):
        if not key:
            raise NotImplementedError("a Wine registry holds more than the device's: name a key")
        with tempfile.TemporaryDirectory(dir=self.workdir) as tmp:
            target = os.path.join(tmp, "export.reg")
            proc = self.wine("reg", "export", key, unix_to_wine(target), "/y",
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if proc.wait(timeout=self.timeout) != 0 or not os.path.exists(target):
                raise RuntimeError("no such key: " + key)
            with open(target, "rb") as f:
                text = f.read().decode("utf-16")
        return format_export(parse_wine_export(text))
