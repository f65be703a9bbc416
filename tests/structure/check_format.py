#!/usr/bin/env python3
"""Fails on any C++ file of the project that clang-format (.clang-format at the root) would
change, naming each; 77 (skipped) without clang-format. Usage: check_format.py [ROOT]"""
import os
import shutil
import subprocess
import sys

FOLDERS = ["include", "platform", "store", "items", "discovery", "server", "tools", "bench",
           "examples", "tests"]


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                           os.path.join(os.path.dirname(__file__), "..", ".."))
    if not shutil.which("clang-format"):
        print("skipped: clang-format is not installed (scripts/install-packages installs it)")
        return 77
    files = sorted(os.path.join(folder, name) for top in FOLDERS
                   for folder, _, names in os.walk(os.path.join(root, top))
                   for name in names if name.endswith((".h", ".cpp")))
    result = subprocess.run(["clang-format", "--dry-run", "-Werror", *files], cwd=root,
                            capture_output=True, text=True)
    unformatted = sorted({line.split(":", 1)[0] for line in result.stderr.splitlines()
                          if "-Wclang-format-violations" in line})
    print("\n".join(f"{os.path.relpath(path, root)}: not formatted; run clang-format -i on it"
                    for path in unformatted) or result.stderr)
    return 1 if result.returncode != 0 else 0


if __name__ == "__main__":
    sys.exit(main())
