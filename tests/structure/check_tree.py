#!/usr/bin/env python3
"""Checks of the tree's sources and of the library as built. `includes`: fails, naming file
and include, on an #include "..." that leaves the platform layer for the library above it,
joins folders LAYERS does not list, is not rooted at the repository, or closes a cycle; on
an edge LAYERS lists that no include uses; and on an include of PLANTED that would pass. `map`: fails when the picture or folder list of
docs/architecture.md differs from LAYERS, or a file opens another namespace than its folder's.
`format`: fails, naming each, on any C++ file clang-format would change; 77 (skipped) without
clang-format. `calls`: fails on a cycle of calls between the library's object files, and on
a file that nothing reaches: no other file calls it, it exports nothing and runs nothing at load.
`picture` draws LAYERS into docs/architecture.md in place of its picture.
Usage: check_tree.py includes|map|format|picture ROOT, check_tree.py calls OBJECT..."""
import graphlib
import os
import pathlib
import re
import shutil
import subprocess
import sys

# The map of the tree, in the order it builds up: folder (or subfolder), what it is, and what
# it may include beyond its own folder and include/ (library folders above platform/ also
# platform/), each with the reason. A folder or one file may be named. docs/architecture.md's
# picture is drawn from this.
LAYERS = [
    ("include", "the public interface: interfaces, identifiers, runtime, client helpers",
     {}),
    ("platform", "the system behind platform.h; posix/ emulates it on Linux", {}),
    ("store", "File, stream naming and opening, error reporting, every class's plumbing",
     {"items": "File's Open and Add hand out MetaData items; its reads share their form"}),
    ("items", "the MetaData item, its stored form and the byte-array conversions",
     {"store": "items report rich errors as File does, on the shared plumbing"}),
    ("discovery", "the stream walk, File's Length, Types and Items, the Strings collection",
     {"store": "File's Length, Types and Items are the walk's; Strings uses the plumbing"}),
    ("server", "entry points, class table, class object, type information, registration",
     {"store": "the class object makes Files; the lock count decides unloading"}),
    ("tools/formats", "the tool's text: encodings, escaping, value text, JSON, failures", {}),
    ("tools/host", "the tool's system: loading the library, command line, terminals",
     {"tools/formats": "failures, UTF-8 text; the terminal checks console.h declares"}),
    ("tools/client", "the tool's files and items: reaching, walking, reading, changing",
     {"tools/host": "the loaded library, a worker thread's runtime",
      "tools/formats": "failures, text and what each value reads as"}),
    ("tools/commands", "one file per command: its options, checks and run",
     {"tools/client": "every file and item is reached through the client",
      "tools/formats": "what a command prints"}),
    ("tools/cli", "the command line: parsing, help, completions, man pages, main",
     {"tools/commands": "the table of commands", "tools/host": "the command line and streams",
      "tools/client": "the library opened once", "tools/formats": "failures and output"}),
    ("bench", "benchmarks of the library beside the bare system calls",
     {}),
    ("examples", "the C++, VBScript and Python examples of the README", {}),
    ("python", "the Python module: extension/ the compiled part, quarrow2/ the package", {}),
]
ALLOWED = {folder: set(edges) for folder, _, edges in LAYERS}
LIBRARY = ["include", "platform", "store", "items", "discovery", "server"]
# Clients of the public interface alone: each includes its own folder and include/ only.
CLIENTS = [folder for folder, _, _ in LAYERS if folder not in LIBRARY]
FORMATTED = LIBRARY + CLIENTS + ["tests"]
# The namespace of quarrow2 each folder's files open (or one nested in it). Pending rows are checked
# once their folder has moved to its namespace.
NAMESPACES = {"store": "quarrow2::store", "items": "quarrow2::items",
              "discovery": "quarrow2::discovery", "server": "quarrow2::server",
              "platform": "quarrow2::platform", "tools": "quarrow2::tool"}
NAMESPACES_PENDING = set()
NAMESPACE_EXCEPTIONS = {}
# Folders whose includes are still found beside the including file, not from the root.
ROOTED_PENDING = set()
GENERATED = {"resource_ids.h"}  # made by cmake/Identifiers.cmake in the build's include folder
ARCHITECTURE = "docs/architecture.md"  # draws LAYERS as its first block and lists the folders
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def resolve(root, including, name):
    """The include's path from the root, as the build's include folders find it, and whether
    it was found from the root (or include/) rather than beside the including file."""
    for base in ("", "include", os.path.dirname(including)):
        path = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(os.path.join(root, path)):
            return path, base != os.path.dirname(including)
    return None, False


def layer(path):
    """The LAYERS folder a path belongs to: the longest one it lies in, or its top folder."""
    folders = [folder for folder in ALLOWED if (path + "/").startswith(folder + "/")]
    return max(folders, key=len) if folders else path.split("/")[0]


def sources(root, folders):
    return sorted(os.path.relpath(os.path.join(folder, name), root) for top in folders
                  for folder, _, names in os.walk(os.path.join(root, top))
                  for name in names if name.endswith((".h", ".cpp")))


# Includes the rules must refuse, each planted in a file of the tree: what the check would say
# of them is checked along with the tree itself.
PLANTED = [
    ("tools/commands/command_list.cpp", "tools/host/host.h"),  # a command past the client
    ("tools/formats/text.cpp", "tools/client/file_walk.h"),  # a format that reaches files
    ("platform/posix/files/stream_io.cpp", "store/file.h"),  # the platform above itself
    ("store/file.cpp", "discovery/stream_walk.h"),  # an edge LAYERS does not draw
]


def include_problem(root, source, name, target, rooted):
    """What is wrong with `source` including `name`, found at `target`; None when allowed."""
    here, there = layer(source), layer(target)
    below = ("include",) if here in CLIENTS + ["include"] else ("include", "platform")
    allowed = ALLOWED.get(here, set())
    if not rooted and here not in ROOTED_PENDING:
        return f'{source}: #include "{name}": name it from the repository, "{target}"'
    if here == "platform" and there not in ("platform", "include"):
        return (f'{source}: #include "{name}": the platform layer includes nothing of the '
                f"library built on it")
    if there != here and there not in below and there not in allowed and target not in allowed:
        return (f'{source}: #include "{name}": {here}/ may not include {there}/ '
                f"(allowed edges: LAYERS in {os.path.relpath(__file__, root)})")
    return None


def check_includes(root):
    problems, graph, used = [], {}, set()
    for source, name in PLANTED:
        if include_problem(root, source, name, *resolve(root, source, name)) is None:
            problems.append(f'{source}: a planted #include "{name}" would pass the check')
    for source in sources(root, LIBRARY + CLIENTS):
        here = layer(source)
        for name in INCLUDE.findall(pathlib.Path(root, source).read_text(encoding="utf-8")):
            target, rooted = resolve(root, source, name)
            if target is None:
                if name not in GENERATED:
                    problems.append(f'{source}: #include "{name}" names no file of the library')
                continue
            graph.setdefault(source, set()).add(target)
            used.update({(here, layer(target)), (here, target)})
            problem = include_problem(root, source, name, target, rooted)
            if problem:
                problems.append(problem)
    problems += [f"{here}/ -> {there}: listed in LAYERS, but no include uses it"
                 for here, edges in ALLOWED.items() for there in sorted(edges)
                 if (here, there) not in used]
    try:
        graphlib.TopologicalSorter(graph).prepare()
    except graphlib.CycleError as error:
        problems.append("include cycle: " + " -> ".join(reversed(error.args[1])))
    print("\n".join(problems) or f"{len(graph)} files, their includes follow the allowed edges")
    return 1 if problems else 0


def picture():
    """The picture of docs/architecture.md: LAYERS, drawn one folder to a line with its edges."""
    lines = ["Each folder includes its own files and include/quarrow2/, those from store/ up",
             "also platform/; beyond that only what an arrow (\"includes\") shows, and why.", ""]
    for folder, role, edges in LAYERS:
        name = "include/quarrow2/" if folder == "include" else folder + "/"
        lines.append(f"{name:<19}{role}")
        for there, why in sorted(edges.items()):
            arrow = f"  -> {there}{'' if '.' in there else '/'}"
            lines += [f"{arrow:<19}{why}"] if len(arrow) < 19 else [arrow, f"{'':<19}{why}"]
    return lines


def draw_picture(root):
    page = pathlib.Path(root, ARCHITECTURE)
    before, fence, rest = page.read_text(encoding="utf-8").partition("```\n")
    page.write_text(before + fence + "\n".join(picture()) + "\n```\n" + rest.split("```\n", 1)[1],
                    encoding="utf-8")
    print(f"{ARCHITECTURE}: the picture is the one LAYERS draws")
    return 0


def check_map(root):
    problems = []
    page = pathlib.Path(root, ARCHITECTURE).read_text(encoding="utf-8")
    drawn = page.split("```\n", 2)[1].rstrip("\n").split("\n")
    if drawn != picture():
        problems.append(f"{ARCHITECTURE}: the picture is not the one LAYERS draws; "
                        f"{os.path.relpath(__file__, root)} picture . redraws it")
    listed = [layer(name.rstrip("/")) for name in re.findall(r"^- `([\w/]+)`", page, re.MULTILINE)]
    order = [folder for folder, _, _ in LAYERS]
    if [name for name in listed if name in order] != order:
        problems.append(f"{ARCHITECTURE}: the folder list names, one bullet each, "
                        f"{', '.join(order)} in this order")
    opens = re.compile(r"^\s*namespace\s+([\w:]+)\s*\{", re.MULTILINE)
    for source in sources(root, [folder for folder in NAMESPACES
                                 if folder not in NAMESPACES_PENDING]):
        own = NAMESPACE_EXCEPTIONS.get(source, NAMESPACES[source.split("/")[0]])
        for name in opens.findall(pathlib.Path(root, source).read_text(encoding="utf-8")):
            if name.split("::")[0] == "quarrow2" and name != own \
                    and not name.startswith(own + "::"):
                problems.append(f"{source}: namespace {name}: this folder's files open {own}")
    print("\n".join(problems) or f"the map of {ARCHITECTURE} is LAYERS; each folder has its namespace")
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


def check_calls(files):
    """Fails on a cycle of calls between the library's object files: file A calls (or
    takes the address of) something file B defines, and B, through any chain, A."""
    def symbols(path, *flags):
        listing = subprocess.run(["nm", *flags, path], capture_output=True, text=True, check=True)
        return [line.split() for line in listing.stdout.splitlines() if line.strip()]
    files = sorted(os.path.abspath(path) for path in files)
    objects = os.path.commonpath(files) if files else ""
    defined = {}
    for path in files:
        for fields in symbols(path, "--defined-only"):
            if len(fields) == 3 and fields[1] in "TDBRWV":
                defined.setdefault(fields[2], path)
    # Run-time type descriptors (the undefined-behaviour sanitizer's) are data, not calls.
    graph = {path: {defined[fields[-1]] for fields in symbols(path, "-u")
                    if not fields[-1].startswith("_ZTI") and defined.get(fields[-1], path) != path}
             for path in files}
    # A file is reached when another calls it, it exports a symbol (default visibility, as
    # the library's own are hidden) or the loader runs it (.init_array).
    called, unreached = set().union(*graph.values()), []
    for path in sorted(set(files) - called):
        listing = subprocess.run(["readelf", "-SsW", path], capture_output=True, text=True,
                                 check=True).stdout
        if ".init_array" not in listing and not any(
                fields[4:6] == ["GLOBAL", "DEFAULT"] and fields[6] != "UND"
                for fields in map(str.split, listing.splitlines()) if len(fields) >= 8):
            unreached.append(path)
    for path in unreached:
        print(f"nothing reaches {os.path.relpath(path, objects)}: build it where it is called")
    try:
        graphlib.TopologicalSorter(graph).prepare()
    except graphlib.CycleError as error:
        print("cycle of calls: " + " -> ".join(os.path.relpath(path, objects)
                                                for path in error.args[1]))
        return 1
    print(f"{len(files)} object files, no cycle of calls between them")
    return 0 if files and not unreached else 1


if __name__ == "__main__":
    if sys.argv[1] == "calls":  # CMake passes the target's objects as one list, ';' between
        sys.exit(check_calls([path for word in sys.argv[2:] for path in word.split(";")]))
    sys.exit({"includes": check_includes, "map": check_map, "format": check_format,
              "picture": draw_picture}[sys.argv[1]](
        os.path.abspath(sys.argv[2])))
