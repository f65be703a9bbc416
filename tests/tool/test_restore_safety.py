"""What restore and cp refuse or take back: a table of hostile dumps refused whole, a file's
items put back together, dump --output kept on failure, and the dump -r / cp -r / restore round
trip compared with getfattr."""
import json
import os
import shutil
import subprocess

from tool_support import (ToolTestCase, folder_taking, make_hostile_tree, run, user_items,
                          user_items_beneath, utf16)
from test_dump_find import dump_of
from test_walks import named

GOOD = {"path": "kept.txt", "items": [{"type": "New", "text": "written"}]}
# A hostile entry (after a good one), or whole input, and a fragment of its refusal.
HOSTILE = [({"path": "b.txt", "items": [{"type": "Author\0Backup", "text": "x"}]}, "zero byte"),
           ({"path": "kept.txt\0evil", "items": []}, "zero byte"),
           ({"path": "../x.txt", "items": []}, '".."'),
           ({"path": "a/../../x.txt", "items": []}, '".."'),
           ({"path": "/tmp/quarrow2-absolute.txt", "items": []}, "absolute"),
           ({"path_bytes": "Li4veC50eHQ=", "items": []}, '".."'),  # ../x.txt
           ({"path": "./kept.txt", "items": []}, "earlier entry"),
           ({"path": "b.txt", "items": [{"type": "A", "text": ""}, {"type": "A", "bytes": ""}]},
            "second time")] + [
    ({"path": "b.txt", "items": [{"type": bad, "text": "x"}]}, why) for bad, why in
    [("bad:name", "':'"), ("a/b", "':'"), ("a\\b", "':'"), ("$DATA", "own contents"),
     ("..", "own contents"), (" . ", "own contents"), ("", "empty type")]] + [
    (b'{"format": "quarrow2-dump", "version": 1, "files": [{"path": "\\udc80"}]}', "surrogate"),
    (b'{"format": "quarrow2-dump", "version": 1, "files": [{"path": "\\ud800x"}]}', "surrogate"),
    (b"\xff\xfe" + dump_of([GOOD]).decode().encode("utf-16-le"), "UTF-16"),
    (dump_of([GOOD]).decode().encode("utf-16-be"), "UTF-16"),
    (b"# file: kept.txt\nuser.New=0x41\n# file: ../x.txt\nuser.A=0x41\n", '".."'),
    (b"# file: kept.txt\nuser.New=0x41\nuser.A\\000B=0x41\n", "zero byte")]

def getfattr_blocks(root):
    """getfattr -R -d -e hex -m - of the tree: {file: sorted attribute lines}."""
    text = subprocess.run(["getfattr", "-R", "-d", "-e", "hex", "-m", "-", "."], cwd=root,
                          capture_output=True).stdout  # exit status 1 for what it cannot read
    blocks = [block.split(b"\n") for block in text.strip(b"\n").split(b"\n\n") if block]
    return {block[0]: sorted(block[1:]) for block in blocks}


class RestoreSafetyTest(ToolTestCase):
    def test_hostile_dumps_are_refused_whole_and_dry_run_agrees(self):
        work, under = self.path("work"), self.path("under")
        kept = self.make_file("work/kept.txt", items=[("Author", utf16("old"))])
        os.makedirs(under)
        before = sorted(os.walk(self.folder)), os.path.exists("/tmp/quarrow2-absolute.txt")
        for entry, fragment in HOSTILE:
            stdin = entry if isinstance(entry, bytes) else dump_of([GOOD, entry])
            with self.subTest(stdin=stdin):
                for extra in ([], ["--create"], ["--create", "-C", under]):
                    real = self.expect(["restore", *extra], 2, fragment, stdin=stdin, cwd=work)
                    dry = run("restore", "--dry-run", *extra, stdin=stdin, cwd=work)
                    self.assertEqual((dry.returncode, dry.stderr, dry.stdout), (2, real.stderr, b""))
        # A link in the tree does not lead restore out of it either.
        os.symlink(under, os.path.join(work, "link"))
        linked = dump_of([{"path": "link/x.txt", "items": [{"type": "A", "text": "1"}]}])
        for extra in ([], ["--dry-run"]):
            self.expect(["restore", "--create", *extra], 1, "through a symbolic link", stdin=linked, cwd=work)
        os.remove(os.path.join(work, "link"))
        self.assertEqual((sorted(os.walk(self.folder)), os.path.exists("/tmp/quarrow2-absolute.txt")), before)
        self.assertEqual(user_items(kept), {"Author": utf16("old")})
        # Allowed: a byte-order mark; -C; and "..", only with --absolute-paths.
        outside = {"path": "../out/x.txt", "items": [{"type": "A", "text": "1"}]}
        for arguments, stdin in ((["restore"], b"\xef\xbb\xbf" + dump_of([GOOD])),
                                 (["restore", "--create", "-C", under], dump_of([GOOD])),
                                 (["restore", "--create", "-P"], dump_of([outside]))):
            self.expect(arguments, 0, stdin=stdin, cwd=work)
        self.assertEqual([user_items(os.path.join(f, "kept.txt"))["New"] for f in (work, under)],
                         [utf16("written")] * 2)
        self.assertEqual(user_items(self.path("out/x.txt")), {"A": utf16("1")})
        titled = dump_of([{"path": "kept.txt", "items": [{"type": "\x1b]0;x\x07\n", "text": "1"}]}])
        self.expect(["restore", "--dry-run"], out="kept.txt\n  \\033]0;x\\007\\012\n", stdin=titled, cwd=work)

    def test_a_failure_part_way_through_a_file_puts_its_items_back(self):
        big = folder_taking(8192, ("/dev/shm",))  # the source keeps what ext4 here cannot
        if big is None or folder_taking(8192, (self.folder,)) is not None:
            self.skipTest("needs tmpfs beside a file system that refuses an 8 KiB attribute")
        self.addCleanup(shutil.rmtree, big, True)
        old = {"Author": utf16("old"), "Keep": b"k"}
        target = self.make_file("target.txt", items=old.items())
        source = self.make_file(os.path.join(big, "source.txt"), items=[
            ("Author", utf16("new")), ("Zero", b""), ("Big", b"x" * 8192)])
        dump = dump_of([{"path": "target.txt", "items": [
            {"type": "Author", "text": "new"}, {"type": "Fresh", "text": "1"},
            {"type": "Big", "bytes": "eHh4" * 2731}]}])
        for arguments, stdin in ((["cp", "-t", "Author", "-t", "Zero", "-t", "Big", source, target], b""),
                                 (["restore"], dump)):
            with self.subTest(arguments[0]):
                self.expect(arguments, 1, "put back as they were", stdin=stdin, cwd=self.folder)
                self.assertEqual(user_items(target), old)
        result = run("cp", "-t", "Zero", "-t", "Author", source, target)
        self.assertEqual((result.returncode, result.stderr.count(b"empty-value marker")), (0, 1))

    def test_dump_output_is_replaced_only_when_the_dump_is_complete(self):
        saved = self.make_file("saved.json", b"previous")
        self.make_file("a.txt", items=[("Author", utf16("Jane"))])
        self.table([(["dump", "a.txt", "--output", "nofolder/x.json"], 1, None, "does not exist"),
                    (["dump", "a.txt", "--output", "-"], 0, None)], cwd=self.folder)
        result = run("dump", "a.txt", "missing.txt", "--output", saved, cwd=self.folder)
        self.assertEqual((result.returncode, result.stderr.count(b"left as it was")), (1, 1))
        with open(saved, "rb") as f:
            self.assertEqual(f.read(), b"previous")
        self.assertEqual(sorted(os.listdir(self.folder)), ["a.txt", "saved.json"])
        self.expect(["dump", "a.txt", "--output", saved], cwd=self.folder)
        self.assertEqual(json.load(open(saved))["files"][0]["path"], "a.txt")

    def test_dump_r_then_plain_cp_r_then_restore_reproduce_getfattr(self):
        if not shutil.which("getfattr"):
            self.skipTest("getfattr (package attr) is not installed")
        source = self.path("source")
        os.makedirs(source)
        tree = make_hostile_tree(source)
        relative = lambda path: b"./" + os.path.relpath(path, os.fsencode(source))
        dump = run("dump", "-r", ".", cwd=source, timeout=60)
        self.assertEqual(dump.returncode, 1, dump.stderr)
        # What it names is what an unprivileged walk cannot carry, special files at least.
        self.assertLessEqual({b"./pipe", b"./sock", b"./dangling"}, named(dump.stderr))
        self.assertLessEqual(named(dump.stderr), {relative(p) for p in tree["skipped"]})
        copy, empty = self.path("copy"), self.path("empty")
        subprocess.run(["cp", "-r", source, copy], capture_output=True)  # fails on the deep path
        os.makedirs(empty)
        for target in (copy, empty):
            result = run("restore", "--create", stdin=dump.stdout, cwd=target, timeout=60)
            # Everything comes over, the path beyond PATH_MAX too (getfattr cannot see it).
            self.assertEqual((result.returncode, result.stderr), (0, b""))
            self.assertEqual(getfattr_blocks(target), getfattr_blocks(source))
            self.assertEqual(user_items_beneath(target, relative(tree["deep"])), {"Deep": utf16("bottom")})
