#!/usr/bin/env python3
"""Quarrow2.dll under Wine and libquarrow2.so on one fresh NTFS image, written and checked
from Linux around ntfs_client_test.exe and the tool (ntfs_tool_main.cpp), which reads the
streams other Windows programs write as the text they are. Exits 0 passed, 1 failed, 77
skipped.

usage: ntfs_wine_test.py WINE_RUN CLIENT_EXE LINUX_TOOL NTFS_TOOL_EXE"""
import contextlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

# The values ntfs_client_test.cpp writes and expects.
TEXT = "Quarrow2 \u00e9\u4e2d \U0001D11E"
ALL_BYTES = bytes(range(256))
MARKER = "---***NULL***---".encode("utf-16-le")
# A browser's download mark on Windows: UTF-8 (here ASCII) text with CRLF line ends.
ZONE = "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=https://example.com/setup.exe\r\n"
BODIES = {"doc.txt": b"doc body\r\n" + ALL_BYTES,
          "linux.txt": b"tagged on Linux", "dll.txt": b"tagged on Windows", "setup.exe": b"MZ"}
# Each file's items before the DLL and the tool run; after them, dll.txt holds those of
# linux.txt and setup.exe those the tool adds.
ITEMS = {"doc.txt": {"Keep": b"kept"},
         "linux.txt": {"Text": TEXT.encode("utf-16-le"), "Bytes": ALL_BYTES, "Empty": MARKER},
         "dll.txt": {},
         "setup.exe": {"Zone.Identifier": ZONE.encode(), "Author": "Jane".encode("utf-16-le"),
                       "Note": "Grüße".encode()}}
ADDED = {"xdg.tags": b"work", "xdg.origin.url": b"https://example.com/setup.exe"}


def unavailable(tool):
    needs = [(os.geteuid() == 0, "mounting an NTFS image needs root"),
             *((shutil.which(p), p + " is not installed") for p in ("mkntfs", "ntfs-3g", "wine")),
             (os.access("/dev/fuse", os.R_OK | os.W_OK), "/dev/fuse is not usable"),
             (os.access(tool, os.X_OK), tool + " is missing: build the linux-release preset first")]
    return next((reason for met, reason in needs if not met), None)


@contextlib.contextmanager
def mounted(image, where, options="no_detach"):
    """One ntfs-3g mount, its driver in the foreground so that its end can be awaited."""
    driver = subprocess.Popen(["ntfs-3g", "-o", options, image, where],
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    deadline = time.monotonic() + 30
    while not os.path.ismount(where):
        if driver.poll() is not None or time.monotonic() > deadline:
            driver.kill()
            raise RuntimeError("ntfs-3g did not mount: " + driver.stderr.read().decode())
        time.sleep(0.02)
    try:
        yield
    finally:
        # Wine's server may still hold a handle for a moment after its client ends.
        for _ in range(200):
            if subprocess.run(["umount", where], stderr=subprocess.DEVNULL).returncode == 0:
                break
            time.sleep(0.05)
        else:
            subprocess.run(["umount", "-l", where])
        driver.wait(timeout=60)
        driver.stderr.close()


def write_from_linux(tool, folder, failures):
    for name, body in BODIES.items():
        open(os.path.join(folder, name), "wb").write(body)
    for name in ("doc.txt", "setup.exe"):
        for item, value in ITEMS[name].items():
            os.setxattr(os.path.join(folder, name), "user." + item, value)
    os.mkdir(os.path.join(folder, "folder"))
    os.setxattr(os.path.join(folder, "folder"), "user.Kept", "kept".encode("utf-16-le"))
    linux = os.path.join(folder, "linux.txt")
    for arguments in (["set", linux, "Text", TEXT], ["set", "--hex", linux, "Bytes", ALL_BYTES.hex()],
                      ["set", linux, "Empty", ""]):
        result = subprocess.run([tool, *arguments], capture_output=True, text=True)
        if result.returncode != 0:
            failures.append("quarrow2 %s: %s" % (" ".join(arguments[:2]), result.stderr.strip()))


def check_from_linux(tool, folder, failures):
    if sorted(os.listdir(folder)) != sorted([*BODIES, "folder"]) or os.listdir(os.path.join(folder, "folder")):
        failures.append("the volume holds %s" % sorted(os.listdir(folder)))
    inside = {n: os.getxattr(os.path.join(folder, "folder"), n) for n in os.listxattr(os.path.join(folder, "folder"))}
    if inside != {"user.Kept": "kept".encode("utf-16-le"), "user.Added": "added".encode("utf-16-le")}:
        failures.append("folder: items %r" % inside)
    for name, body in BODIES.items():
        path = os.path.join(folder, name)
        if open(path, "rb").read() != body:
            failures.append(name + ": its own bytes changed")
        items = {n[len("user."):]: os.getxattr(path, n) for n in os.listxattr(path)}
        if items != {**ITEMS["linux.txt" if name == "dll.txt" else name],
                     **(ADDED if name == "setup.exe" else {})}:
            failures.append("%s: items %r" % (name, items))
    # The DLL wrote the very bytes the Linux tool writes; libquarrow2.so reads them back.
    dll = os.path.join(folder, "dll.txt")
    got = subprocess.run([tool, "get", dll, "Text"], capture_output=True, text=True).stdout
    if got.rstrip("\n") != TEXT:
        failures.append("quarrow2 get dll.txt Text")


def run_tool(wine_run, tool, folder, failures):
    """The tool under Wine reads each stream as the text its name says and writes UTF-8."""
    setup = "Z:" + os.path.join(folder, "setup.exe").replace("/", "\\")
    dump = json.dumps({"format": "quarrow2-dump", "version": 1, "files": [{"path": setup, "items": [
        {"type": "xdg.origin.url", "utf8": ADDED["xdg.origin.url"].decode()}]}]}).encode()
    # arguments, standard input, exit status, standard output (or a part of the message)
    for arguments, stdin, status, shown in (
            (["get", setup, "Zone.Identifier"], b"", 0, ZONE + "\n"),
            (["get", setup, "Author"], b"", 0, "Jane\n"),
            (["get", setup, "Note"], b"", 1, "Read it with --utf8"),
            (["get", "--utf8", setup, "Note"], b"", 0, "Grüße\n"),
            (["set", "--utf8", setup, "xdg.tags", "work"], b"", 0, ""),
            (["restore", "-P"], dump, 0, "")):
        result = subprocess.run([wine_run, tool, *arguments], input=stdin, capture_output=True,
                                cwd=os.path.dirname(tool), timeout=600)
        out, message = result.stdout.decode(), result.stderr.decode()
        if result.returncode != status or (shown not in message if status else out != shown):
            failures.append("the tool's %s: status %d, %r, %r" % (arguments, result.returncode,
                                                                   out, message))


def main():
    if len(sys.argv) != 5:
        print(__doc__)
        return 2
    wine_run, client, tool, ntfs_tool = (os.path.abspath(a) for a in sys.argv[1:])
    if reason := unavailable(tool):
        print("skipped:", reason)
        return 77
    failures = []
    with tempfile.TemporaryDirectory(prefix="quarrow2-ntfs-") as work:
        image, folder = os.path.join(work, "volume.ntfs"), os.path.join(work, "mnt")
        os.mkdir(folder)
        open(image, "wb").truncate(16 << 20)
        subprocess.run(["mkntfs", "-F", "-Q", "-q", image], check=True)
        try:
            with mounted(image, folder):
                write_from_linux(tool, folder, failures)
        except RuntimeError as e:
            print("skipped: cannot mount an NTFS image here:", e)
            return 77
        with mounted(image, folder, "no_detach,streams_interface=windows"):
            env = dict(os.environ, QUARROW2_NTFS_DIR="Z:" + folder.replace("/", "\\"))
            # The client's folder, not the volume: nothing of Wine's may keep the mount busy.
            run = subprocess.run([wine_run, client], env=env, cwd=os.path.dirname(client),
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=600)
            print(run.stdout.decode(errors="replace").replace("\r", ""))
            if run.returncode != 0:
                failures.append("the client under Wine failed with status %d" % run.returncode)
            run_tool(wine_run, ntfs_tool, folder, failures)
        with mounted(image, folder):
            check_from_linux(tool, folder, failures)
    for failure in failures:
        print("FAILED:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
