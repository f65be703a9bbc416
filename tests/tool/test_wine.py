"""quarrow2.exe under Wine: it loads Quarrow2.dll from its own folder, unregistered, and
answers for Wine's files, which have no named streams, with the volume message."""
import os
import shutil
import subprocess
import tempfile
import unittest

from tool_support import tool_path


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
        # arguments, exit status, standard error's one line (besides Wine's own "wine: ..."
        # notes) or standard output
        cases = [(["--version"], 0, "quarrow2 2.0.0.1"), (["list", "--help"], 0, None),
                 (["get", "notes.txt"], 2, None)] + [
            (arguments, 1, 'quarrow2: Volume does not support streams. (file "%s"%s)' % (
                arguments[1], ', type "Author"' if "Author" in arguments else ""))
            for arguments in (["list", "notes.txt"], ["list", "Grüße.txt"], ["length", "notes.txt"],
                              ["get", "notes.txt", "Author"], ["set", "notes.txt", "Author", "x"],
                              ["set", "new.txt", "Author", "x"], ["rm", "notes.txt", "Author"])]
        for arguments, status, shown in cases:
            with self.subTest(arguments=arguments):
                result = subprocess.run([wine_run, tool_path()] + arguments, cwd=folder,
                                        stdin=subprocess.DEVNULL, capture_output=True, timeout=600)
                self.assertEqual(result.returncode, status, result.stderr)
                shown_text = result.stderr.decode() if status else result.stdout.decode().strip()
                lines = [line for line in shown_text.split("\n") if line and line[:6] != "wine: "]
                self.assertTrue(shown is None or lines == [shown], lines)
        self.assertEqual(sorted(os.listdir(folder)), ["Grüße.txt", "notes.txt"])
