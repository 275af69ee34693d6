#!/usr/bin/env python3
"""Makes every system call of a first install, a counting start and an import
fail in turn on the device simulator, and checks that no failure passes in
silence.

Each scenario is run once under strace to count its system calls, per call
name and process; then once per call name, error and index N with strace
injecting that error into the Nth call of that name (in every process and
thread of the run). Each run's outcome is compared with the clean run's:

  clean      the same debug output and the same device (the failure was
             retried, or changed nothing)
  reported   the debug output differs: the failure was said
  startup    the program loader failed (calls the loader makes in the first
             process before the program's own code runs are not swept at
             all: they are the host's, not the product's)
  output     the failed call was the debug output's own write: there is
             nothing left to report through
  impossible the program was ended by the C library after an answer the
             kernel never gives: brk never fails with an error number (it
             returns the old break, so the injected number is taken for an
             address), and futex never fails with these errors (the C library
             aborts on them as a broken kernel)
  silent     the same debug output, another device: a failure not said
  crash      ended by a signal or with an unexpected exit status
  hang       not ended within the time limit

silent, crash and hang fail the sweep. The device compared is every file
below DIR/fs with its bytes, and the registry as `brixdev reg export` prints
it; what a started program or a registered library writes itself (their own
work, which the installer does not examine) is left out.

  tools/fault_sweep.py BUILD_DIR            every call, errors EIO ENOSPC EACCES ENOMEM
  tools/fault_sweep.py BUILD_DIR --quick    the calls that touch files, folders,
                                            locks and threads, with EIO only
"""

import argparse
import collections
import concurrent.futures
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile

START = "\r\n----- BrixCopy Starting -----\r\n"
QUICK_CALLS = {"openat", "openat2", "getdents64", "read", "pread64", "write", "pwrite64", "fcntl",
               "flock", "clone3", "mkdirat", "ftruncate", "lseek", "unlinkat", "execve"}
FULL_ERRORS = ("EIO", "ENOSPC", "EACCES", "ENOMEM")
# A run this much longer than the clean one (a fraction of a second) is a
# hang: a lock left held once made every later key wait 10 seconds.
TIMEOUT = {"quick": 12, "full": 30}
# Files written by a started program or by a registered library's own code.
OWN_WORK = (".cmdline", ".registered")
# Calls whose injected error is an answer the kernel never gives.
IMPOSSIBLE = {"brk", "futex"}
CALL_LINE = re.compile(r"^(\d+) +([a-z0-9_]+)\(")


def put(fs, device_path, data=None, source=None):
    host = os.path.join(fs, *device_path.strip("\\").split("\\"))
    os.makedirs(os.path.dirname(host), exist_ok=True)
    if source is not None:
        shutil.copy(source, host)
    else:
        with open(host, "wb") as f:
            f.write(data)


def import_script(keys):
    lines = ["REGEDIT4", ""]
    for k in range(keys):
        lines += ["[HKEY_LOCAL_MACHINE\\Software\\Sweep\\K%02d]" % k, '"Name"="key %d"' % k,
                  '"Count"=dword:%08x' % k, '"Data"=hex:01,02,%02x' % k, ""]
    return "\r\n".join(lines).encode()


def scenarios(build, keys=30):
    """Template devices: name -> (device folder, program device path, command line)."""
    made = {}
    base = tempfile.mkdtemp(prefix="brix-sweep-")
    exe = os.path.join(build, "installer", "BrixCopy")
    e2e = os.path.join(build, "tests", "e2e")

    def device(name):
        folder = os.path.join(base, name)
        os.makedirs(os.path.join(folder, "fs", "Temp"))
        return folder, os.path.join(folder, "fs")

    folder, fs = device("install")
    put(fs, "\\Storage\\BrixCopy.exe", source=exe)
    put(fs, "\\Storage\\BrixCopy\\BrixCopy.inf",
        b"; a representative package\r\n"
        b"'\\Storage\\BrixCopy\\app\\readme.txt' '\\Program Files\\App\\readme.txt'\r\n"
        b"'\\drivers\\*' '\\Windows'\r\n"
        b"'\\Windows\\testreg.dll' -r\r\n"
        b"'\\Windows\\recorder.exe /quiet' -x\r\n")
    put(fs, "\\Storage\\BrixCopy\\app\\readme.txt", b"read me\r\n" * 100)
    put(fs, "\\Storage\\BrixCopy\\drivers\\touch.cfg", b"touch" * 300)
    put(fs, "\\Storage\\BrixCopy\\drivers\\serial.cfg", b"serial")
    put(fs, "\\Storage\\BrixCopy\\drivers\\testreg.dll", source=os.path.join(e2e, "libtestreg.so"))
    put(fs, "\\Windows\\recorder.exe", source=os.path.join(e2e, "recorder"))
    made["install"] = (folder, "\\Storage\\BrixCopy.exe", None)

    folder, fs = device("count")
    put(fs, "\\Storage\\BrixCopy.exe", source=exe)
    put(fs, "\\Storage\\BrixCopy\\BrixCopy.inf", b"'\\a.txt' '\\a.txt'\r\n")
    put(fs, "\\Temp\\brixcopy.log", (3).to_bytes(4, "little"))
    made["count"] = (folder, "\\Storage\\BrixCopy.exe", None)

    folder, fs = device("import")
    put(fs, "\\Windows\\Brixparse.exe", source=os.path.join(build, "regimport", "Brixparse"))
    put(fs, "\\settings.reg", import_script(keys))
    made["import"] = (folder, "\\Windows\\Brixparse.exe", "\\settings.reg")
    return base, made


def device_state(folder, brixdev):
    fs = os.path.join(folder, "fs")
    files = []
    for dirpath, dirnames, filenames in os.walk(fs):
        dirnames.sort()
        rel = os.path.relpath(dirpath, fs)
        files.append(("dir", rel))
        for name in sorted(filenames):
            if name.endswith(OWN_WORK):
                continue
            with open(os.path.join(dirpath, name), "rb") as f:
                files.append((os.path.join(rel, name), hashlib.sha256(f.read()).hexdigest()))
    export = subprocess.run([brixdev, "-d", folder, "reg", "export"], capture_output=True, timeout=60)
    return files, export.returncode, export.stdout


def run_once(template, scenario, brixdev, strace_args, workroot, timeout=TIMEOUT["full"]):
    folder_t, program, command_line = template
    work = tempfile.mkdtemp(dir=workroot)
    folder = os.path.join(work, "dev")
    shutil.copytree(folder_t, folder, symlinks=True)
    trace = os.path.join(work, "trace")
    args = ["strace", "-f", "-qq", "-o", trace] + strace_args + ["--",
            os.path.join(folder, "fs", *program.strip("\\").split("\\"))]
    if command_line is not None:
        args.append(command_line)
    env = dict(os.environ, BRIX_DEVICE=folder)
    try:
        res = subprocess.run(args, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=subprocess.PIPE, timeout=timeout)
        code, err = res.returncode, res.stderr
    except subprocess.TimeoutExpired:
        code, err = None, b""
    with open(trace, errors="replace") as f:
        lines = f.read().splitlines()
    state = device_state(folder, brixdev) if code is not None else None
    shutil.rmtree(work, ignore_errors=True)
    return code, err, lines, state


def count_calls(lines):
    """Per call name: the highest count in any process, and the calls the
    first process made before its own code ran (its first readlink, the
    look-up of the device folder)."""
    per = collections.defaultdict(collections.Counter)
    loader = collections.Counter()
    first_pid = None
    own_code = False
    for line in lines:
        m = CALL_LINE.match(line)
        if not m:
            continue
        pid, name = m.group(1), m.group(2)
        first_pid = first_pid or pid
        if pid == first_pid and name == "readlink":
            own_code = True
        per[name][pid] += 1
        if pid == first_pid and not own_code:
            loader[name] += 1
    return {name: max(c.values()) for name, c in per.items()}, loader, first_pid


def classify(clean, result, name, index, loader):
    code, err, lines, state = result
    if code is None:
        return "hang"
    injected = [line for line in lines if "(INJECTED)" in line]
    in_loader = index <= loader.get(name, 0)
    if code == 127 or b"error while loading shared libraries" in err:
        return "startup"
    if code < 0 or code not in (0, 2):
        if code < 0 and name in IMPOSSIBLE:
            return "impossible"
        return "startup" if in_loader and code < 0 else "crash"
    if code == 2:
        # Not on a simulated device: one line, which must say why.
        text = err.decode("utf-8", "replace")
        return "reported" if re.search(r"not on a simulated device: \S", text) else "silent"
    if err != clean[1]:
        if any(re.match(r"^\d+ +write\(2,", line) for line in injected):
            return "output"
        return "reported"
    return "clean" if state == clean[3] else "silent"


def sweep(build, quick, jobs, errors):
    base, made = scenarios(build, 2 if quick else 30)
    # A copy, so that a rebuild while the sweep runs changes nothing of it.
    brixdev = os.path.join(base, "brixdev")
    shutil.copy(os.path.join(build, "brixdev", "brixdev"), brixdev)
    workroot = os.path.join(base, "runs")
    os.makedirs(workroot)
    outcomes = collections.Counter()
    per_scenario = {}
    failures = []
    try:
        for scenario, template in made.items():
            clean = run_once(template, scenario, brixdev, [], workroot)
            if clean[0] != 0 or (scenario != "import" and not clean[1].decode().startswith(START)):
                raise SystemExit("%s: the clean run failed: %r %r" % (scenario, clean[0], clean[1][-300:]))
            counts, loader, _ = count_calls(clean[2])
            jobs_list = []
            for name, total in sorted(counts.items()):
                if quick and name not in QUICK_CALLS:
                    continue
                if name in ("exit", "exit_group", "execve") and not quick:
                    continue
                for error in errors:
                    # The loader's own calls come first in the first process:
                    # they are the host's, not the program's, and not swept.
                    first = loader.get(name, 0) + 1
                    for index in range(first, total + 1):
                        jobs_list.append((name, error, index))
            counter = collections.Counter()
            with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
                futures = {pool.submit(run_once, template, scenario, brixdev,
                                       ["-e", "inject=%s:error=%s:when=%d" % (n, e, i)], workroot,
                                       TIMEOUT["quick" if quick else "full"]): (n, e, i)
                           for n, e, i in jobs_list}
                for future in concurrent.futures.as_completed(futures):
                    n, e, i = futures[future]
                    outcome = classify(clean, future.result(), n, i, loader)
                    counter[outcome] += 1
                    if outcome in ("silent", "crash", "hang"):
                        failures.append("%s: %s %s #%d: %s" % (scenario, n, e, i, outcome))
            per_scenario[scenario] = counter
            outcomes.update(counter)
    finally:
        shutil.rmtree(base, ignore_errors=True)
    return outcomes, per_scenario, failures


def show_one(build, scenario, name, error, index):
    brixdev = os.path.join(build, "brixdev", "brixdev")
    base, made = scenarios(build)
    workroot = os.path.join(base, "runs")
    os.makedirs(workroot)
    try:
        clean = run_once(made[scenario], scenario, brixdev, [], workroot)
        result = run_once(made[scenario], scenario, brixdev,
                          ["-e", "inject=%s:error=%s:when=%s" % (name, error, index)], workroot)
        _, loader, _ = count_calls(clean[2])
        print("outcome:", classify(clean, result, name, int(index), loader), "exit:", result[0])
        print("injected:", *[line for line in result[2] if "(INJECTED)" in line], sep="\n  ")
        print("debug output:", result[1].decode("utf-8", "replace"), sep="\n")
        if result[3] != clean[3]:
            print("device differs:", *sorted(set(map(str, result[3][0])) ^ set(map(str, clean[3][0]))), sep="\n  ")
            if result[3][2] != clean[3][2]:
                print("registry differs")
    finally:
        shutil.rmtree(base, ignore_errors=True)
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build", help="the native build folder (build/default)")
    parser.add_argument("--quick", action="store_true", help="file, folder, lock and thread calls, EIO only")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--errors", default=None, help="comma-separated errno names")
    parser.add_argument("--one", metavar="SCENARIO:CALL:ERROR:N",
                        help="make one run and show how it differs from the clean run")
    args = parser.parse_args()
    if shutil.which("strace") is None:
        print("fault sweep skipped: strace is missing")
        return 77
    probe = subprocess.run(["strace", "-qq", "-o", os.devnull, "-e", "inject=getppid:error=EIO", "true"],
                           capture_output=True)
    if probe.returncode != 0:
        print("fault sweep skipped: strace cannot trace here: " + probe.stderr.decode(errors="replace").strip())
        return 77
    if args.one:
        return show_one(os.path.abspath(args.build), *args.one.split(":"))
    errors = args.errors.split(",") if args.errors else (["EIO"] if args.quick else list(FULL_ERRORS))
    outcomes, per_scenario, failures = sweep(os.path.abspath(args.build), args.quick, args.jobs, errors)
    classes = ("clean", "reported", "output", "startup", "impossible", "silent", "crash", "hang")
    for scenario, counter in per_scenario.items():
        print("%-8s %5d runs: %s" % (scenario, sum(counter.values()),
                                     ", ".join("%s %d" % (c, counter[c]) for c in classes if counter[c])))
    print("total    %5d runs: %s" % (sum(outcomes.values()),
                                     ", ".join("%s %d" % (c, outcomes[c]) for c in classes)))
    for failure in sorted(failures):
        print("FAILED " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
