#!/usr/bin/env python3
"""cmake --install of the build into an empty prefix gives a brixdev that works
from any folder with the build tree out of sight: it finds the installed
simulator programs beside itself, and its manual page and completion are there.

Usage: install_test.py CMAKE BUILD_DIR EXAMPLE_PACKAGE
"""
import os
import shutil
import subprocess
import sys
import tempfile

EXPECTED = {
    "bin/brixdev",
    "lib/brixdev/BrixCopy",
    "lib/brixdev/Brixparse",
    "share/man/man1/brixdev.1",
    "share/bash-completion/completions/brixdev",
    "share/doc/brixdev/brixdev.md",
}

failures = []


def expect(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL: " + what)


def main():
    if len(sys.argv) != 4:
        raise SystemExit(__doc__)
    cmake, build, example = sys.argv[1:]
    with tempfile.TemporaryDirectory() as scratch:
        prefix = os.path.join(scratch, "prefix")
        done = subprocess.run([cmake, "--install", build, "--prefix", prefix], capture_output=True, text=True)
        expect(done.returncode == 0, f"cmake --install succeeds: {done.stdout}{done.stderr}")
        installed = {os.path.relpath(os.path.join(root, name), prefix)
                     for root, _, names in os.walk(prefix) for name in names}
        expect(installed == EXPECTED, f"the prefix holds exactly brixdev's files: {sorted(installed)}")

        # Another folder, a copy of the example, and a PATH without the build tree.
        work = os.path.join(scratch, "work")
        shutil.copytree(example, os.path.join(work, "examples", "BrixCopy"))
        env = {"PATH": os.path.join(prefix, "bin") + ":/usr/bin:/bin", "HOME": scratch}
        tried = subprocess.run(["brixdev", "try", "examples/BrixCopy"], capture_output=True, text=True,
                               cwd=work, env=env, timeout=300)
        expect(tried.returncode == 0, f"the installed brixdev tries the example: {tried.stderr}")
        expect("=== Programs started\n\\Windows\\Brixparse.exe  command line: \\Storage Card\\BrixCopy\\settings.reg\n"
               in tried.stdout, f"the installed importer ran on the device: {tried.stdout[-400:]}")
        checked = subprocess.run(["brixdev", "check", "examples/BrixCopy"], capture_output=True, text=True,
                                 cwd=work, env=env)
        expect(checked.returncode == 0 and checked.stdout == "", f"and checks it clean: {checked.stdout}")

        # The programs come from the prefix, not from the build tree: without them try says which is missing.
        os.remove(os.path.join(prefix, "lib", "brixdev", "BrixCopy"))
        missing = subprocess.run(["brixdev", "try", "examples/BrixCopy"], capture_output=True, text=True,
                                 cwd=work, env=env)
        expect(missing.returncode == 2 and os.path.join(prefix, "lib", "brixdev", "BrixCopy") in missing.stderr,
               f"without the installed installer try fails naming it: {missing.stderr}")

        man = shutil.which("man")
        if man:
            page = subprocess.run([man, "-l", "-P", "cat", os.path.join(prefix, "share/man/man1/brixdev.1")],
                                  capture_output=True, text=True, env=dict(env, MANWIDTH="80"))
            expect("brixdev check [-d DIR]" in page.stdout, "man shows the installed page")
    print(f"{len(failures)} failed" if failures else "all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
