#!/usr/bin/env python3
"""The layering check passes on the source tree and catches what it is for."""
import pathlib
import subprocess
import sys
import tempfile
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
CHECK = ROOT / "tools" / "check_layers.py"


def run(root):
    return subprocess.run([sys.executable, str(CHECK), str(root)], capture_output=True, text=True)


class LayersTest(unittest.TestCase):
    def test_source_tree_is_clean(self):
        result = run(ROOT)
        self.assertEqual(result.returncode, 0, result.stdout)

    def test_violations_are_reported(self):
        cases = [
            ("installer/a.cc", '"platform/posix/device.h"', "platform/posix/device.h is outside this layer"),
            ("regimport/b.cc", "<windows.h>", "<windows.h> is not a portable C++ header"),
            ("installer/c.h", "<unistd.h>", "<unistd.h> is not a portable C++ header"),
            ("platform/stream.cc", '"platform/win32/host.h"', "platform/win32/host.h is outside this layer"),
            ("platform/posix/d.cc", '"platform/fake/fake.h"', "platform/fake/fake.h is outside this layer"),
            ("platform/win32/e.cc", '"platform/posix/text.h"', "platform/posix/text.h is outside this layer"),
            ("brixdev/f.cc", '"platform/posix/device.h"', "platform/posix/device.h is outside this layer"),
            ("brixdev/g.cc", '"platform/backend.h"', "platform/backend.h is outside this layer"),
        ]
        for rel, header, message in cases:
            with self.subTest(rel=rel), tempfile.TemporaryDirectory() as tmp:
                path = pathlib.Path(tmp) / rel
                path.parent.mkdir(parents=True)
                path.write_text(f"#include <cstdint>\n#include {header}\n")
                result = run(tmp)
                self.assertEqual(result.returncode, 1)
                self.assertEqual(result.stdout, f"{rel}:2: error: {message}\n")
    def test_text_module_is_shared_and_portable(self):
        with tempfile.TemporaryDirectory() as tmp:
            for rel in ("brixdev/a.cc", "platform/posix/b.cc", "platform/win32/c.cc", "platform/fake/d.cc",
                        "platform/posix/regstore/e.cc"):
                path = pathlib.Path(tmp) / rel
                path.parent.mkdir(parents=True, exist_ok=True)
                path.write_text('#include "platform/utf.h"\n')
            self.assertEqual(run(tmp).stdout, "")
            (pathlib.Path(tmp) / "platform" / "utf.cc").write_text("#include <unistd.h>\n")
            self.assertEqual(run(tmp).stdout, "platform/utf.cc:1: error: <unistd.h> is not a portable C++ header\n")

    def test_brixdev_steers_the_simulator_through_its_device_context_only(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = pathlib.Path(tmp) / "brixdev" / "a.cc"
            path.parent.mkdir(parents=True)
            path.write_text('#include "platform/posix/device_context.h"\n#include "platform/posix/device_state.h"\n')
            self.assertEqual(run(tmp).stdout, "brixdev/a.cc:2: error: platform/posix/device_state.h is outside this layer\n")


if __name__ == "__main__":
    unittest.main()
