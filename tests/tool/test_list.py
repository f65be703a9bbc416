"""list: item types with their lengths, several paths, folders, JSON and progress."""
import json
import os
import shlex
import subprocess
import unittest

from tool_support import ToolTestCase, tool_path, utf16


class ListTest(ToolTestCase):
    def test_types_and_lengths_and_what_cannot_be_listed_does_not_stop_the_rest(self):
        path = self.make_file("report.doc", b"x" * 100000, [
            ("Zeta", utf16("last name first")), ("Author", utf16("Jane")),
            ("Keywords", b"abc"), ("Grüße 😀", utf16("hi"))])
        lines = self.expect(["list", path]).stdout.decode().splitlines()
        self.assertEqual(lines[0], path)
        self.assertEqual([(name, int(length)) for length, name in
                          (line.split(None, 1) for line in lines[1:])],
                         [(n[5:], len(os.getxattr(path, n))) for n in os.listxattr(path)])
        plain = self.make_file("plain.txt", b"content")
        self.expect(["list", plain], out=plain + "\n  (no items)\n")

        first = self.make_file("a.txt", items=[("Author", utf16("Jane")), ('Say "hi"', b"1")])
        missing = self.path("missing.txt")
        result = self.expect(["list", "--json", first, missing, plain], 1, "File not found.", missing)
        self.assertEqual(json.loads(result.stdout), {"files": [
            {"path": first, "items": [{"type": "Author", "length": 8},
                                      {"type": 'Say "hi"', "length": 1}]},
            {"path": missing, "error": "File not found."},
            {"path": plain, "items": []}]})
        # Other programs may name an attribute in a way no named stream can be named.
        path = self.make_file("notes.txt", items=[("a:b", b"hello"), ("Author", b"xx")])
        rows = {"a:b": "  ?  a:b\n", "Author": "  2  Author\n"}
        self.expect(["list", path], 1, "Unable to open metadata.", 'type "a:b"',
                    out=path + "\n" + "".join(rows[name[5:]] for name in os.listxattr(path)))
        items = {item["type"]: item for item in
                 json.loads(self.expect(["list", "--json", path], 1).stdout)["files"][0]["items"]}
        self.assertEqual(items["Author"], {"type": "Author", "length": 2})
        self.assertTrue(items["a:b"]["error"].startswith("Unable to open metadata. "))

    def test_a_folder_needs_recursion_and_a_bad_name_in_it_is_reported(self):
        good = self.make_file("tree/good.txt", items=[("Author", b"xx")])
        tree = self.path("tree")
        self.expect(["list", tree], 1, "Is a folder", "-r", tree)
        open(os.path.join(os.fsencode(tree), b"bad\xff.txt"), "wb").close()
        os.mkfifo(self.path("tree/pipe"))
        result = self.expect(["list", "-r", "--json", tree], 1, "The path is not valid UTF-8.")
        self.assertEqual(json.loads(result.stdout)["files"], [
            {"path": self.path("tree/bad\ufffd.txt"), "error": "The path is not valid UTF-8."},
            {"path": good, "items": [{"type": "Author", "length": 2}]}])

    def test_a_thousand_files_in_json_text_and_with_progress(self):
        """A thousand files in nested folders; every seventh carries two items."""
        counts = {}  # path -> how many items
        for index in range(1000):
            name = os.path.join("tree", *["level%d" % d for d in range(index % 4)],
                                "group%d" % (index % 10), "file%04d.txt" % index)
            items = [("Author", utf16("A%d" % index)), ("Index", b"%d" % index)] * (index % 7 == 0)
            counts[self.make_file(name, b"", items)] = len(items)
        tree = self.path("tree")
        os.symlink(tree, os.path.join(tree, "loop"))
        files = json.loads(self.expect(["list", "-r", "--json", tree]).stdout)["files"]
        self.assertEqual(sorted((entry["path"], len(entry["items"])) for entry in files),
                         sorted(counts.items()))
        # Text leaves out files without items; depth first, by name within each folder.
        shown = [line for line in self.expect(["list", "--recursive", tree]).stdout.decode()
                 .splitlines() if not line.startswith("  ")]
        self.assertEqual(shown, sorted((path for path in counts if counts[path]),
                                       key=lambda path: path.split(os.sep)))
        # Progress only when a person watches both streams: not with output redirected.
        status, screen = on_terminal("list", "-r", tree, redirect=" > " + shlex.quote(self.path("out")))
        self.assertEqual(status, 0)
        self.assertNotIn(b"files seen", screen)
        status, screen = on_terminal("list", "-r", "--json", tree)
        self.assertEqual(status, 0)
        for shown in (b"files seen: ", b"items found: ", b'"files"'):
            self.assertIn(shown, screen)


def on_terminal(*words, redirect=""):
    """The exit status and all the terminal showed, the tool run on one by script(1)."""
    command = " ".join(shlex.quote(word) for word in [tool_path(), *words]) + redirect
    result = subprocess.run(["script", "-qec", command, "/dev/null"], stdin=subprocess.DEVNULL,
                            capture_output=True, timeout=600)
    return result.returncode, result.stdout


if __name__ == "__main__":
    unittest.main()
