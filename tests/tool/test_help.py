"""Help, version and the refusals of a command line that cannot be used (status 2)."""
import os
import unittest

from tool_support import ToolTestCase, run

COMMANDS = {
    "list": ["PATH", "--recursive", "--json"],
    "get": ["PATH", "TYPE", "--bytes", "--hex", "--json"],
    "set": ["PATH", "TYPE", "VALUE", "--file", "--bytes", "--hex"],
    "rm": ["PATH", "TYPE", "--all"],
    "length": ["PATH", "--json"],
    "dump": ["PATH", "--recursive", "--output"],
    "restore": ["FILE", "--dry-run", "--create"],
    "cp": ["SRC", "DEST", "--type"],
    "find": ["PATH", "--type", "--value", "--match", "--regex", "--json", "-0", "--recursive"],
}


class HelpTest(ToolTestCase):
    def test_tool_help_names_every_command_and_the_exit_statuses(self):
        result = run("--help")
        self.assertSucceeds(result)
        text = result.stdout.decode()
        for command in COMMANDS:
            self.assertIn(command, text)
        self.assertIn("--version", text)
        self.assertIn("Exit status", text)

    def test_each_command_has_help_with_its_arguments(self):
        for command, words in COMMANDS.items():
            with self.subTest(command=command):
                result = run(command, "--help")
                self.assertSucceeds(result)
                text = result.stdout.decode()
                self.assertIn(command, text)
                for word in words:
                    self.assertIn(word, text)

    def test_version(self):
        result = run("--version")
        self.assertSucceeds(result)
        self.assertEqual(result.stdout, b"quarrow2 2.0.0.1\n")


class UsageErrorTest(ToolTestCase):
    def test_command_lines_that_cannot_be_used_exit_with_2(self):
        path = self.make_file("notes.txt")
        other = self.make_file("value.txt", b"x")
        cases = {
            "no command": [],
            "unknown command": ["show", path],
            "unknown option": ["list", "--bogus", path],
            "list without path": ["list"],
            "get without type": ["get", path],
            "get bytes and hex": ["get", "--bytes", "--hex", path, "Author"],
            "set without value": ["set", path, "Author"],
            "set value and file": ["set", path, "Author", "x", "--file", other],
            "set bytes and hex": ["set", "--bytes", "--hex", path, "Author", "00"],
            "rm without type": ["rm", path],
            "empty path": ["length", ""],
            "too many arguments": ["get", path, "Author", "extra"],
            "find without type": ["find", path],
            "find value and pattern": ["find", path, "--type", "A", "--value", "x", "--match", "x"],
            "cp without destination": ["cp", path],
        }
        for name, arguments in cases.items():
            with self.subTest(name):
                result = run(*arguments)
                self.assertFails(result, 2)
                self.assertEqual(result.stdout, b"")
        self.assertEqual(os.listxattr(path), [])
        result = run("bogus")
        self.assertEqual((result.returncode, result.stderr), (2, b"quarrow2: unknown command 'bogus'\n"))

    def test_input_that_is_not_utf8_is_refused_without_touching_anything(self):
        path = self.make_file("notes.txt", items=[("Author", "Jane".encode("utf-16-le"))])
        bad = b"caf\xe9"
        value_file = self.make_file("latin1.txt", bad)
        cases = {
            "value": ["set", path, "Author", bad],
            "value from a file": ["set", path, "Author", "--file", value_file],
            "value from standard input": ["set", path, "Author", "-"],
            "type": ["set", path, b"Aut\xffhor", "x"],
            "path": ["set", os.fsencode(path) + b"\xff", "Author", "x"],
        }
        for name, arguments in cases.items():
            with self.subTest(name):
                result = run(*arguments, stdin=bad)
                self.assertFails(result, 2, "not valid UTF-8")
        self.assertEqual(os.listxattr(path), ["user.Author"])
        self.assertEqual(os.getxattr(path, "user.Author"), "Jane".encode("utf-16-le"))
        self.assertEqual(sorted(os.listdir(self.folder)), ["latin1.txt", "notes.txt"])

    def test_hex_value_that_is_not_hex_is_refused(self):
        path = self.make_file("notes.txt")
        for value in ["0", "zz", "0x10"]:
            with self.subTest(value):
                self.assertFails(run("set", "--hex", path, "Checksum", value), 2, "not hex")
        self.assertEqual(os.listxattr(path), [])

    def test_value_file_that_cannot_be_read(self):
        path = self.make_file("notes.txt")
        self.assertFails(run("set", path, "Author", "--file", self.path("missing.txt")), 2,
                         "missing.txt")
        self.assertFails(run("set", path, "Author", "--file", self.folder), 2, "folder")
        self.assertEqual(os.listxattr(path), [])


if __name__ == "__main__":
    unittest.main()
