#!/usr/bin/env python3
"""The installer under Wine, with real processes: a second installer started
while the first waits on a run-and-wait line refuses to run; the progress
dialog, found among the windows, shows its two texts and is photographed; and
debug text outside any single-byte code page arrives unchanged.

  wine_run_control_test.py --build WIN32_BUILD_DIR --shots DIR
"""

import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
from runners.device import device_to_host  # noqa: E402
from runners.wine import WineRunner  # noqa: E402

ARGS = None
# Enough slow run-and-wait lines that the installer is still busy while a
# second program is started beside it; the last line proves the first ended.
SLOW_LINES = 6
SLOW_SCRIPT = ("'\\Windows\\slowjob.exe' -x\n" * SLOW_LINES +
               "'\\Windows\\slowjob.exe.cmdline' '\\Done\\marker.txt'\n")
REFUSAL = ("\r\n----- BrixCopy Starting -----\r\nAnother instance is running!\r\n"
           "----- BrixCopy Finished ----- \r\n\n")


class BusyInstaller:
    """A Wine device whose installer is started and busy with slow lines."""

    def __init__(self):
        build = ARGS.build
        self.workdir = tempfile.mkdtemp(prefix="brix-wine-")
        artifacts = {"BrixCopy": os.path.join(build, "installer", "BrixCopy.exe"),
                     "recorder": os.path.join(build, "tests", "e2e", "win32", "recorder.exe")}
        self.runner = WineRunner(self.workdir, artifacts, build=build)
        for folder in ("\\Temp", "\\Storage\\BrixCopy"):
            os.makedirs(device_to_host(self.runner.root, folder))
        with open(device_to_host(self.runner.root, "\\Storage\\BrixCopy\\BrixCopy.inf"), "w") as f:
            f.write(SLOW_SCRIPT)
        self.runner.put("BrixCopy", "\\Storage\\BrixCopy.exe")
        self.runner.put("recorder", "\\Windows\\slowjob.exe")
        self.output = tempfile.TemporaryFile(dir=self.workdir)
        self.proc = self.runner.start("\\Storage\\BrixCopy.exe", None, self.output)
        counter = device_to_host(self.runner.root, "\\Temp\\brixcopy.log")
        deadline = time.time() + 60
        while not os.path.exists(counter) and time.time() < deadline:
            time.sleep(0.05)
        if not os.path.exists(counter):
            raise AssertionError("the installer never started installing")

    def finish(self):
        """Waits for the installer; returns its debug output."""
        self.proc.wait(timeout=120)
        self.output.seek(0)
        return self.output.read().decode("utf-8")

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.output.close()
        self.runner.close()
        shutil.rmtree(self.workdir, ignore_errors=True)


class RunControlTest(unittest.TestCase):
    def setUp(self):
        self.device = BusyInstaller()
        self.addCleanup(self.device.close)

    def test_second_instance_is_refused_while_first_works(self):
        err, code = self.device.runner.run("\\Storage\\BrixCopy.exe", None)
        self.assertIsNone(self.device.proc.poll(), "the first installer ended too early to tell")
        self.assertEqual(code, 0)
        self.assertEqual(err.decode("utf-8"), REFUSAL)
        first = self.device.finish()
        self.assertEqual(self.device.proc.returncode, 0)
        self.assertIn("This is the first execution\r\n", first)
        self.assertNotIn("Another instance", first)
        with open(device_to_host(self.device.runner.root, "\\Temp\\brixcopy.log"), "rb") as f:
            self.assertEqual(struct.unpack("<i", f.read()), (1,))  # the refused run did not count
        self.assertTrue(os.path.exists(device_to_host(self.device.runner.root, "\\Done\\marker.txt")))

    def test_progress_dialog_shows_its_texts(self):
        probe = self.device.runner.wine(os.path.join(ARGS.build, "tests", "e2e", "win32", "dlgprobe.exe"),
                                        "20", stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        out, _ = probe.communicate(timeout=60)
        self.assertEqual(probe.returncode, 0, out)
        lines = out.decode("utf-8").splitlines()
        self.assertRegex(lines[0], r"^dialog \d+x\d+$")
        self.assertEqual(lines[1], "control -1 Copying files, please wait...")
        # The dialog may be seen before its first dash is set.
        first = re.fullmatch(r"control 1000 (-{0,31})", lines[2])
        later = re.fullmatch(r"later (-{1,31})", lines[3])
        self.assertTrue(first and later, lines)
        self.assertEqual(len(lines), 4, lines)
        width, height = map(int, lines[0].split()[1].split("x"))
        self.assertGreater(width, 2 * height, "the dialog is a wide strip")

        os.makedirs(ARGS.shots, exist_ok=True)
        shot = os.path.join(ARGS.shots, "progress-dialog.png")
        subprocess.run(["import", "-window", "root", shot], env=self.device.runner.environ,
                       check=True, timeout=60)
        colours = subprocess.run(["identify", "-format", "%k", shot], capture_output=True, text=True,
                                 check=True, timeout=60).stdout
        self.assertGreater(int(colours), 2, "the screenshot shows no dialog")
        self.assertIn("This is the first execution\r\n", self.device.finish())


class DebugTextTest(unittest.TestCase):
    """Debug output beyond any single-byte code page reaches the debugger intact."""

    def test_names_outside_the_code_page(self):
        workdir = tempfile.mkdtemp(prefix="brix-wine-")
        self.addCleanup(shutil.rmtree, workdir, True)
        build = ARGS.build
        runner = WineRunner(workdir, {"BrixCopy": os.path.join(build, "installer", "BrixCopy.exe")},
                            build=build)
        self.addCleanup(runner.close)
        for folder in ("\\Temp", "\\Storage\\BrixCopy", "\\Windows"):
            os.makedirs(device_to_host(runner.root, folder))
        with open(device_to_host(runner.root, "\\Windows\\Ωμέγα.txt"), "wb") as f:
            f.write(b"omega")
        with open(device_to_host(runner.root, "\\Storage\\BrixCopy\\BrixCopy.inf"), "wb") as f:
            f.write("'\\Windows\\Ωμέγα.txt' '\\Windows\\日本 €.txt'\n".encode("utf-8"))
        runner.put("BrixCopy", "\\Storage\\BrixCopy.exe")
        out, code = runner.run("\\Storage\\BrixCopy.exe", None)
        self.assertEqual(code, 0)
        self.assertIn("BrixCopy: Copying from '\\Windows\\Ωμέγα.txt'\r\n"
                      "BrixCopy:          to '\\Windows\\日本 €.txt'\r\n",
                      out.decode("utf-8"))
        with open(device_to_host(runner.root, "\\Windows\\日本 €.txt"), "rb") as f:
            self.assertEqual(f.read(), b"omega")


def main():
    global ARGS
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--shots", required=True)
    ARGS, rest = ap.parse_known_args()
    ARGS.build = os.path.abspath(ARGS.build)
    unittest.main(argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
