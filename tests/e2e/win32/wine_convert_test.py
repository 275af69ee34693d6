#!/usr/bin/env python3
"""'brixdev reg convert' checked against Wine's regedit: for each export, the
registry that regedit builds from the original equals, value by value, the
registry that the importer builds on the simulator from the converted script,
for everything convertible; what convert leaves out it reports, with the line,
and exactly that.

  wine_convert_test.py --build WIN32-BUILD --brixdev BRIXDEV --importer BRIXPARSE
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from runners.wine import WineRunner, fold, unix_to_wine  # noqa: E402

ARGS = None
V5 = "Windows Registry Editor Version 5.00"


def utf16_hex(text):
    """hex() data of a text as a version-5 export writes it: its UTF-16LE bytes."""
    return ",".join("%02x" % b for b in text.encode("utf-16-le"))


def ansi_hex(text):
    """hex() data of a text as a REGEDIT4 export writes it: its ANSI bytes."""
    return ",".join("%02x" % b for b in text.encode("cp1252"))


def wrapped(head, numbers):
    """A hex value line continued as the desktop editors continue it."""
    lines, line = [], head
    for i, number in enumerate(numbers.split(",")):
        piece = number + ("," if i + 1 < len(numbers.split(",")) else "")
        if len(line) + len(piece) > 76:
            lines.append(line + "\\")
            line = "  "
        line += piece
    return "\n".join(lines + [line])


def body(key, version5, wide):
    """The lines of one export below key: (line, left_out). wide: texts beyond ASCII."""
    text_hex = utf16_hex if version5 else ansi_hex
    lines = [
        ("[%s]" % key, False),
        ('"Path"="C:\\\\Program Files\\\\App"', False),
        ('"Dir"="C:\\\\Temp\\\\"', False),
        ('"Quote"="say \\"hi\\""', False),
        ('"Empty"=""', False),
        ('@="default"', True),
        ('"Count"=dword:0000000a', False),
        ('"Max"=dword:ffffffff', False),
        (wrapped('"Bin"=hex:', ",".join("%02x" % i for i in range(40))), False),
        ('"NoBytes"=hex:', False),
        ('"Exp"=hex(2):' + text_hex("%PATH%\\bin\0"), False),
        ('"Multi"=hex(7):' + text_hex("a\0bc\0\0"), False),
        ('"Qword"=hex(b):01,00,00,00,00,00,00,00', True),
        ('"Semi"="a;b ; c"', False),
        ('"Name;Semi"=dword:00000001', False),
        ('"LineBreak"=hex(1):' + utf16_hex("a\nb\0") if version5 else '"LineBreak"=hex(1):61,0a,62,00', True),
        ("", False),
        ("[%s\\Sub Key]" % key, False),
        ("", False),
        ("[%s\\Bad;Key]" % key, True),
        ('"In"=dword:00000002', False),
        ("", False),
        ("[-%s\\Gone]" % key, True),
        ("", False),
    ]
    if wide:
        lines[17:17] = [
            ('"Text"="grüße"', False),
            ('"Accent"=hex(2):' + text_hex("café\0"), False),
        ]
    if version5:
        lines[17:17] = [
            ('"Euro"="5 €"', False),
            ('"EuroList"=hex(7):' + utf16_hex("€\0x\0\0"), False),
            ('"EuroExp"=hex(2):' + utf16_hex("€\0"), True),
        ]
    return lines


# name, version 5, text encoding, line end, texts beyond ASCII
EXPORTS = [
    ("v5_utf16_crlf", True, "utf-16-le", "\r\n", True),
    ("v5_utf16_lf", True, "utf-16-le", "\n", True),
    ("regedit4_ansi_crlf", False, "cp1252", "\r\n", True),
    ("regedit4_ansi_lf", False, "cp1252", "\n", True),
    # The desktop editors read REGEDIT4 as ANSI: a UTF-8 export agrees with them in ASCII.
    ("regedit4_utf8_lf", False, "utf-8", "\n", False),
]


def export_bytes(key, version5, encoding, newline, wide):
    """The export's bytes, and the line numbers convert must report as left out."""
    lines = [(V5 if version5 else "REGEDIT4", False), ("", False)] + body(key, version5, wide)
    text, left_out, number = "", set(), 1
    for line, out in lines:
        if out:
            left_out.add(number)
        text += line.replace("\n", newline) + newline
        number += line.count("\n") + 1
    data = text.encode(encoding)
    return (b"\xff\xfe" + data) if encoding == "utf-16-le" else data, left_out


def parse_device_export(text):
    """{key folded: {value name folded: line}} of a device export text, comments left out."""
    keys, current = {}, None
    for line in text.split("\n"):
        if line.startswith("["):
            current = keys.setdefault(fold(line[1:line.rindex("]")]), {})
        elif line.startswith('"') and current is not None:
            name = line[1:line.index('"', 1)]
            current[fold(name)] = line
    return keys


class ConvertAgainstWine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="brix-convert-")
        cls.wine = WineRunner(cls.work, {"BrixCopy": os.path.join(ARGS.build, "installer", "BrixCopy.exe")},
                              build=ARGS.build)

    @classmethod
    def tearDownClass(cls):
        cls.wine.close()
        shutil.rmtree(cls.work, ignore_errors=True)

    def simulator_registry(self, script, key):
        device = tempfile.mkdtemp(dir=self.work)
        os.makedirs(os.path.join(device, "fs", "Windows"))
        importer = os.path.join(device, "fs", "Windows", "Brixparse.exe")
        shutil.copy(ARGS.importer, importer)
        shutil.copy(script, os.path.join(device, "fs", "converted.reg"))
        env = dict(os.environ, BRIX_DEVICE=device)
        subprocess.run([importer, "\\converted.reg"], env=env, check=True, timeout=120)
        out = subprocess.run([ARGS.brixdev, "-d", device, "reg", "export", key], capture_output=True, check=True,
                             timeout=120)
        return out.stdout.decode("utf-8")

    def test_each_export(self):
        for index, (name, version5, encoding, newline, wide) in enumerate(EXPORTS):
            with self.subTest(name):
                key = "HKEY_CURRENT_USER\\Software\\BrixConvert%d" % index
                data, left_out = export_bytes(key, version5, encoding, newline, wide)
                original = os.path.join(self.work, name + ".reg")
                converted = os.path.join(self.work, name + ".converted.reg")
                with open(original, "wb") as f:
                    f.write(data)
                res = subprocess.run([ARGS.brixdev, "reg", "convert", original, "-o", converted],
                                     capture_output=True, timeout=120)
                self.assertEqual(res.returncode, 1, res.stderr)
                reported = {int(re.match(r"^.*?:(\d+):\d+: ", line).group(1))
                            for line in res.stderr.decode().splitlines()}
                self.assertEqual(reported, left_out, res.stderr.decode())

                proc = self.wine.wine("regedit", "/S", unix_to_wine(original),
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                self.assertEqual(proc.wait(timeout=120), 0)
                desktop = parse_device_export(self.wine.registry_export(key))
                device = parse_device_export(self.simulator_registry(converted, key))

                # What convert left out is all that may differ.
                for sub in ("\\Bad;Key", "\\Gone"):
                    desktop.pop(fold(key + sub), None)
                for value in ("", "qword", "linebreak", "euroexp"):
                    desktop[fold(key)].pop(value, None)
                self.assertEqual(sorted(device), sorted(desktop))
                for k in desktop:
                    self.assertEqual(device[k], desktop[k], k)
                self.assertIn(fold("Multi"), device[fold(key)])


if __name__ == "__main__":
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--brixdev", required=True)
    ap.add_argument("--importer", required=True)
    ARGS, rest = ap.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)
