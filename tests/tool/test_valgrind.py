"""Memcheck of a set/list/get/rm/dump/restore/cp/find sequence, success and failure paths: no error, no leak."""
import os
import shutil
import unittest

from tool_support import ToolTestCase, run, sanitized

ERRORS = 99
VALGRIND = ["valgrind", "--quiet", "--error-exitcode=%d" % ERRORS, "--leak-check=full",
            "--errors-for-leak-kinds=definite,indirect",
            "--show-leak-kinds=definite,indirect"]


class MemcheckTest(ToolTestCase):
    def setUp(self):
        if not shutil.which("valgrind"):
            self.skipTest("valgrind is not installed")
        if sanitized():
            self.skipTest("this build uses sanitizers, which valgrind cannot run beside; "
                          "their leak checker covers it")
        super().setUp()

    def memcheck(self, *arguments, status=0, stdin=b""):
        result = run(*arguments, stdin=stdin, prefix=VALGRIND)
        self.assertNotEqual(result.returncode, ERRORS,
                            "valgrind found errors or leaks:\n" + result.stderr.decode())
        self.assertEqual(result.returncode, status, result.stderr.decode())
        return result

    def test_sequence_is_clean(self):
        path = self.make_file("notes.txt", b"content")
        self.memcheck("set", path, "Author", "Jane Doe 😀")
        self.memcheck("set", "--bytes", path, "Thumbnail", "-", stdin=bytes(range(256)))
        self.memcheck("set", "--hex", path, "Checksum", "00ff")
        self.assertIn(b"Author", self.memcheck("list", path).stdout)
        self.memcheck("list", "--json", "-r", self.folder)
        self.assertEqual(self.memcheck("get", path, "Author").stdout, "Jane Doe 😀\n".encode())
        self.memcheck("get", "--hex", path, "Thumbnail")
        self.memcheck("get", "--json", path, "Author")
        self.memcheck("length", path)
        self.memcheck("list", "-l", path)
        dump = self.memcheck("dump", "-r", self.folder).stdout
        copy = self.make_file("copy.txt")
        self.memcheck("cp", "--type", "Checksum", path, copy)
        self.memcheck("find", "-r", self.folder, "--type", "Author", "--regex", "D.e")
        self.memcheck("rm", "--all", copy)
        self.memcheck("restore", "-", stdin=dump)
        self.memcheck("restore", "-", stdin=b"# file: notes.txt\nuser.A=0x4\n", status=2)
        self.memcheck("rm", path, "Author", "Thumbnail", "Checksum")
        self.assertEqual(os.listxattr(path), [])

    def test_failure_paths_are_clean(self):
        path = self.make_file("notes.txt", items=[("Odd", b"\x01\x02\x03")])
        self.memcheck("get", path, "Missing", status=1)
        self.memcheck("get", path, "Odd", status=1)
        self.memcheck("set", path, ":$DATA", "x", status=1)
        self.memcheck("set", path, "Big", "x" * 40000, status=1)
        self.memcheck("list", self.path("missing.txt"), status=1)
        self.memcheck("rm", path, "Missing", status=1)
        self.memcheck("set", path, "Author", status=2)


if __name__ == "__main__":
    unittest.main()
