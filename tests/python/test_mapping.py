"""The Pythonic layer: a file's items as a mapping, its text view, with blocks, paths of
every kind, and failures that never leave an item open."""
import os
import pathlib

import pytest

import quarrow2


def test_mapping_of_items(path):
    f = quarrow2.File(path)
    items, texts = f.items, f.texts
    items["Author"] = "Jane Doe"
    items["Bytes"] = bytearray(b"\x00\xff")
    texts["Title"] = "Notes"
    assert (list(items), len(items)) == (list(f.Types), 3)
    assert items["Author"] == "Jane Doe".encode("utf-16-le") and texts["Author"] == "Jane Doe"
    assert dict(items)["Bytes"] == b"\x00\xff" and "Title" in items and "Other" not in items
    del items["Author"]
    assert sorted(texts) == ["Bytes", "Title"]
    for action in (lambda: items["Author"], lambda: items.__delitem__("Author")):
        pytest.raises(KeyError, action)
    for action, error in ((lambda: items.__setitem__("N", 5), TypeError),
                          (lambda: texts.__setitem__("N", b"x"), TypeError),
                          (lambda: items.update(N=memoryview(b"\x01")), None)):
        if error:
            pytest.raises(error, action)
        else:
            action()
    assert items.get("N") == b"\x01" and items.get("Missing") is None


@pytest.mark.parametrize("kind", [str, os.fsencode, pathlib.Path, "relative"])
def test_path_kinds(path, kind, monkeypatch):
    if kind == "relative":
        monkeypatch.chdir(os.path.dirname(path))
        given = os.path.basename(path)
    else:
        given = kind(path)
    with quarrow2.File(given) as f:
        f.items["Kind"] = b"k"
    assert os.getxattr(path, "user.Kind") == b"k"


def test_with_blocks_close_and_failures_leave_nothing_open(path):
    with quarrow2.File(path) as f:
        with f.Add("Item") as item:
            item.Text = "kept"
    pytest.raises(quarrow2.Error, lambda: item.Text)
    pytest.raises(quarrow2.Error, f.Open, "Item")
    f = quarrow2.File(path)
    with pytest.raises(quarrow2.Error) as put_failed:
        f.items["Item"] = "x" * 40000
    with pytest.raises(quarrow2.Error) as data_failed:
        with f.Open("Item") as item:
            item.Data = b"x" * 70000
    # While the failures (and their tracebacks' frames) live, nothing they touched is open:
    # Open for writing admits other readers only, so an item left open would refuse this.
    assert put_failed.value and data_failed.value
    quarrow2.File(path).items["Item"] = "after"
    assert quarrow2.File(path).texts["Item"] == "after"
