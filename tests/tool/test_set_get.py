"""set and get on real files: text, bytes and hex, from the argument, a file or stdin."""
import json
import os
import unittest

from tool_support import EMPTY_MARKER, ToolTestCase, run, utf16

TEXTS = ["Jane Doe", "Grüße aus Zürich, Ελληνικά, 東京", "emoji 😀🎉 and a flag 🇳🇴",
         "two\nlines\tand a tab", 'quote " and backslash \\']
BYTES = bytes(range(256)) * 3
ABSTRACT = "Résumé 😀\nsecond line\n"


class SetGetTest(ToolTestCase):
    def test_values_are_stored_exactly_and_read_back_in_each_form(self):
        P = self.make_file("notes.txt", b"main content")
        source = self.make_file("abstract.txt", ABSTRACT.encode())
        # set arguments, standard input, the type, what it stores, get arguments, what get shows
        cases = [(["set", P, "Author", t], b"", "Author", utf16(t), ["get", P, "Author"],
                  (t + "\n").encode()) for t in TEXTS] + [
            # A shorter value replaces a longer one whole; hex is a view of the same value.
            (["set", P, "Author", "Jo"], b"", "Author", utf16("Jo"), ["get", "--hex", P, "Author"],
             b"4a006f00\n"),
            (["set", "--hex", P, "Author", "41004200"], b"", "Author", utf16("AB"),
             ["get", P, "Author"], b"AB\n"),
            (["set", P, "Abstract", "--file", source], b"", "Abstract", utf16(ABSTRACT),
             ["get", P, "Abstract"], (ABSTRACT + "\n").encode()),
            (["set", P, "Comment", "-"], b"with\0zero", "Comment", utf16("with\0zero"),
             ["get", P, "Comment"], b"with\0zero\n"),
            (["set", P, "--", "-rating", "-5"], b"", "-rating", utf16("-5"),
             ["get", P, "--", "-rating"], b"-5\n"),
            (["set", P, "Keywords", ""], b"", "Keywords", EMPTY_MARKER, ["get", P, "Keywords"],
             b"\n"),
            (["set", "--bytes", P, "Raw", "-"], b"", "Raw", EMPTY_MARKER,
             ["get", "--hex", P, "Raw"], b"\n"),
            (["set", "--bytes", P, "Raw", "abc"], b"", "Raw", b"abc", ["get", "--bytes", P, "Raw"],
             b"abc"),
            (["set", "--bytes", P, "Thumb", "-"], BYTES, "Thumb", BYTES,
             ["get", "--bytes", P, "Thumb"], BYTES),
            (["set", "--hex", P, "Checksum", "00FF10 7f"], b"", "Checksum", b"\x00\xff\x10\x7f",
             ["get", "--hex", P, "Checksum"], b"00ff107f\n"),
        ]
        for arguments, stdin, item_type, stored, get, shown in cases:
            with self.subTest(arguments=arguments):
                result = run(*arguments, stdin=stdin)
                self.assertSucceeds(result)
                self.assertEqual(result.stdout, b"")
                self.assertEqual(os.getxattr(P, "user." + item_type), stored)
                result = run(*get)
                self.assertSucceeds(result)
                self.assertEqual(result.stdout, shown)
        with open(P, "rb") as handle:
            self.assertEqual(handle.read(), b"main content")
        text = 'emoji 😀, "quotes", \\, control \x01 and\nnewline'
        self.assertSucceeds(run("set", P, "Title", text))
        for arguments, value in ((["Title"], {"text": text}),
                                 (["--bytes", "Thumb"], {"hex": BYTES.hex()}),
                                 (["--hex", "Thumb"], {"hex": BYTES.hex()})):
            document = json.loads(run("get", "--json", *arguments[:-1], P, arguments[-1]).stdout)
            self.assertEqual(document, {"path": P, "type": arguments[-1], **value})

    def test_set_creates_a_missing_file_but_get_does_not(self):
        path = self.path("new.txt")
        self.assertFails(run("get", path, "Author"), 1, "Unable to open metadata.")
        self.assertFalse(os.path.exists(path))
        self.assertSucceeds(run("set", "new.txt", "Author", "Jane", cwd=self.folder))
        self.assertEqual(os.path.getsize(path), 0)
        self.assertEqual(os.getxattr(path, "user.Author"), utf16("Jane"))
        self.assertEqual(run("get", "new.txt", "Author", cwd=self.folder).stdout, b"Jane\n")

    def test_bytes_that_are_not_text_are_refused_as_text_and_shown_as_bytes(self):
        odd, lone_surrogate = b"\x01\x02\x03", b"\x00\xd8"
        path = self.make_file("notes.txt", items=[("Odd", odd), ("Lone", lone_surrogate)])
        self.assertFails(run("get", path, "Odd"), 1, "not text", "--bytes", '"Odd"')
        self.assertFails(run("get", path, "Lone"), 1, "not text", '"Lone"')
        self.assertEqual(run("get", "--bytes", path, "Odd").stdout, odd)
        self.assertEqual(run("get", "--hex", path, "Lone").stdout, b"00d8\n")


if __name__ == "__main__":
    unittest.main()
