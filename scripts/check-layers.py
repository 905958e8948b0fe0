#!/usr/bin/env python3
"""Checks that the product's layers include only downwards and that no
classes include each other, in a pair or in a longer ring.

A layer is a top-level folder, except that platform/linux/ is a layer of its
own above platform/. Each may include the layers listed for it below and
nothing else of ours (the README's layout section says why). A class is a
header and its source taken together; classes that include each other, two or
more in a ring, are an error too. Tests and tools may include anything, so only
the product's folders are read. Prints every offence and exits 1 if there is
any.
"""

import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent

ALLOWED = {
    "base": {"base"},
    "platform": {"base", "platform"},
    "platform/linux": {"base", "platform", "platform/linux"},
    "log": {"base", "platform", "platform/linux", "log"},
    "sysutil": {"base", "platform", "platform/linux", "sysutil"},
    "tunnel": {"base", "platform", "tunnel"},
    "http": {"base", "platform", "log", "sysutil", "http"},
    "agent": {"base", "platform", "platform/linux", "log", "sysutil", "tunnel", "http", "agent"},
}

# Headers of an allowed layer that a layer may still not include: the tunnel
# is given its serial port, its network and its timers, so it neither looks
# up devices nor reaches the global system.
FORBIDDEN = {
    "tunnel": {"platform/System.h", "platform/DeviceLayer.h"},
}

# Layers of which a layer may include only the interfaces named: HTTP reaches
# the utility facade's desktop through its interface, never the facade.
INTERFACES_ONLY = {
    ("http", "sysutil"): {"sysutil/Desktop.h", "sysutil/TerminalDevices.h"},
}

# Rings of classes that still include each other, each to be untangled; the
# check fails on any other ring, and on one of these once it is gone, so
# that the entry goes too.
KNOWN_CYCLES: set[frozenset[str]] = set()

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def our_includes(path):
    """The project headers a file includes, as paths from the root."""
    for name in INCLUDE.findall(path.read_text(encoding="utf-8")):
        if (ROOT / name).is_file():
            yield name


def layer_of(name):
    """The layer of a path from the root."""
    parts = pathlib.PurePath(name).parts
    if parts[:2] == ("platform", "linux"):
        return "platform/linux"
    return parts[0]


def rings(edges):
    """The strongly connected groups of more than one class (Tarjan)."""
    index, low, stack, on_stack, found = {}, {}, [], set(), []

    def visit(unit):
        index[unit] = low[unit] = len(index)
        stack.append(unit)
        on_stack.add(unit)
        for other in sorted(edges.get(unit, ())):
            if other not in index:
                visit(other)
                low[unit] = min(low[unit], low[other])
            elif other in on_stack:
                low[unit] = min(low[unit], index[other])
        if low[unit] == index[unit]:
            group = set()
            while True:
                member = stack.pop()
                on_stack.discard(member)
                group.add(member)
                if member == unit:
                    break
            if len(group) > 1:
                found.append(frozenset(group))

    for unit in sorted(edges):
        if unit not in index:
            visit(unit)
    return set(found)


def main():
    problems = []
    edges = {}
    for path in sorted(p for p in ROOT.rglob("*") if p.suffix in (".h", ".cpp")):
        relative = path.relative_to(ROOT)
        layer = layer_of(relative)
        if layer not in ALLOWED:
            continue
        unit = str(relative.with_suffix(""))
        for name in our_includes(path):
            if layer_of(name) not in ALLOWED[layer]:
                problems.append(f"{relative}: includes {name}, above {layer}/")
            elif name in FORBIDDEN.get(layer, ()):
                problems.append(f"{relative}: includes {name}, closed to {layer}/")
            elif name not in INTERFACES_ONLY.get((layer, layer_of(name)), {name}):
                problems.append(f"{relative}: includes {name}, not an interface of "
                                f"{layer_of(name)}/")
            other = str(pathlib.PurePath(name).with_suffix(""))
            if other != unit:
                edges.setdefault(unit, set()).add(other)

    found = rings(edges)
    for ring in sorted(found - KNOWN_CYCLES, key=sorted):
        problems.append("classes include each other: " + " <-> ".join(sorted(ring)))
    for ring in sorted(KNOWN_CYCLES - found, key=sorted):
        problems.append("no longer a cycle, drop it from KNOWN_CYCLES: " +
                        " <-> ".join(sorted(ring)))

    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
