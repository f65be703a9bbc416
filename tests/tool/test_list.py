"""list: item types with their lengths, several paths, folders, JSON and progress."""
import json
import os
import pty
import subprocess
import unittest

from tool_support import ToolTestCase, run, tool_path


def utf16(text):
    return text.encode("utf-16-le")


class ListTest(ToolTestCase):
    def test_types_in_the_file_systems_order_with_their_lengths(self):
        path = self.make_file("report.doc", b"x" * 100000, [
            ("Zeta", utf16("last name first")), ("Author", utf16("Jane")),
            ("Keywords", b"abc"), ("Grüße 😀", utf16("hi"))])
        expected = [(name, len(value)) for name, value in
                    ((n[5:], os.getxattr(path, n)) for n in os.listxattr(path))]
        result = run("list", path)
        self.assertSucceeds(result)
        lines = result.stdout.decode().splitlines()
        self.assertEqual(lines[0], path)
        rows = [line.split(None, 1) for line in lines[1:]]
        self.assertEqual([(name, int(length)) for length, name in rows], expected)

    def test_json_lists_every_path_given(self):
        first = self.make_file("a.txt", items=[("Author", utf16("Jane")), ('Say "hi"', b"1")])
        second = self.make_file("b.txt")
        result = run("list", "--json", first, second)
        self.assertSucceeds(result)
        self.assertEqual(json.loads(result.stdout), {"files": [
            {"path": first, "items": [{"type": "Author", "length": 8},
                                      {"type": 'Say "hi"', "length": 1}]},
            {"path": second, "items": []}]})

    def test_a_file_without_items_says_so(self):
        path = self.make_file("plain.txt", b"content")
        result = run("list", path)
        self.assertSucceeds(result)
        self.assertEqual(result.stdout.decode(), path + "\n  (no items)\n")

    def test_an_item_the_library_cannot_open_is_shown_and_the_rest_listed(self):
        # Other programs may name an attribute in a way no named stream can be named.
        path = self.make_file("notes.txt", items=[("a:b", b"hello"), ("Author", b"xx")])
        result = run("list", path)
        self.assertFails(result, 1, "Unable to open metadata.", 'type "a:b"')
        rows = {"a:b": "  ?  a:b\n", "Author": "  2  Author\n"}
        self.assertEqual(result.stdout.decode(),
                         path + "\n" + "".join(rows[name[5:]] for name in os.listxattr(path)))
        items = {item["type"]: item
                 for item in json.loads(run("list", "--json", path).stdout)["files"][0]["items"]}
        self.assertEqual(items["Author"], {"type": "Author", "length": 2})
        self.assertTrue(items["a:b"]["error"].startswith("Unable to open metadata. "))

    def test_a_folder_needs_recursion(self):
        self.make_file("sub/a.txt", items=[("Author", b"xx")])
        folder = self.path("sub")
        self.assertFails(run("list", folder), 1, "Is a folder", "-r", folder)

    def test_one_bad_path_does_not_stop_the_others(self):
        good = self.make_file("good.txt", items=[("Author", b"xx")])
        missing = self.path("missing.txt")
        result = run("list", "--json", missing, good)
        self.assertFails(result, 1, "File not found.", missing)
        document = json.loads(result.stdout)
        self.assertEqual(document["files"][0], {"path": missing, "error": "File not found."})
        self.assertEqual(document["files"][1]["items"], [{"type": "Author", "length": 2}])


class TreeProblemsTest(ToolTestCase):
    def test_a_file_name_that_is_not_utf8_is_reported_and_the_walk_goes_on(self):
        good = self.make_file("tree/good.txt", items=[("Author", b"xx")])
        bad = os.path.join(os.fsencode(self.path("tree")), b"bad\xff.txt")
        open(bad, "wb").close()
        os.mkfifo(self.path("tree/pipe"))
        result = run("list", "-r", "--json", self.path("tree"))
        self.assertFails(result, 1, "The path is not valid UTF-8.")
        files = json.loads(result.stdout)["files"]
        self.assertEqual(files, [
            {"path": self.path("tree/bad\ufffd.txt"), "error": "The path is not valid UTF-8."},
            {"path": good, "items": [{"type": "Author", "length": 2}]}])


class RecursiveListTest(ToolTestCase):
    FILES = 1000

    def make_tree(self):
        """A thousand files in nested folders; every seventh carries two items."""
        with_items = set()
        for index in range(self.FILES):
            depth = index % 4
            name = os.path.join(*(["level%d" % d for d in range(depth)] +
                                  ["group%d" % (index % 10), "file%04d.txt" % index]))
            items = [("Author", utf16("A%d" % index)), ("Index", b"%d" % index)] \
                if index % 7 == 0 else []
            path = self.make_file(os.path.join("tree", name), b"", items)
            if items:
                with_items.add(path)
        return self.path("tree"), with_items

    def test_json_counts_every_file_and_item_of_a_thousand(self):
        tree, with_items = self.make_tree()
        os.symlink(tree, os.path.join(tree, "loop"))
        result = run("list", "-r", "--json", tree)
        self.assertSucceeds(result)
        files = json.loads(result.stdout)["files"]
        self.assertEqual(len(files), self.FILES)
        self.assertEqual(len({entry["path"] for entry in files}), self.FILES)
        self.assertEqual(sum(len(entry["items"]) for entry in files), 2 * len(with_items))
        for entry in files:
            self.assertTrue(entry["path"].startswith(tree + os.sep))
            self.assertEqual(bool(entry["items"]), entry["path"] in with_items)

    def test_text_shows_the_files_that_carry_items_in_name_order(self):
        tree, with_items = self.make_tree()
        result = run("list", "--recursive", tree)
        self.assertSucceeds(result)
        shown = [line for line in result.stdout.decode().splitlines()
                 if not line.startswith("  ")]
        self.assertEqual(shown, [path for path in walk_by_name(tree) if path in with_items])

    def test_progress_appears_only_when_a_person_watches_both_streams(self):
        tree, _ = self.make_tree()
        piped = run("list", "-r", tree)
        self.assertSucceeds(piped)

        # Standard error on a terminal, output redirected: still nothing.
        with open(self.path("out.txt"), "wb") as output:
            status, screen = run_on_terminal(["list", "-r", tree], stdout=output)
        self.assertEqual(status, 0)
        self.assertNotIn(b"files seen", screen)

        status, screen = run_on_terminal(["list", "-r", "--json", tree])
        self.assertEqual(status, 0)
        self.assertIn(b"files seen: ", screen)
        self.assertIn(b"items found: ", screen)
        self.assertIn(b'"files"', screen)


def walk_by_name(folder):
    """Regular files depth first, by name within each folder, links not followed."""
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        if os.path.islink(path):
            continue
        if os.path.isdir(path):
            yield from walk_by_name(path)
        else:
            yield path


def run_on_terminal(arguments, stdout=None):
    """Runs the tool with standard error (and output, unless given) on a terminal; gives the
    exit status and everything written to the terminal."""
    leader, follower = pty.openpty()
    try:
        process = subprocess.Popen([tool_path()] + arguments, stdin=subprocess.DEVNULL,
                                   stdout=stdout if stdout else follower, stderr=follower)
    finally:
        os.close(follower)
    chunks = []
    try:
        while True:
            try:
                chunk = os.read(leader, 65536)
            except OSError:  # the terminal closes once the program has ended
                break
            if not chunk:
                break
            chunks.append(chunk)
    finally:
        os.close(leader)
    return process.wait(timeout=600), b"".join(chunks)


if __name__ == "__main__":
    unittest.main()
