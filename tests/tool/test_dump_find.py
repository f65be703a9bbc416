"""dump and restore (also of getfattr --dump text), cp, rm --all, list -l and find, on real
files; the unprivileged list that meets a file it may not read."""
import base64
import json
import os
import shutil
import subprocess
import tempfile
import unittest

from tool_support import EMPTY_MARKER, ToolTestCase, run, tool_path, user_items, utf16

LARGEST = 65536  # the largest attribute value Linux takes, on file systems that take it


# file (relative) -> items as stored, covering every kind of value a dump must carry.
TREE = {
    "notes.txt": [("Author", utf16("Jane Doe")), ("Keywords", utf16("budget, 2027"))],
    "Grüße/bericht 😀.txt": [("Größe 😀", utf16("Überschrift\nzweite Zeile")),
                             ("Empty", EMPTY_MARKER)],
    "bin/data.bin": [("Checksum", bytes([0, 255, 1])),               # odd count: bytes
                     ("Lone", b"\x00\xd8A\x00"),                     # unpaired surrogate
                     ("Nul", utf16("a\0b")),                          # text with a zero unit
                     ("Quoted", b'say "hi" \\ \n\xff=')],             # getfattr's escapes
}


def folder_taking(value_size):
    """A temporary folder whose file system keeps a value of this size, or None."""
    for parent in (None, "/dev/shm"):
        if parent and not os.path.isdir(parent):
            continue
        folder = tempfile.mkdtemp(prefix="quarrow2-dump-", dir=parent)
        probe = os.path.join(folder, "probe")
        open(probe, "wb").close()
        try:
            os.setxattr(probe, "user.probe", b"x" * value_size)
            os.remove(probe)
            return folder
        except OSError:
            shutil.rmtree(folder)
    return None


class DumpRestoreTest(ToolTestCase):
    def make_tree(self, root, large):
        tree = dict(TREE)
        if large:
            tree["large.bin"] = [("Large", os.urandom(LARGEST))]
        for name, items in tree.items():
            path = os.path.join(root, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            open(path, "wb").close()
            for item_type, value in items:
                os.setxattr(path, "user." + item_type, value)
        open(os.path.join(root, "no items.txt"), "wb").close()
        return sorted(tree)

    def tree_items(self, root, names):
        return {name: user_items(os.path.join(root, name)) for name in names}

    def test_dump_then_restore_onto_a_plain_copy_gives_it_the_same_items(self):
        root = folder_taking(LARGEST)
        if root is None:
            root = self.folder
            print("no file system here keeps a 64 KiB value: the round trip leaves it out")
        else:
            self.addCleanup(shutil.rmtree, root, True)
        source = os.path.join(root, "source")
        names = self.make_tree(source, large=root != self.folder)
        expected = self.tree_items(source, names)

        result = run("dump", "-r", ".", cwd=source)
        self.assertSucceeds(result)
        document = json.loads(result.stdout)
        self.assertEqual((document["format"], document["version"]), ("quarrow2-dump", 1))
        dumped = {entry["path"]: entry["items"] for entry in document["files"]}
        self.assertEqual(sorted(dumped), ["./" + name for name in names])
        for name in names:
            items = dumped["./" + name]
            self.assertEqual([item["type"] for item in items], list(expected[name]))
            for item in items:
                stored = expected[name][item["type"]]
                if "text" in item:
                    self.assertEqual(utf16(item["text"]), b"" if stored == EMPTY_MARKER else stored)
                else:
                    self.assertEqual(base64.b64decode(item["bytes"], validate=True), stored)
        by_type = {item["type"]: item for item in dumped["./bin/data.bin"]}
        self.assertEqual(by_type["Checksum"], {"type": "Checksum", "bytes": "AP8B"})
        self.assertEqual(by_type["Nul"], {"type": "Nul", "text": "a\0b"})
        self.assertIn({"type": "Empty", "text": ""}, dumped["./Grüße/bericht 😀.txt"])

        copy = os.path.join(root, "copy")
        subprocess.run(["cp", "-r", source, copy], check=True)
        self.assertEqual(user_items(os.path.join(copy, "notes.txt")), {})
        self.assertSucceeds(run("restore", stdin=result.stdout, cwd=copy))
        self.assertEqual(self.tree_items(copy, names), expected)

    def test_restore_reads_each_encoding_of_getfattr_dump_as_setfattr_does(self):
        if not shutil.which("getfattr") or not shutil.which("setfattr"):
            self.skipTest("getfattr and setfattr (package attr) are not installed")
        source = self.path("source")
        names = self.make_tree(source, large=False)
        os.setxattr(os.path.join(source, "notes.txt"), "user.we=ird", b"=")
        expected = self.tree_items(source, names)
        for encoding in ("text", "hex", "base64"):
            with self.subTest(encoding=encoding):
                dump = self.path(encoding + ".txt")
                with open(dump, "wb") as f:
                    subprocess.run(["getfattr", "-R", "--dump", "-e", encoding, "."], cwd=source,
                                   check=True, stdout=f)
                ours, theirs = self.path("ours-" + encoding), self.path("theirs-" + encoding)
                for copy in (ours, theirs):
                    subprocess.run(["cp", "-r", source, copy], check=True)
                self.assertSucceeds(run("restore", dump, cwd=ours))
                subprocess.run(["setfattr", "--restore=" + dump], cwd=theirs, check=True)
                self.assertEqual(self.tree_items(ours, names), self.tree_items(theirs, names))
                # Text drops a value's last zero byte (getfattr writes values as C strings).
                if encoding != "text":
                    self.assertEqual(self.tree_items(ours, names), expected)

    def test_restore_goes_on_past_a_file_it_cannot_write_and_leaves_other_items(self):
        kept = self.make_file("kept.txt", items=[("Author", utf16("old")), ("Other", b"1")])
        dump = json.dumps({"format": "quarrow2-dump", "version": 1, "files": [
            {"path": "missing.txt", "items": [{"type": "Author", "text": "x"}]},
            {"path": "kept.txt", "items": [{"type": "Author", "text": "new"},
                                           {"type": "Bytes", "bytes": "AAE="}]}]}).encode()

        dry = run("restore", "--dry-run", "-", stdin=dump, cwd=self.folder)
        self.assertFails(dry, 1, "File not found.", "missing.txt")
        self.assertEqual(dry.stdout.decode(), "kept.txt\n  Author\n  Bytes\n")
        self.assertEqual(user_items(kept), {"Author": utf16("old"), "Other": b"1"})

        self.assertFails(run("restore", stdin=dump, cwd=self.folder), 1, "File not found.")
        self.assertEqual(user_items(kept),
                         {"Author": utf16("new"), "Other": b"1", "Bytes": b"\x00\x01"})
        self.assertFalse(os.path.exists(self.path("missing.txt")))
        self.assertSucceeds(run("restore", "--create", stdin=dump, cwd=self.folder))
        self.assertEqual(user_items(self.path("missing.txt")), {"Author": utf16("x")})

    def test_input_that_cannot_be_restored_changes_nothing(self):
        path = self.make_file("a.txt", items=[("Author", utf16("old"))])
        good = {"path": "a.txt", "items": [{"type": "Author", "text": "new"}]}
        cases = {
            "not JSON": b"{",
            "another format": json.dumps({"format": "x", "version": 1, "files": []}).encode(),
            "later version": json.dumps({"format": "quarrow2-dump", "version": 2,
                                         "files": [good]}).encode(),
            "bad base64": json.dumps({"format": "quarrow2-dump", "version": 1, "files": [
                good, {"path": "a.txt", "items": [{"type": "X", "bytes": "A"}]}]}).encode(),
            "text and bytes": json.dumps({"format": "quarrow2-dump", "version": 1, "files": [
                good, {"path": "a.txt", "items": [{"type": "X", "text": "", "bytes": ""}]}]}).encode(),
            "getfattr hex": b"# file: a.txt\nuser.Author=0x4\n",
            "neither": b"hello\n",
        }
        for name, data in cases.items():
            with self.subTest(name):
                self.assertFails(run("restore", stdin=data, cwd=self.folder), 2, "restore")
        self.assertEqual(user_items(path), {"Author": utf16("old")})


class CopyRemoveListTest(ToolTestCase):
    def test_cp_copies_all_or_the_named_items_exactly(self):
        source = self.make_file("a.txt", items=[("Author", utf16("Jane")), ("Empty", EMPTY_MARKER),
                                                ("Bin", b"\x01\x02\x03")])
        every = self.make_file("b.txt", items=[("Own", b"x")])
        self.assertSucceeds(run("cp", source, every))
        self.assertEqual(user_items(every), {"Own": b"x", **user_items(source)})
        named = self.make_file("c.txt")
        self.assertSucceeds(run("cp", "--type", "Bin", "--type", "Empty", source, named))
        self.assertEqual(user_items(named), {"Bin": b"\x01\x02\x03", "Empty": EMPTY_MARKER})
        self.assertFails(run("cp", "--type", "Missing", source, named), 1, 'type "Missing"')
        self.assertFails(run("cp", source, self.path("none.txt")), 1, "File not found.")
        self.assertFalse(os.path.exists(self.path("none.txt")))

    def test_rm_all_clears_every_item_of_each_file(self):
        first = self.make_file("a.txt", b"content", [("Author", b"1"), ("Bin", b"2")])
        second = self.make_file("b.txt", items=[("Author", b"3")])
        self.assertSucceeds(run("rm", "--all", first, second))
        self.assertEqual((os.listxattr(first), os.listxattr(second)), ([], []))
        with open(first, "rb") as f:
            self.assertEqual(f.read(), b"content")
        self.assertFails(run("rm", "--all", self.path("missing")), 1, "File not found.")

    def test_list_long_shows_values_whole_off_a_terminal(self):
        long_text = "ü" * 200
        path = self.make_file("a.txt", items=[("Author", utf16("Jane")), ("Bin", b"\x00\xff\x01"),
                                              ("Long", utf16(long_text)), ("Empty", EMPTY_MARKER)])
        result = run("list", "-l", path)
        self.assertSucceeds(result)
        rows = {"Author": "    8  Author  Jane", "Bin": "    3  Bin     00ff01",
                "Long": "  400  Long    " + long_text, "Empty": "   32  Empty"}
        self.assertEqual(result.stdout.decode().splitlines(),
                         [path] + [rows[item_type] for item_type in user_items(path)])
        document = json.loads(run("list", "-l", "--json", path).stdout)
        items = {item["type"]: item for item in document["files"][0]["items"]}
        self.assertEqual(items["Long"], {"type": "Long", "length": 400, "text": long_text})
        self.assertEqual(items["Bin"], {"type": "Bin", "length": 3, "hex": "00ff01"})


class FindTest(ToolTestCase):
    def test_finds_files_by_type_and_value(self):
        jane = self.make_file("docs/jane.txt", items=[("Author", utf16("Jane Doe"))])
        john = self.make_file("docs/sub/john.txt", items=[("Author", utf16("John Roe"))])
        self.make_file("docs/none.txt", items=[("Title", utf16("Jane Doe"))])
        binary = self.make_file("docs/zbin.txt", items=[("Author", b"\x00\xd8")])
        docs = self.path("docs")
        cases = [
            (["--type", "Author"], [jane, john, binary]),
            (["--type", "Author", "--value", "Jane Doe"], [jane]),
            (["--type", "Author", "--value", "Jane"], []),
            (["--type", "Author", "--match", "J*n ?oe"], [john]),
            (["--type", "Author", "--match", "[!J]*"], []),
            (["--type", "Author", "--regex", "o[eh]"], [jane, john]),
            (["--type", "Missing"], []),
        ]
        for arguments, expected in cases:
            with self.subTest(arguments=arguments):
                result = run("find", "-r", docs, *arguments)
                self.assertEqual(result.returncode, 0 if expected else 1, result.stderr)
                self.assertEqual(result.stderr, b"")
                self.assertEqual(result.stdout.decode().splitlines(), expected)
        nul = run("find", "-r", "-0", docs, "--type", "Author", "--regex", "^J")
        self.assertEqual(nul.stdout, (jane + "\0" + john + "\0").encode())
        document = json.loads(run("find", "--json", jane, binary, "--type", "Author").stdout)
        self.assertEqual(document["files"], [
            {"path": jane, "type": "Author", "text": "Jane Doe"},
            {"path": binary, "type": "Author", "hex": "00d8"}])
        self.assertFails(run("find", "-r", docs, "--type", "Author", "--regex", "("), 2, "regular")
        self.assertFails(run("find", docs, "--type", "Author"), 1, "Is a folder", "-r")


    def test_a_long_value_is_searched_in_one_pass(self):
        root = folder_taking(LARGEST)
        if root is None:
            self.skipTest("no file system here keeps a 64 KiB value")
        self.addCleanup(shutil.rmtree, root, True)
        path = os.path.join(root, "long.txt")
        open(path, "wb").close()
        os.setxattr(path, "user.Body", utf16("a" * 32000 + "b"))
        for pattern, status in (("a.*b", 0), ("(a|b)*c", 1), ("^b", 1), ("b$", 0)):
            with self.subTest(pattern):
                result = run("find", path, "--type", "Body", "--regex", pattern)
                self.assertEqual((result.returncode, result.stderr), (status, b""))


class UnreadableFileTest(ToolTestCase):
    def test_an_unprivileged_list_of_an_unreadable_file_says_access_is_denied(self):
        path = self.make_file("secret.txt", items=[("Author", utf16("Jane"))])
        os.chmod(path, 0)
        os.chmod(self.folder, 0o755)
        prefix = ()
        if os.geteuid() == 0:
            if not shutil.which("setpriv"):
                self.skipTest("running as root without setpriv to become nobody")
            prefix = ("setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups")
            probe = subprocess.run(list(prefix) + ["test", "-x", tool_path()])
            if probe.returncode != 0:
                self.skipTest("nobody may not run the tool at " + tool_path())
        for arguments, message in ((["list", path], "quarrow2: Access is denied."),
                                   (["get", path, "Author"], "Access is denied.")):
            with self.subTest(arguments=arguments):
                result = run(*arguments, prefix=prefix)
                self.assertIn(message, self.assertFails(result, 1))
                self.assertNotIn("Volume does not support streams", result.stderr.decode())


if __name__ == "__main__":
    unittest.main()
