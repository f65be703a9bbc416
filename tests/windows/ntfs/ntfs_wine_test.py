#!/usr/bin/env python3
"""Quarrow2.dll under Wine and libquarrow2.so on one real NTFS volume.

Makes an image with mkntfs; writes files and items from Linux (the quarrow2 tool of the
linux-release build) on a default ntfs-3g mount; runs ntfs_client_test.exe under Wine on a
mount with Windows stream names (file:stream); then checks, from Linux again, every file's
bytes and items. One mount at a time: each is unmounted, and its driver waited for, before
the next. Exit status 0 passed, 1 failed, 77 skipped (the reason is printed).

usage: ntfs_wine_test.py WINE_RUN CLIENT_EXE LINUX_TOOL
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

SKIPPED = 77

# The values ntfs_client_test.cpp writes and expects.
TEXT = "Quarrow2 \u00e9\u4e2d \U0001D11E"
ALL_BYTES = bytes(range(256))
MARKER = "---***NULL***---".encode("utf-16-le")

# What Linux puts on the volume before the DLL runs: each file's contents and items.
BODIES = {
    "doc.txt": b"doc body\r\n" + ALL_BYTES,
    "hostile.txt": b"hostile body, kept whole",
    "linux.txt": b"tagged on Linux",
    "dll.txt": b"tagged on Windows",
}
ITEMS_BEFORE = {
    "doc.txt": {"Keep": b"kept"},
    "hostile.txt": {"Keep": b"keep me", "Other": "other".encode("utf-16-le")},
    "linux.txt": {"Text": TEXT.encode("utf-16-le"), "Bytes": ALL_BYTES, "Empty": MARKER},
    "dll.txt": {},
}
# What the DLL leaves: only dll.txt gains items, the ones ntfs_client_test.cpp writes.
ITEMS_AFTER = dict(ITEMS_BEFORE, **{"dll.txt": ITEMS_BEFORE["linux.txt"]})


def skip(reason):
    print("skipped:", reason)
    sys.exit(SKIPPED)


def unavailable(tool):
    if os.geteuid() != 0:
        return "mounting an NTFS image needs root"
    for program in ("mkntfs", "ntfs-3g", "wine"):
        if not shutil.which(program):
            return program + " is not installed"
    if not os.access("/dev/fuse", os.R_OK | os.W_OK):
        return "/dev/fuse is not usable"
    if not os.access(tool, os.X_OK):
        return tool + " is missing: build the linux-release preset first"
    return None


class Mount:
    """One ntfs-3g mount, its driver in the foreground so that its end can be awaited."""

    def __init__(self, image, where, options=""):
        self.image, self.where = image, where
        self.options = "no_detach" + ("," + options if options else "")

    def __enter__(self):
        self.driver = subprocess.Popen(["ntfs-3g", "-o", self.options, self.image, self.where],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 30
        while not os.path.ismount(self.where):
            if self.driver.poll() is not None:
                raise RuntimeError("ntfs-3g failed: " + self.driver.stderr.read().decode())
            if time.monotonic() > deadline:
                self.driver.kill()
                self.driver.wait()
                raise RuntimeError("ntfs-3g did not mount in time")
            time.sleep(0.02)
        return self

    def __exit__(self, *exc):
        # Wine's server may still hold a handle for a moment after its client ends.
        for _ in range(200):
            if subprocess.run(["umount", self.where], stderr=subprocess.DEVNULL).returncode == 0:
                break
            time.sleep(0.05)
        else:
            subprocess.run(["umount", "-l", self.where])
        self.driver.wait(timeout=60)
        self.driver.stderr.close()


def tool_run(tool, *arguments):
    return subprocess.run([tool, *arguments], capture_output=True, text=True)


def items_of(path):
    return {name[len("user."):]: os.getxattr(path, name) for name in os.listxattr(path)
            if name.startswith("user.")}


def write_from_linux(tool, folder, failures):
    for name, body in BODIES.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(body)
    for name in ("doc.txt", "hostile.txt"):
        for item, value in ITEMS_BEFORE[name].items():
            os.setxattr(os.path.join(folder, name), "user." + item, value)
    linux = os.path.join(folder, "linux.txt")
    for arguments in (["set", linux, "Text", TEXT], ["set", "--hex", linux, "Bytes", ALL_BYTES.hex()],
                      ["set", linux, "Empty", ""]):
        result = tool_run(tool, *arguments)
        if result.returncode != 0:
            failures.append("quarrow2 %s: %s" % (" ".join(arguments[:2]), result.stderr.strip()))


def check_from_linux(tool, folder, failures):
    names = sorted(os.listdir(folder))
    if names != sorted(BODIES):
        failures.append("the volume holds %s, expected %s" % (names, sorted(BODIES)))
    for name, body in BODIES.items():
        path = os.path.join(folder, name)
        if not os.path.isfile(path):
            failures.append(name + " is gone")
            continue
        with open(path, "rb") as f:
            if f.read() != body:
                failures.append(name + ": its own bytes changed")
        if items_of(path) != ITEMS_AFTER[name]:
            failures.append("%s: items %r, expected %r" % (name, items_of(path), ITEMS_AFTER[name]))
    # What the DLL wrote, read through libquarrow2.so: the marker reads as the empty value.
    dll = os.path.join(folder, "dll.txt")
    for item, value in ITEMS_AFTER["dll.txt"].items():
        expected = "" if value == MARKER else value.hex()
        result = tool_run(tool, "get", "--hex", dll, item)
        if result.returncode != 0 or result.stdout.strip() != expected:
            failures.append("quarrow2 get --hex dll.txt %s: %r %r, expected %r"
                            % (item, result.stdout.strip(), result.stderr.strip(), expected))
    result = tool_run(tool, "get", dll, "Text")
    if result.stdout.rstrip("\n") != TEXT:
        failures.append("quarrow2 get dll.txt Text: %r" % result.stdout)


def main():
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    wine_run, client, tool = (os.path.abspath(a) for a in sys.argv[1:])
    reason = unavailable(tool)
    if reason:
        skip(reason)
    failures = []
    with tempfile.TemporaryDirectory(prefix="quarrow2-ntfs-") as work:
        image = os.path.join(work, "volume.ntfs")
        folder = os.path.join(work, "mnt")
        os.mkdir(folder)
        with open(image, "wb") as f:
            f.truncate(16 << 20)
        made = subprocess.run(["mkntfs", "-F", "-Q", "-q", image], capture_output=True, text=True)
        if made.returncode != 0:
            print("mkntfs failed:", made.stderr)
            return 1
        try:
            with Mount(image, folder):
                write_from_linux(tool, folder, failures)
        except RuntimeError as e:
            skip("cannot mount an NTFS image here: %s" % e)

        with Mount(image, folder, "streams_interface=windows"):
            env = dict(os.environ, QUARROW2_NTFS_DIR="Z:" + folder.replace("/", "\\"))
            # The client's folder, not the volume: nothing of Wine's may keep the mount busy.
            try:
                client_run = subprocess.run([wine_run, client], env=env, cwd=os.path.dirname(client),
                                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                            timeout=600)
                print(client_run.stdout.decode(errors="replace").replace("\r", ""))
                if client_run.returncode != 0:
                    failures.append("the client under Wine failed with status %d"
                                    % client_run.returncode)
            except subprocess.TimeoutExpired:
                failures.append("the client under Wine did not end within 10 minutes")

        with Mount(image, folder):
            check_from_linux(tool, folder, failures)

    for failure in failures:
        print("FAILED:", failure)
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
