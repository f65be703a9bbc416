"""The object model on real files, by the automation names: values, collections, errors
with the library's exact messages (beside what the C++ tool prints), hostile type names and
paths that are not UTF-8."""
import os

import pytest

import quarrow2
from conftest import E_FAIL, tool, tool_message

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
    assert [types.Item(1), types(2)] == list(types)
    f.Open("Author").Delete()
    assert list(f.Types) == ["Title"] and f.Length == 10


def test_errors_carry_the_rich_error(path):
    too_long = "x" * 40000
    # The tool's messages for the same failures, read before the module holds anything open.
    missing, too_big = tool_message("rm", path, "Missing"), tool_message("set", path, "S", too_long)
    f, g = quarrow2.File(), quarrow2.File()
    f.SetFile(path)
    item = f.Add("S")
    cases = [  # call, message, source
        (lambda: g.Open("A"), "No file path assigned.", "Quarrow2.File.1"),
        (lambda: f.Open("$DATA"), "Access to this data type forbidden.", "Quarrow2.File.1"),
        (lambda: f.Open("Missing"), missing, "Quarrow2.File.1"),
        (lambda: setattr(item, "Text", too_long), too_big, "Quarrow2.MetaData.1"),
    ]
    for call, expected, source in cases:
        with pytest.raises(quarrow2.Error) as caught:
            call()
        assert (str(caught.value), caught.value.message) == (expected, expected)
        assert (caught.value.hresult, caught.value.source) == (E_FAIL, source)


def test_an_item_held_open_does_not_stop_the_tools_reads(path):
    with quarrow2.File(path) as f, f.Add("T") as item:
        item.Text = "held"
        assert (tool("get", path, "T").stdout, tool("list", "-l", path).returncode) == (b"held\n", 0)
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
