"""The get and put loops a Python program would write with os.getxattr and os.setxattr (the
same "user." extended attributes), timed in-process after a warm up, in the calling thread's
CPU time like the C++ benchmarks.

Usage: python3 xattr_loops.py FOLDER VOLUME MIN_SECONDS
Prints one JSON object per line: runner, volume, operation, size, cpu_ns and wall_ns per
operation, or skipped with the reason.
"""
import json
import os
import sys
import time

SIZES = (16, 1024, 4096, 60 * 1024)
NAME = "user.Value"
BLOCK = 64


def pattern(n):
    """The same bytes as the C++ benchmarks store: Latin letters in UTF-16LE."""
    return bytes(ord("a") + (i // 2) % 26 if i % 2 == 0 else 0 for i in range(n))


def size_name(n):
    return f"{n // 1024} KiB" if n >= 1024 and n % 1024 == 0 else f"{n} B"


def report(volume, operation, size, **fields):
    print(json.dumps({"runner": "Python", "volume": volume, "operation": operation,
                      "size": size_name(size), **fields}), flush=True)


def time_loop(loop, min_seconds):
    """Warms the loop up, then times blocks of calls until min_seconds of CPU time passed."""
    warm_end = time.perf_counter() + 0.1
    while time.perf_counter() < warm_end:
        for _ in range(BLOCK):
            loop()
    cpu = wall = calls = 0
    while cpu < min_seconds * 1e9:
        cpu_start, wall_start = time.thread_time_ns(), time.perf_counter_ns()
        for _ in range(BLOCK):
            loop()
        wall += time.perf_counter_ns() - wall_start
        cpu += time.thread_time_ns() - cpu_start
        calls += BLOCK
    return cpu / calls, wall / calls, calls


def main():
    if len(sys.argv) != 4:
        sys.exit("usage: xattr_loops.py FOLDER VOLUME MIN_SECONDS")
    folder, volume, min_seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
    for size in SIZES:
        path = os.path.join(folder, f"python-{size}")
        open(path, "wb").close()
        data = pattern(size)
        text = data.decode("utf-16-le")
        loops = {
            "Text get": lambda: os.getxattr(path, NAME).decode("utf-16-le"),
            "Text put": lambda: os.setxattr(path, NAME, text.encode("utf-16-le")),
            "Data get": lambda: os.getxattr(path, NAME),
            "Data put": lambda: os.setxattr(path, NAME, data),
        }
        try:
            os.setxattr(path, NAME, data)
        except OSError as error:
            for operation in list(loops) + ["Length"]:
                report(volume, operation, size,
                       skipped=f"cannot store an item of {size_name(size)} ({error.strerror})")
            os.remove(path)
            continue
        for operation, loop in loops.items():
            cpu, wall, calls = time_loop(loop, min_seconds)
            report(volume, operation, size, cpu_ns=round(cpu, 1), wall_ns=round(wall, 1), calls=calls)
        report(volume, "Length", size,
               skipped="the os module has no size query (getxattr always reads the value)")
        os.remove(path)


if __name__ == "__main__":
    main()
