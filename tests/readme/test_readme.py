"""Every command the README shows is run here, so the README cannot go stale.

Console blocks (```console) run in order in one scratch folder, `./quarrow2` standing for
the built tool; where the README shows output, the command's output must match it. The C++
example in the README must be the file the build compiles and this test runs.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
README = os.path.join(ROOT, "README.md")


def blocks(kind):
    text = open(README, encoding="utf-8").read()
    return re.findall(r"^( *)```" + kind + r"\n(.*?)^\1```", text, re.S | re.M)


def console_steps():
    """(command, expected output or None) for each `$ ` line of the console blocks."""
    steps = []
    for indent, body in blocks("console"):
        lines = [line[len(indent):] for line in body.splitlines()]
        command, expected = None, []
        for line in lines + ["$ "]:
            if line.startswith("$ "):
                if command is not None:
                    steps.append((command, "\n".join(expected) if expected else None))
                command, expected = line[2:], []
            else:
                expected.append(line)
    return [s for s in steps if s[0]]


class ReadmeTest(unittest.TestCase):
    def test_console_blocks(self):
        tool = os.environ.get("QUARROW2_TOOL")
        if not tool:
            raise unittest.SkipTest("QUARROW2_TOOL is not set")
        if not shutil.which("getfattr"):
            raise unittest.SkipTest("getfattr (package attr) is not installed")
        steps = console_steps()
        self.assertGreater(len(steps), 5)
        with tempfile.TemporaryDirectory(dir=os.environ.get("QUARROW2_SCRATCH")) as scratch:
            for command, expected in steps:
                self.assertTrue(command.startswith(("./quarrow2", "echo", "printf", "getfattr",
                                                    "mkdir", "cp ", "(cd ")),
                                "a README command this test does not know how to run: " + command)
                line = re.sub(r"(^|\| |&& )\./quarrow2", lambda m: m.group(1) + tool, command)
                run = subprocess.run(["bash", "-c", line], cwd=scratch, capture_output=True,
                                     text=True)
                output = (run.stdout + run.stderr).rstrip("\n")
                if expected is not None:
                    self.assertEqual(output, expected, command)
                failing = output.startswith("quarrow2: ")
                self.assertEqual(run.returncode, 1 if failing else 0, command + "\n" + output)

    def test_examples_are_the_ones_the_suites_run(self):
        for kind, name in (("cpp", "hello_metadata.cpp"), ("vb", "hello_metadata.vbs")):
            [(_, code)] = blocks(kind)
            with open(os.path.join(ROOT, "examples", name), encoding="utf-8") as f:
                self.assertEqual(code, f.read(), name)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
