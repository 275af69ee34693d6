#!/usr/bin/env python3
"""brixdev check's output forms, as a terminal, a pipe and a code-scanning
service see them: colour only on a terminal without NO_COLOR, the summary line
on standard error, and a SARIF log whose rules carry the documented texts and
which the SARIF SDK's validator accepts without an error or a warning.

Usage: check_formats_test.py --brixdev BRIXDEV --docs DOCS --rules-script SCRIPT [--validator PATH]
"""
import argparse
import importlib.util
import json
import os
import pty
import subprocess
import sys
import tempfile

# A package with an error, the note that explains it, and a warning, and a
# registry script with an error: three rules, two files, in a folder whose
# name needs percent-encoding in a URI.
INSTALL_SCRIPT = "'\\Storage Card\\BrixCopy\\a.txt' '\\D\\a.txt' -R\n\t; indented with a tab\n'b.txt' '\\D\\b.txt'\n"
REGISTRY_SCRIPT = 'REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\X]\n"d"=DWORD:1\n'

VALIDATOR_CONFIG = """<?xml version="1.0" encoding="utf-8"?>
<Properties>
  <!-- It fetches every http URI of the log; the tests run without a network. -->
  <Properties Key='SARIF2006.UrisShouldBeReachable.Options'>
    <Property Key='RuleEnabled' Value='Disabled' />
  </Properties>
</Properties>
"""

failures = []


def expect(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL: " + what)


def make_inputs(folder):
    package = os.path.join(folder, "my pkg")
    os.mkdir(package)
    with open(os.path.join(package, "BrixCopy.inf"), "w") as f:
        f.write(INSTALL_SCRIPT)
    for name in ("a.txt", "b.txt"):
        with open(os.path.join(package, name), "w") as f:
            f.write("x\n")
    with open(os.path.join(folder, "s.reg"), "w") as f:
        f.write(REGISTRY_SCRIPT)
    return ["my pkg", "s.reg"]


def on_terminal(args, env, cwd):
    """The bytes brixdev writes to a terminal (standard output and error both)."""
    leader, follower = pty.openpty()
    proc = subprocess.Popen(args, stdout=follower, stderr=follower, env=env, cwd=cwd)
    os.close(follower)
    chunks = []
    while True:
        try:
            chunk = os.read(leader, 65536)
        except OSError:
            break
        if not chunk:
            break
        chunks.append(chunk)
    proc.wait()
    os.close(leader)
    return b"".join(chunks)


def check_colour(brixdev, folder, paths):
    base = {k: v for k, v in os.environ.items() if k != "NO_COLOR"}
    coloured = on_terminal([brixdev, "check"] + paths, base, folder)
    expect(b"\x1b[01;31merror:\x1b[m" in coloured, "a terminal shows the severity 'error:' in red")
    expect(b"\x1b[01;35mwarning:\x1b[m" in coloured, "a terminal shows 'warning:' in magenta")
    expect(b"\x1b[01;36mnote:\x1b[m" in coloured, "a terminal shows 'note:' in cyan")
    plain = on_terminal([brixdev, "check"] + paths, dict(base, NO_COLOR="1"), folder)
    expect(b"\x1b" not in plain and b"error:" in plain, "NO_COLOR keeps a terminal uncoloured")
    piped = subprocess.run([brixdev, "check"] + paths, capture_output=True, env=base, cwd=folder)
    expect(b"\x1b" not in piped.stdout + piped.stderr, "a pipe gets no colour")
    expect(piped.returncode == 1, f"errors give exit status 1, not {piped.returncode}")
    lines = piped.stdout.decode().splitlines()
    expect(len(lines) == 4, f"four findings printed: {lines}")
    expect(piped.stderr.decode() == "2 errors, 1 warning, 1 note\n",
           f"the summary counts what was printed: {piped.stderr!r}")


def documented_rules(docs, script):
    spec = importlib.util.spec_from_file_location("finding_rules", script)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    with open(docs, encoding="utf-8") as f:
        return module.rules(f.read())


def check_sarif(brixdev, folder, paths, rows, validator):
    run = subprocess.run([brixdev, "check", "--format=sarif"] + paths, capture_output=True, cwd=folder)
    expect(run.returncode == 1, f"SARIF output keeps the exit status: {run.returncode}")
    expect(run.stderr == b"", f"no summary line besides a SARIF log: {run.stderr!r}")
    log = json.loads(run.stdout)
    expect(log["version"] == "2.1.0" and len(log["runs"]) == 1, "a SARIF 2.1.0 log of one run")
    result_run = log["runs"][0]
    driver = result_run["tool"]["driver"]
    version = subprocess.run([brixdev, "--version"], capture_output=True, text=True).stdout.split()[-1]
    expect(driver["name"] == "brixdev" and driver["version"] == version, "the driver names brixdev and its version")
    expect(driver["informationUri"].startswith("file:///") and driver["informationUri"].endswith("brixdev.md"),
           f"informationUri points at the documentation: {driver['informationUri']}")
    rules = driver["rules"]
    results = result_run["results"]
    expect(sorted(r["ruleId"] for r in results) == sorted(["tab-comment", "never-run", "no-action-options",
                                                           "upper-case-type"]),
           f"one result per finding: {[r['ruleId'] for r in results]}")
    for result in results:
        rule = rules[result["ruleIndex"]]
        expect(rule["id"] == result["ruleId"], f"ruleIndex of {result['ruleId']} names its rule")
        documented = [row for row in rows if row[1] == rule["id"]]
        expect(len(documented) == 1 and documented[0][3].replace("`", "") == rule["shortDescription"]["text"],
               f"{rule['id']}: the short description is the documented finding")
        expect(documented and documented[0][4].replace("`", "") in rule["help"]["text"],
               f"{rule['id']}: the help carries the documented example")
        location = result["locations"][0]["physicalLocation"]
        expect(location["artifactLocation"]["uri"] in ("my%20pkg/BrixCopy.inf", "s.reg"),
               f"the uri is relative to the current folder: {location['artifactLocation']['uri']}")
        expect(location["region"]["startLine"] >= 1 and location["region"]["startColumn"] >= 1, "a region")
    upper = [r for r in results if r["ruleId"] == "upper-case-type"][0]["locations"][0]["physicalLocation"]["region"]
    expect(upper == {"startLine": 3, "startColumn": 5}, f"line and column of the finding: {upper}")
    expect(len(rules) == 4, "every rule used, once")

    if validator is None or not os.access(validator, os.X_OK):
        print(f"SKIPPED: SARIF validator not installed ({validator}); tools/deps.sh installs it as root")
        return
    log_path = os.path.join(folder, "check.sarif")
    with open(log_path, "wb") as f:
        f.write(run.stdout)
    config = os.path.join(folder, "validator.xml")
    with open(config, "w") as f:
        f.write(VALIDATOR_CONFIG)
    report = os.path.join(folder, "validation.sarif")
    done = subprocess.run([validator, "validate", log_path, "--output", report, "--config", config,
                           "--rule-kind", "Sarif;Gh", "--level", "Error;Warning"],
                          capture_output=True, text=True, timeout=120)
    expect(done.returncode == 0 and os.path.exists(report), f"the validator ran: {done.stdout}{done.stderr}")
    if os.path.exists(report):
        with open(report) as f:
            found = json.load(f)["runs"][0].get("results", [])
        complaints = [f"{r.get('level')} {r.get('ruleId')}: {r['message']}" for r in found
                      if r.get("level") in ("error", "warning")]
        expect(not complaints, "the validator finds no error or warning:\n  " + "\n  ".join(complaints))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--brixdev", required=True)
    parser.add_argument("--docs", required=True)
    parser.add_argument("--rules-script", required=True)
    parser.add_argument("--validator")
    args = parser.parse_args()
    rows = documented_rules(args.docs, args.rules_script)
    with tempfile.TemporaryDirectory() as folder:
        paths = make_inputs(folder)
        check_colour(args.brixdev, folder, paths)
        check_sarif(args.brixdev, folder, paths, rows, args.validator)
    print(f"{len(failures)} failed" if failures else "all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
