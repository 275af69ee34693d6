#!/usr/bin/env python3
"""tools/demo.sh in a copy of the tree whose cmake and brixdev are stand-ins:
it prints "(no findings)" only when check printed none, goes on after findings,
and shows every build step on a line of its own.

Usage: demo_test.py SOURCE_DIR
"""
import os
import shutil
import stat
import subprocess
import sys
import tempfile

CMAKE = """#!/bin/sh
case "$1" in
  --build) printf '[1/3] Building CXX object a.o\\n[2/3] Building CXX object b.o\\n[3/3] Linking CXX executable brixdev\\n' ;;
esac
"""

# brixdev: check prints $DEMO_FINDING (if any) and exits with $DEMO_STATUS; try makes the device's installer.
BRIXDEV = """#!/bin/sh
case "$1" in
  check)
    [ -n "$DEMO_FINDING" ] && echo "$DEMO_FINDING"
    echo "summary line" >&2
    exit "${DEMO_STATUS:-0}" ;;
  try)
    mkdir -p "$4/fs/Storage Card"
    printf '#!/bin/sh\\necho "This is execution 2" >&2\\n' > "$4/fs/Storage Card/BrixCopy.exe"
    chmod +x "$4/fs/Storage Card/BrixCopy.exe"
    echo "=== Debug output" ;;
  *) echo REGEDIT4 ;;
esac
"""

failures = []


def expect(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL: " + what)


def executable(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(text)
    os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR)


def main():
    source = sys.argv[1]
    with tempfile.TemporaryDirectory() as tree:
        os.makedirs(os.path.join(tree, "tools"))
        for script in ("demo.sh", "deps.sh"):
            shutil.copy(os.path.join(source, "tools", script), os.path.join(tree, "tools", script))
        os.makedirs(os.path.join(tree, "examples", "BrixCopy"))
        executable(os.path.join(tree, "bin", "cmake"), CMAKE)
        executable(os.path.join(tree, "build", "default", "brixdev", "brixdev"), BRIXDEV)
        env = dict(os.environ, PATH=os.path.join(tree, "bin") + ":" + os.environ["PATH"])
        env.pop("DEMO_FINDING", None)

        clean = subprocess.run(["bash", "tools/demo.sh"], cwd=tree, env=env, capture_output=True, text=True)
        expect(clean.returncode == 0, f"the demo runs: {clean.stderr}")
        lines = clean.stdout.splitlines()
        expect("[2/3] Building CXX object b.o" in lines and "[3/3] Linking CXX executable brixdev" in lines,
               f"every build step on a line of its own: {lines[:6]}")
        expect("(no findings)" in lines, "a clean check says (no findings)")
        expect("This is execution 2" in clean.stdout, "the demo goes on to the second start")

        finding = "examples/BrixCopy/BrixCopy.inf:1:1: error: something [tab-comment]"
        found = subprocess.run(["bash", "tools/demo.sh"], cwd=tree, capture_output=True, text=True,
                               env=dict(env, DEMO_FINDING=finding, DEMO_STATUS="1"))
        expect(found.returncode == 0, f"findings do not end the demo: {found.stderr}")
        expect(finding in found.stdout.splitlines(), "the findings are shown")
        expect("(no findings)" not in found.stdout, "no '(no findings)' after findings")

        broken = subprocess.run(["bash", "tools/demo.sh"], cwd=tree, capture_output=True, text=True,
                                env=dict(env, DEMO_STATUS="2"))
        expect(broken.returncode == 2 and "(no findings)" not in broken.stdout,
               "a check that cannot run ends the demo with its status")
    print(f"{len(failures)} failed" if failures else "all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
