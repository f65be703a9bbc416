"""Memcheck of a set/list/get/rm/dump/restore/cp/find sequence, success and failure paths: no
error, no leak."""
import os
import shutil
import unittest

from tool_support import ToolTestCase, run

ERRORS = 99
VALGRIND = ["valgrind", "--quiet", "--error-exitcode=%d" % ERRORS, "--leak-check=full",
            "--errors-for-leak-kinds=definite,indirect", "--show-leak-kinds=definite,indirect"]


class MemcheckTest(ToolTestCase):
    def test_success_and_failure_paths_are_clean(self):
        if not shutil.which("valgrind"):
            self.skipTest("valgrind is not installed")
        if os.environ.get("QUARROW2_SANITIZE"):
            self.skipTest("this build uses sanitizers, which valgrind cannot run beside; "
                          "their leak checker covers it")
        path = self.make_file("notes.txt", b"content", [("Odd", b"\x01\x02\x03")])
        copy, folder = self.make_file("copy.txt"), self.folder
        # arguments, standard input, exit status
        steps = [(["set", path, "Author", "Jane Doe 😀"], b"", 0),
                 (["set", "--bytes", path, "Thumbnail", "-"], bytes(range(256)), 0),
                 (["set", "--hex", path, "Checksum", "00ff"], b"", 0),
                 (["list", path], b"", 0), (["list", "--json", "-r", folder], b"", 0),
                 (["get", path, "Author"], b"", 0), (["get", "--hex", path, "Thumbnail"], b"", 0),
                 (["get", "--json", path, "Author"], b"", 0), (["length", path], b"", 0),
                 (["list", "-l", path], b"", 0), (["dump", "-r", folder], b"", 0),
                 (["cp", "--type", "Checksum", path, copy], b"", 0),
                 (["find", "-r", folder, "--type", "Author", "--regex", "D.e"], b"", 0),
                 (["rm", "--all", copy], b"", 0),
                 (["restore", "-"], b"# file: notes.txt\nuser.A=0x4\n", 2),
                 (["get", path, "Missing"], b"", 1), (["get", path, "Odd"], b"", 1),
                 (["set", path, ":$DATA", "x"], b"", 1), (["set", path, "Big", "x" * 40000], b"", 1),
                 (["list", self.path("missing.txt")], b"", 1), (["rm", path, "Missing"], b"", 1),
                 (["set", path, "Author"], b"", 2)]
        outputs = {}
        for arguments, stdin, status in steps + [(["restore", "-"], None, 0),
                                                 (["rm", path, "Author", "Thumbnail", "Checksum"], b"", 0)]:
            with self.subTest(arguments=arguments[:2]):
                stdin = outputs[("dump", "-r", folder)] if stdin is None else stdin
                result = run(*arguments, stdin=stdin, prefix=VALGRIND)
                self.assertNotEqual(result.returncode, ERRORS,
                                    "valgrind found errors or leaks:\n" + result.stderr.decode())
                self.assertEqual(result.returncode, status, result.stderr.decode())
                outputs[tuple(arguments)] = result.stdout
        self.assertEqual(outputs[("get", path, "Author")], "Jane Doe 😀\n".encode())
        self.assertEqual(os.listxattr(path), ["user.Odd"])


if __name__ == "__main__":
    unittest.main()
