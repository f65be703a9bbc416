#!/usr/bin/env python3
"""Fails, naming the file and the include, on an #include "..." of the library that leaves
the platform layer for the library above it or joins folders ALLOWED does not list, and on
any cycle of includes between files. Usage: check_includes.py [ROOT]"""
import graphlib
import os
import re
import sys

# The library's folders, bottom first. include/ is the public interface; platform/ knows
# the system; the four above it are the library's subsystems.
FOLDERS = ["include", "platform", "store", "items", "discovery", "server"]

# Every folder may include the public interface (include/), and every subsystem the platform
# layer; beyond that, folder -> what it may include (a folder, or one file) and why.
LOCK = "every live object holds one count of the library lock count"
SERVES = "the server answers for every class it serves"
ALLOWED = {
    "include": {},
    "platform": {},
    "store": {"items": "File and stream opening hand out MetaData items",
              "discovery/file_properties.h": "File's Types and Length are the stream walk's",
              "server/module_lock.h": LOCK,
              "server/type_info_holder.h": "late-bound calls go through the type information"},
    "items": {"store": "items report their failures as rich errors, as File does",
              "server/module_lock.h": LOCK},
    "discovery": {"store": "Strings shares the objects' dual-interface plumbing; the walk reads "
                           "File's streams", "server/module_lock.h": LOCK},
    "server": {"store": "the class object makes File objects", "items": SERVES, "discovery": SERVES},
}

# Headers the build generates (cmake/Identifiers.cmake), found in its own include folder.
GENERATED = {"resource_ids.h"}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def resolve(root, including, name):
    """The include's path from the root, as the build's include folders find it."""
    for base in (os.path.dirname(including), "", "include"):
        candidate = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(os.path.join(root, candidate)):
            return candidate
    return None


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                           os.path.join(os.path.dirname(__file__), "..", ".."))
    problems, graph = [], {}
    sources = sorted(os.path.relpath(os.path.join(folder, name), root) for top in FOLDERS
                     for folder, _, names in os.walk(os.path.join(root, top))
                     for name in names if name.endswith((".h", ".cpp")))
    for source in sources:
        with open(os.path.join(root, source), encoding="utf-8") as f:
            names = INCLUDE.findall(f.read())
        here, rules = source.split("/")[0], ALLOWED[source.split("/")[0]]
        for name in names:
            target = resolve(root, source, name)
            if target is None and name not in GENERATED:
                problems.append(f'{source}: #include "{name}" names no file of the library')
            if target is None:
                continue
            graph.setdefault(source, set()).add(target)
            there = target.split("/")[0]
            if here == "platform" and there not in ("platform", "include"):
                problems.append(f'{source}: #include "{name}": the platform layer includes '
                                f"nothing of the library built on it")
            elif there not in (here, "include", "platform" if here != "include" else here) \
                    and there not in rules and target not in rules:
                problems.append(f'{source}: #include "{name}": {here}/ may not include {there}/ '
                                f"(allowed edges: ALLOWED in {os.path.relpath(__file__, root)})")
    try:
        graphlib.TopologicalSorter(graph).prepare()
    except graphlib.CycleError as error:
        problems.append("include cycle: " + " -> ".join(reversed(error.args[1])))
    for problem in problems:
        print(problem)
    if not problems:
        print(f"{len(graph)} files, their includes follow the allowed edges, no cycle")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
