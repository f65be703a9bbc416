"""Fixtures of the module's suites: real files on a file system with user extended
attributes, and the built tool (QUARROW2_TOOL) as the C++ client to compare with. A session
whose tests all skipped exits with 77, which CTest shows as skipped."""
import os
import subprocess
import tempfile

import pytest

E_FAIL = -0x7FFFBFFB  # 0x80004005 as a signed HRESULT
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def tool(*arguments, stdin=b""):
    return subprocess.run([os.environ["QUARROW2_TOOL"], *arguments], input=stdin,
                          capture_output=True, timeout=60)


def tool_message(*arguments):
    """The library's message the tool prints for a failure, without what it adds."""
    result = tool(*arguments)
    assert result.returncode == 1, result
    message = result.stderr.decode().removeprefix("quarrow2: ").rsplit(" (file ", 1)[0]
    return message.removesuffix(" The file has no item of this type.")


@pytest.fixture
def folder():
    with tempfile.TemporaryDirectory(prefix="quarrow2-python-") as folder:
        try:
            os.setxattr(folder, "user.probe", b"x")
        except OSError as error:
            pytest.skip(f"{folder}'s file system keeps no user attributes ({error.strerror})")
        yield folder


@pytest.fixture
def path(folder):
    path = os.path.join(folder, "notes.txt")
    open(path, "wb").close()
    return path


def pytest_sessionfinish(session, exitstatus):
    stats = session.config.pluginmanager.get_plugin("terminalreporter").stats
    if exitstatus == 0 and stats.get("skipped") and not stats.get("passed"):
        session.exitstatus = 77
