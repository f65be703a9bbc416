"""What restore and cp refuse or take back: a table of hostile dumps refused whole, a file's
items put back together, dump --output kept on failure, and the dump -r / cp -r / restore round
trip compared with getfattr."""
import itertools
import json
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import time

from tool_support import (ToolTestCase, folder_taking, make_hostile_tree, run, tool_path,
                          user_items, user_items_beneath, utf16)
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

STOPS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)
# Swaps dest/a (a folder) and dest/a_link (a link out of dest) over and over until killed.
SWAP = """import ctypes, os, sys
libc, fd = ctypes.CDLL(None, use_errno=True), os.open(sys.argv[1], os.O_RDONLY | os.O_DIRECTORY)
while True:
    libc.renameat2(fd, b"a", fd, b"a_link", 2)  # RENAME_EXCHANGE
"""


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

    def test_dry_run_refuses_what_the_real_run_refuses_before_writing(self):
        os.chmod(self.folder, 0o755)  # for nobody
        work = self.path("work")
        target = self.make_file("work/t.txt", b"content", [("Old", b"1")])
        os.chmod(work, 0o755)
        os.chmod(target, 0o644)
        big = dump_of([{"path": "t.txt", "items": [{"type": "Big", "bytes": "eHh4" * 23334}]}])
        small = dump_of([{"path": "t.txt", "items": [{"type": "New", "text": "x"}]}])
        read_only = 'mount --bind "$0" "$0" && mount -o remount,bind,ro "$0" && exec "$@"'
        immutable = 'chattr +i "$0" && "$@"; status=$?; chattr -i "$0"; exit $status'
        # What stands in the way, run how, and the reason both runs give.
        cases = [("a value of 70,002 bytes", (), big, "larger than an item can hold")]
        if os.geteuid() == 0:
            cases += [("a file nobody may write", ("setpriv", "--reuid=nobody", "--regid=nogroup",
                                                   "--clear-groups"), small, "Permission denied."),
                      ("a read-only mount", ("unshare", "-m", "sh", "-c", read_only, work), small,
                       "Read-only file system."),
                      ("an immutable file", ("sh", "-c", immutable, target), small,
                       "Operation not permitted.")]
        for why, prefix, stdin, reason in cases:
            with self.subTest(why):
                if prefix and subprocess.run([*prefix, "true"], capture_output=True).returncode:
                    self.skipTest("cannot set up %s here" % why)
                runs = [run("restore", *dry, "-C", work, stdin=stdin, prefix=prefix) for dry in (["--dry-run"], [])]
                self.assertEqual([(r.returncode, r.stdout) for r in runs], [(1, b"")] * 2, runs)
                self.assertEqual(runs[0].stderr, runs[1].stderr)
                self.assertIn(reason.encode(), runs[0].stderr)
                self.assertEqual(user_items(target), {"Old": b"1"})

    def test_a_tree_2000_levels_deep_round_trips(self):
        source, copy = self.path("source"), self.path("copy")
        for folder in (source, copy):
            os.mkdir(folder)
            self.addCleanup(subprocess.run, ["rm", "-rf", folder])  # deeper than rmtree goes
        expected, fd, relative = {}, os.open(source, os.O_RDONLY | os.O_DIRECTORY), b"."
        for level in range(1, 2001):
            os.mkdir(b"dir", dir_fd=fd)  # 8,000 bytes of path at the bottom
            inner = os.open(b"dir", os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
            os.close(fd)
            fd, relative = inner, relative + b"/dir"
            if level % 500 == 0:  # a folder's own item, and a file's, every 500 levels
                os.setxattr(fd, "user.Level", b"%d" % level)
                file = os.open(b"f", os.O_WRONLY | os.O_CREAT, dir_fd=fd)
                os.setxattr(file, "user.Deep", utf16("level %d" % level))
                os.close(file)
                expected[relative] = {"Level": b"%d" % level}
                expected[relative + b"/f"] = {"Deep": utf16("level %d" % level)}
        os.close(fd)
        dump = run("dump", "-r", ".", cwd=source, timeout=300)
        self.assertEqual((dump.returncode, dump.stderr), (0, b""))
        restored = run("restore", "--create", stdin=dump.stdout, cwd=copy, timeout=300)
        self.assertEqual((restored.returncode, restored.stderr), (0, b""))
        self.assertEqual({path: user_items_beneath(copy, path) for path in expected}, expected)

    def test_a_stopped_dump_leaves_its_output_file_as_it_was(self):
        tree = self.path("tree")
        os.mkdir(tree)
        for index in range(3000):
            self.make_file("tree/f%d" % index, items=[("Author", utf16("A%d" % index))])
        saved = self.make_file("saved.json", b"previous")
        default = lambda: [signal.signal(s, signal.SIG_DFL) for s in STOPS]  # even under nohup
        for stop in STOPS:
            with self.subTest(signal=stop):
                dump = subprocess.Popen([tool_path(), "dump", "-r", tree, "--output", saved],
                                        stdout=subprocess.DEVNULL, preexec_fn=default)
                deadline = time.monotonic() + 60
                while not [n for n in os.listdir(self.folder) if n.endswith(".partial")]:
                    self.assertLess(time.monotonic(), deadline)
                    time.sleep(0.001)
                dump.send_signal(stop)
                self.assertEqual(dump.wait(timeout=60), -stop)  # a shell shows 128 + stop
                self.assertEqual(sorted(os.listdir(self.folder)), ["saved.json", "tree"])
                self.assertEqual(pathlib.Path(saved).read_bytes(), b"previous")

    def test_dump_output_keeps_mode_owner_and_links_as_a_shell_redirection_does(self):
        os.chmod(self.folder, 0o1777)  # sticky, as /tmp: nobody may not replace root's files
        self.make_file("a.txt", items=[("Author", utf16("Jane"))])
        root = os.geteuid() == 0
        nobody = ("setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups") if root else ()
        def made(name, mode, link=None, hard=None, owner=None):
            def make():
                self.make_file(name, b"old")
                os.chmod(self.path(name), mode)
                if owner:
                    os.chown(self.path(name), *owner)
                if link:
                    os.symlink(name, self.path(link))
                if hard:
                    os.link(self.path(name), self.path(hard))
            return make
        # The file written (F), how it is made and by whom, umask; F's mode and owner after.
        cases = [("new.json", lambda: None, (), 0o022, 0o644, 0),
                 ("new.json", lambda: None, (), 0o077, 0o600, 0),
                 ("private.json", made("private.json", 0o600), (), 0o022, 0o600, 0),
                 ("link.json", made("target.json", 0o640, link="link.json"), (), 0o022, 0o640, 0),
                 ("one.json", made("one.json", 0o604, hard="two.json"), (), 0o022, 0o604, 0)]
        if root:
            cases += [("theirs.json", made("theirs.json", 0o640, owner=(65534, 65534)), (), 0o022, 0o640, 65534),
                      ("shared.json", made("shared.json", 0o666), nobody, 0o022, 0o666, 0)]
        for name, make, prefix, mask, mode, owner in cases:
            with self.subTest(name=name, umask=mask):
                make()
                result = subprocess.run([*prefix, tool_path(), "dump", "a.txt", "--output", name],
                                        cwd=self.folder, capture_output=True, preexec_fn=lambda: os.umask(mask))
                self.assertEqual((result.returncode, result.stderr), (0, b""))
                written = [n for n in os.listdir(self.folder) if n.endswith(".json")]
                for each in written:  # F, a link to it, a hard link: each shows the dump
                    self.assertEqual(json.load(open(self.path(each)))["files"][0]["path"], "a.txt")
                final = os.stat(self.path(name))
                self.assertEqual((oct(final.st_mode & 0o7777), final.st_uid), (oct(mode), owner))
                self.assertEqual(os.path.islink(self.path("link.json")), "link.json" in written)
                for each in written:
                    os.remove(self.path(each))

    def test_restore_writes_nothing_outside_while_links_are_swapped_in(self):
        dest, outside = self.path("dest"), self.path("outside")
        for index in range(500):
            self.make_file("dest/a/f%d" % index)
            self.make_file("outside/f%d" % index)
        os.symlink(outside, os.path.join(dest, "a_link"))
        swapper = subprocess.Popen([sys.executable, "-c", SWAP, dest])
        try:
            deadline = time.monotonic() + 4
            for index in itertools.count():
                create = index % 2 == 1  # existing names, and new ones made with --create
                names = ["a/%s%d" % ("new%d_" % index if create else "f", i) for i in range(500)]
                dump = dump_of([{"path": n, "items": [{"type": "T", "text": "x"}]} for n in names])
                run("restore", "-C", dest, *["--create"] * create, stdin=dump, timeout=60)
                if time.monotonic() > deadline and index:
                    break
        finally:
            swapper.kill()
            swapper.wait()
        self.assertEqual(sorted(os.listdir(outside)), sorted("f%d" % i for i in range(500)))
        self.assertEqual([n for n in os.listdir(outside) if user_items(os.path.join(outside, n))], [])
