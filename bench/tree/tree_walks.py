"""The tool's walks over a tree beside getfattr over the same tree: `quarrow2 list -r`,
`dump -r` and `find -r` against `getfattr -R -d -m '^user\\.'`, each a whole process run on
10,000 files with two items each, output thrown away.

Usage: python3 tree_walks.py TOOL FOLDER VOLUME [FILES]
Prints one JSON object per line: runner "tree", volume, operation, size, cpu_ns (the tool's
user and system CPU time per file), raw_ns (getfattr's, measured in turn with it), ratio and
wall times, the best of several runs each; or skipped with the reason.
"""
import json
import os
import resource
import shutil
import subprocess
import sys
import time

RUNS = 5


def make_tree(root, files):
    """100 folders of files; each file carries an Author (UTF-16 text) and a Checksum."""
    for index in range(files):
        folder = os.path.join(root, "folder%03d" % (index % 100))
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, "file%05d.txt" % index)
        with open(path, "wb") as f:
            f.write(b"content")
        os.setxattr(path, "user.Author", ("Author %d" % (index % 50)).encode("utf-16-le"))
        os.setxattr(path, "user.Checksum", index.to_bytes(4, "little"))


def timed(command, cwd):
    """CPU time (user + system) and wall time of one run of the command, in nanoseconds."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter_ns()
    subprocess.run(command, cwd=cwd, stdout=subprocess.DEVNULL, check=True)
    wall = time.perf_counter_ns() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return cpu * 1e9, wall


def main():
    tool, folder, volume = sys.argv[1:4]
    files = int(sys.argv[4]) if len(sys.argv) > 4 else 10000
    size = f"{files:,} files × 2 items"
    getfattr = shutil.which("getfattr")
    operations = {
        "list -r": [tool, "list", "-r", "."],
        "dump -r": [tool, "dump", "-r", "."],
        "find -r --value": [tool, "find", "-r", ".", "--type", "Author", "--value", "Author 7"],
    }
    if not getfattr:
        for operation in operations:
            print(json.dumps({"runner": "tree", "volume": volume, "operation": operation,
                              "size": size, "skipped": "getfattr (package attr) is missing"}))
        return
    tree = os.path.join(folder, "tree")
    make_tree(tree, files)
    raw = [getfattr, "-R", "-d", "-m", r"^user\.", "."]
    for operation, command in operations.items():
        best = {"cpu_ns": float("inf"), "raw_ns": float("inf"), "wall_ns": float("inf"),
                "raw_wall_ns": float("inf")}
        # In turn, so that both meet the same caches and the same load.
        for _ in range(RUNS):
            cpu, wall = timed(command, tree)
            raw_cpu, raw_wall = timed(raw, tree)
            best = {"cpu_ns": min(best["cpu_ns"], cpu / files),
                    "raw_ns": min(best["raw_ns"], raw_cpu / files),
                    "wall_ns": min(best["wall_ns"], wall / files),
                    "raw_wall_ns": min(best["raw_wall_ns"], raw_wall / files)}
        print(json.dumps({"runner": "tree", "volume": volume, "operation": operation,
                          "size": size, **best,
                          "ratio": best["cpu_ns"] / best["raw_ns"]}), flush=True)
    shutil.rmtree(tree)


if __name__ == "__main__":
    main()
