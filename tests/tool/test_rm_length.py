"""rm removes only the items named; length totals a file's items."""
import json
import os
import unittest

from tool_support import EMPTY_MARKER, ToolTestCase, run


class RemoveLengthTest(ToolTestCase):
    def test_rm_removes_only_the_types_named_and_a_missing_one_fails_alone(self):
        path = self.make_file("notes.txt", b"content", [
            ("Author", b"a\x00"), ("Title", b"t\x00"), ("Keywords", b"k\x00"), ("Last", b"l")])
        self.assertSucceeds(run("rm", path, "Author", "Keywords"))
        self.assertEqual(os.listxattr(path), ["user.Title", "user.Last"])
        with open(path, "rb") as handle:
            self.assertEqual(handle.read(), b"content")
        message = self.assertFails(run("rm", path, "Title", "Missing", "Last"), 1,
                                   'type "Missing"')
        self.assertTrue(message.startswith("quarrow2: Unable to open metadata."), message)
        self.assertEqual(os.listxattr(path), [])
        self.assertTrue(os.path.exists(path))

    def test_length_totals_the_items_of_each_file_not_their_content(self):
        first = self.make_file("a.bin", b"\x00" * 1000000, [("Author", b"x" * 10), ("K", b"y" * 6)])
        second = self.make_file("b.txt")
        empty = self.make_file("c.txt")
        self.assertSucceeds(run("set", empty, "Keywords", ""))
        self.assertEqual(run("length", empty).stdout, b"%d\n" % len(EMPTY_MARKER))
        result = run("length", first, second, empty)
        self.assertSucceeds(result)
        self.assertEqual(result.stdout.decode(), "16  %s\n0  %s\n%d  %s\n"
                         % (first, second, len(EMPTY_MARKER), empty))
        missing = self.path("missing.txt")
        result = run("length", "--json", first, missing, second)
        self.assertFails(result, 1, "File not found.", missing)
        self.assertEqual(json.loads(result.stdout), {"files": [
            {"path": first, "length": 16}, {"path": missing, "error": "File not found."},
            {"path": second, "length": 0}]})
        self.assertFalse(os.path.exists(missing))


if __name__ == "__main__":
    unittest.main()
