#!/usr/bin/env python3
"""Wine's registry export text converted to the device export format: what the
Wine runner compares with a scenario's expected registry.txt."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from runners.wine import format_export, format_value, parse_wine_export  # noqa: E402

HEADER = "Windows Registry Editor Version 5.00\r\n\r\n"


class ParseTest(unittest.TestCase):
    CASES = [
        ('"Name"="Value"', ("Name", 1, "Value\0".encode("utf-16-le"))),
        ('"Empty"=""', ("Empty", 1, b"\0\0")),
        (r'"Path"="\\Temp\\a;b"', ("Path", 1, "\\Temp\\a;b\0".encode("utf-16-le"))),
        (r'"q\"n"="a\"b\nc"', ('q"n', 1, 'a"b\nc\0'.encode("utf-16-le"))),
        ('@="default"', ("", 1, "default\0".encode("utf-16-le"))),
        ('"Count"=dword:0000000a', ("Count", 4, b"\x0a\0\0\0")),
        ('"Bin"=hex:01,02,ff', ("Bin", 3, b"\x01\x02\xff")),
        ('"Nothing"=hex:', ("Nothing", 3, b"")),
        ('"Exp"=hex(2):25,00,00,00', ("Exp", 2, b"\x25\0\0\0")),
        ('"Odd"=hex(4):01,02', ("Odd", 4, b"\x01\x02")),
        ('"Big"=hex(100):00', ("Big", 0x100, b"\0")),
        ('"Long"=hex:01,02,\\\r\n  03,04', ("Long", 3, b"\x01\x02\x03\x04")),
    ]

    def test_value_lines(self):
        for line, value in self.CASES:
            with self.subTest(line):
                keys = parse_wine_export(HEADER + "[HKEY_CURRENT_USER\\K]\r\n" + line + "\r\n\r\n")
                self.assertEqual(keys, [("HKEY_CURRENT_USER\\K", [value])])

    def test_malformed_lines_are_refused(self):
        for line in ['"a"', '"a"=zzz:1', '"a"="open']:
            with self.subTest(line):
                with self.assertRaises(ValueError):
                    parse_wine_export(HEADER + "[HKEY_CURRENT_USER\\K]\r\n" + line + "\r\n")


class FormatValueTest(unittest.TestCase):
    CASES = [
        (("Name", 1, "Value\0".encode("utf-16-le")), '"Name"="Value"'),
        (("T", 1, "café €\0".encode("utf-16-le")), '"T"="café €"'),
        (("Semi", 1, "a;b\0".encode("utf-16-le")), '"Semi"="a;b"'),
        (("NoEnd", 1, "ab".encode("utf-16-le")), '; "NoEnd" type 1: 61,00,62,00'),
        (("Lf", 1, "a\nb\0".encode("utf-16-le")), '; "Lf" type 1: 61,00,0a,00,62,00,00,00'),
        (("C", 4, b"\x10\0\0\0"), '"C"=dword:00000010'),
        (("Short", 4, b"\x10\0"), '; "Short" type 4: 10,00'),
        (("B", 3, b""), '"B"=hex:'),
        (("L", 7, b"A\0\0\0B\0\0\0\0\0"), '"L"=hex(7):41,00,42,00,00'),
        (("W", 2, "€\0".encode("utf-16-le")), '; "W" type 2: ac,20,00,00'),
        (("WL", 7, "€\0x\0\0".encode("utf-16-le")), '"WL"=multi_sz:"€","x"'),
        (("WC", 7, "€,x\0\0".encode("utf-16-le")), '; "WC" type 7: ac,20,2c,00,78,00,00,00,00,00'),
        (("X", 11, b"\x01"), '; "X" type 11: 01'),
        (("Q\"", 1, "v\0".encode("utf-16-le")), '; "Q"" type 1: 76,00,00,00'),
        (("a;b", 3, b""), '"a;b"=hex:'),  # the closing quote stands behind the ";"
        (("a\nb", 3, b"\x01"), '; "a\\u000ab" type 3: 01'),
    ]

    def test_each_form(self):
        for value, line in self.CASES:
            with self.subTest(value[0]):
                self.assertEqual(format_value(*value), line)


class FormatExportTest(unittest.TestCase):
    def test_keys_and_values_sorted_without_case_and_by_tree(self):
        text = (HEADER +
                "[HKEY_LOCAL_MACHINE\\Software\\B]\r\n\"z\"=dword:00000001\r\n\"A\"=\"1\"\r\n\r\n"
                "[HKEY_LOCAL_MACHINE\\Software\\a]\r\n\r\n"
                "[HKEY_LOCAL_MACHINE\\Software\\a\\Kid]\r\n\r\n"
                "[HKEY_LOCAL_MACHINE\\Software\\a-b]\r\n\r\n"
                "[HKEY_CURRENT_USER\\X]\r\n\r\n")
        self.assertEqual(format_export(parse_wine_export(text)),
                         "REGEDIT4\n\n"
                         "[HKEY_CURRENT_USER\\X]\n\n"
                         "[HKEY_LOCAL_MACHINE\\Software\\a]\n\n"
                         "[HKEY_LOCAL_MACHINE\\Software\\a\\Kid]\n\n"
                         "[HKEY_LOCAL_MACHINE\\Software\\a-b]\n\n"
                         "[HKEY_LOCAL_MACHINE\\Software\\B]\n\"A\"=\"1\"\n\"z\"=dword:00000001\n\n")

    def test_roots(self):
        keys = [("HKEY_LOCAL_MACHINE", []), ("HKEY_CURRENT_USER", [("v", 3, b"\x01")])]
        self.assertEqual(format_export(keys), "REGEDIT4\n\n[HKEY_CURRENT_USER\\]\n\"v\"=hex:01\n\n")

    def test_key_the_importer_cannot_name_becomes_comments(self):
        keys = [("HKEY_CURRENT_USER\\a]b", [("v", 1, "x\0".encode("utf-16-le"))])]
        self.assertEqual(format_export(keys),
                         "REGEDIT4\n\n; [HKEY_CURRENT_USER\\a]b]\n; \"v\" type 1: 78,00,00,00\n\n")


if __name__ == "__main__":
    unittest.main()
