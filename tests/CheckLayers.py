#!/usr/bin/env python3
"""Checks that the source folders keep their layers.

src/platform includes nothing of the project, src/core includes only core and
platform headers and no Qt, src/widgets may include all three, src/cli (the
command-line peer) core and platform and no Qt, nothing includes src/cli, and no two
folders (areas such as core/net or widgets/frame) include each other, directly
or through others. Prints each breach and exits 1 when there is one.
"""
import pathlib
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)
ALLOWED = {
    "platform": {"platform"},
    "core": {"core", "platform"},
    "widgets": {"core", "platform", "widgets"},
    "cli": {"cli", "core", "platform"},
}


def area(path):
    """'core/net' for src/core/net/X.h, 'platform' for src/platform/posix/Y.cpp."""
    parts = pathlib.PurePosixPath(path).parts
    if parts[0] == "platform" or len(parts) < 3:
        return parts[0]
    return "/".join(parts[:2])


def main(root):
    src = pathlib.Path(root) / "src"
    errors = []
    edges = {}
    checked = 0
    for file in sorted(src.rglob("*")):
        rel = file.relative_to(src).as_posix()
        if file.suffix not in (".h", ".cpp") or rel == "main.cpp":
            continue
        checked += 1
        layer = rel.split("/")[0]
        here = area(rel)
        for bracket, name in INCLUDE.findall(file.read_text(encoding="utf-8")):
            if bracket == "<":
                if layer != "widgets" and re.match(r"Q[A-Za-z]*$|Qt", name):
                    errors.append(f"{rel}: Qt header <{name}> outside the widgets")
                continue
            top = name.split("/")[0]
            if top not in ALLOWED:
                continue
            if top not in ALLOWED[layer]:
                errors.append(f"{rel}: includes {name} from a layer above")
                continue
            there = area(name)
            if there != here:
                edges.setdefault(here, set()).add(there)
    # A cycle among areas: depth-first search with colours.
    state = {}

    def visit(node, trail):
        state[node] = 1
        for nxt in sorted(edges.get(node, ())):
            if state.get(nxt) == 1:
                cycle = trail[trail.index(nxt):] + [nxt] if nxt in trail else [node, nxt]
                errors.append("include cycle: " + " -> ".join(cycle))
            elif nxt not in state:
                visit(nxt, trail + [nxt])
        state[node] = 2

    for node in sorted(edges):
        if node not in state:
            visit(node, [node])
    if checked == 0:
        errors.append(f"no sources under {src}")
    for line in errors:
        print(line)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "."))
