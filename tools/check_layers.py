#!/usr/bin/env python3
"""Checks that the product's folders form layers.

Reads the #include "..." lines of every .h and .cpp of the product (the
folders of tests, benchmarks, fuzz targets, tools and builds left out) and
builds the graph of folders: a file in folder A that includes a file of
folder B is an edge A -> B. Fails, printing the cycle, when the graph has
one; fails too when engine/ includes anything but its own files and text/,
since the engine is a library of its own that links only text/ and the
Firebird client.

Usage: check_layers.py [ROOT]   (the repository's root; default: this
file's parent folder's parent)
"""

import os
import re
import sys

SKIPPED = {"build", "tests", "bench", "fuzz", "tools", ".git"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)
# Headers included by their bare name, and the folder that holds them.
BARE_INCLUDE_FOLDERS = ["engine/include"]
ENGINE_MAY_INCLUDE = ("engine", "text")


def product_files(root):
    for folder, subfolders, files in os.walk(root):
        rel = os.path.relpath(folder, root)
        if rel == ".":
            subfolders[:] = [s for s in subfolders if s not in SKIPPED]
        for name in files:
            if name.endswith((".h", ".cpp")):
                yield os.path.normpath(os.path.join(rel, name))


def resolve(root, source, included):
    """The included file's path from the root, or None (a generated file)."""
    candidates = [included, os.path.join(os.path.dirname(source), included)]
    candidates += [os.path.join(f, included) for f in BARE_INCLUDE_FOLDERS]
    for candidate in candidates:
        if os.path.isfile(os.path.join(root, candidate)):
            return os.path.normpath(candidate)
    return None


def find_cycle(graph):
    """One cycle of the graph as a list of nodes (first == last), or None."""
    state = {}
    stack = []

    def visit(node):
        state[node] = "open"
        stack.append(node)
        for target in sorted(graph.get(node, ())):
            if state.get(target) == "open":
                return stack[stack.index(target):] + [target]
            if target not in state:
                cycle = visit(target)
                if cycle:
                    return cycle
        stack.pop()
        state[node] = "done"
        return None

    for node in sorted(graph):
        if node not in state:
            cycle = visit(node)
            if cycle:
                return cycle
    return None


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    graph = {}
    witness = {}
    problems = []
    for source in product_files(root):
        with open(os.path.join(root, source), encoding="utf-8", errors="replace") as f:
            text = f.read()
        folder = os.path.dirname(source)
        for included in INCLUDE.findall(text):
            target = resolve(root, source, included)
            if target is None:
                continue
            target_folder = os.path.dirname(target)
            top = target_folder.split(os.sep)[0]
            if source.startswith("engine" + os.sep) and top not in ENGINE_MAY_INCLUDE:
                problems.append(f"{source} includes {target}: the engine may use only engine/ and text/")
            if target_folder != folder:
                graph.setdefault(folder, set()).add(target_folder)
                witness.setdefault((folder, target_folder), f"{source} -> {target}")
    cycle = find_cycle(graph)
    if cycle:
        problems.append("folders include each other in a cycle: " + " -> ".join(cycle))
        for a, b in zip(cycle, cycle[1:]):
            problems.append(f"  {witness[(a, b)]}")
    for problem in problems:
        print(problem, file=sys.stderr)
    if problems:
        return 1
    print(f"{len(graph)} folders include others; no cycle")
    return 0


if __name__ == "__main__":
    sys.exit(main())
