"""Every command the README shows is run here, so the README cannot go stale.

Console blocks (```console) run in order in one scratch folder, `./quarrow2` standing for
the built tool; where the README shows output, the command's output must match it. The
blocks of the Install section run from the top of the repository against its
build/linux-release tree, with a scratch folder as the home folder `~`. The examples in the
README must be the files the build compiles and the suites run.
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


INSTALL_HEADING = "## Install\n"


def readme_text():
    with open(README, encoding="utf-8") as f:
        return f.read()


def readme_parts():
    """The README without its Install section, and that section."""
    text = readme_text()
    start = text.index(INSTALL_HEADING)
    end = text.index("\n## ", start + len(INSTALL_HEADING)) + 1
    return text[:start] + text[end:], text[start:end]


def blocks(kind, text=None):
    if text is None:
        text = readme_text()
    return re.findall(r"^( *)```" + kind + r"\n(.*?)^\1```", text, re.S | re.M)


def console_steps(text):
    """(command, expected output or None) for each `$ ` line of the console blocks."""
    steps = []
    for indent, body in blocks("console", text):
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


def run_step(test, command, expected, **kwargs):
    run = subprocess.run(["bash", "-c", command], capture_output=True, text=True, **kwargs)
    output = (run.stdout + run.stderr).rstrip("\n")
    if expected is not None:
        test.assertEqual(output, expected, command)
    failing = output.startswith("quarrow2: ")
    test.assertEqual(run.returncode, 1 if failing else 0, command + "\n" + output)


class ReadmeTest(unittest.TestCase):
    def test_console_blocks(self):
        tool = os.environ.get("QUARROW2_TOOL")
        if not tool:
            raise unittest.SkipTest("QUARROW2_TOOL is not set")
        if not shutil.which("getfattr"):
            raise unittest.SkipTest("getfattr (package attr) is not installed")
        steps = console_steps(readme_parts()[0])
        self.assertGreater(len(steps), 5)
        with tempfile.TemporaryDirectory(dir=os.environ.get("QUARROW2_SCRATCH")) as scratch:
            for command, expected in steps:
                self.assertTrue(command.startswith(("./quarrow2", "echo", "printf", "getfattr",
                                                    "mkdir", "cp ", "(cd ")),
                                "a README command this test does not know how to run: " + command)
                line = re.sub(r"(^|\| |&& )\./quarrow2", lambda m: m.group(1) + tool, command)
                run_step(self, line, expected, cwd=scratch)

    def test_install_blocks(self):
        build = os.environ.get("QUARROW2_BUILD_DIR", "")
        if os.path.realpath(build) != os.path.join(os.path.realpath(ROOT), "build", "linux-release"):
            raise unittest.SkipTest("the Install commands run in build/linux-release alone")
        install = readme_parts()[1]
        with tempfile.TemporaryDirectory(dir=os.environ.get("QUARROW2_SCRATCH")) as home:
            env = dict(os.environ, HOME=home)
            for indent, body in blocks("console", install):
                steps = console_steps("```console\n" + body + "```\n")
                with self.subTest(steps[0][0]):
                    windows = re.search(r"build/windows-[a-z0-9]+", body)
                    if windows and not os.path.exists(os.path.join(ROOT, windows.group(0),
                                                                   "CPackConfig.cmake")):
                        self.skipTest(windows.group(0) + " is not built")
                    for command, expected in steps:
                        run_step(self, command, expected, cwd=ROOT, env=env)

    def test_examples_are_the_ones_the_suites_run(self):
        for kind, name in (("cpp", "hello_metadata.cpp"), ("vb", "hello_metadata.vbs"),
                           ("cmake", "CMakeLists.txt")):
            [(_, code)] = blocks(kind)
            with open(os.path.join(ROOT, "examples", name), encoding="utf-8") as f:
                self.assertEqual(code, f.read(), name)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
