"""System calls per item operation, the library's and the raw calls', counted exactly: runs
the driver quarrow2_syscall_counts under `strace -f` (every thread, every call traced) and
counts the calls between each stretch's marks. A stretch is CALLS calls of one step in a
row, so its count divided by CALLS is the calls of one operation; "exact" says that it
divides evenly, as it does when every operation makes the same calls.

Usage: python3 count.py DRIVER CALLS TRACE_FILE
Prints one JSON object per line: runner "syscalls", volume, operation, size, and for each
side ("Quarrow2", "raw") the calls per operation, which calls they are, and which of them
are share-mode calls (the open-file-description locks and any call on the share-mode
store's folder or lock file); or skipped with the reason.
"""
import collections
import json
import re
import shutil
import subprocess
import sys

# "1234 openat(...", "[pid 1234] openat(..."; a resumed call ("<... openat resumed>") is
# the second half of a line already counted.
CALL = re.compile(r"^(?:\[pid\s+\d+\]\s+|\d+\s+)?([a-z_][a-z0-9_]*)\(")
MARK = re.compile(r'"/quarrow2-mark/(\d+)/(begin|end)"')
# A share-mode call: an open-file-description lock (its command named), or a call that names
# the store (/run/quarrow2, a runtime folder's quarrow2, /dev/shm/quarrow2-UID) or its lock file.
OFD_LOCK = re.compile(r"\b(F_OFD_\w+)")
STORE = re.compile(r'"[^"]*/quarrow2(?:-\d+)?(?:/locks)?"')


def share_mode_call(name, line):
    """The share-mode call a trace line shows, as "fcntl F_OFD_SETLK" or "openat"; or None."""
    lock = OFD_LOCK.search(line) if name == "fcntl" else None
    if lock:
        return f"fcntl {lock.group(1)}"
    return name if STORE.search(line) else None


def count_stretches(trace_path):
    """{mark: (Counter of call names, Counter of share-mode calls)} for the calls between
    each begin and end mark."""
    stretches, current = {}, None
    with open(trace_path, encoding="utf-8", errors="replace") as trace:
        for line in trace:
            mark = MARK.search(line)
            if mark:
                current = int(mark.group(1)) if mark.group(2) == "begin" else None
                if current is not None:
                    stretches[current] = (collections.Counter(), collections.Counter())
                continue
            call = CALL.match(line)
            if call and current is not None:
                names, share_modes = stretches[current]
                names[call.group(1)] += 1
                share_mode = share_mode_call(call.group(1), line)
                if share_mode:
                    share_modes[share_mode] += 1
    return stretches


def main():
    driver, calls, trace_path = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    if not shutil.which("strace"):
        print(json.dumps({"runner": "syscalls", "volume": "*", "operation": "*", "size": "*",
                          "skipped": "strace is missing"}))
        return
    run = subprocess.run(["strace", "-f", "-qq", "-o", trace_path, driver, str(calls)],
                         capture_output=True, text=True)
    if run.returncode != 0:
        print(json.dumps({"runner": "syscalls", "volume": "*", "operation": "*", "size": "*",
                          "skipped": f"the driver failed: {run.stderr.strip()[-300:]}"}))
        return
    stretches = count_stretches(trace_path)
    rows = collections.OrderedDict()
    for line in run.stdout.splitlines():
        record = json.loads(line)
        key = (record["volume"], record["operation"], record["size"])
        row = rows.setdefault(key, {"runner": "syscalls", "volume": key[0], "operation": key[1],
                                    "size": key[2]})
        if "skipped" in record or "failed" in record:
            row["skipped"] = record.get("skipped") or record["failed"]
            continue
        names, share_modes = stretches.get(record["mark"], (collections.Counter(),) * 2)
        total = sum(names.values())
        row[record["side"]] = {
            "per_call": total / record["calls"],
            "exact": total % record["calls"] == 0,
            "calls": {name: n / record["calls"] for name, n in names.most_common()},
            "share_mode_calls": {name: n / record["calls"] for name, n in share_modes.most_common()},
        }
    for row in rows.values():
        print(json.dumps(row), flush=True)


if __name__ == "__main__":
    main()
