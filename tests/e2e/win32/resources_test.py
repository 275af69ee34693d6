#!/usr/bin/env python3
"""Reads the resources compiled into the Windows programs and checks them:
the installer's progress dialog 101 field by field, and the importer's icon
group 102 (a 16 by 16 and a 32 by 32 image of 16 colours).

  resources_test.py WIN32_BUILD_DIR
"""
import os
import struct
import sys
import unittest

BUILD = None
RT_ICON, RT_DIALOG, RT_GROUP_ICON = 3, 5, 14


class PeResources:
    """The resource tree of a PE file: {type: {id: bytes}} (first language of each)."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        sections, optional_size = struct.unpack_from("<H12xH", self.data, pe + 6)
        optional = pe + 24
        magic = struct.unpack_from("<H", self.data, optional)[0]
        directories = optional + (112 if magic == 0x20B else 96)
        self.rva, _ = struct.unpack_from("<II", self.data, directories + 2 * 8)
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            vsize, vaddr, rawsize, rawptr = struct.unpack_from("<IIII", self.data, table + 40 * i + 8)
            self.sections.append((vaddr, max(vsize, rawsize), rawptr))
        self.base = self.offset(self.rva)

    def offset(self, rva):
        for vaddr, size, rawptr in self.sections:
            if vaddr <= rva < vaddr + size:
                return rva - vaddr + rawptr
        raise ValueError("address outside every section")

    def entries(self, directory):
        named, ids = struct.unpack_from("<HH", self.data, self.base + directory + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", self.data, self.base + directory + 16 + 8 * i)
            yield name, target

    def get(self, kind, ident):
        for name, target in self.entries(0):
            if name != kind:
                continue
            for name2, target2 in self.entries(target & 0x7FFFFFFF):
                if name2 != ident:
                    continue
                _, leaf = next(self.entries(target2 & 0x7FFFFFFF))
                rva, size = struct.unpack_from("<II", self.data, self.base + leaf)
                start = self.offset(rva)
                return self.data[start:start + size]
        return None


def read_sz_or_ordinal(data, pos):
    """A template field: 0 (none), 0xFFFF + ordinal, or a zero-terminated wide string."""
    first = struct.unpack_from("<H", data, pos)[0]
    if first == 0:
        return None, pos + 2
    if first == 0xFFFF:
        return ("ordinal", struct.unpack_from("<H", data, pos + 2)[0]), pos + 4
    end = pos
    while struct.unpack_from("<H", data, end)[0] != 0:
        end += 2
    return data[pos:end].decode("utf-16-le"), end + 2


def parse_dialog(data):
    """A DLGTEMPLATE with its items, as dictionaries."""
    if struct.unpack_from("<HH", data, 0) == (1, 0xFFFF):
        raise ValueError("extended template: the device reads only the plain form")
    style, exstyle, count, x, y, cx, cy = struct.unpack_from("<IIHhhhh", data, 0)
    pos = 18
    menu, pos = read_sz_or_ordinal(data, pos)
    klass, pos = read_sz_or_ordinal(data, pos)
    title, pos = read_sz_or_ordinal(data, pos)
    dialog = dict(style=style, exstyle=exstyle, rect=(x, y, cx, cy), menu=menu, klass=klass,
                  title=title or "", items=[])
    if style & 0x40:  # DS_SETFONT
        dialog["points"] = struct.unpack_from("<H", data, pos)[0]
        dialog["font"], pos = read_sz_or_ordinal(data, pos + 2)
    for _ in range(count):
        pos = (pos + 3) & ~3
        style, exstyle, x, y, cx, cy, ident = struct.unpack_from("<IIhhhhH", data, pos)
        pos += 18
        klass, pos = read_sz_or_ordinal(data, pos)
        text, pos = read_sz_or_ordinal(data, pos)
        extra = struct.unpack_from("<H", data, pos)[0]
        pos += 2 + extra
        dialog["items"].append(dict(style=style, exstyle=exstyle, rect=(x, y, cx, cy),
                                    id=struct.unpack("<h", struct.pack("<H", ident))[0],
                                    klass=klass, text=text or ""))
    return dialog


class InstallerDialogTest(unittest.TestCase):
    def test_progress_dialog_template(self):
        data = PeResources(os.path.join(BUILD, "installer", "BrixCopy.exe")).get(RT_DIALOG, 101)
        self.assertIsNotNone(data, "no dialog 101")
        dialog = parse_dialog(data)
        self.assertEqual(dialog["style"], 0x900008C0)
        self.assertEqual(dialog["exstyle"], 0x00020200)
        self.assertEqual(dialog["rect"], (0, 0, 99, 19))
        self.assertEqual((dialog["menu"], dialog["klass"], dialog["title"]), (None, None, ""))
        self.assertEqual((dialog["points"], dialog["font"]), (16, "Tahoma"))
        static = ("ordinal", 0x0082)
        centred_child = 0x50020001  # WS_CHILD | WS_VISIBLE | WS_GROUP | SS_CENTER
        expected = [
            dict(style=centred_child, exstyle=0, rect=(2, 2, 96, 11), id=-1, klass=static,
                 text="Copying files, please wait..."),
            dict(style=centred_child, exstyle=0, rect=(5, 10, 89, 8), id=1000, klass=static, text=""),
        ]
        self.assertEqual(dialog["items"], expected)


class ImporterIconTest(unittest.TestCase):
    def test_icon_group_holds_16_and_32_pixel_16_colour_images(self):
        resources = PeResources(os.path.join(BUILD, "regimport", "Brixparse.exe"))
        group = resources.get(RT_GROUP_ICON, 102)
        self.assertIsNotNone(group, "no icon group 102")
        _, kind, count = struct.unpack_from("<HHH", group, 0)
        self.assertEqual((kind, count), (1, 2))
        sizes = []
        for i in range(count):
            w, h, colours, _, planes, bpp, size, ident = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
            image = resources.get(RT_ICON, ident)
            self.assertIsNotNone(image, "icon image %d missing" % ident)
            self.assertEqual(len(image), size)
            header = struct.unpack_from("<IiiHH", image, 0)
            self.assertEqual(header, (40, w, 2 * h, 1, 4))
            self.assertEqual((colours, planes, bpp), (16, 1, 4))
            sizes.append((w, h))
        self.assertEqual(sorted(sizes), [(16, 16), (32, 32)])


class ManifestTest(unittest.TestCase):
    def test_programs_declare_utf8_code_page(self):
        for program in (("installer", "BrixCopy.exe"), ("regimport", "Brixparse.exe"),
                        ("tests/e2e/win32", "brixdbg.exe")):
            with self.subTest(program[1]):
                manifest = PeResources(os.path.join(BUILD, *program)).get(24, 1)
                self.assertIsNotNone(manifest, "no manifest")
                self.assertIn(b">UTF-8</activeCodePage>", manifest)


class ParserTest(unittest.TestCase):
    """The template reader must see each field where the format puts it."""

    def test_reads_a_hand_made_template(self):
        title = "T".encode("utf-16-le") + b"\0\0"
        head = struct.pack("<IIHhhhh", 0x80C80040, 0x200, 1, 1, 2, 3, 4) + b"\0\0" + b"\0\0" + title
        head += struct.pack("<H", 9) + "A".encode("utf-16-le") + b"\0\0"
        head += b"\0" * ((4 - len(head) % 4) % 4)
        item = struct.pack("<IIhhhhH", 0x50000000, 0, 5, 6, 7, 8, 0xFFFF) + struct.pack("<HH", 0xFFFF, 0x82)
        item += "x".encode("utf-16-le") + b"\0\0" + b"\0\0"
        dialog = parse_dialog(head + item)
        self.assertEqual((dialog["rect"], dialog["title"], dialog["font"], dialog["points"]),
                         ((1, 2, 3, 4), "T", "A", 9))
        self.assertEqual(dialog["items"][0]["id"], -1)
        self.assertEqual(dialog["items"][0]["rect"], (5, 6, 7, 8))
        self.assertEqual(dialog["items"][0]["text"], "x")
        with self.assertRaises(ValueError):
            parse_dialog(struct.pack("<HH", 1, 0xFFFF) + b"\0" * 40)


if __name__ == "__main__":
    BUILD = sys.argv.pop(1)
    unittest.main()
