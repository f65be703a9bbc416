"""quarrow2.exe under Wine: it loads Quarrow2.dll from its own folder, unregistered, and
answers for Wine's files, which have no named streams, with the volume message."""
import os
import shutil
import subprocess
import tempfile
import unittest

from tool_support import tool_path

VOLUME = "Volume does not support streams."


def wine_run():
    script = os.environ.get("QUARROW2_WINE_RUN", "")
    return script if script and os.path.isfile(script) and shutil.which("wine") else None


def tool_lines(stderr):
    """The tool's own lines: Wine may add its own notes ("wine: ...") about the volume."""
    return [line for line in stderr.decode("utf-8").split("\n")
            if line and not line.startswith("wine: ")]


class WineTest(unittest.TestCase):
    def setUp(self):
        if not wine_run():
            self.skipTest("Wine is not installed")
        self.folder = tempfile.mkdtemp(prefix="quarrow2-wine-")
        self.addCleanup(shutil.rmtree, self.folder, True)
        for name in ("notes.txt", "Grüße.txt"):
            with open(os.path.join(self.folder, name), "wb") as handle:
                handle.write(b"content")

    def run_tool(self, *arguments):
        return subprocess.run([wine_run(), tool_path()] + list(arguments), cwd=self.folder,
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=600)

    def assertVolumeMessage(self, result, name, item_type=None):
        self.assertEqual(result.returncode, 1, result.stderr)
        subject = '(file "%s")' % name if item_type is None else \
            '(file "%s", type "%s")' % (name, item_type)
        self.assertEqual(tool_lines(result.stderr), ["quarrow2: %s %s" % (VOLUME, subject)])

    def test_version_and_help_run(self):
        result = self.run_tool("--version")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.strip(), b"quarrow2 2.0.0.1")
        self.assertEqual(self.run_tool("list", "--help").returncode, 0)

    def test_list_answers_with_the_volume_message(self):
        self.assertVolumeMessage(self.run_tool("list", "notes.txt"), "notes.txt")
        self.assertVolumeMessage(self.run_tool("list", "Grüße.txt"), "Grüße.txt")
        self.assertVolumeMessage(self.run_tool("length", "notes.txt"), "notes.txt")

    def test_item_commands_answer_with_the_library_volume_message(self):
        for arguments in (["get", "notes.txt", "Author"], ["set", "notes.txt", "Author", "x"],
                          ["set", "new.txt", "Author", "x"], ["rm", "notes.txt", "Author"]):
            with self.subTest(arguments=arguments):
                self.assertVolumeMessage(self.run_tool(*arguments), arguments[1], "Author")
        self.assertEqual(sorted(os.listdir(self.folder)), ["Grüße.txt", "notes.txt"])

    def test_usage_errors_exit_with_2(self):
        self.assertEqual(self.run_tool("get", "notes.txt").returncode, 2)


if __name__ == "__main__":
    unittest.main()
