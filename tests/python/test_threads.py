"""Threads and memory: separate File objects in parallel threads, threads that wait for a
busy item, and 100,000 operations that leave memory flat (no reference or handle leaks,
failures included)."""
import os
import subprocess
import sys
import threading
import time
import tracemalloc

import pytest

import quarrow2


def test_separate_files_in_parallel_threads(path):
    failures = []

    def work(n):
        try:
            f = quarrow2.File(path)
            for i in range(300):
                f.texts[f"T{n}"] = f"{n}:{i}"
                assert f.texts[f"T{n}"] == f"{n}:{i}" and f"T{n}" in f.items
        except BaseException as error:  # reported by the main thread
            failures.append(error)

    threads = [threading.Thread(target=work, args=(n,)) for n in range(6)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == [] and sorted(quarrow2.File(path).texts.values()) == [f"{n}:299" for n in range(6)]


# Holds the item open (admitting readers only) until its standard input closes.
HOLDER = """import quarrow2, sys
with quarrow2.File(sys.argv[1]).Open("Key"):
    print("held", flush=True)
    sys.stdin.read()
"""


@pytest.mark.parametrize("wait", [quarrow2.DEFAULT_WAIT, 0])
def test_four_threads_on_one_key_with_a_holder_in_another_process(path, wait):
    """Each write waits out the other threads and, for its first second, another process
    that holds the item: none is lost. With wait=0 they fail busy at once. A read never
    waits."""
    quarrow2.File(path).items["Key"] = b"start"
    holder = subprocess.Popen([sys.executable, "-c", HOLDER, path], stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, text=True)
    assert holder.stdout.readline() == "held\n"
    # Reads share the item with its holder: they neither wait nor fail.
    assert quarrow2.File(path, wait=0).items["Key"] == b"start"
    done, failures = [], []

    def work(n):
        f = quarrow2.File(path, wait=wait)
        for i in range(100):
            try:
                f.items["Key"] = f"{n}:{i}".encode()
                done.append((n, i))
            except quarrow2.BusyError as error:
                failures.append(error)

    threads = [threading.Thread(target=work, args=(n,)) for n in range(4)]
    for thread in threads:
        thread.start()
    time.sleep(1)
    holder.stdin.close()
    for thread in threads:
        thread.join()
    assert holder.wait(10) == 0
    if wait:
        assert (len(done), failures) == (400, [])
        assert os.getxattr(path, "user.Key").decode() in {f"{n}:99" for n in range(4)}
    else:
        assert failures and len(done) + len(failures) == 400


def rss_kib():
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("VmRSS:"))


def test_memory_stays_flat_over_100000_operations(path):
    if os.environ.get("QUARROW2_SANITIZE"):
        pytest.skip("a sanitizer's quarantine keeps freed memory; the release build checks this")
    f = quarrow2.File(path)
    item = f.Add("Value")

    def rounds(n):  # four operations a round, one of them a failure
        for i in range(n):
            item.Text = "value"
            item.Data
            list(f.Types)
            try:
                f.Open("Missing")
            except quarrow2.Error:
                pass

    rounds(2500)
    tracemalloc.start()
    before, rss_before = tracemalloc.take_snapshot(), rss_kib()
    rounds(25000)
    growth = sum(s.size_diff for s in tracemalloc.take_snapshot().compare_to(before, "filename"))
    tracemalloc.stop()
    assert growth < 64 * 1024, f"Python objects grew by {growth} bytes"
    assert rss_kib() - rss_before < 256, "the process grew by more than 256 KiB"
