#!/usr/bin/env python3
"""The device-API check passes on the Windows build and catches what it is for.

  device_api_test.py BUILD/win32/device_api.json
"""
import json
import pathlib
import subprocess
import sys
import tempfile
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
CHECK = ROOT / "tools" / "check_device_api.py"
DOC = ROOT / "docs" / "windows.md"
MANIFEST = None  # set from the command line


def run(manifest, doc=DOC):
    return subprocess.run([sys.executable, str(CHECK), str(manifest), "--list", str(doc)],
                          capture_output=True, text=True)


class DeviceApiTest(unittest.TestCase):
    def setUp(self):
        self.manifest = json.loads(MANIFEST.read_text(encoding="utf-8"))
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = pathlib.Path(self.tmp.name)

    def tearDown(self):
        self.tmp.cleanup()

    def check_sources(self, sources):
        """Compiles each (name, source, include <windows.h>) to an object; checks them together."""
        objects, compilers = [], []
        for name, source, windows_h in sources:
            cc = self.dir / f"{name}.cc"
            prefix = "#define WIN32_LEAN_AND_MEAN\n#include <windows.h>\n#include <cwchar>\n"
            cc.write_text((prefix if windows_h else "") + source)
            objects.append(str(self.dir / f"{name}.obj"))
            compilers.append(subprocess.Popen(
                [self.manifest["compiler"], "-DUNICODE", "-O1", "-c", str(cc), "-o", objects[-1]]))
        for compiler in compilers:
            self.assertEqual(compiler.wait(), 0)
        path = self.dir / "snippets.json"
        path.write_text(json.dumps(dict(self.manifest, objects=objects)))
        return run(path), objects

    def test_windows_build_passes(self):
        result = run(MANIFEST)
        self.assertEqual(result.returncode, 0, result.stdout)
        self.assertIn(f"{len(self.manifest['objects'])} objects use only functions the device provides",
                      result.stdout)

    def test_calls_outside_the_list_are_reported(self):
        # (name, source, include <windows.h>, what is reported)
        cases = [
            ("desktop_only", 'extern "C" DWORD f(wchar_t* b) { return GetCurrentDirectoryW(260, b); }',
             True, "GetCurrentDirectoryW (libkernel32.a)"),
            ("ansi_form", 'extern "C" HANDLE f() {'
                          ' return CreateFileA("x", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr); }',
             True, "CreateFileA (libkernel32.a)"),
            ("other_library", 'extern "C" LONG f(HKEY k) { return RegDeleteTreeW(k, L"x"); }',
             True, "RegDeleteTreeW (libadvapi32.a)"),
            # Declared here, not by <windows.h>: a plain reference instead of an import.
            ("declared_without_import",
             'extern "C" unsigned long long GetTickCount64();\n'
             'extern "C" unsigned long long f() { return GetTickCount64(); }',
             False, "GetTickCount64 (libkernel32.a)"),
            ("unknown_library",
             'extern "C" __declspec(dllimport) int BrixUnknownImport();\n'
             'extern "C" int f() { return BrixUnknownImport(); }',
             False, "BrixUnknownImport (an unknown library)"),
        ]
        result, objects = self.check_sources([case[:3] for case in cases])
        self.assertEqual(result.returncode, 1, result.stdout)
        expected = [f"{obj}: error: {case[3]} is not among the device's functions in {DOC}"
                    for obj, case in zip(objects, cases)]
        self.assertEqual(sorted(result.stdout.splitlines()), sorted(expected))

    def test_listed_functions_stand_ins_and_the_runtime_pass(self):
        source = '''
extern "C" void* f(const wchar_t* path, HMODULE m) {
  wchar_t* copy = new wchar_t[std::wcslen(path) + 1];
  std::wcscpy(copy, path);
  HANDLE h = CreateFileW(copy, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  delete[] copy;
  CloseHandle(h);
  return reinterpret_cast<void*>(GetProcAddress(m, "DllRegisterServer"));
}'''
        result, _ = self.check_sources([("allowed", source, True)])
        self.assertEqual(result.returncode, 0, result.stdout)

    def test_the_list_is_read_from_the_document(self):
        text = DOC.read_text(encoding="utf-8")
        row = "| `CreateFileW` | winbase.h | |\n"
        self.assertIn(row, text)
        without = self.dir / "without.md"
        without.write_text(text.replace(row, ""))
        result = run(MANIFEST, without)
        self.assertEqual(result.returncode, 1)
        self.assertRegex(result.stdout, r"files\.cc\.obj: error: CreateFileW \(libkernel32\.a\) is not among")
        self.assertEqual(result.stdout.count("error:"), 1, result.stdout)

        no_section = self.dir / "no_section.md"
        no_section.write_text(text.replace("## The device's functions", "## Something else"))
        result = run(MANIFEST, no_section)
        self.assertEqual(result.returncode, 1)
        self.assertIn("has no function list", result.stdout)


if __name__ == "__main__":
    MANIFEST = pathlib.Path(sys.argv.pop(1))
    unittest.main()
