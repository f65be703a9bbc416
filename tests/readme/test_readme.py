"""Runs every command the README and docs/ show, so they cannot go stale: console blocks in
order, the README's and then each page of docs/ by name, in one scratch folder (`./quarrow2`
standing for the built tool), output checked where shown; the README's Install section's
blocks from the top of the repository against build/linux-release, a scratch folder as `~`.
The README's examples must be the files the build runs."""
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
README = pathlib.Path(ROOT, "README.md").read_text(encoding="utf-8")
INSTALL = slice(README.index("## Install\n"), README.index("\n## ", README.index("## Install\n")) + 1)
DOCS = [path.read_text(encoding="utf-8") for path in sorted(pathlib.Path(ROOT, "docs").rglob("*.md"))]
SCRATCH = os.environ.get("QUARROW2_SCRATCH")


def blocks(kind, text=README):
    return re.findall(r"^( *)```" + kind + r"\n(.*?)^\1```", text, re.S | re.M)


def console_steps(indent, body):
    """(command, expected output or None) for each `$ ` line of a console block."""
    body = "".join(line[len(indent):] + "\n" for line in body.splitlines())
    return [(command, shown[:-1] if shown else None)
            for command, shown in re.findall(r"^\$ (.*)\n((?:(?!\$ ).*\n)*)", body, re.M)]


class ReadmeTest(unittest.TestCase):
    def run_step(self, command, expected, **options):
        run = subprocess.run(["bash", "-c", command], capture_output=True, text=True, **options)
        output = (run.stdout + run.stderr).rstrip("\n")
        self.assertTrue(expected is None or output == expected, command + "\n" + output)
        self.assertEqual(run.returncode, 1 if output.startswith("quarrow2: ") else 0,
                         command + "\n" + output)

    def test_console_blocks(self):
        tool = os.environ.get("QUARROW2_TOOL")
        if not tool or not shutil.which("getfattr"):
            raise unittest.SkipTest("QUARROW2_TOOL is not set or getfattr (package attr) is missing")
        steps = [step for text in [README[:INSTALL.start] + README[INSTALL.stop:]] + DOCS
                 for block in blocks("console", text) for step in console_steps(*block)]
        self.assertGreater(len(steps), 5)
        with tempfile.TemporaryDirectory(dir=SCRATCH) as scratch:
            for command, expected in steps:
                self.assertTrue(command.startswith(("./quarrow2", "echo", "printf", "getfattr",
                                                    "mkdir", "cp ", "(cd ")),
                                "a command this test does not know how to run: " + command)
                line = re.sub(r"(^|\| |&& )\./quarrow2", lambda m: m.group(1) + tool, command)
                self.run_step(line, expected, cwd=scratch)

    def test_install_blocks(self):
        build = os.environ.get("QUARROW2_BUILD_DIR", "")
        if os.path.realpath(build) != os.path.join(os.path.realpath(ROOT), "build", "linux-release"):
            raise unittest.SkipTest("the Install commands run in build/linux-release alone")
        with tempfile.TemporaryDirectory(dir=SCRATCH) as home:
            for indent, body in blocks("console", README[INSTALL]):
                steps = console_steps(indent, body)
                windows = re.search(r"build/windows-[a-z0-9]+", body)
                with self.subTest(steps[0][0]):
                    if windows and not os.path.exists(os.path.join(ROOT, windows[0], "CPackConfig.cmake")):
                        self.skipTest(windows[0] + " is not built")
                    for command, expected in steps:
                        self.run_step(command, expected, cwd=ROOT, env=dict(os.environ, HOME=home))

    def test_examples_are_the_ones_the_suites_run(self):
        for kind, name in (("cpp", "hello_metadata.cpp"), ("vb", "hello_metadata.vbs"),
                           ("cmake", "CMakeLists.txt"), ("python", "hello_metadata.py")):
            example = pathlib.Path(ROOT, "examples", name).read_text(encoding="utf-8")
            self.assertEqual([code for _, code in blocks(kind)], [example], name)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
