"""The tool's walks over a tree beside getfattr over the same tree: `quarrow2 list -r`,
`dump -r` and `find -r --value` against `getfattr -R -d -m '^user\\.'`, each a whole process
run on a tree of files with two items each, output thrown away.

For each tree size: the wall time of the tool with its default number of workers and with
`-j 1` (when the tool has `-j`), getfattr's wall time, the CPU time (user and system, every
thread) per file of each, and the peak memory (ru_maxrss, through GNU time) of each run:
the best (least) times and the largest peak of several runs taken in turn. Then, on a
smaller tree, the system calls per file of each, counted with `strace -c -f`; and, on the
first tree, what `list -r` does in the share-mode store: how often it opens the lock file,
and how many entries it makes or removes there (none: the store holds one lock file for
every file).

Usage: python3 tree_walks.py TOOL FOLDER VOLUME RESULTS [FILES ...]
       python3 tree_walks.py --skipped REASON VOLUME [FILES ...]
FILES: the tree sizes (default 10000 100000); QUARROW2_BENCH_TREE_RUNS runs per size and
command (default 5 up to 10,000 files, 3 above); QUARROW2_BENCH_TREE_STRACE_FILES the
size of the tree traced (default 1000). RESULTS receives strace's summaries.
Prints one JSON object per line: runner "tree" (times and memory), "tree-syscalls" (calls
per file) or "tree-store" (the share-mode store's calls), volume, operation, size, the
figures; or skipped with the reason (the second form prints only that, for a volume on which
the walks cannot run).
"""
import json
import os
import re
import shutil
import subprocess
import sys
import time

FOLDERS = 100
ITEMS = 2  # per file
GNU_TIME = "/usr/bin/time"
# Each walk: the tool's words, then its arguments (the tree is the working folder).
WALKS = {
    "list -r": (["list", "-r"], ["."]),
    "list -l -r": (["list", "-l", "-r"], ["."]),
    "dump -r": (["dump", "-r"], ["."]),
    "find -r --value": (["find", "-r"], [".", "--type", "Author", "--value", "Author 7"]),
}
JOBS_OPTION = re.compile(r"(^|[\s,\[])-j\b|--jobs\b", re.M)


def make_tree(root, files):
    """FOLDERS folders of files; each file carries an Author (UTF-16 text) and a Checksum."""
    for index in range(files):
        folder = os.path.join(root, "folder%03d" % (index % FOLDERS))
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, "file%06d.txt" % index)
        with open(path, "wb") as f:
            f.write(b"content")
        os.setxattr(path, "user.Author", ("Author %d" % (index % 50)).encode("utf-16-le"))
        os.setxattr(path, "user.Checksum", index.to_bytes(4, "little"))
    os.sync()  # nothing left to write back while the walks are timed


def run_child(command, cwd, peak_path):
    """Wall time (ns), CPU time (user + system, all threads, ns) and peak memory (KiB) of one
    run of the command, its output thrown away.

    The peak comes from GNU time, which forks the command from its own small process: a
    child that Python starts shares Python's memory until it runs the command (vfork), and
    the kernel counts that memory into the child's ru_maxrss. Its own fork and wait add well
    under a millisecond to the times, which are those of the whole run."""
    start = time.perf_counter_ns()
    child = subprocess.Popen([GNU_TIME, "-f", "%M", "-o", peak_path, *command], cwd=cwd,
                             stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter_ns() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        raise RuntimeError(f"{' '.join(command)} exited with {child.returncode}")
    with open(peak_path, encoding="utf-8") as peak:
        return wall, (usage.ru_utime + usage.ru_stime) * 1e9, int(peak.read().split()[-1])


# The calls that could make, open or remove an entry; those that name the share-mode store
# (/run/quarrow2, a runtime folder's quarrow2, /dev/shm/quarrow2-UID) or its lock file.
ENTRY_CALLS = "openat,open,creat,mkdir,mkdirat,unlink,unlinkat,rmdir,link,linkat,rename,renameat,renameat2"
STORE_PATH = re.compile(r'"[^"]*/quarrow2(?:-\d+)?(?:/locks)?"')


def store_calls(command, cwd, trace_path):
    """(opens of the store's lock file, other calls naming the store) of one run."""
    subprocess.run(["strace", "-f", "-qq", "-e", "trace=" + ENTRY_CALLS, "-o", trace_path, *command],
                   cwd=cwd, stdout=subprocess.DEVNULL, check=True)
    opens = changes = 0
    with open(trace_path, encoding="utf-8", errors="replace") as trace:
        for line in trace:
            if STORE_PATH.search(line):
                opening = re.search(r"\bopenat\(", line) and not re.search(r"O_CREAT|O_TMPFILE", line)
                opens += bool(opening)
                changes += not opening
    os.remove(trace_path)
    return opens, changes


def strace_calls(command, cwd, summary_path):
    """System calls of one run, every thread's, from strace -c -f's summary: (total,
    {call: count})."""
    subprocess.run(["strace", "-c", "-f", "-o", summary_path, *command], cwd=cwd,
                   stdout=subprocess.DEVNULL, check=True)
    each = {}
    with open(summary_path, encoding="utf-8") as summary:
        for line in summary:
            fields = line.split()
            # % time, seconds, usecs/call, calls, [errors,] name
            if len(fields) >= 5 and fields[3].isdigit():
                if fields[-1] == "total":
                    return int(fields[3]), each
                each[fields[-1]] = int(fields[3])
    raise RuntimeError(f"no total in {summary_path}")


def report(runner, volume, operation, files, **fields):
    print(json.dumps({"runner": runner, "volume": volume, "operation": operation,
                      "size": f"{files:,} files × 2 items", "files": files, **fields}), flush=True)


class Walks:
    def __init__(self, tool, volume):
        self.volume = volume
        help_text = subprocess.run([tool, "list", "--help"], capture_output=True, text=True)
        self.has_jobs = bool(JOBS_OPTION.search(help_text.stdout + help_text.stderr))
        self.operations = {operation: [tool, *words] for operation, (words, _) in WALKS.items()}
        self.arguments = {operation: arguments for operation, (_, arguments) in WALKS.items()}
        self.getfattr = [shutil.which("getfattr") or "getfattr", "-R", "-d", "-m", r"^user\.", "."]

    def commands(self, operation):
        """{variant: command}: the tool with its default workers, with -j 1, and getfattr."""
        base, arguments = self.operations[operation], self.arguments[operation]
        commands = {"tool": base + arguments}
        if self.has_jobs:
            commands["tool -j 1"] = base + ["-j", "1"] + arguments
        commands["getfattr"] = self.getfattr
        return commands

    def report(self, runner, operation, files, **fields):
        report(runner, self.volume, operation, files, jobs_option=self.has_jobs, **fields)

    def time_tree(self, tree, files, runs, peak_path):
        for operation in self.operations:
            commands = self.commands(operation)
            best = {variant: {"wall_ns": float("inf"), "cpu_ns": float("inf"), "rss_kib": 0}
                    for variant in commands}
            # In turn, so that all meet the same caches and the same load.
            for _ in range(runs):
                for variant, command in commands.items():
                    wall, cpu, rss = run_child(command, tree, peak_path)
                    figures = best[variant]
                    figures["wall_ns"] = min(figures["wall_ns"], wall)
                    figures["cpu_ns"] = min(figures["cpu_ns"], cpu)
                    figures["rss_kib"] = max(figures["rss_kib"], rss)
            self.report("tree", operation, files, runs=runs, **{
                variant: {"wall_s": figures["wall_ns"] / 1e9,
                          "cpu_ns_per_file": figures["cpu_ns"] / files,
                          "peak_rss_kib": figures["rss_kib"]}
                for variant, figures in best.items()})

    def count_store(self, tree, files, results):
        """list -r once, traced: the share-mode store's lock file opened, entries changed."""
        opens, changes = store_calls(self.commands("list -r")["tool"], tree,
                                     os.path.join(results, "store.trace"))
        self.report("tree-store", "list -r", files, lock_file_opens=opens, store_changes=changes)

    def count_tree(self, tree, files, results):
        for operation in self.operations:
            counts = {}
            for variant, command in self.commands(operation).items():
                name = re.sub(r"[^a-z0-9]+", "-", f"{operation} {variant}").strip("-")
                summary = os.path.join(results, f"strace-{self.volume}-{name}.txt")
                total, each = strace_calls(command, tree, summary)
                counts[variant] = {"calls_per_file": total / files,
                                   "calls_per_item": total / files / ITEMS,
                                   "each_per_file": {call: count / files
                                                     for call, count in each.items()}}
            self.report("tree-syscalls", operation, files, **counts)


def report_skipped(reason, volume, sizes):
    traced = int(os.environ.get("QUARROW2_BENCH_TREE_STRACE_FILES", "1000"))
    for operation in WALKS:
        for files in sizes:
            report("tree", volume, operation, files, skipped=reason)
        report("tree-syscalls", volume, operation, traced, skipped=reason)


def main():
    if sys.argv[1] == "--skipped":
        reason, volume = sys.argv[2:4]
        report_skipped(reason, volume, [int(n) for n in sys.argv[4:]] or [10000, 100000])
        return
    tool, folder, volume, results = sys.argv[1:5]
    tool = os.path.abspath(tool)  # the walks run in the tree
    sizes = [int(n) for n in sys.argv[5:]] or [10000, 100000]
    traced = int(os.environ.get("QUARROW2_BENCH_TREE_STRACE_FILES", "1000"))
    walks = Walks(tool, volume)
    missing = [name for name in ("getfattr", "strace") if not shutil.which(name)]
    if "getfattr" in missing or not os.access(GNU_TIME, os.X_OK):
        why = ("getfattr (package attr) is missing" if "getfattr" in missing
               else f"{GNU_TIME} (package time) is missing")
        for operation in walks.operations:
            for files in sizes:
                walks.report("tree", operation, files, skipped=why)
        return
    for files in sizes:
        runs = int(os.environ.get("QUARROW2_BENCH_TREE_RUNS", "5" if files <= 10000 else "3"))
        tree = os.path.join(folder, f"tree-{files}")
        started = time.monotonic()
        make_tree(tree, files)
        print(f"tree_walks.py: {files:,} files made in {time.monotonic() - started:.0f} s",
              file=sys.stderr, flush=True)
        started = time.monotonic()
        walks.time_tree(tree, files, runs, os.path.join(results, "peak-memory.txt"))
        print(f"tree_walks.py: {files:,} files timed in {time.monotonic() - started:.0f} s",
              file=sys.stderr, flush=True)
        if files == sizes[0] and "strace" not in missing:
            walks.count_store(tree, files, results)
        shutil.rmtree(tree)
    if "strace" in missing:
        for operation in walks.operations:
            walks.report("tree-syscalls", operation, traced, skipped="strace is missing")
        return
    tree = os.path.join(folder, f"tree-{traced}")
    make_tree(tree, traced)
    walks.count_tree(tree, traced, results)
    shutil.rmtree(tree)


if __name__ == "__main__":
    main()
