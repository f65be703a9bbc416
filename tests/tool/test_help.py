"""Help, version and the refusals of a command line that cannot be used (status 2)."""
import os
import unittest

from tool_support import ToolTestCase, run, utf16

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
    def test_help_names_every_command_its_arguments_and_the_version(self):
        for arguments, words in [(["--help"], list(COMMANDS) + ["--version", "Exit status"])] + \
                [([command, "--help"], [command] + words) for command, words in COMMANDS.items()]:
            with self.subTest(arguments=arguments):
                result = run(*arguments)
                self.assertSucceeds(result)
                for word in words:
                    self.assertIn(word, result.stdout.decode())
        self.assertEqual(run("--version").stdout, b"quarrow2 2.0.0.1\n")

    def test_command_lines_that_cannot_be_used_exit_with_2_and_touch_nothing(self):
        path = self.make_file("notes.txt", items=[("Author", utf16("Jane"))])
        other = self.make_file("value.txt", b"x")
        bad = b"caf\xe9"
        latin1 = self.make_file("latin1.txt", bad)
        missing = self.path("missing.txt")
        cases = [[], ["show", path], ["list", "--bogus", path], ["list"], ["get", path],
                 ["get", "--bytes", "--hex", path, "Author"], ["set", path, "Author"],
                 ["set", path, "Author", "x", "--file", other],
                 ["set", "--bytes", "--hex", path, "Author", "00"], ["rm", path], ["length", ""],
                 ["get", path, "Author", "extra"], ["find", path],
                 ["find", path, "--type", "A", "--value", "x", "--match", "x"], ["cp", path]]
        cases = [(arguments, "") for arguments in cases] + [
            (["set", path, "Author", bad], "not valid UTF-8"),
            (["set", path, "Author", "--file", latin1], "not valid UTF-8"),
            (["set", path, "Author", "-"], "not valid UTF-8"),
            (["set", path, b"Aut\xffhor", "x"], "not valid UTF-8"),
            (["set", os.fsencode(path) + b"\xff", "Author", "x"], "not valid UTF-8"),
            (["set", path, "Author", "--file", missing], "missing.txt"),
            (["set", path, "Author", "--file", self.folder], "folder")] + [
            (["set", "--hex", path, "Checksum", value], "not hex") for value in ["0", "zz", "0x10"]]
        for arguments, fragment in cases:
            with self.subTest(arguments=arguments):
                result = run(*arguments, stdin=bad)
                self.assertFails(result, 2, fragment)
                self.assertEqual(result.stdout, b"")
        self.assertEqual(os.listxattr(path), ["user.Author"])
        self.assertEqual(os.getxattr(path, "user.Author"), utf16("Jane"))
        self.assertEqual(sorted(os.listdir(self.folder)), ["latin1.txt", "notes.txt", "value.txt"])
        self.assertEqual(run("bogus").stderr, b"quarrow2: unknown command 'bogus'\n")


if __name__ == "__main__":
    unittest.main()
