#!/usr/bin/env python3
"""Checks which way the library's includes point.

Reads every #include "..." of the library's folders and fails, naming the file and the
include, on an include that leaves the platform layer for the library above it, on an
include between folders that ALLOWED does not list, and on any cycle of includes between
files. Usage: check_includes.py [ROOT]
"""
import os
import re
import sys

# The library's folders, bottom first. include/ is the public interface; platform/ knows
# the system; the four above it are the library's subsystems.
FOLDERS = ["include", "platform", "store", "items", "discovery", "server"]

# Folder -> what it may include: a folder (all of it) or one file. Each edge says why.
ALLOWED = {
    "include": {},
    "platform": {
        "include": "the automation types of the public interface are the runtime's own",
    },
    "store": {
        "include": "the interfaces it implements",
        "platform": "the system it runs on",
        "items": "File and stream opening hand out MetaData items",
        "discovery/file_properties.h": "File's Types and Length are the stream walk's; "
                                       "File only forwards to them",
        "server/module_lock.h": "every live object holds one count of the library lock count",
        "server/type_info_holder.h": "late-bound calls of every class go through the "
                                     "type-information holders",
    },
    "items": {
        "include": "the interfaces it implements",
        "platform": "the system it runs on",
        "store": "items report their failures as rich errors, as File does",
        "server/module_lock.h": "every live object holds one count of the library lock count",
    },
    "discovery": {
        "include": "the interfaces it implements",
        "platform": "the system it runs on",
        "store": "the Strings collection shares the objects' dual-interface plumbing; the walk reads File's streams",
        "server/module_lock.h": "every live object holds one count of the library lock count",
    },
    "server": {
        "include": "the interfaces it serves",
        "platform": "the system it runs on",
        "store": "the class object makes File objects",
        "items": "the server answers for every class it serves",
        "discovery": "the server answers for every class it serves",
    },
}

# Headers the build generates (cmake/Identifiers.cmake), found in its own include folder.
GENERATED = {"resource_ids.h"}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def folder_of(path):
    return path.split("/", 1)[0]


def resolve(root, including, name):
    """The include's path from the root, as the build's include folders find it."""
    for base in (os.path.dirname(including), "", "include"):
        candidate = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(os.path.join(root, candidate)):
            return candidate
    return None


def library_files(root):
    for top in FOLDERS:
        for folder, _, names in os.walk(os.path.join(root, top)):
            for name in names:
                if name.endswith((".h", ".cpp")):
                    yield os.path.relpath(os.path.join(folder, name), root)


def allowed(source, target):
    rules = ALLOWED[folder_of(source)]
    return folder_of(target) == folder_of(source) or folder_of(target) in rules or target in rules


def find_cycle(graph):
    state = {}
    stack = []

    def visit(node):
        state[node] = "open"
        stack.append(node)
        for nxt in graph.get(node, ()):
            if state.get(nxt) == "open":
                return stack[stack.index(nxt):] + [nxt]
            if nxt not in state:
                found = visit(nxt)
                if found:
                    return found
        stack.pop()
        state[node] = "done"
        return None

    for node in sorted(graph):
        if node not in state:
            found = visit(node)
            if found:
                return found
    return None


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                           os.path.join(os.path.dirname(__file__), "..", ".."))
    problems = []
    graph = {}
    for source in sorted(library_files(root)):
        with open(os.path.join(root, source), encoding="utf-8") as f:
            text = f.read()
        for name in INCLUDE.findall(text):
            target = resolve(root, source, name)
            if target is None and name in GENERATED:
                continue
            if target is None:
                problems.append(f'{source}: #include "{name}" names no file of the library')
                continue
            graph.setdefault(source, set()).add(target)
            if folder_of(source) == "platform" and folder_of(target) not in ("platform", "include"):
                problems.append(f'{source}: #include "{name}": the platform layer includes '
                                f"nothing of the library built on it")
            elif not allowed(source, target):
                problems.append(f'{source}: #include "{name}": {folder_of(source)}/ may not '
                                f"include {folder_of(target)}/ (allowed edges: ALLOWED in "
                                f"{os.path.relpath(__file__, root)})")
    cycle = find_cycle(graph)
    if cycle:
        problems.append("include cycle: " + " -> ".join(cycle))
    for problem in problems:
        print(problem)
    if problems:
        return 1
    print(f"{len(graph)} files, their includes follow the allowed edges, no cycle")
    return 0


if __name__ == "__main__":
    sys.exit(main())
