#!/usr/bin/env python3
"""Checks that the product's layers include only downwards and that no two
classes include each other.

A layer is a top-level folder. Each may include the folders listed for it
below and nothing else of ours (the README's layout section says why). A
class is a header and its source taken together; two classes that include
each other are an error too. Tests and tools may include anything, so only the product's
folders are read. Prints every offence and exits 1 if there is any.
"""

import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent

ALLOWED = {
    "base": {"base"},
    "platform": {"base", "platform"},
    "log": {"base", "platform", "log"},
    "sysutil": {"base", "platform", "sysutil"},
    "tunnel": {"base", "platform", "tunnel"},
    "http": {"base", "platform", "log", "sysutil", "http"},
    "agent": {"base", "platform", "log", "sysutil", "tunnel", "http", "agent"},
}

# Pairs of classes that still include each other, each to be untangled; the
# check fails on any other cycle, and on one of these once it is gone, so
# that the entry goes too.
KNOWN_CYCLES: set[frozenset[str]] = set()

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def our_includes(path):
    """The project headers a file includes, as paths from the root."""
    for name in INCLUDE.findall(path.read_text(encoding="utf-8")):
        if (ROOT / name).is_file():
            yield name


def main():
    problems = []
    edges = {}
    for layer, allowed in ALLOWED.items():
        for path in sorted((ROOT / layer).rglob("*")):
            if path.suffix not in (".h", ".cpp"):
                continue
            unit = str(path.relative_to(ROOT).with_suffix(""))
            for name in our_includes(path):
                target = name.split("/", 1)[0]
                if target not in allowed:
                    problems.append(f"{path.relative_to(ROOT)}: includes {name}, "
                                    f"above {layer}/")
                other = str(pathlib.PurePath(name).with_suffix(""))
                if other != unit:
                    edges.setdefault(unit, set()).add(other)

    cycles = set()
    for unit in edges:
        for other in edges[unit]:
            if unit in edges.get(other, ()):
                cycles.add(frozenset({unit, other}))
    for cycle in sorted(cycles - KNOWN_CYCLES, key=sorted):
        problems.append("classes include each other: " + " <-> ".join(sorted(cycle)))
    for cycle in sorted(KNOWN_CYCLES - cycles, key=sorted):
        problems.append("no longer a cycle, drop it from KNOWN_CYCLES: " +
                        " <-> ".join(sorted(cycle)))

    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
