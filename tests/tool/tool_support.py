"""What the tool's test suites share: running the built tool and looking at real files."""
import errno
import os
import shutil
import subprocess
import tempfile
import unittest

# The 32 bytes that stand for an empty value.
EMPTY_MARKER = "---***NULL***---".encode("utf-16-le")


def utf16(text):
    return text.encode("utf-16-le")


def tool_path():
    path = os.environ.get("QUARROW2_TOOL", "")
    if not path or not os.path.isfile(path):
        # Not a skip: the build is expected to have made it.
        raise RuntimeError("QUARROW2_TOOL does not name the built tool: %r" % path)
    return path


def sanitized():
    return bool(os.environ.get("QUARROW2_SANITIZE"))


def run(*arguments, stdin=b"", cwd=None, prefix=()):
    """Runs the tool with the given arguments (str or bytes); stdout and stderr as bytes."""
    return subprocess.run(list(prefix) + [tool_path()] + list(arguments), input=stdin,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=cwd, timeout=600)


def user_items(path):
    """The file's items as the file system lists them: {type: raw bytes}, in order."""
    return {name[len("user."):]: os.getxattr(path, name)
            for name in os.listxattr(path) if name.startswith("user.")}


def supports_user_attributes(folder):
    probe = os.path.join(folder, ".probe")
    open(probe, "wb").close()
    try:
        os.setxattr(probe, "user.probe", b"1")
        return True
    except OSError as error:
        if error.errno in (errno.ENOTSUP, errno.EOPNOTSUPP):
            return False
        raise
    finally:
        os.remove(probe)


class ToolTestCase(unittest.TestCase):
    """Each test gets a fresh folder on a file system with user extended attributes."""

    def setUp(self):
        tool_path()
        self.folder = tempfile.mkdtemp(prefix="quarrow2-tool-")
        self.addCleanup(shutil.rmtree, self.folder, True)
        if not supports_user_attributes(self.folder):
            self.skipTest("the temporary folder's file system (%s) has no user extended "
                          "attributes" % self.folder)

    def path(self, name):
        return os.path.join(self.folder, name)

    def make_file(self, name, content=b"", items=()):
        """A real file with the given main content and items set behind the tool's back."""
        path = self.path(name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as handle:
            handle.write(content)
        for item_type, value in items:
            os.setxattr(path, "user." + item_type, value)
        return path

    def assertSucceeds(self, result):
        self.assertEqual(result.returncode, 0,
                         "exit %d, stderr: %r" % (result.returncode, result.stderr))
        self.assertEqual(result.stderr, b"")

    def assertFails(self, result, status, *fragments):
        """A failure: the status, and one line 'quarrow2: ...' holding every fragment."""
        self.assertEqual(result.returncode, status,
                         "exit %d, stderr: %r" % (result.returncode, result.stderr))
        message = result.stderr.decode("utf-8", "surrogateescape")
        self.assertTrue(message.startswith("quarrow2: "), message)
        self.assertNotIn("\r", message)
        if status == 1:
            self.assertEqual(message.count("\n"), 1, message)
        for fragment in fragments:
            self.assertIn(fragment, message)
        return message
