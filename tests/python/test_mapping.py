"""The Pythonic layer: a file's items as a mapping, its text views, with blocks, paths of
every kind (descriptors and links too), and failures that never leave an item open or made."""
import errno
import json
import os
import pathlib
import shutil
import subprocess
import sys

import pytest

import quarrow2
from conftest import tool


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
        with pytest.raises(KeyError) as missing:
            action()
        assert isinstance(missing.value, FileNotFoundError) and missing.value.filename == path
    with pytest.raises(ValueError, match="'user.' prefix: 'user.dup' would be stored as 'user.user.dup'"):
        items["user.dup"] = b"x"
    for action, error in ((lambda: items.__setitem__("N", 5), TypeError),
                          (lambda: texts.__setitem__("N", b"x"), TypeError),
                          (lambda: items.update(N=memoryview(b"\x01")), None)):
        if error:
            pytest.raises(error, action)
        else:
            action()
    assert items.get("N") == b"\x01" and items.get("Missing") is None


@pytest.mark.parametrize("kind", [str, os.fsencode, pathlib.Path, "relative", "descriptor", "fileno"])
def test_path_kinds(path, kind, monkeypatch):
    if kind == "relative":
        monkeypatch.chdir(os.path.dirname(path))
        given = os.path.basename(path)
    elif kind == "descriptor":
        given = os.open(path, os.O_RDONLY)
    elif kind == "fileno":
        given = open(path, "rb")
    else:
        given = kind(path)
    f = quarrow2.File(given)
    if kind in ("descriptor", "fileno"):  # the binding holds a descriptor of its own
        os.close(given) if kind == "descriptor" else given.close()
    with f:
        f.items["Kind"] = b"k"
    assert os.getxattr(path, "user.Kind") == b"k"


def test_descriptors_and_links(folder, path):
    link, dangling = os.path.join(folder, "link"), os.path.join(folder, "dangling")
    os.symlink(path, link)
    os.symlink(os.path.join(folder, "nowhere"), dangling)
    quarrow2.File(link).items["Through"] = b"t"  # links are followed by default
    assert os.listxattr(path) == ["user.Through"]
    for given in (link, dangling):  # the link itself, which Linux keeps no user attribute on
        f = quarrow2.File(given, follow_symlinks=False)
        assert (list(f.items), f.Length, f.Exists) == ([], 0, False)
        for action in (lambda: f.items["Through"], lambda: f.items.__setitem__("New", b"n")):
            with pytest.raises(PermissionError) as refused:
                action()
            assert (refused.value.errno, refused.value.winerror, refused.value.filename) == (errno.EACCES, 5, given)
    assert os.listxattr(path) == ["user.Through"] and not os.path.exists(os.path.join(folder, "nowhere"))
    descriptor = os.open(path, os.O_RDONLY)
    pytest.raises(ValueError, quarrow2.File, descriptor, follow_symlinks=False)
    os.close(descriptor)
    with pytest.raises(OSError) as closed:
        quarrow2.File(descriptor)
    assert (closed.value.errno, closed.value.filename) == (errno.EBADF, descriptor)
    before = len(os.listdir("/proc/self/fd"))
    for _ in range(50):
        with open(path, "rb") as given, quarrow2.File(given) as f, f.Open("Through"):
            pass
    assert len(os.listdir("/proc/self/fd")) == before  # each File's own descriptor goes


def test_reads_after_the_listing_see_what_took_the_files_place(folder, path):
    """A mapping lists the keys, then reads each: a file swapped meanwhile is read as a read
    with no listing before it reads it, through a link as links are followed, never a FIFO."""
    target, made = os.path.join(folder, "target"), os.path.join(folder, "made")
    open(target, "wb").close()
    os.setxattr(target, "user.K", b"target")
    swaps = [("the item removed", lambda: None, quarrow2.MissingItemError),
             ("another file", lambda: (open(made, "wb").close(), os.setxattr(made, "user.K", b"other")), b"other"),
             ("a folder", lambda: (os.mkdir(made), os.setxattr(made, "user.K", b"folder")), b"folder"),
             ("a link", lambda: os.symlink(target, made), b"target"),
             ("a FIFO", lambda: os.mkfifo(made), PermissionError)]
    for change, make, expected in swaps:
        open(path, "wb").close()
        os.setxattr(path, "user.K", b"file")
        items = quarrow2.File(path).items
        assert list(items) == ["K"], change
        os.removexattr(path, "user.K") if change == "the item removed" else (os.remove(path), make(), os.rename(made, path))
        for _ in range(2):
            if isinstance(expected, bytes):
                assert items["K"] == expected, change
            else:
                pytest.raises(expected, items.__getitem__, "K")
        os.rmdir(path) if os.path.isdir(path) and not os.path.islink(path) else os.remove(path)


def test_names_that_are_not_items_are_left_out_never_aliased(path):
    """Another program's attribute whose name holds a colon is no item: the mappings leave
    it out, Items lists it with no size, and nothing of the mapping reaches or removes it."""
    os.setxattr(path, "user.x:$DATA", b"A")
    os.setxattr(path, "user.x", b"B\0")
    os.setxattr(path, "user.a:b", b"c")
    f = quarrow2.File(path)
    assert sorted(f.Items, key=str) == [("a:b", None), ("x", 2), ("x:$DATA", None)]
    assert (list(f.items), len(f.texts), dict(f.items), dict(f.texts)) == (["x"], 1, {"x": b"B\0"}, {"x": "B"})
    assert ("x:$DATA" in f.items, "a:b" in f.items, f.items["x:$DATA"]) == (False, False, b"B\0")  # x, as on NTFS
    with pytest.raises(quarrow2.Error) as no_item_name:
        f.items["a:b"]
    assert (no_item_name.value.errno, no_item_name.value.winerror) == (errno.EINVAL, 123)
    f.items.clear()
    assert sorted(os.listxattr(path)) == ["user.a:b", "user.x:$DATA"] and dict(f.items) == {}


def test_a_file_the_caller_may_not_read_is_never_empty(folder, path):
    """Listing, len, in, get and reads of a file the caller may not read, or reach through
    a folder it may not search, raise PermissionError; only a file without items reads as
    empty."""
    os.setxattr(path, "user.Secret", b"s")
    os.chmod(path, 0)
    os.chmod(folder, 0o755)
    hidden = os.path.join(folder, "hidden")
    os.mkdir(hidden, 0o700)
    unreachable = os.path.join(hidden, "file")
    open(unreachable, "w").close()
    os.setxattr(unreachable, "user.Secret", b"s")
    become = ("setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups") * (os.geteuid() == 0)
    if become and not shutil.which("setpriv"):
        pytest.skip("running as root without setpriv to become nobody")
    script = """import json, sys, quarrow2
for path in sys.argv[1:]:
  f, seen = quarrow2.File(path), []
  for read in (lambda: list(f.items), lambda: len(f.texts), lambda: "Secret" in f.items,
             lambda: f.items.get("Secret"), lambda: f.texts_utf8["Secret"]):
    try:
      seen.append(repr(read()))
    except quarrow2.Error as error:
      seen.append([type(error).__name__, error.errno, error.winerror, str(error)])
  print(json.dumps(seen))"""
    shown = subprocess.run([*become, sys.executable, "-c", script, path, unreachable], capture_output=True, text=True)
    denied = lambda what: ["AccessDeniedError", errno.EACCES, 5, f"Unable to {what}. Access is denied."]
    expected = [denied("list metadata")] * 3 + [denied("get data")] * 2
    assert [json.loads(line) for line in shown.stdout.splitlines()] == [expected] * 2, shown.stderr


def test_an_unusable_share_mode_store_stops_writes_not_reads(folder, path):
    """nobody without a runtime folder keeps share modes in /dev/shm/quarrow2-65534; where
    something else is there (in a /dev/shm of this test's own), the mapping still reads,
    and its writes fail naming the store."""
    if os.geteuid() != 0 or not (shutil.which("unshare") and shutil.which("setpriv")):
        pytest.skip("needs root, unshare and setpriv for a private /dev/shm and the user nobody")
    os.setxattr(path, "user.Key", b"k")
    os.chmod(folder, 0o755)
    os.chown(path, 65534, -1)
    script = """import json, sys, quarrow2
f, seen = quarrow2.File(sys.argv[1], wait=0), []
seen.append([dict(f.texts_utf8), "Key" in f.items, len(f.items)])
for write in (lambda: f.items.__setitem__("New", b"n"), lambda: f.items.__delitem__("Key")):
    try:
        write()
    except quarrow2.Error as error:
        seen.append(str(error))
print(json.dumps(seen))"""
    shown = subprocess.run(
        ["unshare", "--mount", "--propagation", "private", "sh", "-c",
         'mount -t tmpfs tmpfs /dev/shm && touch /dev/shm/quarrow2-65534 && exec "$@"', "sh",
         "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "env", "-u", "XDG_RUNTIME_DIR",
         sys.executable, "-c", script, path], capture_output=True, text=True)
    unusable = "The share-mode store /dev/shm/quarrow2-65534 cannot be used: it is not a folder."
    seen = json.loads(shown.stdout or "null")
    assert seen and seen[0] == [{"Key": "k"}, True, 1] and len(seen) == 3, shown.stderr
    assert all(unusable in message for message in seen[1:]) and os.listxattr(path) == ["user.Key"]


def test_texts_utf8_reads_and_writes_what_other_programs_store(path):
    os.setxattr(path, "user.mime_type", b"text/plain")  # as curl --xattr or setfattr -v write it
    os.setxattr(path, "user.xdg.comment", "ünï".encode())
    f = quarrow2.File(path)
    f.texts_utf8["xdg.tags"] = "work,✓"
    assert os.getxattr(path, "user.xdg.tags") == "work,✓".encode()
    assert dict(f.texts_utf8) == {"mime_type": "text/plain", "xdg.comment": "ünï", "xdg.tags": "work,✓"}
    assert f.texts["mime_type"] == b"text/plain".decode("utf-16-le")  # texts never guesses
    f.items["Odd"] = b"\xff"
    pytest.raises(UnicodeDecodeError, lambda: f.texts_utf8["Odd"])
    pytest.raises(TypeError, f.texts_utf8.__setitem__, "x", b"x")


def test_texts_by_name_reads_each_value_as_the_tool_does(path):
    f = quarrow2.File(path)
    values = [b"text/plain", "Grüße".encode(), "Jane".encode("utf-16-le"),
              "汉字".encode("utf-16-le"), b"\xff\xfe\x00", b"a\0b"]
    names = ["xdg.comment", "XDG.Tags", "dublincore.title", "baloo.rating", "mime_type",
             "Zone.Identifier", "zone.identifier", "xdg", "mime_type2", "Author"]
    assert [name for name in names if quarrow2.names_utf8_text(name)] == names[:7]
    for name in names:
        for value in values:
            os.setxattr(path, "user." + name, value)
            shown = tool("get", "--json", path, name)
            expected = json.loads(shown.stdout) if shown.returncode == 0 else {}
            try:
                text = f.texts_by_name[name]
            except UnicodeDecodeError:
                text = None
            assert text == expected.get("utf8", expected.get("text")), (name, value)
    f.texts_by_name["xdg.tags"], f.texts_by_name["Author"] = "work", "Jane"
    assert (os.getxattr(path, "user.xdg.tags"), os.getxattr(path, "user.Author")) == (b"work", "Jane".encode("utf-16-le"))
    pytest.raises(ValueError, f.texts_by_name.__setitem__, "xdg.tags", "a\0b")
    assert os.getxattr(path, "user.xdg.tags") == b"work"


def test_a_failed_set_leaves_nothing_it_made(folder, path):
    f = quarrow2.File(path)
    f.items["Kept"] = b"old"
    for key in ("Kept", "New"):
        with pytest.raises(quarrow2.Error) as too_big:
            f.items[key] = b"x" * 70000
        assert (too_big.value.errno, too_big.value.winerror) == (errno.E2BIG, 223)
    assert {n: os.getxattr(path, n) for n in os.listxattr(path)} == {"user.Kept": b"old"}
    with pytest.raises(UnicodeEncodeError):
        f.texts_utf8["Lone"] = "\udc80"
    fresh = os.path.join(folder, "fresh.txt")  # the set made the file, so it goes too
    pytest.raises(quarrow2.Error, quarrow2.File(fresh).items.__setitem__, "New", b"x" * 70000)
    assert os.listxattr(path) == ["user.Kept"] and not os.path.exists(fresh)


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
