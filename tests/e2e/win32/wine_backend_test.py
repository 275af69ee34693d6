#!/usr/bin/env python3
"""Runs backend_check.exe (checks of the Win32 backend) from the device drive
under Wine and expects every check to pass.

  wine_backend_test.py WIN32_BUILD_DIR
"""
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from runners.wine import WineRunner  # noqa: E402

BUILD = None
CHECKS = ["module_path", "path_forms", "searches", "files", "libraries", "processes", "sync",
          "registry"]


class BackendTest(unittest.TestCase):
    def test_every_check_passes(self):
        workdir = tempfile.mkdtemp(prefix="brix-wine-")
        self.addCleanup(shutil.rmtree, workdir, True)
        win32 = os.path.join(BUILD, "tests", "e2e", "win32")
        artifacts = {"BrixCopy": os.path.join(BUILD, "installer", "BrixCopy.exe"),
                     "backend_check": os.path.join(win32, "backend_check.exe"),
                     "recorder": os.path.join(win32, "recorder.exe"),
                     "testreg": os.path.join(win32, "testreg.dll")}
        runner = WineRunner(workdir, artifacts, build=BUILD)
        self.addCleanup(runner.close)
        for name in ("backend_check.exe", "recorder.exe", "testreg.dll"):
            runner.put(name.split(".")[0], "\\Tests\\" + name)
        out, code = runner.run("\\Tests\\backend_check.exe", None)
        text = out.decode("utf-8")
        self.assertEqual(text, "".join("ok %s\r\n" % name for name in CHECKS))
        self.assertEqual(code, 0)


if __name__ == "__main__":
    BUILD = os.path.abspath(sys.argv.pop(1))
    unittest.main()
