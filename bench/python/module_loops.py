"""The module's get and put on an open item (quarrow2.File(path).Add(...).Data / .Text) beside
the os.getxattr/os.setxattr loops that read and write the same values of the same file, and a
whole mapping read (dict(f.items) of 40 items of 16 B) beside the same loop over
os.listxattr/os.getxattr, in blocks taken in turn, in the calling thread's CPU time.

Usage: python3 module_loops.py FOLDER VOLUME MIN_SECONDS (the package quarrow2 importable)
Prints one JSON object per line: runner "Python module", volume, operation, size, cpu_ns
(the module), raw_ns (os) and ratio, or skipped with the reason; raw names the os calls where
they are other than os.getxattr or os.setxattr.
"""
import json
import os
import sys
import time

from xattr_loops import BLOCK, NAME, pattern, size_name

SIZES = (16, 4096)
MAPPING_ITEMS = 40


def report(volume, operation, size, **fields):
    print(json.dumps({"runner": "Python module", "volume": volume, "operation": operation,
                      "size": size if isinstance(size, str) else size_name(size), **fields}),
          flush=True)


def cpu_of_block(loop):
    start = time.thread_time_ns()
    for _ in range(BLOCK):
        loop()
    return time.thread_time_ns() - start


def time_pair(module, raw, min_seconds):
    """Warms both up, then times a block of each in turn until the module's blocks took
    min_seconds of CPU time; nanoseconds per call of each."""
    warm_end = time.perf_counter() + 0.1
    while time.perf_counter() < warm_end:
        cpu_of_block(module), cpu_of_block(raw)
    module_ns = raw_ns = calls = 0
    while module_ns < min_seconds * 1e9:
        module_ns += cpu_of_block(module)
        raw_ns += cpu_of_block(raw)
        calls += BLOCK
    return module_ns / calls, raw_ns / calls


def main():
    try:
        import quarrow2
    except ImportError as error:
        report(sys.argv[2], "*", 0, skipped=f"the module cannot be imported ({error})")
        return
    folder, volume, min_seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
    for size in SIZES:
        path = os.path.join(folder, f"module-{size}")
        open(path, "wb").close()
        data = pattern(size)
        text = data.decode("utf-16-le")
        try:
            item = quarrow2.File(path).Add(NAME[5:])
            item.Data = data
        except quarrow2.Error as error:
            for operation in ("Data get", "Data put", "Text get", "Text put"):
                report(volume, operation, size, skipped=f"cannot store an item of {size_name(size)} ({error})")
            os.remove(path)
            continue
        pairs = {
            "Data get": (lambda: item.Data, lambda: os.getxattr(path, NAME)),
            "Data put": (lambda: setattr(item, "Data", data), lambda: os.setxattr(path, NAME, data)),
            "Text get": (lambda: item.Text, lambda: os.getxattr(path, NAME).decode("utf-16-le")),
            "Text put": (lambda: setattr(item, "Text", text),
                         lambda: os.setxattr(path, NAME, text.encode("utf-16-le"))),
        }
        for operation, (module, raw) in pairs.items():
            module_ns, raw_ns = time_pair(module, raw, min_seconds)
            report(volume, operation, size, cpu_ns=round(module_ns, 1), raw_ns=round(raw_ns, 1),
                   ratio=round(module_ns / raw_ns, 3))
        item.Close()
        os.remove(path)
    time_mapping(quarrow2, folder, volume, min_seconds)


def time_mapping(quarrow2, folder, volume, min_seconds):
    """dict(f.items) beside the loop a program would write with os to read the same items."""
    path = os.path.join(folder, "module-mapping")
    open(path, "wb").close()
    size = f"{MAPPING_ITEMS} × 16 B"
    try:
        for i in range(MAPPING_ITEMS):
            os.setxattr(path, f"user.Item{i:02}", pattern(16))
    except OSError as error:
        report(volume, "dict(items)", size, skipped=f"cannot store {size} ({error.strerror})")
        os.remove(path)
        return
    f = quarrow2.File(path)

    def raw():
        return {n[5:]: os.getxattr(path, n) for n in os.listxattr(path) if n.startswith("user.")}

    assert dict(f.items) == raw()
    module_ns, raw_ns = time_pair(lambda: dict(f.items), raw, min_seconds)
    report(volume, "dict(items)", size, raw="os.listxattr, os.getxattr", cpu_ns=round(module_ns, 1),
           raw_ns=round(raw_ns, 1), ratio=round(module_ns / raw_ns, 3))
    f.Close()
    os.remove(path)


if __name__ == "__main__":
    main()
