"""The object model on real files, by the automation names: values, collections, errors
with the library's exact messages (beside what the C++ tool prints) as OSErrors by their
cause, hostile type names and paths that are not UTF-8; the typed names under mypy --strict;
the package as pip builds and installs it."""
import errno
import os
import shutil
import subprocess
import sys
import zipfile

import pytest

import quarrow2
import typed_use
from conftest import E_FAIL, ROOT, tool, tool_message

EMPTY_MARKER = "---***NULL***---".encode("utf-16-le")


@pytest.mark.parametrize("put, value, text, data", [
    ("Text", "Jane Doe", "Jane Doe", "Jane Doe".encode("utf-16-le")),
    ("Text", "\U0001F600 \udcff", "\U0001F600 \udcff", "\U0001F600 \udcff".encode("utf-16-le", "surrogatepass")),
    ("Text", "", "", b""),
    ("Data", bytes(range(256)), bytes(range(256)).decode("utf-16-le", "surrogatepass"), bytes(range(256))),
    ("Data", bytearray(b"\x00\xff"), "\uff00", b"\x00\xff"),
    ("Data", memoryview(b"abc"), UnicodeDecodeError, b"abc"),
])
def test_values_as_text_and_data(path, put, value, text, data):
    f = quarrow2.File()
    assert f.SetFile(path) is True and f.Supported and f.Exists
    item = f.Add("Value")
    setattr(item, put, value)
    stored = data or EMPTY_MARKER
    assert (item.Name, item.Length, item.Data, f.Length) == ("Value", len(stored), data, len(stored))
    assert os.getxattr(path, "user.Value") == stored
    if text is UnicodeDecodeError:
        pytest.raises(UnicodeDecodeError, lambda: item.Text)
    else:
        assert item.Text == text


def test_types_collection_and_delete(path):
    f = quarrow2.File()
    f.SetFile(path)
    for name in ("Author", "Title"):
        with f.Add(name) as item:
            item.Text = name
    types = f.Types
    assert (types.Count, len(types), sorted(types)) == (2, 2, ["Author", "Title"])
    assert [types.Item(1), types(2)] == list(types) == [types[0], types[-1]] == types[:]
    assert (types[1:], types[::-1], list(reversed(types))) == (list(types)[1:],) + (list(types)[::-1],) * 2
    assert types.index(types[1]) == 1 and types.count("Title") == 1 and "Title" in types
    pytest.raises(IndexError, lambda: types[2])
    assert repr(f) == f"<quarrow2.File {path!r}>" and repr(quarrow2.File()) == "<quarrow2.File (no path)>"
    assert repr(f.Open("Author")) == f"<quarrow2.MetaData 'Author' of {path!r}>"
    f.Open("Author").Delete()
    assert list(f.Types) == ["Title"] and f.Length == 10


def test_errors_are_oserrors_by_their_cause(folder, path, monkeypatch):
    too_long = "x" * 40000
    # The tool's messages for the same failures, read before the module holds anything open.
    # 80,000 bytes: more than the kernel takes (the tool refuses it unsent, so its text is the library's).
    missing = tool_message("rm", path, "Missing")
    too_big = "Unable to put text. The file size exceeds the limit allowed and cannot be saved."
    fifo, nowhere = os.path.join(folder, "fifo"), os.path.join(folder, "no", "f")
    os.mkfifo(fifo)
    f, unbound = quarrow2.File(path), quarrow2.File()
    item, held = f.Add("S"), f.Add("Held")
    E = quarrow2
    add, put = "Unable to add metadata. ", "Unable to put text. "
    listing, get_data, get_text = "Unable to list metadata. ", "Unable to get data. ", "Unable to get text. "
    cases = [  # call, class, builtin class, errno, winerror, message, filename
        (lambda: f.Open("Missing"), E.NotFoundError, FileNotFoundError, errno.ENOENT, 2, missing, path),
        # No system text: no code, never the one an earlier failure left.
        (lambda: unbound.Open("A"), E.Error, OSError, None, None, "No file path assigned.", None),
        (lambda: f.Open("$DATA"), E.Error, OSError, None, None, "Access to this data type forbidden.", path),
        (lambda: quarrow2.File(nowhere).Add("A"), E.NotFoundError, FileNotFoundError, errno.ENOENT, 3,
         add + "The system cannot find the path specified.", nowhere),
        (lambda: quarrow2.File(fifo).Add("A"), E.AccessDeniedError, PermissionError, errno.EACCES, 5,
         add + "Access is denied.", fifo),
        (lambda: f.Add("Held"), E.BusyError, BlockingIOError, errno.EAGAIN, 32,
         add + "The process cannot access the file because it is being used by another process.", path),
        (lambda: setattr(item, "Text", too_long), E.Error, OSError, errno.E2BIG, 223, too_big, path),
        (lambda: f.Add("é" * 126), E.Error, OSError, errno.ENAMETOOLONG, 206,
         add + "The filename or extension is too long.", path),
        (lambda: f.Add("\ud800"), E.Error, OSError, errno.EINVAL, 123,
         add + "The filename, directory name, or volume label syntax is incorrect.", path),
        (lambda: bad_layout(lambda: quarrow2.File(path).Open("S")), E.Error, OSError, errno.EINVAL, 10,
         "Unable to open metadata. The environment is incorrect.", path),
        # The mappings read through IFile2, whose statuses name the cause; empty is only a
        # file without items.
        (lambda: f.items["Missing"], E.MissingItemError, KeyError, errno.ENOENT, 1168,
         get_data + "The file has no item of this type.", path),
        (lambda: len(quarrow2.File(nowhere).items), E.NotFoundError, FileNotFoundError, errno.ENOENT, 3,
         listing + "The system cannot find the path specified.", nowhere),
        (lambda: quarrow2.File(nowhere).items.__delitem__("A"), E.NotFoundError, FileNotFoundError, errno.ENOENT,
         3, listing + "The system cannot find the path specified.", nowhere),
        (lambda: quarrow2.File(nowhere).items.get("A"), E.NotFoundError, FileNotFoundError, errno.ENOENT, 3,
         get_data + "The system cannot find the path specified.", nowhere),
        (lambda: quarrow2.File(fifo).texts["A"], E.AccessDeniedError, PermissionError, errno.EACCES, 5,
         get_text + "Access is denied.", fifo),
        (lambda: bad_layout(lambda: list(quarrow2.File(path).items)), E.Error, OSError, errno.EINVAL, 10,
         listing + "The environment is incorrect.", path),
        (lambda: bad_layout(lambda: "S" in quarrow2.File(path).texts_utf8), E.Error, OSError, errno.EINVAL, 10,
         listing + "The environment is incorrect.", path),
        (lambda: bad_layout(lambda: quarrow2.File(path).texts_by_name["S"]), E.Error, OSError, errno.EINVAL, 10,
         get_data + "The environment is incorrect.", path),
        (lambda: bad_layout(lambda: quarrow2.File(path).items.__delitem__("S")), E.Error, OSError, errno.EINVAL,
         10, "Unable to open metadata. The environment is incorrect.", path),
    ]

    def bad_layout(call):
        monkeypatch.setenv("QUARROW2_LAYOUT", "Samba")
        try:
            return call()
        finally:
            monkeypatch.delenv("QUARROW2_LAYOUT")

    assert too_big.startswith(put)
    for call, kind, builtin, number, winerror, message, filename in cases:
        with pytest.raises(kind) as caught:
            call()
        e = caught.value
        assert type(e) is kind and isinstance(e, builtin) and isinstance(e, quarrow2.Error), message
        assert (e.errno, e.winerror, e.strerror, str(e), e.message) == (number, winerror, message, message, message)
        # IFile2's statuses are HRESULT_FROM_WIN32 of the cause, IFile's E_FAIL.
        ifile2 = message.startswith((listing, get_data, get_text))
        assert (e.filename, e.hresult) == (filename, (0x80070000 | winerror) - (1 << 32) if ifile2 else E_FAIL)
        assert e.source == ("Quarrow2.MetaData.1" if message.startswith(put) else "Quarrow2.File.1")


def test_an_item_held_open_does_not_stop_the_tools_or_the_mappings_reads(path):
    with quarrow2.File(path) as f, f.Add("T") as item:
        item.Text = "held"
        assert (tool("get", path, "T").stdout, tool("list", "-l", path).returncode) == (b"held\n", 0)
        reader = quarrow2.File(path, wait=0)
        assert (reader.texts["T"], dict(reader.items), "T" in reader.texts) == ("held", {"T": b"h\0e\0l\0d\0"}, True)
        # Only writers wait for it.
        assert b"busy" in tool("--wait", "0", "rm", path, "T").stderr


@pytest.mark.parametrize("name, stored", [
    ("with space", True), ("ünïcödé", True), ("\U0001F600", True), ("-rating", True),
    ("line\nbreak", True), ("é" * 125, True), ("é" * 126, False), ("a:b", False),
    ("a/b", False), ("a\\b", False), ("a\0b", False), ("..", False), ("", False),
    ("\ud800", False),
])
def test_hostile_type_names(path, name, stored):
    f = quarrow2.File(path)
    if not stored:
        pytest.raises(ValueError if "\0" in name else quarrow2.Error, f.Add, name)
        assert os.listxattr(path) == []
        return
    f.items[name] = b"v"
    assert os.getxattr(path, "user." + name) == b"v" and list(f.items) == [name]


def test_paths_that_are_not_utf8(folder):
    raw = os.path.join(os.fsencode(folder), b"caf\xe9-\xff.txt")
    open(raw, "wb").close()
    if not quarrow2.File(raw).Exists:
        pytest.skip("this library does not map U+DC80-U+DCFF to the bytes of a name yet")
    for path in (raw, os.fsdecode(raw)):
        with quarrow2.File(path) as f:
            f.items["Origin"] = os.fsdecode(path)
            assert os.getxattr(raw, "user.Origin") == os.fsdecode(raw).encode("utf-16-le", "surrogatepass")
    os.setxattr(raw, b"user.\xe9t\xe9", b"v")
    assert sorted(quarrow2.File(raw).items) == ["Origin", "\udce9t\udce9"]


def test_the_typed_names_run_and_pass_mypy_strict(path):
    """Every public name, used as the stubs say: it runs, and mypy --strict accepts it and
    the README's example."""
    assert typed_use.use(path)[0] == tool("--version").stdout.decode().split()[-1]
    if subprocess.run([sys.executable, "-c", "import mypy"], capture_output=True).returncode:
        pytest.skip(f"mypy is not installed for {sys.executable} (Debian package mypy)")
    checked = [os.path.join(ROOT, "examples", "hello_metadata.py"), typed_use.__file__]
    environment = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}  # nothing is loaded
    result = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--cache-dir=/dev/null", *checked],
                            capture_output=True, text=True, env=dict(environment, MYPYPATH=os.environ["PYTHONPATH"]))
    assert result.returncode == 0, result.stdout + result.stderr


def test_pip_builds_a_wheel_and_installs_into_a_venv(tmp_path, folder, path):
    """pip wheel and pip install from a checkout, offline and without build isolation: one
    wheel that carries the library, and a module that works from outside the checkout with
    nothing else of Quarrow2 on any search path."""
    if os.environ.get("QUARROW2_SANITIZE"):
        pytest.skip("pip builds a release module of its own; the release build checks it")
    missing = [m for m in ("ensurepip", "setuptools", "wheel", "pip")
               if subprocess.run([sys.executable, "-c", f"import {m}"], capture_output=True).returncode]
    if missing:
        pytest.skip(f"{sys.executable} lacks {', '.join(missing)} (python3-venv, python3-setuptools, "
                    "python3-wheel, python3-pip)")
    checkout = tmp_path / "checkout"
    shutil.copytree(ROOT, checkout, ignore=shutil.ignore_patterns(".git", "build", "*.egg-info"))
    environment = {k: v for k, v in os.environ.items()
                   if k not in ("PYTHONPATH", "LD_LIBRARY_PATH", "LD_PRELOAD")}
    environment.update(PIP_NO_INDEX="1", PIP_DISABLE_PIP_VERSION_CHECK="1")

    def run(*command, cwd=checkout):
        result = subprocess.run(command, cwd=cwd, env=environment, capture_output=True, text=True)
        assert result.returncode == 0, result.stdout[-3000:] + result.stderr[-3000:]
        return result.stdout

    version = tool("--version").stdout.decode().split()[-1]
    run(sys.executable, "-m", "pip", "wheel", "--no-build-isolation", "--no-deps", "-w", str(tmp_path / "wheels"), ".")
    [wheel] = os.listdir(tmp_path / "wheels")
    names = zipfile.ZipFile(tmp_path / "wheels" / wheel).namelist()
    assert [n for n in names if "libquarrow2" in n] == ["quarrow2/libquarrow2.so.2"]
    assert {"quarrow2/_version.py", "quarrow2/py.typed", f"quarrow2-{version}.dist-info/METADATA"} <= set(names)
    run(sys.executable, "-m", "venv", "--system-site-packages", str(tmp_path / "venv"))
    python = str(tmp_path / "venv" / "bin" / "python")
    run(python, "-m", "pip", "install", "--no-build-isolation", ".")
    shown = run(python, "-c", "import importlib.metadata as m, quarrow2, sys; f = quarrow2.File(sys.argv[1]); "
                "f.texts['Author'] = 'Jane'; print(quarrow2.__file__, quarrow2.__version__, m.version('quarrow2'))",
                path, cwd=folder).split()
    assert shown == [str(tmp_path / "venv" / "lib" / f"python{sys.version_info[0]}.{sys.version_info[1]}" /
                         "site-packages" / "quarrow2" / "__init__.py"), version, version]
    assert os.getxattr(path, "user.Author") == "Jane".encode("utf-16-le")
