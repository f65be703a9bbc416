"""set, get, rm and length on real files; help; the refusals (status 2) and failures (status 1)
that change nothing."""
import json
import os
import re
import unittest

from tool_support import EMPTY_MARKER, ToolTestCase, user_items, utf16

TEXTS = ["Jane Doe", "Grüße aus Zürich, Ελληνικά, 東京", "emoji 😀🎉 and a flag 🇳🇴",
         "two\nlines\tand a tab", 'quote " and backslash \\']
BYTES = bytes(range(256)) * 3
ABSTRACT = "Résumé 😀\nsecond line\n"
NO_STREAMS = "/proc/self/status"
TOO_LARGE = "x" * 40000  # beyond the 64 KiB any Linux file system keeps in one attribute
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


class FilesTest(ToolTestCase):
    def test_set_stores_values_exactly_and_get_shows_them_in_each_form(self):
        P = self.make_file("notes.txt", b"main content")
        source = self.make_file("abstract.txt", ABSTRACT.encode())
        # set's arguments and input; the type and what it stores; get's options and output.
        cases = [(["set", P, "Author", t], b"", "Author", utf16(t), [], t + "\n") for t in TEXTS] + [
            # A shorter value replaces a longer one whole; hex is a view of the same value.
            (["set", P, "Author", "Jo"], b"", "Author", utf16("Jo"), ["--hex"], "4a006f00\n"),
            (["set", "--hex", P, "Author", "41004200"], b"", "Author", utf16("AB"), [], "AB\n"),
            (["set", P, "Abstract", "--file", source], b"", "Abstract", utf16(ABSTRACT), [],
             ABSTRACT + "\n"),
            (["set", P, "Note", "-"], b"with\0zero", "Note", utf16("with\0zero"), [], "with\0zero\n"),
            (["set", P, "--", "-rating", "-5"], b"", "-rating", utf16("-5"), [], "-5\n"),
            (["set", P, "Keywords", ""], b"", "Keywords", EMPTY_MARKER, [], "\n"),
            (["set", "--bytes", P, "Raw", "-"], b"", "Raw", EMPTY_MARKER, ["--hex"], "\n"),
            (["set", "--bytes", P, "Raw", "abc"], b"", "Raw", b"abc", ["--bytes"], b"abc"),
            (["set", "--bytes", P, "Thumb", "-"], BYTES, "Thumb", BYTES, ["--bytes"], BYTES),
            (["set", "--hex", P, "Sum", "00FF10 7f"], b"", "Sum", b"\0\xff\x10\x7f", ["--hex"],
             "00ff107f\n")]
        for setting, stdin, item_type, stored, options, shown in cases:
            with self.subTest(setting):
                self.expect(setting, stdin=stdin, out=b"")
                self.assertEqual(os.getxattr(P, "user." + item_type), stored)
                self.expect(["get", *options, P, "--", item_type], out=shown)
        text = 'emoji 😀, "quotes", \\, control \x01 and\nnewline'
        self.expect(["set", P, "Title", text])
        for options, item_type, value in (([], "Title", {"text": text}),
                                          (["--bytes"], "Thumb", {"hex": BYTES.hex()}),
                                          (["--hex"], "Thumb", {"hex": BYTES.hex()})):
            document = json.loads(self.expect(["get", "--json", *options, P, item_type]).stdout)
            self.assertEqual(document, {"path": P, "type": item_type, **value})
        # Bytes that are not text are refused as text and shown as bytes.
        os.setxattr(P, "user.Odd", b"\x01\x02\x03")
        os.setxattr(P, "user.Lone", b"\x00\xd8")  # an unpaired surrogate
        self.table([(["get", P, "Odd"], 1, None, "not text", "--bytes", '"Odd"'),
                    (["get", P, "Lone"], 1, None, "not text", '"Lone"'),
                    (["get", "--bytes", P, "Odd"], 0, b"\x01\x02\x03"),
                    (["get", "--hex", P, "Lone"], 0, "00d8\n")])
        with open(P, "rb") as handle:
            self.assertEqual(handle.read(), b"main content")
        # set creates a missing file; get does not.
        self.expect(["get", "new.txt", "Author"], 1, "Unable to open metadata.", cwd=self.folder)
        self.assertFalse(os.path.exists(self.path("new.txt")))
        self.table([(["set", "new.txt", "Author", "Jane"], 0, b""),
                    (["get", "new.txt", "Author"], 0, "Jane\n")], cwd=self.folder)
        self.assertEqual(os.path.getsize(self.path("new.txt")), 0)

    def test_rm_removes_only_the_types_named_and_length_totals_the_items(self):
        path = self.make_file("notes.txt", b"content", [
            ("Author", b"a\x00"), ("Title", b"t\x00"), ("Keywords", b"k\x00"), ("Last", b"l")])
        self.expect(["rm", path, "Author", "Keywords"])
        self.assertEqual(os.listxattr(path), ["user.Title", "user.Last"])
        # A missing type fails alone: the others named go.
        self.expect(["rm", path, "Title", "Missing", "Last"], 1,
                    "quarrow2: Unable to open metadata.", 'type "Missing"')
        self.assertEqual(os.listxattr(path), [])
        with open(path, "rb") as handle:
            self.assertEqual(handle.read(), b"content")
        big = self.make_file("a.bin", b"\0" * 1000000, [("Author", b"x" * 10), ("K", b"y" * 6)])
        empty, missing = self.path("c.txt"), self.path("missing.txt")
        self.expect(["set", empty, "Keywords", ""])
        self.table([(["length", empty], 0, "32\n"),
                    (["length", big, path, empty], 0, "16  %s\n0  %s\n32  %s\n" % (big, path, empty))])
        result = self.expect(["length", "--json", big, missing, path], 1, "File not found.", missing)
        self.assertEqual(json.loads(result.stdout), {"files": [
            {"path": big, "length": 16}, {"path": missing, "error": "File not found."},
            {"path": path, "length": 0}]})
        self.assertFalse(os.path.exists(missing))

    def test_help_names_every_command_its_arguments_and_the_version(self):
        for arguments, words in [(["--help"], list(COMMANDS) + ["--version", "Exit status"])] + \
                [([command, "--help"], [command] + words) for command, words in COMMANDS.items()]:
            with self.subTest(arguments=arguments):
                shown = self.expect(arguments).stdout.decode()
                for word in words:
                    self.assertIn(word, shown)
        self.expect(["--version"], out="quarrow2 2.0.0.1\n")

    def test_refusals_and_failures_change_nothing(self):
        path = self.make_file("notes.txt", b"content", [("Author", utf16("Jane"))])
        other = self.make_file("value.txt", b"x")
        bad = b"caf\xe9"  # also the standard input of every row
        latin1 = self.make_file("latin1.txt", bad)
        missing = self.path("missing.txt")
        usage = [[], ["show", path], ["list", "--bogus", path], ["list"], ["get", path],
                 ["get", "--bytes", "--hex", path, "Author"], ["set", path, "Author"],
                 ["set", path, "Author", "x", "--file", other],
                 ["set", "--bytes", "--hex", path, "Author", "00"], ["rm", path], ["length", ""],
                 ["get", path, "Author", "extra"], ["find", path],
                 ["find", path, "--type", "A", "--value", "x", "--match", "x"], ["cp", path]]
        rows = [(arguments, 2, b"") for arguments in usage] + [
            (arguments, 2, b"", "not valid UTF-8") for arguments in (
                ["set", path, "Author", bad], ["set", path, "Author", "--file", latin1],
                ["set", path, "Author", "-"], ["set", path, b"Aut\xffhor", "x"],
                ["set", os.fsencode(path) + b"\xff", "Author", "x"])] + [
            (["set", path, "Author", "--file", missing], 2, b"", "missing.txt"),
            (["set", path, "Author", "--file", self.folder], 2, b"", "folder")] + [
            (["set", "--hex", path, "Sum", value], 2, b"", "not hex") for value in ["0", "zz", "0x10"]]
        rows += [(arguments, 1, None, "quarrow2: " + text, missing) for arguments, text in (
            (["get", missing, "Author"], "Unable to open metadata."),
            (["rm", missing, "Author"], "Unable to open metadata."),
            (["list", missing], "File not found."), (["length", missing], "File not found."))]
        for item_type in ["$DATA", ":$DATA", ":", ""]:
            rows += [(arguments, 1, None, "quarrow2: Access to this data type forbidden.",
                      'type "%s"' % item_type)
                     for arguments in (["get", path, item_type], ["set", path, item_type, "x"],
                                       ["set", "--bytes", missing, item_type, "x"],
                                       ["rm", path, item_type])]
        if os.path.exists(NO_STREAMS):
            rows += [(arguments, 1, None, "quarrow2: Volume does not support streams.", NO_STREAMS)
                     for arguments in (["list", NO_STREAMS], ["list", "-r", NO_STREAMS],
                                       ["length", NO_STREAMS], ["get", NO_STREAMS, "Author"],
                                       ["set", NO_STREAMS, "Author", "Jane"],
                                       ["rm", NO_STREAMS, "Author"])]
            result = self.expect(["list", "--json", NO_STREAMS], 1, "Volume does not support streams.")
            self.assertEqual(json.loads(result.stdout), {"files": [
                {"path": NO_STREAMS, "error": "Volume does not support streams."}]})
        else:
            print(NO_STREAMS + " is missing (no /proc file system): the volume cases are left out")
        # A value too large keeps the old one and leaves nothing new. ext4 without ea_inode
        # keeps about 4 KiB of attributes per file: there 5 KiB is refused too.
        large = [(path, "Author", TOO_LARGE), (path, "Abstract", TOO_LARGE),
                 (missing, "Abstract", TOO_LARGE)]
        try:
            os.setxattr(other, "user.probe", b"z" * 10240)
            os.removexattr(other, "user.probe")
        except OSError:
            large.append((path, "Author", "z" * 5120))
        rows += [(["set", file, item_type, value], 1, None, re.compile(r"^quarrow2: Unable to put "
                  r"text\. \S"), '(file "%s", type "%s")' % (file, item_type))
                 for file, item_type, value in large]
        self.table(rows, stdin=bad)
        self.expect(["set", "--bytes", path, "Author", "-"], 1, re.compile(r"^quarrow2: Unable to put data\. \S"),
                    '(file "%s", type "Author")' % path, stdin=b"y" * 70000)

        self.assertEqual(user_items(path), {"Author": utf16("Jane")})
        with open(path, "rb") as handle:
            self.assertEqual(handle.read(), b"content")
        self.assertEqual(sorted(os.listdir(self.folder)), ["latin1.txt", "notes.txt", "value.txt"])
        self.assertEqual(self.expect(["bogus"], 2).stderr, b"quarrow2: unknown command 'bogus'\n")
        self.expect(["set", missing, "$data", "allowed"])
        self.assertEqual(os.getxattr(missing, "user.$data"), utf16("allowed"))


if __name__ == "__main__":
    unittest.main()
