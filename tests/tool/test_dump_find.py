"""dump and restore (also of getfattr --dump text), cp, rm --all, list -l and find, on real
files; values read as the text their name says, also from curl --xattr and setfattr; the
unprivileged list that meets a file it may not read; layout words that name no layout."""
import base64
import functools
import http.server
import json
import os
import shutil
import subprocess
import threading

from tool_support import EMPTY_MARKER, ToolTestCase, folder_taking, run, tool_path, user_items, utf16

LARGEST = 65536  # the largest attribute value Linux takes, on file systems that take it
QUOTED = b'say "hi" \\ \n\xff='  # getfattr's escapes
# file, type, value as stored, as dumped (text, or bytes): every kind of value a dump carries.
TREE = [("notes.txt", "Author", utf16("Jane Doe"), "Jane Doe"),
        ("notes.txt", "Keywords", utf16("budget, 2027"), "budget, 2027"),
        ("Grüße/bericht 😀.txt", "Größe 😀", utf16("Über\nzweite Zeile"), "Über\nzweite Zeile"),
        ("Grüße/bericht 😀.txt", "Empty", EMPTY_MARKER, ""),
        ("bin/data.bin", "Checksum", b"\0\xff\x01", b"\0\xff\x01"),  # odd count: bytes
        ("bin/data.bin", "Lone", b"\x00\xd8A\x00", b"\x00\xd8A\x00"),  # unpaired surrogate
        ("bin/data.bin", "Nul", utf16("a\0b"), "a\0b"),  # text with a zero unit
        ("bin/data.bin", "Quoted", QUOTED, QUOTED.decode("utf-16-le"))]
# A value as stored; as dump, get and --json give it (form, text) under an xdg.* name and under
# another name; what list -l shows under the other; the texts find matches (--match) and
# under which of the two names ("x" the xdg.* one, "o" the other).
RULE = [(b"text/plain", ("utf8", "text/plain"), ("text", "整瑸瀯慬湩"), "整瑸瀯慬湩",
         {"text/plain": "xo", "整瑸瀯慬湩": "o"}),
        ("Grüße, 東京".encode(), ("utf8", "Grüße, 東京"), ("bytes", None), "(UTF-8) Grüße, 東京",
         {"Grüße, 東京": "xo"}),
        (utf16("Jane Doe"), ("text", "Jane Doe"), ("text", "Jane Doe"), "Jane Doe", {"Jane Doe": "xo"}),
        (utf16("汉字"), ("utf8", "IlW["), ("text", "汉字"), "汉字", {"IlW[": "xo", "汉字": "o"}),
        (b"\xff\xfe\x00", ("bytes", None), ("bytes", None), "fffe00", {"*": ""})]
# How each layout stores an item's value under its name.
LAYOUTS = {"native": lambda name, value: ("user." + name, value),
           "samba": lambda name, value: ("user.DosStream.%s:$DATA" % name, value + b"\0")}


def dump_of(files, version=1, form="quarrow2-dump"):
    return json.dumps({"format": form, "version": version, "files": files}).encode()


def copy_tree(source, copy):
    subprocess.run(["cp", "-r", source, copy], check=True)


class DumpRestoreTest(ToolTestCase):
    def make_tree(self, root, tree):
        """The tree's files and items under root, and a file without items; {file: items}."""
        for name, item_type, value, _ in tree:
            self.make_file(os.path.join(root, name), items=[(item_type, value)])
        self.make_file(os.path.join(root, "no items.txt"))
        return self.tree_items(root, sorted({row[0] for row in tree}))

    def tree_items(self, root, names):
        return {name: user_items(os.path.join(root, name)) for name in names}

    def test_dump_then_restore_onto_a_plain_copy_and_find_in_a_long_value(self):
        root = folder_taking(LARGEST) or self.folder
        if root == self.folder:
            print("no file system here keeps a 64 KiB value: the long value is left out")
        self.addCleanup(shutil.rmtree, root, True)
        # Every byte value, with units that are unpaired surrogates: bytes.
        large = bytes(range(256)) * 256
        tree = TREE + [("large.bin", "Large", large, large)] * (root != self.folder)
        source, copy = os.path.join(root, "source"), os.path.join(root, "copy")
        expected = self.make_tree(source, tree)
        dumped = {(name, t): {"text": v} if isinstance(v, str) else {"bytes": base64.b64encode(v).decode()}
                  for name, t, _, v in tree}
        result = self.expect(["dump", "-r", "."], cwd=source, out={
            "format": "quarrow2-dump", "version": 1, "files": [
                {"path": "./" + name, "items": [{"type": t, **dumped[name, t]} for t in items]}
                for name, items in expected.items()]})
        copy_tree(source, copy)
        self.assertEqual(user_items(os.path.join(copy, "notes.txt")), {})
        self.expect(["restore"], stdin=result.stdout, cwd=copy)
        self.assertEqual(self.tree_items(copy, expected), expected)
        if root != self.folder:  # A long value is searched in one pass.
            path = self.make_file(os.path.join(root, "long.txt"),
                                  items=[("Body", utf16("a" * 32000 + "b"))])
            self.table([(["find", path, "--type", "Body", "--regex", pattern], status, None)
                        for pattern, status in (("a.*b", 0), ("(a|b)*c", 1), ("^b", 1), ("b$", 0))])

    def test_restore_reads_each_encoding_of_getfattr_dump_as_setfattr_does(self):
        if not shutil.which("getfattr") or not shutil.which("setfattr"):
            self.skipTest("getfattr and setfattr (package attr) are not installed")
        source = self.path("source")
        expected = self.make_tree(source, TREE + [("notes.txt", "we=ird", b"=", None)])
        for encoding in ("text", "hex", "base64"):
            with self.subTest(encoding=encoding):
                dump = self.make_file(encoding + ".txt", subprocess.run(
                    ["getfattr", "-R", "--dump", "-e", encoding, "."], cwd=source, check=True,
                    capture_output=True).stdout)
                ours, theirs = self.path("ours-" + encoding), self.path("theirs-" + encoding)
                copy_tree(source, ours)
                copy_tree(source, theirs)
                result = run("restore", dump, cwd=ours)  # one warning for the text form
                self.assertEqual((result.returncode, result.stderr.count(b"-e hex or -e base64")),
                                 (0, int(encoding == "text")), result.stderr)
                subprocess.run(["setfattr", "--restore=" + dump], cwd=theirs, check=True)
                self.assertEqual(self.tree_items(ours, expected), self.tree_items(theirs, expected))
                # Text drops a value's last zero byte (getfattr writes values as C strings).
                if encoding != "text":
                    self.assertEqual(self.tree_items(ours, expected), expected)

    def test_restore_changes_nothing_on_bad_input_and_goes_on_past_a_file_it_cannot_write(self):
        old = {"Author": utf16("old"), "Other": b"1"}
        kept = self.make_file("kept.txt", items=old.items())
        good = {"path": "kept.txt", "items": [{"type": "Author", "text": "new"},
                                              {"type": "Bytes", "bytes": "AAE="}]}
        bad = [{"type": "X", "bytes": "A"}, {"type": "X", "text": "", "bytes": ""}]
        for stdin in [b"{", dump_of([], form="x"), dump_of([good], version=2),
                      b"# file: kept.txt\nuser.Author=0x4\n", b"hello\n"] + [
                dump_of([good, {"path": "kept.txt", "items": [item]}]) for item in bad]:
            with self.subTest(stdin):
                self.expect(["restore"], 2, "restore", stdin=stdin, cwd=self.folder)
        self.assertEqual(user_items(kept), old)
        dump = dump_of([{"path": "missing.txt", "items": [{"type": "Author", "text": "x"}]}, good])
        self.expect(["restore", "--dry-run", "-"], 1, "File not found.", "missing.txt",
                    out="kept.txt\n  Author\n  Bytes\n", stdin=dump, cwd=self.folder)
        self.assertEqual(user_items(kept), old)
        self.expect(["restore"], 1, "File not found.", stdin=dump, cwd=self.folder)
        self.assertEqual(user_items(kept), {**old, "Author": utf16("new"), "Bytes": b"\x00\x01"})
        self.assertFalse(os.path.exists(self.path("missing.txt")))
        self.expect(["restore", "--create"], stdin=dump, cwd=self.folder)
        self.assertEqual(user_items(self.path("missing.txt")), {"Author": utf16("x")})


class TextRuleTest(ToolTestCase):
    def test_each_value_reads_as_the_text_its_name_says_in_both_layouts(self):
        for layout, stored_as in LAYOUTS.items():
            with self.subTest(layout=layout):
                path, copy = self.make_file(layout + ".txt"), self.make_file("copy/" + layout + ".txt")
                tool = ["--layout", layout]
                items, shown, rows = {}, {}, []
                for i, (value, xdg, other, other_shown, finds) in enumerate(RULE):
                    for kind, name, (form, text), show in (("x", "xdg.v%d" % i, xdg, None),
                                                           ("o", "v%d" % i, other, other_shown)):
                        os.setxattr(path, *stored_as(name, value))
                        items[name] = {form: base64.b64encode(value).decode() if text is None else text}
                        shown[name] = show or (value.hex() if text is None else text)
                        rows.append((tool + ["get", "--json", path, name], 1 if text is None else 0,
                                     text and {"path": path, "type": name, form: text}))
                        rows += [(tool + ["find", path, "--type", name, "--match", pattern],
                                  0 if kind in kinds else 1, path + "\n" if kind in kinds else "")
                                 for pattern, kinds in finds.items()]
                self.table(rows)
                lines = self.expect(tool + ["list", "-l", path]).stdout.decode().splitlines()[1:]
                self.assertEqual(dict(line.split(None, 2)[1:] for line in lines), shown)
                name = os.path.basename(path)
                dump = self.expect(tool + ["dump", name], cwd=self.folder).stdout
                self.assertEqual({item.pop("type"): item for item in json.loads(dump)["files"][0]["items"]},
                                 items)
                self.expect(tool + ["restore"], stdin=dump, cwd=self.path("copy"))
                self.assertEqual(sorted(user_items(copy).items()), sorted(user_items(path).items()))

    def test_curl_and_setfattr_values_read_as_getfattr_shows_them_and_set_utf8_writes_theirs(self):
        if not (shutil.which("curl") and shutil.which("getfattr") and shutil.which("setfattr")):
            self.skipTest("curl and getfattr/setfattr (packages curl, attr) are not installed")
        self.make_file("dl.txt", b"downloaded\n")
        handler = functools.partial(type("Quiet", (http.server.SimpleHTTPRequestHandler,), {
            "log_message": lambda *arguments: None}), directory=self.folder)
        with http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler) as server:
            threading.Thread(target=server.serve_forever, daemon=True).start()
            url = "http://127.0.0.1:%d/dl.txt" % server.server_port
            got = self.path("got.txt")
            subprocess.run(["curl", "-s", "--xattr", "-o", got, url], check=True, timeout=60)
            server.shutdown()
        subprocess.run(["setfattr", "-n", "user.xdg.comment", "-v", "Grüße", got], check=True)
        before = user_items(got)
        self.table([(["list", "-l", got], 0, None), (["get", got, "mime_type"], 0, "text/plain\n"),
                    (["get", got, "xdg.origin.url"], 0, url + "\n"),
                    (["get", "--json", got, "xdg.comment"], 0, {"path": got, "type": "xdg.comment", "utf8": "Grüße"}),
                    (["get", "--utf16", got, "mime_type"], 0, "整瑸瀯慬湩\n"),
                    (["find", got, "--type", "mime_type", "--value", "text/plain"], 0, got + "\n"),
                    (["set", "--utf8", got, "xdg.tags", "work"], 0, b""),
                    (["get", "--utf8", got, "xdg.tags"], 0, "work\n"),
                    (["get", "--utf8", got, "xdg.comment"], 0, "Grüße\n")])
        self.assertIn(b'user.xdg.tags="work"\n', subprocess.run(
            ["getfattr", "-d", got], capture_output=True, check=True).stdout)
        shown = self.expect(["list", "-l", got]).stdout.decode()
        for line in ("mime_type       text/plain", "xdg.origin.url  " + url, "xdg.comment     Grüße"):
            self.assertIn(line, shown)
        dump = self.expect(["dump", "got.txt"], cwd=self.folder).stdout
        self.assertEqual({item["type"]: item.get("utf8") for item in json.loads(dump)["files"][0]["items"]},
                         {"mime_type": "text/plain", "xdg.origin.url": url, "xdg.comment": "Grüße",
                          "xdg.tags": "work"})
        os.makedirs(self.path("copy"))
        copy = self.make_file("copy/got.txt")
        self.expect(["restore"], stdin=dump, cwd=self.path("copy"))
        self.assertEqual(user_items(copy), {**before, "xdg.tags": b"work"})


class CopyListFindTest(ToolTestCase):
    def test_cp_copies_all_or_the_named_items_list_long_shows_them_and_rm_all_clears(self):
        long_text = "ü" * 200
        source = self.make_file("a.txt", b"content", [
            ("Author", utf16("Jane")), ("Bin", b"\x00\xff\x01"), ("Long", utf16(long_text)),
            ("Empty", EMPTY_MARKER)])
        every = self.make_file("b.txt", items=[("Own", b"x")])
        named, none = self.make_file("c.txt"), self.path("none.txt")
        # Values whole, off a terminal.
        rows = {"Author": "    8  Author  Jane", "Bin": "    3  Bin     00ff01",
                "Long": "  400  Long    " + long_text, "Empty": "   32  Empty"}
        self.table([
            (["cp", source, every], 0, None),
            (["cp", "--type", "Bin", "--type", "Empty", source, named], 0, None),
            (["cp", "--type", "Missing", source, named], 1, None, 'type "Missing"'),
            (["cp", source, none], 1, None, "File not found."),
            (["list", "-l", source], 0, "".join(line + "\n" for line in
                                                [source] + [rows[t] for t in user_items(source)]))])
        self.assertEqual(user_items(every), {"Own": b"x", **user_items(source)})
        self.assertEqual(user_items(named), {"Bin": b"\x00\xff\x01", "Empty": EMPTY_MARKER})
        # Types that are not UTF-8 go through set and cp as bytes, and onto a folder too.
        album = self.path("album")
        os.mkdir(album)
        self.table([(["set", named, b"T\xfe", "v"], 0, None),
                    (["cp", "--type", b"T\xfe", named, album], 0, None)])
        self.assertEqual(os.getxattr(album, b"user.T\xfe"), utf16("v"))
        self.assertFalse(os.path.exists(none))
        document = json.loads(self.expect(["list", "-l", "--json", source]).stdout)
        items = {item["type"]: item for item in document["files"][0]["items"]}
        self.assertEqual(items["Long"], {"type": "Long", "length": 400, "text": long_text})
        self.assertEqual(items["Bin"], {"type": "Bin", "length": 3, "hex": "00ff01"})
        self.table([(["rm", "--all", source, every], 0, None),
                    (["rm", "--all", self.path("missing")], 1, None, "File not found.")])
        self.assertEqual((os.listxattr(source), os.listxattr(every)), ([], []))
        with open(source, "rb") as f:
            self.assertEqual(f.read(), b"content")

    def test_find_by_type_and_value(self):
        jane = self.make_file("docs/jane.txt", items=[("Author", utf16("Jane Doe"))])
        john = self.make_file("docs/sub/john.txt", items=[("Author", utf16("John Roe"))])
        self.make_file("docs/none.txt", items=[("Title", utf16("Jane Doe"))])
        binary = self.make_file("docs/zbin.txt", items=[("Author", b"\x00\xd8")])
        docs = self.path("docs")
        self.table([(["find", "-r", docs, "--type", *arguments], 0 if found else 1,
                     "".join(path + "\n" for path in found)) for arguments, found in [
            (["Author"], [jane, john, binary]), (["Author", "--value", "Jane Doe"], [jane]),
            (["Author", "--value", "Jane"], []), (["Author", "--match", "J*n ?oe"], [john]),
            (["Author", "--match", "[!J]*"], []), (["Author", "--regex", "o[eh]"], [jane, john]),
            (["Missing"], [])]] + [
            (["find", "-r", "-0", docs, "--type", "Author", "--regex", "^J"], 0,
             jane + "\0" + john + "\0"),
            (["find", "-r", docs, "--type", "Author", "--regex", "("], 2, None, "regular"),
            (["find", docs, "--type", "Author"], 1, None)])
        self.expect(["find", "--json", jane, binary, "--type", "Author"], out={"files": [
            {"path": jane, "type": "Author", "text": "Jane Doe"},
            {"path": binary, "type": "Author", "hex": "00d8"}]})

    def test_walks_read_each_file_in_its_own_layout_in_whatever_order(self):
        """Files of a Samba tree and of a native one in turn, each with the other layout's
        attribute of the same name beside its item (warned about): dump -r and list -l -r
        read each value in its own folder's layout, with one worker and with several."""
        expected = []
        for layout, other in (("native", "samba"), ("samba", "native")):
            os.makedirs(self.path(layout))
            if layout == "samba":
                os.setxattr(self.path(layout), "user.quarrow2.layout", b"samba")
            for i in range(3):
                path = self.make_file("%s/f%d" % (layout, i))
                os.setxattr(path, *LAYOUTS[other]("K", utf16("other")))
                os.setxattr(path, *LAYOUTS[layout]("K", utf16(layout + str(i))))
                expected.append(("./%s/f%d" % (layout, i), layout + str(i)))
        for workers in ("1", "4"):
            dumped = json.loads(run("dump", "-r", "-j", workers, ".", cwd=self.folder).stdout)
            self.assertEqual([(f["path"], f["items"][0]["text"]) for f in dumped["files"]], expected)
            listed = run("list", "-l", "-r", "-j", workers, ".", cwd=self.folder).stdout.decode()
            self.assertEqual([line.split()[-1] for line in listed.splitlines() if line.startswith(" ")],
                             [text for _, text in expected])

    def test_an_unprivileged_list_of_an_unreadable_file_says_access_is_denied(self):
        path = self.make_file("secret.txt", items=[("Author", utf16("Jane"))])
        os.chmod(path, 0)
        os.chmod(self.folder, 0o755)
        prefix = ("setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups") * (os.geteuid() == 0)
        if prefix and not shutil.which("setpriv"):
            self.skipTest("running as root without setpriv to become nobody")
        if prefix and subprocess.run([*prefix, "test", "-x", tool_path()]).returncode != 0:
            self.skipTest("nobody may not run the tool at " + tool_path())
        for arguments, message in ((["list", path], "quarrow2: Unable to list metadata. Access is denied."),
                                   (["get", path, "Author"], "Access is denied.")):
            result = self.expect(arguments, 1, message, prefix=prefix)
            self.assertNotIn(b"Volume does not support streams", result.stderr)

    def test_a_layout_word_that_names_no_layout_fails_every_read_and_nothing_reads_empty(self):
        # The variable, or the marker on the root of a file system of its own (as root).
        words = [(self.folder, "Samba")]
        mount = os.path.join(self.folder, "mount")
        os.mkdir(mount)
        if os.geteuid() == 0 and subprocess.run(["mount", "-t", "tmpfs", "tmpfs", mount]).returncode == 0:
            self.addCleanup(subprocess.run, ["umount", "-l", mount])
            words += [(mount, None)]
        for folder, variable in words:
            for marker in [None] if variable else [b"Samba", b"samba\n", b"samba\0"]:
                if marker:
                    os.setxattr(mount, "user.quarrow2.layout", marker)
                path = self.make_file(os.path.join(folder, "doc.txt"), b"x", [("Author", b"J\0")])
                other = self.make_file(os.path.join(folder, "other.txt"))
                if variable:
                    os.environ["QUARROW2_LAYOUT"] = variable
                try:
                    self.table([(arguments, 2 if arguments[0] == "find" else 1, None,
                                 "The environment is incorrect.") for arguments in (
                        ["list", path], ["list", "-l", path], ["length", path], ["get", path, "Author"],
                        ["dump", path], ["find", path, "--type", "Author"], ["cp", path, other],
                        ["rm", "--all", path])])
                finally:
                    os.environ.pop("QUARROW2_LAYOUT", None)
                self.assertEqual((user_items(path), user_items(other)), ({"Author": b"J\0"}, {}))
