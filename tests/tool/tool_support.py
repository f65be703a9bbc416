#!/usr/bin/env python3
"""The built tool (QUARROW2_TOOL) run on real files. `tool_support.py MODULE` runs one suite
for CTest: 1 when a test failed or none ran, 77 (skipped, reasons shown) when all skipped."""
import contextlib
import json
import os
import re
import shutil
import socket
import stat
import subprocess
import sys
import tempfile
import unittest

EMPTY_MARKER = "---***NULL***---".encode("utf-16-le")  # what an empty value is stored as


def utf16(text):
    return text.encode("utf-16-le")


def tool_path():
    path = os.environ.get("QUARROW2_TOOL", "")
    if not os.path.isfile(path):  # not a skip: the build is expected to have made it
        raise RuntimeError("QUARROW2_TOOL does not name the built tool: %r" % path)
    return path


def run(*arguments, stdin=b"", cwd=None, prefix=(), timeout=600):
    return subprocess.run([*prefix, tool_path(), *arguments], input=stdin, capture_output=True,
                          cwd=cwd, timeout=timeout)


# Another process holding an item open, as a client of the library does, until told to let go.
HOLD = ("import sys, quarrow2\nf = quarrow2.File(sys.argv[1])\nitem = f.Open(sys.argv[2])\n"
        "print('held', flush=True)\nsys.stdin.read()\n")


def module_environment():
    """The environment that imports the Python module built beside the tool, or None."""
    build = os.path.dirname(tool_path())
    if not os.path.isdir(os.path.join(build, "python", "quarrow2")):
        return None
    environment = dict(os.environ, PYTHONPATH=os.path.join(build, "python"))
    if "address" in os.environ.get("QUARROW2_SANITIZE", ""):  # as cmake/Python.cmake runs it
        runtimes = [subprocess.run(["c++", "-print-file-name=" + name], capture_output=True,
                                   text=True).stdout.strip() for name in ("libasan.so", "libstdc++.so")]
        environment.update(LD_PRELOAD=":".join(runtimes), ASAN_OPTIONS="detect_leaks=0")
    return environment


def user_items(path):
    """The file's items as the file system lists them: {type: raw bytes}, in order."""
    return {n[5:]: os.getxattr(path, n) for n in os.listxattr(path) if n.startswith("user.")}


def user_items_beneath(root, relative):
    """user_items() of a path below root however long, reached one folder at a time."""
    fd = os.open(root, os.O_RDONLY | os.O_DIRECTORY)
    try:
        for name in [n for n in os.fsencode(relative).split(b"/") if n not in (b"", b".")]:
            inner = os.open(name, os.O_RDONLY | os.O_NONBLOCK, dir_fd=fd)
            os.close(fd)
            fd = inner
        return {n[5:]: os.getxattr(fd, n) for n in os.listxattr(fd) if n.startswith("user.")}
    finally:
        os.close(fd)


def folder_taking(value_size, parents=(None, "/dev/shm")):
    """A new folder whose file system keeps a user attribute of this size, or None."""
    for parent in [p for p in parents if p is None or os.path.isdir(p)]:
        folder = tempfile.mkdtemp(prefix="quarrow2-tool-", dir=parent)
        try:
            os.setxattr(folder, "user.probe", b"x" * value_size)
            os.removexattr(folder, "user.probe")
            return folder
        except OSError:
            shutil.rmtree(folder)
    return None


def make_hostile_tree(root):
    """Under root (bytes or str), every kind of path a tree walk may meet. Returns
    {"items": {path: {name: value}}, the files and folders with items, names as bytes;
     "skipped": {path: reason}, what no unprivileged walk can carry (as nobody);
     "deep": the path over 4,096 bytes}. The folders' permissions hold only for non-root."""
    root = os.fsencode(root)
    items = {}

    def made(relative, content=b"", attributes=(), folder=False):
        path = os.path.join(root, relative)
        (os.mkdir(path) if folder else open(path, "wb").write(content))
        for name, value in attributes:
            os.setxattr(path, b"user." + name, value)
        if attributes:
            items[path] = dict(attributes)
        return path

    made(b"album", folder=True, attributes=[(b"Album", utf16("Summer"))])
    made(b"album/beach.jpg", b"photo", [(b"Author", utf16("Jane"))])
    made(b"caf\xe9.txt", b"latin-1 name", [(b"\xffRating", b"\x05"), (b"Author", utf16("Jo"))])
    made(b"doc:Author", b"precious contents", [(b"Note", utf16("kept"))])
    made(b"a", b"a", [(b"Mark", b"A")])
    made(b"a:b", b"a:b", [(b"Mark", b"AB")])
    made(b"esc.txt", attributes=[(b"Evil\nline", utf16("hello\x1b]0;pwned\x07"))])
    skipped = {}
    for name, mode in ((b"unreadable", 0o311), (b"unsearchable", 0o644)):
        folder = made(name, folder=True)
        inner = made(name + b"/inside.txt", attributes=[(b"Author", utf16("hidden"))])
        del items[inner]
        skipped[folder if mode == 0o311 else inner] = "Permission denied"
        os.chmod(folder, mode)
    os.mkfifo(os.path.join(root, b"pipe"))
    skipped[os.path.join(root, b"pipe")] = "Is a FIFO"
    with socket.socket(socket.AF_UNIX) as bound:
        bound.bind(os.path.join(root, b"sock"))
    skipped[os.path.join(root, b"sock")] = "Is a socket"
    if os.geteuid() == 0:
        os.mknod(os.path.join(root, b"null"), stat.S_IFCHR | 0o600, os.makedev(1, 3))
        skipped[os.path.join(root, b"null")] = "Is a device"
    os.symlink(b"nowhere", os.path.join(root, b"dangling"))
    skipped[os.path.join(root, b"dangling")] = "No such file or directory"
    # Over PATH_MAX: built through open folders, as no single path reaches it.
    deep, fd = root, os.open(root, os.O_RDONLY | os.O_DIRECTORY)
    for level in range(18):
        name = b"%02d" % level + b"d" * 240
        os.mkdir(name, dir_fd=fd)
        inner = os.open(name, os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
        os.close(fd)
        fd, deep = inner, os.path.join(deep, name)
    file = os.open(b"deep.txt", os.O_WRONLY | os.O_CREAT, dir_fd=fd)
    os.setxattr(file, b"user.Deep", utf16("bottom"))
    os.close(file)
    os.close(fd)
    deep = os.path.join(deep, b"deep.txt")
    items[deep] = {b"Deep": utf16("bottom")}
    return {"items": items, "skipped": skipped, "deep": deep}


def getfattr_tree(root, prefix=(), cwd=None):
    """{path: {name: value}} of every file and folder below root with user attributes, as
    `getfattr -R -d -e hex -m -` shows them (run with prefix), or None without getfattr."""
    if not shutil.which("getfattr"):
        return None
    text = subprocess.run([*prefix, "getfattr", "-R", "-d", "-e", "hex", "-m", "^user\\.", root],
                          capture_output=True, cwd=cwd).stdout
    found = {}
    for block in text.split(b"\n\n"):
        lines = block.strip(b"\n").split(b"\n")
        if lines and lines[0].startswith(b"# file: "):
            attributes = dict(line.split(b"=", 1) for line in lines[1:])
            found[unquoted(lines[0][8:])] = {unquoted(n[5:]): bytes.fromhex(v[2:].decode())
                                             for n, v in attributes.items()}
    return found


def unquoted(name):
    """A name as getfattr writes it, with \\ooo octal escapes, back to its bytes."""
    return re.sub(rb"\\([0-7]{3})", lambda m: bytes([int(m.group(1), 8)]), name)


class ToolTestCase(unittest.TestCase):
    """Each test gets a fresh folder on a file system with user extended attributes."""

    def setUp(self):
        tool_path()
        self.folder = folder_taking(1, (None,))
        if self.folder is None:
            self.skipTest("the temporary folder's file system has no user extended attributes")
        self.addCleanup(shutil.rmtree, self.folder, True)

    def path(self, name):
        return os.path.join(self.folder, name)

    def make_file(self, name, content=b"", items=()):
        """A real file (name under the folder, or absolute) with this content and these items,
        set behind the tool's back."""
        path = self.path(name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as handle:
            handle.write(content)
        for item_type, value in items:
            os.setxattr(path, "user." + item_type, value)
        return path

    def expect(self, arguments, status=0, *fragments, out=None, **options):
        """Runs the tool; checks the status, the output when given (a dict: the JSON document),
        and that a failure is one line 'quarrow2: ...' (a refusal, status 2, may add usage)
        holding every fragment."""
        result = run(*arguments, **options)
        message = result.stderr.decode("utf-8", "surrogateescape")
        self.assertEqual(result.returncode, status, "%s: %r" % (arguments, message))
        if isinstance(out, dict):
            self.assertEqual(json.loads(result.stdout), out)
        elif out is not None:
            self.assertEqual(result.stdout, out if isinstance(out, bytes) else out.encode())
        if status == 0 or (status == 1 and "find" in arguments[:3] and not fragments):
            self.assertEqual(message, "")  # success, or find's quiet "nothing found"
        else:
            self.assertTrue(message.startswith("quarrow2: ") and "\r" not in message, message)
            self.assertTrue(status == 2 or message.count("\n") == 1, message)
        for fragment in fragments:  # a text it holds, or a compiled pattern it matches
            self.assertRegex(message, fragment if hasattr(fragment, "search") else re.escape(fragment))
        return result

    @contextlib.contextmanager
    def holding(self, path, item_type):
        """The item held open by another process while the block runs."""
        environment = module_environment()
        if environment is None:
            self.skipTest("the Python module is not built beside the tool")
        holder = subprocess.Popen(["/usr/bin/python3", "-c", HOLD, path, item_type], env=environment,
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        try:
            self.assertEqual(holder.stdout.readline(), b"held\n")
            yield
        finally:
            holder.stdin.close()
            holder.wait(timeout=60)

    def table(self, rows, **options):
        """expect() for each row: (arguments, status, output or None, fragments...)."""
        for arguments, status, out, *fragments in rows:
            with self.subTest(arguments=arguments):
                self.expect(arguments, status, *fragments, out=out, **options)


if __name__ == "__main__":
    result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(
        unittest.defaultTestLoader.loadTestsFromName(sys.argv[1]))
    sys.exit(1 if not result.wasSuccessful() or not result.testsRun else
             77 if len(result.skipped) >= result.testsRun else 0)
