"""set, get, rm, length, list and help on real files; the refusals (status 2) and failures
(status 1) that change nothing."""
import json
import os
import pathlib
import re
import shlex
import shutil
import subprocess

from tool_support import EMPTY_MARKER, ToolTestCase, folder_taking, tool_path, user_items, utf16

TEXTS = ["Jane Doe", "Grüße aus Zürich, Ελληνικά, 東京", "emoji 😀🎉 and a flag 🇳🇴",
         "two\nlines\tand a tab", 'quote " and backslash \\']
BYTES = bytes(range(256)) * 3
ABSTRACT = "Résumé 😀\nsecond line\n"
NO_STREAMS = "/proc/self/status"
TOO_LARGE = "x" * 40000  # beyond the 64 KiB any Linux file system keeps in one attribute
LARGEST = 65536  # the most the tool stores on one item on Linux
WAITS = ["-1", "-0", "nan", "inf", "1e400", "abc", "", "1e10", "86401", "0x10", " 1", "1\nfake"]
HELP = {"list": "PATH --recursive --json xdg.*", "get": "PATH TYPE --utf8 --utf16 --bytes --hex --json",
        "set": "PATH TYPE VALUE --file --utf8 --utf16 --bytes --hex", "rm": "PATH TYPE --all",
        "length": "PATH --json", "dump": "PATH --recursive --output",
        "restore": "FILE --dry-run --create", "cp": "SRC DEST --type",
        "find": "PATH --type --value --match --regex --json -0 --recursive",
        "convert": "PATH --to --recursive --dry-run --mark --unmark", "shares": "--mark --config"}


def on_terminal(*words, redirect=""):
    """The exit status and all the terminal showed, the tool run on one by script(1)."""
    command = " ".join(shlex.quote(word) for word in [tool_path(), *words]) + redirect
    result = subprocess.run(["script", "-qec", command, "/dev/null"], stdin=subprocess.DEVNULL,
                            capture_output=True, timeout=600)
    return result.returncode, result.stdout


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
        os.setxattr(P, "user.Odd", b"\x01\x02\x03")
        os.setxattr(P, "user.Lone", b"\x00\xd8")
        self.table([(["set", P, "Title", text], 0, None)] + [
            (["get", "--json", *options, P, item_type], 0, {"path": P, "type": item_type, **value})
            for options, item_type, value in (([], "Title", {"text": text}),
                                              (["--bytes"], "Thumb", {"hex": BYTES.hex()}),
                                              (["--hex"], "Thumb", {"hex": BYTES.hex()}))] + [
            # Bytes that are not text (odd count, unpaired surrogate) are refused as text.
            (["get", P, "Odd"], 1, None, "not text", "--utf8, --bytes", '"Odd"'),
            (["get", P, "Lone"], 1, None, "not text", '"Lone"'),
            (["get", "--utf8", P, "Lone"], 1, None, "not UTF-8 text: byte 1", "with --bytes"),
            (["get", "--bytes", P, "Odd"], 0, b"\x01\x02\x03"),
            (["get", "--hex", P, "Lone"], 0, "00d8\n"),
            # set creates a missing file; get does not.
            (["get", "new.txt", "Author"], 1, None, "Unable to get text. The system cannot find"),
            (["set", "new.txt", "Author", "Jane"], 0, b""),
            (["get", "new.txt", "Author"], 0, "Jane\n")], cwd=self.folder)
        self.assertEqual(pathlib.Path(P).read_bytes(), b"main content")
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
        self.assertEqual(pathlib.Path(path).read_bytes(), b"content")
        big = self.make_file("a.bin", b"\0" * 1000000, [("Author", b"x" * 10), ("K", b"y" * 6)])
        empty, missing = self.path("c.txt"), self.path("missing.txt")
        self.table([(["set", empty, "Keywords", ""], 0, b""), (["length", empty], 0, "32\n"),
                    (["length", big, path, empty], 0, "16  %s\n0  %s\n32  %s\n" % (big, path, empty))])
        self.expect(["length", "--json", big, missing, path], 1, "File not found.", missing, out={"files": [
            {"path": big, "length": 16}, {"path": missing, "error": "File not found."},
            {"path": path, "length": 0}]})
        self.assertFalse(os.path.exists(missing))

    def test_help_names_every_command_its_arguments_and_the_version(self):
        for arguments, words in [(["--help"], [*HELP, "--version", "Exit status"])] + \
                [([command, "--help"], [command, *words.split()]) for command, words in HELP.items()]:
            shown = self.expect(arguments).stdout.decode()
            for word in words:
                self.assertIn(word, shown, arguments)
        self.expect(["--version"], out="quarrow2 2.0.0.1\n")

    def test_list_shows_types_and_lengths_and_what_it_cannot_list_does_not_stop_the_rest(self):
        path = self.make_file("report.doc", b"x" * 100000, [
            ("Zeta", utf16("last name first")), ("Author", utf16("Jane")),
            ("Keywords", b"abc"), ("Grüße 😀", utf16("hi"))])
        lines = self.expect(["list", path]).stdout.decode().splitlines()
        self.assertEqual([path] + [(t, len(v)) for t, v in user_items(path).items()],
                         [lines[0]] + [(n, int(k)) for k, n in (l.split(None, 1) for l in lines[1:])])
        plain, missing = self.make_file("plain.txt", b"content"), self.path("missing.txt")
        self.expect(["list", plain], out=plain + "\n  (no items)\n")
        first = self.make_file("a.txt", items=[("Author", utf16("Jane")), ('Say "hi"', b"1")])
        self.expect(["list", "--json", first, missing, plain], 1, "File not found.", missing, out={"files": [
            {"path": first, "items": [{"type": "Author", "length": 8},
                                      {"type": 'Say "hi"', "length": 1}]},
            {"path": missing, "error": "File not found."}, {"path": plain, "items": []}]})
        # Another program's attribute whose name no item can have is named as not carried,
        # never listed, read, dumped or removed as the item it would alias.
        path = self.make_file("notes.txt", items=[("x:$DATA", b"A"), ("x", b"B\0")])
        self.table([(["list", "-l", path], 1, path + "\n  2  x  B\n", 'Not an item', 'type "x:$DATA"'),
                    (["list", "--json", path], 1, {"files": [
                        {"path": path, "items": [{"type": "x", "length": 2}]}]}, "not carried"),
                    (["dump", path], 1, {"format": "quarrow2-dump", "version": 1, "files": [
                        {"path": path, "items": [{"type": "x", "text": "B"}]}]}, "not carried"),
                    (["cp", path, plain], 1, b"", "not carried"),
                    (["rm", "--all", path], 1, b"", "it is not removed")])
        self.assertEqual((user_items(path), user_items(plain)), ({"x:$DATA": b"A"}, {}))
        # A folder shows its own items; a FIFO in a walk is named, never opened, the rest listed.
        good = self.make_file("tree/good.txt", items=[("Author", b"xx")])
        tree = self.path("tree")
        self.expect(["list", tree], out=tree + "\n  (no items)\n")
        os.mkfifo(self.path("tree/pipe"))
        self.expect(["list", "-r", "--json", tree], 1, "Is a FIFO", "pipe", out={"files": [
            {"path": tree, "items": []},
            {"path": self.path("tree/pipe"), "error": "Is a FIFO, not a file or folder; its items are not read."},
            {"path": good, "items": [{"type": "Author", "length": 2}]}]})

    def test_a_folder_however_spelt_is_the_folder_and_never_a_file_in_it(self):
        keep = self.make_file("dir/:keep3", b"important")
        self.make_file("src", items=[("Author", utf16("J"))])
        self.table([(["set", "dir/", "keep3", "NEW"], 0, b""), (["set", "dir/.", "Album", "x"], 0, b""),
                    (["set", "dir//", "T", "t"], 0, b""), (["get", "dir/", "keep3"], 0, "NEW\n"),
                    (["get", "dir//", "Album"], 0, "x\n"), (["rm", "dir/.", "T"], 0, b""),
                    (["cp", "src", "dir/"], 0, b""), (["list", "dir/"], 0, None)], cwd=self.folder)
        self.expect(["restore", "-"], stdin=b"# file: dir/\nuser.Rating=0x05\n\n", cwd=self.folder)
        items = {"keep3": utf16("NEW"), "Album": utf16("x"), "Author": utf16("J"), "Rating": b"\x05"}
        self.assertEqual(user_items(self.path("dir")), items)
        dumped = json.loads(self.expect(["dump", "-r", "dir/"], cwd=self.folder).stdout)["files"]
        self.assertEqual([(f["path"], len(f["items"])) for f in dumped], [("dir/", 4)])
        self.assertEqual((os.listdir(self.path("dir")), user_items(keep)), ([":keep3"], {}))
        self.assertEqual(pathlib.Path(keep).read_bytes(), b"important")

    def test_list_a_thousand_files_in_json_text_and_with_progress(self):
        counts = {}  # path -> how many items; every seventh file carries two
        for index in range(1000):
            name = os.path.join("tree", *["level%d" % d for d in range(index % 4)],
                                "group%d" % (index % 10), "file%04d.txt" % index)
            items = [("Author", utf16("A%d" % index)), ("Index", b"%d" % index)] * (index % 7 == 0)
            counts[self.make_file(name, b"", items)] = len(items)
        tree = self.path("tree")
        os.symlink(tree, os.path.join(tree, "loop"))
        files = json.loads(self.expect(["list", "-r", "--json", tree]).stdout)["files"]
        self.assertEqual({entry["path"]: len(entry["items"]) for entry in files
                          if os.path.isfile(entry["path"])}, counts)
        # Text leaves out files without items; depth first, by name within each folder.
        shown = [line for line in self.expect(["list", "--recursive", tree]).stdout.decode()
                 .splitlines() if not line.startswith("  ")]
        self.assertEqual(shown, sorted((path for path in counts if counts[path]),
                                       key=lambda path: path.split(os.sep)))
        # Progress only when a person watches both streams: not with output redirected.
        status, screen = on_terminal("list", "-r", tree, redirect=" > " + shlex.quote(self.path("out")))
        self.assertEqual((status, b"files seen" in screen), (0, False), screen)
        status, screen = on_terminal("list", "-r", "--json", tree)
        self.assertEqual(status, 0)
        for shown in (b"files seen: ", b"items found: ", b'"files"'):
            self.assertIn(shown, screen)

    def test_refusals_and_failures_change_nothing(self):
        path = self.make_file("notes.txt", b"content", [("Author", utf16("Jane"))])
        other = self.make_file("value.txt", b"x")
        bad = b"caf\xe9"  # also the standard input of every row
        latin1 = self.make_file("latin1.txt", bad)
        missing = self.path("missing.txt")
        usage = [[], ["show", path], ["list", "--bogus", path], ["list"], ["get", path],
                 ["get", "--bytes", "--hex", path, "Author"], ["get", "--utf8", "--utf16", path, "Author"],
                 ["set", path, "Author"], ["set", "--utf8", "--bytes", path, "Author", "x"],
                 ["set", path, "Author", "x", "--file", other],
                 ["set", "--bytes", "--hex", path, "Author", "00"], ["rm", path], ["length", ""],
                 ["get", path, "Author", "extra"], ["find", path],
                 ["find", path, "--type", "A", "--value", "x", "--match", "x"], ["cp", path],
                 ["convert", path], ["convert", "--to", "other", path], ["convert", "--to", "samba",
                 "--mark", path], ["convert", "--to", "samba", "--mark", "--unmark", self.folder]]
        rows = [(arguments, 2, b"") for arguments in usage] + [
            (arguments, 2, b"", "not valid UTF-8") for arguments in (
                ["set", path, "Author", bad], ["set", "--utf8", path, "Author", bad],
                ["set", path, "Author", "--file", latin1],
                ["set", path, "Author", "-"])] + [
            (["set", path, "Author", "--file", missing], 2, b"", "missing.txt"),
            (["set", path, "Author", "--file", self.folder], 2, b"", "folder")] + [
            (["set", "--hex", path, "Sum", value], 2, b"", "not hex") for value in ["0", "zz", "0x10"]]
        rows += [(arguments, 1, None, "quarrow2: " + text, missing) for arguments, text in (
            (["get", missing, "Author"], "Unable to get text."),
            (["rm", missing, "Author"], "Unable to open metadata."),
            (["list", missing], "File not found."), (["length", missing], "File not found."))]
        rows += [(arguments, 1, None, "quarrow2: Access to this data type forbidden.", 'type "%s"' % t)
                 for t, arguments in (("$DATA", ["get", path, "$DATA"]), (":", ["rm", path, ":"]),
                                      ("", ["set", path, "", "x"]),
                                      (":$DATA", ["set", "--bytes", missing, ":$DATA", "x"]))]
        streams = "Volume does not support streams."
        rows += [(arguments, 1, None, "quarrow2: " + streams, NO_STREAMS)
                 for arguments in (["list", NO_STREAMS], ["list", "-r", NO_STREAMS],
                                   ["length", NO_STREAMS], ["get", NO_STREAMS, "Author"],
                                   ["set", NO_STREAMS, "Author", "Jane"], ["rm", NO_STREAMS, "Author"])]
        rows.append((["list", "--json", NO_STREAMS], 1, {"files": [{"path": NO_STREAMS, "error": streams}]},
                     streams))
        # A value too large keeps the old one and leaves nothing new.
        rows += [(["set", file, item_type, TOO_LARGE], 1, None, re.compile(r"^quarrow2: Unable to "
                  r"put text\. \S"), '(file "%s", type "%s")' % (file, item_type))
                 for file, item_type in [(path, "Author"), (path, "Abstract"), (missing, "Abstract")]]
        self.table(rows, stdin=bad)
        self.expect(["set", "--bytes", path, "Author", "-"], 1, re.compile(r"^quarrow2: Unable to put data\. \S"),
                    '(file "%s", type "Author")' % path, stdin=b"y" * 70000)
        self.assertEqual(user_items(path), {"Author": utf16("Jane")})
        self.assertEqual(pathlib.Path(path).read_bytes(), b"content")
        self.assertEqual(sorted(os.listdir(self.folder)), ["latin1.txt", "notes.txt", "value.txt"])
        self.assertEqual(self.expect(["bogus"], 2).stderr, b"quarrow2: unknown command 'bogus'\n")
        # Endless or oversized values are refused after what an item can hold is read.
        with subprocess.Popen(["yes"], stdout=subprocess.PIPE) as endless:
            result = subprocess.run([tool_path(), "set", path, "Author", "-"], stdin=endless.stdout,
                                    capture_output=True, timeout=60)
            endless.kill()
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"larger than an item can hold (at most %d bytes" % LARGEST, result.stderr)
        self.table([(["set", *form, path, "Author", "--file", "/dev/zero"], 1, b"", "than an item can hold")
                    for form in ([], ["--bytes"], ["--hex"])])
        # restore stops at the first zero byte, which no dump holds, within 256 MiB of memory
        # (an address-space bound that AddressSanitizer's shadow alone passes: not there).
        bound = [] if "address" in os.environ.get("QUARROW2_SANITIZE", "") else ["prlimit", "--as=268435456"]
        limited = subprocess.run([*bound, tool_path(), "restore", "/dev/zero"], capture_output=True, timeout=60)
        self.assertEqual((limited.returncode, limited.stderr[:38]), (2, b"quarrow2: The input is UTF-16 text (or"))
        self.assertEqual(user_items(path), {"Author": utf16("Jane")})
        big = folder_taking(LARGEST, ("/dev/shm",))
        if big is not None:  # the bound is the kernel's own: one byte more is refused unread
            self.addCleanup(shutil.rmtree, big, True)
            for size, status in ((LARGEST, 0), (LARGEST + 1, 1)):
                self.expect(["set", "--bytes", os.path.join(big, "f"), "Big", "-"], status,
                            *["than an item can hold"] * status, stdin=b"b" * size)
        self.expect(["set", missing, "$data", "allowed"])
        self.assertEqual(os.getxattr(missing, "user.$data"), utf16("allowed"))

    def test_wait_takes_0_to_86400_seconds_and_messages_escape_what_they_quote(self):
        path = self.make_file("notes.txt")
        self.table([(["--wait", wait, "length", path], 2, b"", "--wait takes a number of seconds "
                     "from 0 to 86400, not '%s'." % wait.replace("\n", "\\012")) for wait in WAITS] +
                   [(["length", "--wait", wait, path], 0, "0\n") for wait in ("0", "0.5", "1e3", "86400")])
        for arguments, message in ((["x\nfake"], b"quarrow2: unknown command 'x\\012fake'\n"),
                                   (["length", "-j", "1\n2", path], b"quarrow2: -j takes a whole number "
                                    b"of jobs from 1 to 256, not '1\\0122'.\n")):
            self.assertEqual(self.expect(arguments, 2).stderr, message)
        self.assertTrue(self.expect(["list", "--b\nogus", path], 2).stderr.startswith(
            b"quarrow2: The following argument was not expected: --b\\012ogus\n"))
