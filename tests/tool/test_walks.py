"""The hostile tree walked by list -r, find -r and length as an unprivileged user: each path
listed as getfattr sees it or named on standard error; special files never block; names
escaped on a terminal; find's exit statuses; busy items waited for."""
import os
import re
import shutil
import subprocess
import time

from tool_support import ToolTestCase, getfattr_tree, make_hostile_tree, run, tool_path, unquoted, utf16

NOBODY = ("setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups")


def listed(text):
    """{path: {type: length}} from list's text form, names unescaped; "?" rows left out."""
    files, current = {}, None
    for line in text.splitlines():
        row = re.match(rb"^ +(\d+|\?)  (.*)$", line)
        if not row:
            current = files.setdefault(unquoted(line), {})
        elif row.group(1) != b"?" and row.group(2) != b"(no items)":
            current[unquoted(row.group(2))] = int(row.group(1))
    return files


def named(stderr):
    """The paths standard error names, unescaped."""
    return set(reasons(stderr))


def reasons(stderr):
    """{path: the message's text before it} for each path standard error names, unescaped."""
    return {unquoted(path): reason for reason, path in
            re.findall(rb'quarrow2: ([^\n]*) \(file "((?:[^"\\]|\\.)*)"', stderr)}


class WalkTest(ToolTestCase):
    def unprivileged(self):
        if os.geteuid() != 0:
            return ()
        if not shutil.which("setpriv"):
            self.skipTest("running as root without setpriv to become nobody")
        if subprocess.run([*NOBODY, "test", "-x", tool_path()]).returncode != 0:
            self.skipTest("nobody may not run the tool at " + tool_path())
        return NOBODY

    def test_walks_list_what_getfattr_sees_and_name_every_path_they_skip(self):
        prefix = self.unprivileged()
        os.chmod(self.folder, 0o755)
        tree = make_hostile_tree(self.folder)
        relative = lambda path: b"./" + os.path.relpath(path, os.fsencode(self.folder))
        seen = getfattr_tree(".", prefix, cwd=self.folder) or {}
        expected = {b"./" + path: {n: len(v) for n, v in items.items()} for path, items in seen.items()}
        expected[relative(tree["deep"])] = {b"Deep": 12}  # longer than getfattr goes
        skipped = {relative(path) for path in tree["skipped"]}
        result = run("list", "-r", ".", cwd=self.folder, prefix=prefix, timeout=60)
        self.assertEqual(result.returncode, 1, result.stderr)
        shown, failed = listed(result.stdout), named(result.stderr)
        # Only what no walk can carry is named; the folder's own items, the non-UTF-8 names
        # and a:b beside a are listed as getfattr shows them.
        self.assertEqual(failed, skipped, result.stderr)
        # Each for the reason the walk met it with, not the library's later word on it.
        for path, reason in tree["skipped"].items():
            self.assertIn(reason.encode(), reasons(result.stderr)[relative(path)], path)
        for path in (b"./album", b"./caf\xe9.txt", b"./a", b"./a:b", b"./doc:Author"):
            self.assertIn(path, expected)
        gaps = {path for path in expected if shown.get(path) != expected[path]}
        self.assertEqual(gaps, set(), result.stderr)
        self.assertIn(b"./esc.txt\n  30  Evil\\012line\n", result.stdout)
        # find goes the same way and counts the same failures; length names each path it is
        # given that is no file or folder it can read (a folder's own items need no listing).
        result = run("find", "-r", ".", "--type", "Deep", cwd=self.folder, prefix=prefix, timeout=60)
        self.assertEqual((result.returncode, result.stdout), (2, relative(tree["deep"]) + b"\n"))
        self.assertEqual(named(result.stderr), failed)
        skipped.discard(b"./unreadable")
        result = run("length", *sorted(skipped), cwd=self.folder, prefix=prefix, timeout=60)
        self.assertEqual((result.returncode, named(result.stderr)), (1, skipped))

    def test_jobs_write_what_one_job_writes_byte_for_byte(self):
        """Every command that takes -j, over twin hostile trees (rm --all changes its tree):
        status, standard output and standard error with 4 jobs are those of 1 job."""
        prefix = self.unprivileged()
        os.chmod(self.folder, 0o755)
        trees = {jobs: os.path.join(self.folder, jobs) for jobs in ("1", "4")}
        for root in trees.values():
            os.mkdir(root)
            tree = make_hostile_tree(root)
            for index in range(300):  # enough files that workers finish out of turn
                with open(os.path.join(root, "album", "%03d.txt" % index), "wb") as handle:
                    os.setxattr(handle.fileno(), "user.N", utf16("%d" % index) * (index % 7))
            if prefix:  # nobody's own tree, so that rm --all removes; the modes still refuse
                subprocess.run(["chown", "-R", "nobody:nogroup", root], check=True)
        files = sorted(os.path.relpath(path, os.fsencode(root)) for path in tree["items"]) + [
            b"missing", b"pipe", b"unsearchable/inside.txt"]
        find = ["find", "-r", ".", "--type", "N"]
        for arguments in (["list", "-r", "."], ["list", "-r", "-l", "--json", "."], ["dump", "-r", "."],
                          find, find + ["--json", "--match", "*1*"], ["length", *files],
                          ["length", "--json", *files], ["rm", "--all", *files], ["list", "-r", "."]):
            with self.subTest(arguments=arguments):
                results = {jobs: run(arguments[0], "-j", jobs, *arguments[1:], cwd=root,
                                     prefix=prefix, timeout=120) for jobs, root in trees.items()}
                one, four = ((r.returncode, r.stdout, r.stderr) for r in results.values())
                self.assertEqual(four, one)
                self.assertGreater(len(one[1] + one[2]), 100)
        self.table([(["list", "-j", jobs, "."], 2, "", "-j takes a whole number of jobs from 1")
                    for jobs in ("0", "bad", "-1", "2x", "257", "")])

    def test_items_in_both_layouts_are_warned_of_wherever_a_walk_meets_them(self):
        """A file with items in both layouts is warned of in a native folder, in one marked
        samba and through a link from one to the other; no file with one layout is."""
        both = {"user.Native": b"x", "user.DosStream.Windows:$DATA": b"y\0"}
        tree = {"native/both.txt": both, "native/one.txt": {"user.Native": b"x"},
                "samba/both.txt": both, "samba/one.txt": {"user.DosStream.Windows:$DATA": b"y\0"}}
        for name, items in tree.items():
            os.makedirs(os.path.dirname(self.path(name)), exist_ok=True)
            self.make_file(name)
            for attribute, value in items.items():
                os.setxattr(self.path(name), attribute, value)
        os.setxattr(self.path("samba"), "user.quarrow2.layout", b"samba")
        os.symlink("../samba/both.txt", self.path("native/link.txt"))
        warned = {b"native/both.txt", b"native/link.txt", b"samba/both.txt"}
        named = sorted(tree) + ["native/link.txt"]
        for arguments in (["list", "-r", "native", "samba"], ["list", "-r", "-j", "1", "native", "samba"],
                          ["dump", "-r", "native", "samba"],
                          ["find", "-r", "native", "samba", "--type", "Native"], ["length", *named]):
            with self.subTest(arguments=arguments):
                result = run(*arguments, cwd=self.folder)
                shown = re.findall(rb'warning: "([^"]*)" carries items in both layouts', result.stderr)
                self.assertEqual(set(shown), warned, result.stderr)

    def test_special_files_never_block(self):
        pipe = self.path("pipe")
        os.mkfifo(pipe)
        for arguments in (["list", pipe], ["list", "-r", self.folder], ["length", pipe],
                          ["find", pipe, "--type", "A"], ["rm", "--all", pipe], ["dump", pipe],
                          ["get", pipe, "A"], ["cp", pipe, pipe]):
            with self.subTest(arguments=arguments):
                result = run(*arguments, timeout=20)
                self.assertIn(result.returncode, (1, 2), result.stderr)
                self.assertIn(b"pipe", result.stderr)

    def test_names_and_values_are_escaped_on_a_terminal_and_exact_with_null(self):
        path = self.make_file("new\nline\x1b.txt", items=[("Evil\x7f", utf16("hi\x1b]0;x\x07\u0085\\"))])
        shown = path.encode().replace(b"\n", b"\\012").replace(b"\x1b", b"\\033")
        self.table([
            (["list", "-l", path], 0, shown + b"\n  20  Evil\\177  hi\\033]0;x\\007\\302\\205\\134\n"),
            (["find", path, "--type", "Evil\x7f"], 0, shown + b"\n"),
            (["find", "-0", path, "--type", "Evil\x7f"], 0, path.encode() + b"\0"),
            (["get", path, "Evil\x7f"], 0, "hi\x1b]0;x\x07\u0085\\\n")])
        result = self.expect(["list", path + "\x1b"], 1, "File not found.")
        self.assertNotIn(b"\x1b", result.stderr)

    def test_find_exits_0_found_1_none_found_2_on_any_error(self):
        found = self.make_file("found.txt", items=[("Author", utf16("Jane"))])
        missing = self.path("missing.txt")
        self.table([(["find", found, "--type", "Author"], 0, found + "\n"),
                    (["find", found, "--type", "Title"], 1, ""),
                    (["find", found, missing, "--type", "Author"], 2, found + "\n", "File not found."),
                    (["find", missing, "--type", "Author"], 2, "", "File not found."),
                    (["find", found, "--type", "a:b"], 2, "", "type name"),
                    (["find", found, "--type", "Author", "--regex", "("], 2, "", "regular")])

    def test_busy_items_are_waited_for_by_writers_and_readers(self):
        path = self.make_file("busy.txt")
        rounds = 300
        # Each writer stores its own letter, long enough that a torn value would mix them.
        loop = 'for i in $(seq %d); do "$0" %s || echo failed; done'
        writers = [subprocess.Popen(["sh", "-c", loop % (rounds, 'set "$1" Item "$2"'), tool_path(),
                                     path, letter * 2000], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
                   for letter in "AB"]
        self.expect(["set", path, "Item", "A" * 2000])
        reader = subprocess.Popen(["sh", "-c", loop % (rounds, 'get "$1" Item'), tool_path(), path],
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        outputs = [process.communicate(timeout=600)[0] for process in writers + [reader]]
        for output in outputs[:2]:
            self.assertEqual(output, b"", output.decode("utf-8", "replace")[:2000])
        values = outputs[2].splitlines()
        self.assertEqual(len(values), rounds, outputs[2][:300])
        self.assertEqual(set(values) - {b"A" * 2000, b"B" * 2000}, set())
        self.expect(["--wait", "0", "get", path, "Item"], out="%s\n" % ({"A": "A", "B": "B"}[
            os.getxattr(path, "user.Item")[:1].decode()] * 2000))

    def test_wait_bounds_the_wait_for_a_held_item_and_says_how_long_it_was(self):
        path = self.make_file("held.txt", items=[("Item", utf16("old"))])
        with self.holding(path, "Item"):
            # The seconds asked; what the failure says. One file's calls share the wait.
            for wait, said in (("0", "holds it"), ("1", "after 1.0 s"), ("2.5", "after 2.5 s")):
                with self.subTest(wait=wait):
                    started = time.monotonic()
                    self.expect(["--wait", wait, "set", path, "Item", "new"], 1, "busy", said)
                    self.assertLess(time.monotonic() - started, float(wait) + 1.5)
        self.assertEqual(os.getxattr(path, "user.Item"), utf16("old"))
