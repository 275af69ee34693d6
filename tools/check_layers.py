#!/usr/bin/env python3
"""Checks which folder may include what: the layering of docs/architecture.md.

Program logic (installer/, regimport/) and the platform's shared code include
only the platform table, their own headers and the C++ standard library; a
backend includes no other backend. Prints one compiler-style line per
violation and exits with 1 when there is any.

  check_layers.py [ROOT]
"""
import pathlib
import re
import sys

# The C++ standard library headers (C++20) the portable code may use.
STANDARD = set("""
algorithm any array atomic bit bitset cassert cctype cerrno cfloat charconv chrono
cinttypes climits cmath compare concepts condition_variable cstdarg cstddef cstdint
cstdio cstdlib cstring cwchar cwctype deque exception functional initializer_list
iterator limits list map memory mutex new numeric optional queue ranges set span
stdexcept string string_view system_error thread tuple type_traits unordered_map
unordered_set utility variant vector
""".split())

SHARED_PLATFORM = re.compile(r"platform/[^/]+\.h$")

# folder -> (quoted includes allowed, angle includes limited to the standard library)
RULES = [
    ("installer/", [r"platform/platform\.h", r"platform/wstr\.h", r"installer/[^/]+\.h",
                    r"resources/resource\.h"], True),
    ("regimport/", [r"platform/platform\.h", r"platform/wstr\.h", r"regimport/[^/]+\.h",
                    r"resources/resource\.h"], True),
    ("platform/fake/", [r"platform/[^/]+\.h", r"platform/fake/[^/]+\.h"], True),
    ("platform/posix/", [r"platform/[^/]+\.h", r"platform/posix/.+\.h", r"resources/resource\.h"],
     False),
    ("platform/win32/", [r"platform/[^/]+\.h", r"platform/win32/[^/]+\.h", r"resources/resource\.h"],
     False),
    ("platform/", [r"platform/[^/]+\.h"], True),
    # The host tool runs the programs' own code through the platform table and
    # reads the simulated registry through its store, never a backend's internals.
    ("brixdev/", [r"brixdev/.+\.h", r"installer/[^/]+\.h", r"regimport/[^/]+\.h",
                  r"platform/platform\.h", r"platform/wstr\.h", r"platform/text_decoder\.h",
                  r"platform/terminal_text\.h", r"platform/posix/regstore/[^/]+\.h"], False),
]

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def rule_for(rel):
    for prefix, quoted, standard_only in RULES:
        if rel.startswith(prefix):
            return quoted, standard_only
    return None


def check(root):
    problems = []
    for path in sorted(root.rglob("*")):
        if path.suffix not in (".h", ".cc", ".cpp") or "build" in path.relative_to(root).parts:
            continue
        rel = path.relative_to(root).as_posix()
        rule = rule_for(rel)
        if rule is None:
            continue
        quoted, standard_only = rule
        for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            kind, name = m.groups()
            if kind == '"' and not any(re.fullmatch(p, name) for p in quoted):
                problems.append(f"{rel}:{number}: error: {name} is outside this layer")
            elif kind == "<" and standard_only and name not in STANDARD:
                problems.append(f"{rel}:{number}: error: <{name}> is not a portable C++ header")
    return problems


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    problems = check(root)
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
