"""rm removes only the items named; length totals a file's items."""
import json
import os
import unittest

from tool_support import EMPTY_MARKER, ToolTestCase, run


class RemoveTest(ToolTestCase):
    def test_removes_only_the_types_named(self):
        path = self.make_file("notes.txt", b"content", [
            ("Author", b"a\x00"), ("Title", b"t\x00"), ("Keywords", b"k\x00")])
        self.assertSucceeds(run("rm", path, "Author", "Keywords"))
        self.assertEqual(os.listxattr(path), ["user.Title"])
        with open(path, "rb") as handle:
            self.assertEqual(handle.read(), b"content")
        self.assertSucceeds(run("rm", path, "Title"))
        self.assertEqual(os.listxattr(path), [])
        self.assertTrue(os.path.exists(path))

    def test_a_missing_type_fails_alone(self):
        path = self.make_file("notes.txt", items=[("Author", b"a\x00"), ("Title", b"t\x00")])
        result = run("rm", path, "Author", "Missing", "Title")
        self.assertEqual(result.returncode, 1)
        message = result.stderr.decode()
        self.assertEqual(message.count("\n"), 1)
        self.assertTrue(message.startswith("quarrow2: Unable to open metadata."), message)
        self.assertIn('type "Missing"', message)
        self.assertEqual(os.listxattr(path), [])


class LengthTest(ToolTestCase):
    def test_totals_the_items_not_the_content(self):
        path = self.make_file("big.bin", b"\x00" * 1000000,
                              [("Author", b"x" * 10), ("Keywords", b"y" * 6)])
        result = run("length", path)
        self.assertSucceeds(result)
        self.assertEqual(result.stdout, b"16\n")

    def test_an_empty_value_counts_its_marker(self):
        path = self.make_file("notes.txt")
        self.assertSucceeds(run("set", path, "Keywords", ""))
        self.assertEqual(run("length", path).stdout, b"%d\n" % len(EMPTY_MARKER))

    def test_several_files_in_text_and_json(self):
        first = self.make_file("a.txt", items=[("Author", b"x" * 8)])
        second = self.make_file("b.txt")
        result = run("length", first, second)
        self.assertSucceeds(result)
        self.assertEqual(result.stdout.decode(), "8  %s\n0  %s\n" % (first, second))
        result = run("length", "--json", first, second)
        self.assertSucceeds(result)
        self.assertEqual(json.loads(result.stdout), {"files": [
            {"path": first, "length": 8}, {"path": second, "length": 0}]})

    def test_a_missing_file_is_reported_and_the_others_measured(self):
        good = self.make_file("a.txt", items=[("Author", b"x" * 4)])
        missing = self.path("missing.txt")
        result = run("length", "--json", good, missing)
        self.assertFails(result, 1, "File not found.", missing)
        self.assertEqual(json.loads(result.stdout), {"files": [
            {"path": good, "length": 4}, {"path": missing, "error": "File not found."}]})
        self.assertFalse(os.path.exists(missing))


if __name__ == "__main__":
    unittest.main()
