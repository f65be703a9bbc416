#!/usr/bin/env python3
"""Checks of the tree's sources. `includes`: fails, naming file and include, on an #include "..."
of the library that leaves the platform layer for the library above it, joins folders ALLOWED
does not list, or closes a cycle. `format`: fails, naming each, on any C++ file clang-format
would change; 77 (skipped) without clang-format. Usage: check_tree.py includes|format ROOT"""
import graphlib
import os
import pathlib
import re
import shutil
import subprocess
import sys

# Bottom first: the public interface, the platform layer, then the four subsystems.
LIBRARY = ["include", "platform", "store", "items", "discovery", "server"]
# Clients of the public interface alone: each includes its own folder and include/ only.
CLIENTS = ["tools", "bench", "examples", "python"]
FORMATTED = LIBRARY + CLIENTS + ["tests"]
# Beyond include/ and platform/ (the latter for all but include/), folder -> what it may
# include (a folder, or one file). Every live object holds a count of the library lock.
LOCK = "server/module_lock.h"
ALLOWED = {"include": set(), "platform": set(),
           # File and stream opening hand out items; File's Types and Length are the walk's;
           # late-bound calls go through the type information.
           "store": {"items", "discovery/file_properties.h", LOCK, "server/type_info_holder.h"},
           # Items report rich errors as File does; Strings shares the dual-interface plumbing.
           "items": {"store", LOCK}, "discovery": {"store", LOCK},
           "server": {"store", "items", "discovery"},  # the server answers for every class
           # The raw system-call side of the benchmarks owns its descriptors as the library does.
           "bench": {"platform/posix/files/unique_fd.h"}}
GENERATED = {"resource_ids.h"}  # made by cmake/Identifiers.cmake in the build's include folder
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def resolve(root, including, name):
    """The include's path from the root, as the build's include folders find it."""
    candidates = (os.path.normpath(os.path.join(base, name))
                  for base in (os.path.dirname(including), "", "include"))
    return next((path for path in candidates if os.path.isfile(os.path.join(root, path))), None)




def sources(root, folders):
    return sorted(os.path.relpath(os.path.join(folder, name), root) for top in folders
                  for folder, _, names in os.walk(os.path.join(root, top))
                  for name in names if name.endswith((".h", ".cpp")))


def check_includes(root):
    problems, graph = [], {}
    for source in sources(root, LIBRARY + CLIENTS):
        here = source.split("/")[0]
        below = ("include",) if here in CLIENTS + ["include"] else ("include", "platform")
        allowed = ALLOWED.get(here, set())
        for name in INCLUDE.findall(pathlib.Path(root, source).read_text(encoding="utf-8")):
            target = resolve(root, source, name)
            if target is None:
                if name not in GENERATED:
                    problems.append(f'{source}: #include "{name}" names no file of the library')
                continue
            graph.setdefault(source, set()).add(target)
            there = target.split("/")[0]
            if here == "platform" and there not in ("platform", "include"):
                problems.append(f'{source}: #include "{name}": the platform layer includes '
                                f"nothing of the library built on it")
            elif there != here and there not in below and there not in allowed \
                    and target not in allowed:
                problems.append(f'{source}: #include "{name}": {here}/ may not include {there}/ '
                                f"(allowed edges: ALLOWED in {os.path.relpath(__file__, root)})")
    try:
        graphlib.TopologicalSorter(graph).prepare()
    except graphlib.CycleError as error:
        problems.append("include cycle: " + " -> ".join(reversed(error.args[1])))
    print("\n".join(problems) or f"{len(graph)} files, their includes follow the allowed edges")
    return 1 if problems else 0


def check_format(root):
    if not shutil.which("clang-format"):
        print("skipped: clang-format is not installed (scripts/install-packages installs it)")
        return 77
    result = subprocess.run(["clang-format", "--dry-run", "-Werror", *sources(root, FORMATTED)],
                            cwd=root, capture_output=True, text=True)
    unformatted = sorted({line.split(":", 1)[0] for line in result.stderr.splitlines()
                          if "-Wclang-format-violations" in line})
    print("\n".join(f"{path}: not formatted; run clang-format -i on it" for path in unformatted)
          or result.stderr)
    return 1 if result.returncode != 0 else 0


if __name__ == "__main__":
    sys.exit({"includes": check_includes, "format": check_format}[sys.argv[1]](
        os.path.abspath(sys.argv[2])))
