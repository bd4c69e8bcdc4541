#!/usr/bin/env python3
"""Fails when the project's own sources include each other in a circle.

A header and its source file count as one module (engine/plan/ImagePlan.h and
.cpp are "engine/plan/ImagePlan"); module A depends on module B when either of
A's files includes B's header. Any cycle among modules is printed and the
script exits 1.
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
FOLDERS = ["engine", "cli", "app"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def modules():
    graph = {}
    for folder in FOLDERS:
        for path in (ROOT / folder).rglob("*"):
            if path.suffix not in (".h", ".cpp"):
                continue
            # The public headers are included as "engine/X.h" from their own folder.
            module = str(path.relative_to(ROOT).with_suffix("")).replace("engine/include/engine/", "engine/")
            edges = graph.setdefault(module, set())
            for target in INCLUDE.findall(path.read_text(errors="replace")):
                dependency = str(pathlib.PurePosixPath(target).with_suffix(""))
                if dependency != module:
                    edges.add(dependency)
    return {m: {d for d in deps if d in graph} for m, deps in graph.items()}


def find_cycle(graph):
    state = {}
    stack = []

    def visit(module):
        state[module] = "open"
        stack.append(module)
        for dependency in sorted(graph[module]):
            if state.get(dependency) == "open":
                return stack[stack.index(dependency):] + [dependency]
            if dependency not in state:
                cycle = visit(dependency)
                if cycle:
                    return cycle
        stack.pop()
        state[module] = "done"
        return None

    for module in sorted(graph):
        if module not in state:
            cycle = visit(module)
            if cycle:
                return cycle
    return None


def main():
    graph = modules()
    cycle = find_cycle(graph)
    if cycle:
        print("include cycle: " + " -> ".join(cycle))
        return 1
    print(f"no include cycle among {len(graph)} modules")
    return 0


if __name__ == "__main__":
    sys.exit(main())
