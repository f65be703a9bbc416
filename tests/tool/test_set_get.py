"""set and get on real files: text, bytes and hex, from the argument, a file or stdin."""
import json
import os
import unittest

from tool_support import EMPTY_MARKER, ToolTestCase, run

TEXTS = [
    "Jane Doe",
    "Grüße aus Zürich, Ελληνικά, 東京",
    "emoji 😀🎉 and a flag 🇳🇴",
    "two\nlines\tand a tab",
    'quote " and backslash \\',
]


class TextTest(ToolTestCase):
    def test_text_round_trips_and_is_stored_as_utf16(self):
        path = self.make_file("notes.txt", b"main content")
        for text in TEXTS:
            with self.subTest(text=text):
                result = run("set", path, "Author", text)
                self.assertSucceeds(result)
                self.assertEqual(result.stdout, b"")
                self.assertEqual(os.getxattr(path, "user.Author"), text.encode("utf-16-le"))
                result = run("get", path, "Author")
                self.assertSucceeds(result)
                self.assertEqual(result.stdout.decode("utf-8"), text + "\n")
        with open(path, "rb") as handle:
            self.assertEqual(handle.read(), b"main content")

    def test_get_json_escapes_the_text(self):
        path = self.make_file("notes.txt")
        text = 'emoji 😀, "quotes", \\, control \x01 and\nnewline'
        self.assertSucceeds(run("set", path, "Title", text))
        result = run("get", "--json", path, "Title")
        self.assertSucceeds(result)
        self.assertEqual(json.loads(result.stdout), {"path": path, "type": "Title", "text": text})

    def test_empty_text_is_stored_as_the_marker_and_reads_back_empty(self):
        path = self.make_file("notes.txt")
        self.assertSucceeds(run("set", path, "Keywords", ""))
        self.assertEqual(os.getxattr(path, "user.Keywords"), EMPTY_MARKER)
        self.assertEqual(run("get", path, "Keywords").stdout, b"\n")
        self.assertEqual(run("get", "--hex", path, "Keywords").stdout, b"\n")

    def test_shorter_value_replaces_a_longer_one_whole(self):
        path = self.make_file("notes.txt")
        self.assertSucceeds(run("set", path, "Author", "a rather long name"))
        self.assertSucceeds(run("set", path, "Author", "Jo"))
        self.assertEqual(os.getxattr(path, "user.Author"), "Jo".encode("utf-16-le"))

    def test_values_from_a_file_and_from_standard_input_are_kept_exactly(self):
        path = self.make_file("notes.txt")
        source = self.make_file("abstract.txt", "Résumé 😀\nsecond line\n".encode())
        self.assertSucceeds(run("set", path, "Abstract", "--file", source))
        self.assertEqual(run("get", path, "Abstract").stdout,
                         "Résumé 😀\nsecond line\n\n".encode())
        self.assertSucceeds(run("set", path, "Comment", "-", stdin="with\x00zero".encode()))
        self.assertEqual(os.getxattr(path, "user.Comment"), "with\x00zero".encode("utf-16-le"))
        self.assertEqual(run("get", path, "Comment").stdout, b"with\x00zero\n")

    def test_values_and_types_beginning_with_a_dash_follow_a_double_dash(self):
        path = self.make_file("notes.txt")
        self.assertSucceeds(run("set", path, "--", "-rating", "-5"))
        self.assertEqual(os.getxattr(path, "user.-rating"), "-5".encode("utf-16-le"))
        self.assertEqual(run("get", path, "--", "-rating").stdout, b"-5\n")

    def test_set_creates_a_missing_file_but_get_does_not(self):
        path = self.path("new.txt")
        self.assertFails(run("get", path, "Author"), 1, "Unable to open metadata.")
        self.assertFalse(os.path.exists(path))
        self.assertSucceeds(run("set", path, "Author", "Jane"))
        self.assertEqual(os.path.getsize(path), 0)
        self.assertEqual(os.getxattr(path, "user.Author"), "Jane".encode("utf-16-le"))

    def test_relative_paths_resolve_from_the_working_folder(self):
        self.make_file("notes.txt")
        self.assertSucceeds(run("set", "notes.txt", "Author", "Jane", cwd=self.folder))
        self.assertEqual(run("get", "notes.txt", "Author", cwd=self.folder).stdout, b"Jane\n")

    def test_bytes_that_are_not_text_are_refused_as_text_and_shown_as_bytes(self):
        odd = b"\x01\x02\x03"
        lone_surrogate = b"\x00\xd8"
        path = self.make_file("notes.txt", items=[("Odd", odd), ("Lone", lone_surrogate)])
        self.assertFails(run("get", path, "Odd"), 1, "not text", "--bytes", '"Odd"')
        self.assertFails(run("get", path, "Lone"), 1, "not text", '"Lone"')
        self.assertEqual(run("get", "--bytes", path, "Odd").stdout, odd)
        self.assertEqual(run("get", "--hex", path, "Lone").stdout, b"00d8\n")


class BytesTest(ToolTestCase):
    def test_bytes_round_trip_through_data(self):
        path = self.make_file("image.png")
        value = bytes(range(256)) * 3
        self.assertSucceeds(run("set", "--bytes", path, "Thumbnail", "-", stdin=value))
        self.assertEqual(os.getxattr(path, "user.Thumbnail"), value)
        result = run("get", "--bytes", path, "Thumbnail")
        self.assertSucceeds(result)
        self.assertEqual(result.stdout, value)
        self.assertEqual(run("get", "--hex", path, "Thumbnail").stdout,
                         value.hex().encode() + b"\n")
        for form in ("--bytes", "--hex"):
            document = json.loads(run("get", "--json", form, path, "Thumbnail").stdout)
            self.assertEqual(document, {"path": path, "type": "Thumbnail", "hex": value.hex()})

    def test_bytes_from_the_argument_and_from_hex(self):
        path = self.make_file("notes.txt")
        self.assertSucceeds(run("set", "--bytes", path, "Raw", "abc"))
        self.assertEqual(os.getxattr(path, "user.Raw"), b"abc")
        self.assertSucceeds(run("set", "--hex", path, "Checksum", "00FF10 7f"))
        self.assertEqual(os.getxattr(path, "user.Checksum"), b"\x00\xff\x10\x7f")

    def test_text_and_bytes_are_two_views_of_one_value(self):
        path = self.make_file("notes.txt")
        self.assertSucceeds(run("set", path, "Author", "AB"))
        self.assertEqual(run("get", "--hex", path, "Author").stdout, b"41004200\n")
        self.assertSucceeds(run("set", "--hex", path, "Author", "4a006f00"))
        self.assertEqual(run("get", path, "Author").stdout, b"Jo\n")

    def test_empty_bytes_are_stored_as_the_marker(self):
        path = self.make_file("notes.txt")
        self.assertSucceeds(run("set", "--bytes", path, "Raw", "-", stdin=b""))
        self.assertEqual(os.getxattr(path, "user.Raw"), EMPTY_MARKER)
        self.assertEqual(run("get", "--bytes", path, "Raw").stdout, b"")


if __name__ == "__main__":
    unittest.main()
