"""Memcheck of a set/list/get/rm/dump/restore/cp/find sequence, success and failure paths: no
error, no leak."""
import os
import shutil

from tool_support import ToolTestCase, run

VALGRIND = ["valgrind", "--quiet", "--error-exitcode=99", "--leak-check=full",
            "--errors-for-leak-kinds=definite,indirect", "--show-leak-kinds=definite,indirect"]


class MemcheckTest(ToolTestCase):
    def test_success_and_failure_paths_are_clean(self):
        if not shutil.which("valgrind"):
            self.skipTest("valgrind is not installed")
        if os.environ.get("QUARROW2_SANITIZE"):
            self.skipTest("valgrind cannot run beside this build's sanitizers; their leak "
                          "checker covers it")
        path = self.make_file("notes.txt", b"content", [("Odd", b"\x01\x02\x03")])
        copy, folder = self.make_file("copy.txt"), self.folder
        # exit status, arguments (standard input after "<")
        steps = [(0, "set", path, "Author", "Jane Doe 😀"), (0, "set", "--hex", path, "Checksum", "00ff"),
                 (0, "set", "--bytes", path, "Thumbnail", "-", "<", bytes(range(256))),
                 (0, "list", path), (0, "list", "--json", "-r", folder), (0, "get", path, "Author"),
                 (0, "get", "--hex", path, "Thumbnail"), (0, "get", "--json", path, "Author"),
                 (0, "length", path), (0, "list", "-l", path), (0, "dump", "-r", folder),
                 (0, "cp", "--type", "Checksum", path, copy), (0, "rm", "--all", copy),
                 (0, "find", "-r", folder, "--type", "Author", "--regex", "D.e"),
                 (2, "restore", "-", "<", b"# file: notes.txt\nuser.A=0x4\n"),
                 (1, "get", path, "Missing"), (1, "get", path, "Odd"), (1, "set", path, ":$DATA", "x"),
                 (1, "set", path, "Big", "x" * 40000), (1, "list", self.path("missing.txt")),
                 (1, "rm", path, "Missing"), (2, "set", path, "Author"),
                 (0, "restore", "-P", "-", "<", None),
                 (0, "rm", path, "Author", "Thumbnail", "Checksum")]
        outputs = {}
        for status, *arguments in steps:
            arguments, stdin = (arguments[:-2], arguments[-1]) if "<" in arguments else (arguments, b"")
            with self.subTest(arguments=arguments[:2]):
                result = run(*arguments, stdin=outputs["dump"] if stdin is None else stdin,
                             prefix=VALGRIND)
                self.assertEqual(result.returncode, status, "(99: valgrind found errors or leaks)\n"
                                 + result.stderr.decode())
                outputs.setdefault(arguments[0], result.stdout)
        self.assertEqual(outputs["get"], "Jane Doe 😀\n".encode())
        self.assertEqual(os.listxattr(path), ["user.Odd"])
