#!/usr/bin/env python3
"""Writes the finding rules of brixdev check as C++ from the finding tables of
docs/brixdev.md, the one place where finding ids are documented.

A finding table is one whose header row is
    | id | severity | finding | example line |
and the section it belongs to is the nearest heading above it. Every row of
every such table becomes a rule; an id may stand in several tables (a finding
of install scripts and of registry scripts alike).

Usage: finding_rules.py DOCS OUT.cc
"""
import re
import sys

HEADER = ["id", "severity", "finding", "example line"]


def cells(line):
    """The cells of a table row; a backslash-escaped | stays inside its cell."""
    inner = line.strip()
    if not (inner.startswith("|") and inner.endswith("|")):
        return None
    parts = re.split(r"(?<!\\)\|", inner[1:-1])
    return [part.strip().replace("\\|", "|") for part in parts]


def rules(text):
    """(section, id, severities, finding, example) of every finding table row, in order."""
    found = []
    section = ""
    lines = text.splitlines()
    i = 0
    while i < len(lines):
        line = lines[i]
        heading = re.match(r"#+\s+(.*)", line)
        if heading:
            section = heading.group(1).strip()
        row = cells(line)
        if row == HEADER:
            i += 2  # the header and the line of dashes under it
            while i < len(lines) and cells(lines[i]) is not None:
                row = cells(lines[i])
                if len(row) != 4:
                    raise SystemExit(f"line {i + 1}: a finding row needs 4 cells, has {len(row)}")
                ident = row[0].strip("`")
                if not re.fullmatch(r"[a-z0-9]+(-[a-z0-9]+)*", ident):
                    raise SystemExit(f"line {i + 1}: '{row[0]}' is no finding id")
                severities = [s.strip() for s in row[1].split(",")]
                if not severities or any(s not in ("error", "warning", "note") for s in severities):
                    raise SystemExit(f"line {i + 1}: severity '{row[1]}' is not error, warning or note")
                found.append((section, ident, row[1], row[2], row[3]))
                i += 1
            continue
        i += 1
    if not found:
        raise SystemExit("no finding table (| id | severity | finding | example line |) found")
    return found


def literal(text):
    """text as a C++ UTF-8 string literal."""
    out = ['"']
    for byte in text.encode("utf-8"):
        ch = chr(byte)
        if ch in '"\\':
            out.append("\\" + ch)
        elif 0x20 <= byte < 0x7F:
            out.append(ch)
        else:
            out.append(f'\\{byte:03o}')
    out.append('"')
    return "".join(out)


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    with open(sys.argv[1], encoding="utf-8") as docs:
        found = rules(docs.read())
    body = ",\n".join(
        "    {" + ", ".join(literal(field) for field in (ident, section, severity, finding, example)) + "}"
        for section, ident, severity, finding, example in found)
    code = (
        "// Written by tools/finding_rules.py from the finding tables of docs/brixdev.md: do not edit.\n"
        '#include "brixdev/checks/finding_rules.h"\n\n'
        "namespace brixdev {\n\n"
        "namespace {\n"
        "constexpr FindingRule kRules[] = {\n" + body + ",\n};\n"
        "}  // namespace\n\n"
        "std::span<const FindingRule> FindingRules() { return kRules; }\n\n"
        "}  // namespace brixdev\n")
    with open(sys.argv[2], "w", encoding="utf-8") as out:
        out.write(code)


if __name__ == "__main__":
    main()
