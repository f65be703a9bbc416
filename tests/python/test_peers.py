"""Both ways with the other programs on the same items: what the module writes, getfattr,
the C++ tool and os.getxattr read byte for byte; what setfattr, the tool and os.setxattr
write, the module reads the same."""
import os
import shutil
import subprocess

import pytest

import quarrow2
from conftest import tool

VALUES = {"Text": "Jane Doe".encode("utf-16-le"), "Bytes": bytes(range(256)), "Odd": b"abc",
          "Ünïcode": "ü".encode("utf-16-le")}


def getfattr(path, name):
    return subprocess.run(["getfattr", "--only-values", "-n", "user." + name, path],
                          capture_output=True, check=True).stdout


def setfattr(path, name, value):
    subprocess.run(["setfattr", "-n", "user." + name, "-v", "0x" + value.hex(), path], check=True)


READERS = {"getfattr": getfattr, "tool": lambda p, n: tool("get", "--bytes", p, n).stdout,
           "os": lambda p, n: os.getxattr(p, "user." + n)}
WRITERS = {"setfattr": setfattr, "tool": lambda p, n, v: tool("set", "--bytes", p, n, "-", stdin=v),
           "os": lambda p, n, v: os.setxattr(p, "user." + n, v)}


def needs(peer):
    if peer in ("getfattr", "setfattr") and not shutil.which(peer):
        pytest.skip(f"{peer} is not installed (package attr)")


@pytest.mark.parametrize("peer", READERS)
def test_peers_read_what_the_module_writes(path, peer):
    needs(peer)
    f = quarrow2.File(path)
    f.items.update(VALUES)
    assert {name: READERS[peer](path, name) for name in VALUES} == VALUES


@pytest.mark.parametrize("peer", WRITERS)
def test_the_module_reads_what_peers_write(path, peer):
    needs(peer)
    for name, value in VALUES.items():
        WRITERS[peer](path, name, value)
    assert dict(quarrow2.File(path).items) == VALUES
