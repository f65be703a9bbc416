"""quarrow2.exe under Wine: it loads Quarrow2.dll from its own folder, unregistered, and
answers for Wine's files, which have no named streams, with the volume message."""
import os
import shutil
import subprocess
import tempfile
import unittest

from tool_support import tool_path

VOLUME = "Volume does not support streams."


class WineTest(unittest.TestCase):
    def test_the_tool_runs_and_names_the_volume_without_streams(self):
        wine_run = os.environ.get("QUARROW2_WINE_RUN", "")
        if not (os.path.isfile(wine_run) and shutil.which("wine")):
            self.skipTest("Wine is not installed")
        folder = tempfile.mkdtemp(prefix="quarrow2-wine-")
        self.addCleanup(shutil.rmtree, folder, True)
        for name in ("notes.txt", "Grüße.txt"):
            with open(os.path.join(folder, name), "wb") as handle:
                handle.write(b"content")

        def tool(*arguments):
            return subprocess.run([wine_run, tool_path()] + list(arguments), cwd=folder,
                                  stdin=subprocess.DEVNULL, capture_output=True, timeout=600)

        result = tool("--version")
        self.assertEqual((result.returncode, result.stdout.strip()), (0, b"quarrow2 2.0.0.1"))
        self.assertEqual(tool("list", "--help").returncode, 0)
        self.assertEqual(tool("get", "notes.txt").returncode, 2)
        for arguments, subject in (
                (["list", "notes.txt"], '(file "notes.txt")'),
                (["list", "Grüße.txt"], '(file "Grüße.txt")'),
                (["length", "notes.txt"], '(file "notes.txt")'),
                (["get", "notes.txt", "Author"], '(file "notes.txt", type "Author")'),
                (["set", "notes.txt", "Author", "x"], '(file "notes.txt", type "Author")'),
                (["set", "new.txt", "Author", "x"], '(file "new.txt", type "Author")'),
                (["rm", "notes.txt", "Author"], '(file "notes.txt", type "Author")')):
            with self.subTest(arguments=arguments):
                result = tool(*arguments)
                self.assertEqual(result.returncode, 1, result.stderr)
                # Wine may add its own notes ("wine: ...") about the volume.
                lines = [line for line in result.stderr.decode().split("\n")
                         if line and not line.startswith("wine: ")]
                self.assertEqual(lines, ["quarrow2: %s %s" % (VOLUME, subject)])
        self.assertEqual(sorted(os.listdir(folder)), ["Grüße.txt", "notes.txt"])


if __name__ == "__main__":
    unittest.main()
