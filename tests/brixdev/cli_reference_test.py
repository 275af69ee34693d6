#!/usr/bin/env python3
"""brixdev's command line as its users read it: docs/brixdev.md's synopsis lines
and command table say what --help says, the manual page carries every
synopsis, and bash completes the commands, options and values that the help
lists.

Usage: cli_reference_test.py BRIXDEV DOCS MANPAGE COMPLETION
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

failures = []


def expect(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL: " + what)


def run(*args):
    return subprocess.run(list(args), capture_output=True, text=True)


def section(text, heading):
    """The lines of an indented listing that follows heading (a line such as 'Commands:')."""
    lines = text.splitlines()
    start = lines.index(heading) + 1
    listing = []
    for line in lines[start:]:
        if not line.startswith("  "):
            break
        listing.append(line)
    return listing


def commands(brixdev):
    """(words, operands) of every command the overview lists."""
    found = []
    for line in section(run(brixdev, "--help").stdout, "Commands:"):
        if line.startswith("   "):
            continue  # a continued summary
        label = re.split(r"\s{2,}", line.strip())[0]
        words = [w for w in label.split() if not (w[0].isupper() or w[0] == "[")]
        found.append((" ".join(words), label[len(" ".join(words)):].strip()))
    return found


def option_names(help_text):
    names = set()
    for line in section(help_text, "Options:"):
        label = re.split(r"\s{2,}", line.strip())[0]
        names.update(re.findall(r"(?<![\w-])(--?[a-z][a-z-]*)", label))
    return names


def check_docs(brixdev, docs_path, listed):
    with open(docs_path, encoding="utf-8") as f:
        docs = f.read()
    table = set(re.findall(r"^\| `(brixdev [^`]*)` \|", docs, re.M))
    expect(table == {f"brixdev {words} {operands}" for words, operands in listed},
           f"docs/brixdev.md's command table lists the commands of --help: {sorted(table)}")
    for words, _ in listed:
        usage = run(brixdev, *words.split(), "--help").stdout.splitlines()[0]
        expect(usage.startswith("Usage: "), f"{words} --help begins with its usage")
        heading = re.search(r"^## " + re.escape(words) + r"\n(.*?)^```\n(.*?)\n```", docs, re.M | re.S)
        expect(heading is not None, f"docs/brixdev.md has a section '## {words}' with a synopsis block")
        if heading:
            expect(heading.group(2) == usage[len("Usage: "):],
                   f"the synopsis of {words} in docs/brixdev.md is --help's:\n  docs: {heading.group(2)}\n"
                   f"  help: {usage[len('Usage: '):]}")


def check_manual(brixdev, manual, listed):
    with open(manual, encoding="utf-8") as f:
        text = f.read().replace("\\-", "-").replace("\\e", "\\")
    for words, _ in listed:
        usage = run(brixdev, *words.split(), "--help").stdout.splitlines()[0][len("Usage: "):]
        expect(usage in text, f"the manual page carries the synopsis {usage}")
    version = run(brixdev, "--version").stdout.strip()
    expect(f'"{version}"' in text, f"the manual page names {version}")
    if shutil.which("groff"):
        rendered = subprocess.run(["groff", "-man", "-Tutf8", "-ww", "-z", manual], capture_output=True, text=True)
        expect(rendered.returncode == 0 and rendered.stderr == "", f"groff renders the page cleanly: {rendered.stderr}")


def complete(completion, line, cwd):
    """What bash completion offers for the last word of line."""
    script = (f"source {completion!r}\n"
              f"COMP_LINE={line!r}; read -ra COMP_WORDS <<< \"$COMP_LINE\"\n"
              "[[ $COMP_LINE == *' ' ]] && COMP_WORDS+=('')\n"
              "COMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n"
              "_brixdev; printf '%s\\n' \"${COMPREPLY[@]}\"\n")
    done = subprocess.run(["bash", "-c", script], capture_output=True, text=True, cwd=cwd)
    expect(done.returncode == 0 and done.stderr == "", f"completing '{line}' runs cleanly: {done.stderr}")
    return set(filter(None, done.stdout.splitlines()))


def check_completion(brixdev, completion, listed):
    with tempfile.TemporaryDirectory() as folder:
        os.mkdir(os.path.join(folder, "somefolder"))
        open(os.path.join(folder, "somefile.reg"), "w").close()
        cases = [
            ("brixdev ", {"check", "try", "device", "reg", "--version", "--help"}, set()),
            ("brixdev reg ", {"export", "convert"}, {"check"}),
            ("brixdev -d somefolder device ", {"new"}, set()),
            ("brixdev check --format ", {"text", "json", "sarif"}, set()),
            ("brixdev try --format ", {"text", "json"}, {"sarif"}),
            ("brixdev check --ignore tab-c", {"tab-comment"}, set()),
            ("brixdev check --ignore tab-comment,never-", {"tab-comment,never-run"}, set()),
            ("brixdev device new some", {"somefolder"}, {"somefile.reg"}),
            ("brixdev reg convert some", {"somefile.reg"}, set()),
            ("brixdev check -d some", {"somefolder"}, {"somefile.reg"}),
            ("brixdev reg export -d somefolder HKEY_L", {"HKEY_LOCAL_MACHINE"}, set()),
        ]
        for line, wanted, unwanted in cases:
            offered = complete(completion, line, folder)
            expect(wanted <= offered and not (unwanted & offered), f"'{line}' completes to {sorted(offered)}")
        # Every option a command's help lists completes after that command, and no other.
        for words, _ in listed:
            listed_options = option_names(run(brixdev, *words.split(), "--help").stdout)
            offered = complete(completion, f"brixdev {words} -", folder)
            expect(offered == listed_options, f"{words}: completion offers {sorted(offered)}, help lists "
                                              f"{sorted(listed_options)}")


def main():
    if len(sys.argv) != 5:
        raise SystemExit(__doc__)
    brixdev, docs, manual, completion = sys.argv[1:]
    listed = commands(brixdev)
    expect(len(listed) == 5, f"the overview lists the five commands: {listed}")
    check_docs(brixdev, docs, listed)
    check_manual(brixdev, manual, listed)
    check_completion(brixdev, completion, listed)
    print(f"{len(failures)} failed" if failures else "all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
