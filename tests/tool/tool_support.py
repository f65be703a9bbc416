#!/usr/bin/env python3
"""The built tool (QUARROW2_TOOL) run on real files. `tool_support.py MODULE` runs one suite
for CTest: 1 when a test failed or none ran, 77 (skipped, reasons shown) when all skipped."""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

EMPTY_MARKER = "---***NULL***---".encode("utf-16-le")  # what an empty value is stored as


def utf16(text):
    return text.encode("utf-16-le")


def tool_path():
    path = os.environ.get("QUARROW2_TOOL", "")
    if not os.path.isfile(path):  # not a skip: the build is expected to have made it
        raise RuntimeError("QUARROW2_TOOL does not name the built tool: %r" % path)
    return path


def run(*arguments, stdin=b"", cwd=None, prefix=()):
    return subprocess.run([*prefix, tool_path(), *arguments], input=stdin, capture_output=True,
                          cwd=cwd, timeout=600)


def user_items(path):
    """The file's items as the file system lists them: {type: raw bytes}, in order."""
    return {n[5:]: os.getxattr(path, n) for n in os.listxattr(path) if n.startswith("user.")}


def folder_taking(value_size, parents=(None, "/dev/shm")):
    """A new folder whose file system keeps a user attribute of this size, or None."""
    for parent in [p for p in parents if p is None or os.path.isdir(p)]:
        folder = tempfile.mkdtemp(prefix="quarrow2-tool-", dir=parent)
        try:
            os.setxattr(folder, "user.probe", b"x" * value_size)
            os.removexattr(folder, "user.probe")
            return folder
        except OSError:
            shutil.rmtree(folder)
    return None


class ToolTestCase(unittest.TestCase):
    """Each test gets a fresh folder on a file system with user extended attributes."""

    def setUp(self):
        tool_path()
        self.folder = folder_taking(1, (None,))
        if self.folder is None:
            self.skipTest("the temporary folder's file system has no user extended attributes")
        self.addCleanup(shutil.rmtree, self.folder, True)

    def path(self, name):
        return os.path.join(self.folder, name)

    def make_file(self, name, content=b"", items=()):
        """A real file (name under the folder, or absolute) with this content and these items,
        set behind the tool's back."""
        path = self.path(name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as handle:
            handle.write(content)
        for item_type, value in items:
            os.setxattr(path, "user." + item_type, value)
        return path

    def expect(self, arguments, status=0, *fragments, out=None, **options):
        """Runs the tool; checks the status, the output when given (a dict: the JSON document),
        and that a failure is one line 'quarrow2: ...' (a refusal, status 2, may add usage)
        holding every fragment."""
        result = run(*arguments, **options)
        message = result.stderr.decode("utf-8", "surrogateescape")
        self.assertEqual(result.returncode, status, "%s: %r" % (arguments, message))
        if isinstance(out, dict):
            self.assertEqual(json.loads(result.stdout), out)
        elif out is not None:
            self.assertEqual(result.stdout, out if isinstance(out, bytes) else out.encode())
        if status == 0 or (status == 1 and arguments[0] == "find" and not fragments):
            self.assertEqual(message, "")  # success, or find's quiet "nothing found"
        else:
            self.assertTrue(message.startswith("quarrow2: ") and "\r" not in message, message)
            self.assertTrue(status == 2 or message.count("\n") == 1, message)
        for fragment in fragments:  # a text it holds, or a compiled pattern it matches
            self.assertRegex(message, fragment if hasattr(fragment, "search") else re.escape(fragment))
        return result

    def table(self, rows, **options):
        """expect() for each row: (arguments, status, output or None, fragments...)."""
        for arguments, status, out, *fragments in rows:
            with self.subTest(arguments=arguments):
                self.expect(arguments, status, *fragments, out=out, **options)


if __name__ == "__main__":
    result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(
        unittest.defaultTestLoader.loadTestsFromName(sys.argv[1]))
    sys.exit(1 if not result.wasSuccessful() or not result.testsRun else
             77 if len(result.skipped) >= result.testsRun else 0)
