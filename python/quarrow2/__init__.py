"""Named items of metadata on files, from Python.

The objects of the Windows server by the same names: ``quarrow2.File()`` is what
``win32com.client.Dispatch("Quarrow2.File")`` gives a script there (``SetFile``, ``Open``,
``Add``, ``Types``, ``Length``; items with ``Name``, ``Length``, ``Text``, ``Data``,
``Delete``, ``Close``), and every failure raises ``quarrow2.Error``, an ``OSError`` with the
library's message, errno, winerror, HRESULT and source.

On top of them, each file's items as a mapping::

    with quarrow2.File("notes.txt") as f:
        f.items["Author"] = "Jane Doe"      # str: stored as text (UTF-16)
        f.items["Checksum"] = b"\\x00\\xff"   # bytes: stored as they are
        f.texts["Author"]                  # 'Jane Doe'
        f.items["Author"]                  # b'J\\x00a\\x00n\\x00e\\x00...'
        f.texts_utf8["xdg.tags"] = "work"   # UTF-8 text, as the desktop's programs store it
        f.texts_by_name["mime_type"]       # the text its name says: here UTF-8, for Author UTF-16

Paths may be str, bytes, os.PathLike, an open file descriptor or an object with fileno();
a bytes path, or a str from ``os.fsdecode``, whose name is not UTF-8 reaches the library
with each stray byte as U+DC80-U+DCFF, the library's own lossless form of such names.
"""
import os
import random
import stat
import time
from collections.abc import Iterator, MutableMapping, Sequence
from typing import Any, Callable, List, Optional, Protocol, Tuple, TypeVar, Union

from . import _quarrow2
from ._errors import (ERROR_NOT_FOUND, AccessDeniedError, BusyError, Error, ExistsError,
                      MissingItemError, NotFoundError, missing_item)
from ._quarrow2 import MetaData, Strings
from ._version import __version__

__all__ = ["AccessDeniedError", "BusyError", "DEFAULT_WAIT", "Error", "ExistsError", "File",
           "Items", "MetaData", "MissingItemError", "NotFoundError", "Strings", "Texts",
           "TextsByName", "TextsUtf8", "UTF8_NAMES", "__version__", "names_utf8_text"]

# How long the mappings wait for a busy item, in seconds: the tool's --wait default.
DEFAULT_WAIT = 5.0
MAX_WAIT = 86400.0


class HasFileno(Protocol):
    def fileno(self) -> int: ...


Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
Target = Union[Path, int, HasFileno]
Value = Union[str, bytes, bytearray, memoryview]
T = TypeVar("T")
V = TypeVar("V")
F = TypeVar("F", bound="File")

Sequence.register(Strings)

# The names whose values other programs store as UTF-8 text, as they document them (the
# rule of the tool, tools/formats/value_text.cpp): a name ending in a dot is a namespace.
UTF8_NAMES = ("xdg.", "dublincore.", "baloo.", "mime_type", "charset", "creator",
              "Zone.Identifier")


def names_utf8_text(name: str) -> bool:
    """Whether items of this name hold UTF-8 text by their convention: the desktop's xdg.*,
    dublincore.*, baloo.*, mime_type, charset and creator, and Windows' Zone.Identifier
    (UTF8_NAMES), whatever the case of their ASCII letters."""
    folded = name.encode("utf-8", "surrogatepass").lower()
    return any(folded.startswith(n.lower().encode()) and len(folded) > len(n) if n[-1] == "."
               else folded == n.lower().encode() for n in UTF8_NAMES)


class _Descriptor:
    """A descriptor of this process, closed when the last binding or item using the path
    through it is gone."""

    def __init__(self, number: int) -> None:
        self.number = number

    def __del__(self, close: Callable[[int], None] = os.close) -> None:
        close(self.number)


def _binding(target: Target, follow_symlinks: bool) -> Tuple[str, Any, Optional[_Descriptor]]:
    """The path the library is handed for `target`, the name errors give (as os does: the
    path as given, or the descriptor's number) and the descriptor the path goes through."""
    if isinstance(target, bool):
        raise TypeError("a path or a file descriptor is expected, not bool")
    number = target if isinstance(target, int) else None
    if number is None and not isinstance(target, (str, bytes, os.PathLike)):
        fileno = getattr(target, "fileno", None)
        if fileno is None:
            raise TypeError("a path (str, bytes, os.PathLike), a file descriptor or an object "
                            f"with fileno() is expected, not {type(target).__name__}")
        number = fileno()
    if number is not None:
        if not follow_symlinks:
            raise ValueError("cannot use a file descriptor and follow_symlinks=False together")
        try:  # a copy of its own, so that the binding outlives the caller's descriptor
            own = _Descriptor(os.dup(number))
        except OSError as error:
            raise OSError(error.errno, error.strerror, number) from None
        return f"/proc/self/fd/{own.number}", number, own
    filename = os.fspath(target)  # type: ignore[arg-type]
    path = os.path.abspath(os.fsdecode(filename))
    if not follow_symlinks and os.path.islink(path):
        # The link itself, as the file system keeps it: user attributes on a link are
        # refused by Linux, so its items read as none and writes fail as os.setxattr's do.
        own = _Descriptor(os.open(path, os.O_PATH | os.O_NOFOLLOW | os.O_CLOEXEC))
        return f"/proc/self/fd/{own.number}", filename, own
    return path, filename, None


class File(_quarrow2.File):
    """A reference to one file: ``File(path)`` binds it at once, ``File()`` waits for
    ``SetFile``. A ``with`` block closes it at its end.

    ``wait`` is how long, in seconds, the mappings (``items``, ``texts``, ``texts_utf8``)
    wait for an item another handle holds (a sharing or lock violation), retrying with
    growing pauses, before they raise ``BusyError``: 5 by default, as the tool's ``--wait``;
    0 fails at once. The automation calls themselves (``Open``, ``Add``, ``Text``, ...) never
    wait, as on Windows. ``follow_symlinks=False`` binds a symbolic link itself (see
    ``SetFile``)."""

    def __init__(self, path: Optional[Target] = None, *, wait: float = DEFAULT_WAIT,
                 follow_symlinks: bool = True) -> None:
        super().__init__()
        self.wait = wait
        self._path = ""
        self._link_itself = False
        if path is not None:
            self.SetFile(path, follow_symlinks=follow_symlinks)

    @property
    def wait(self) -> float:
        """Seconds the mappings wait for a busy item (0 to a day)."""
        return self._wait

    @wait.setter
    def wait(self, seconds: float) -> None:
        if isinstance(seconds, bool) or not isinstance(seconds, (int, float)):
            raise TypeError(f"wait is a number of seconds, not {type(seconds).__name__}")
        if not 0 <= seconds <= MAX_WAIT:  # also refuses nan
            raise ValueError(f"wait is from 0 to {MAX_WAIT:g} seconds, not {seconds!r}")
        self._wait = float(seconds)

    def SetFile(  # type: ignore[override]
            self, path: Target, *, follow_symlinks: bool = True) -> bool:
        """Binds the object to the file at path (str, bytes or os.PathLike), or to the file
        an open descriptor (int, or an object with fileno()) names; True when its volume
        keeps named streams. A descriptor is duplicated: the binding outlives the caller's,
        and a closed one raises OSError (EBADF) here. With follow_symlinks=False a symbolic
        link is bound itself: Linux keeps no user attributes on links, so it lists no items
        and adding one fails with AccessDeniedError."""
        path_given, filename, keeper = _binding(path, follow_symlinks)
        supported = super().SetFile(path_given, filename, keeper)
        self._path = path_given
        self._link_itself = not follow_symlinks and keeper is not None
        return supported

    def Close(self) -> None:
        super().Close()
        self._path = ""
        self._link_itself = False

    def _item_names(self) -> List[str]:
        # A symbolic link bound itself: Linux keeps no user attributes on links, so it has
        # no items, where the listing refuses to open it as it refuses a FIFO.
        return [] if self._link_itself else list(self.Names)

    @property
    def items(self) -> "Items":
        """The file's items as a mapping of type names to bytes."""
        return Items(self)

    @property
    def texts(self) -> "Texts":
        """The file's items as a mapping of type names to text (UTF-16, the library's)."""
        return Texts(self)

    @property
    def texts_utf8(self) -> "TextsUtf8":
        """The file's items as a mapping of type names to UTF-8 text, the form other
        programs of the desktop store (xdg.*, mime_type, ...)."""
        return TextsUtf8(self)

    @property
    def texts_by_name(self) -> "TextsByName":
        """The file's items as a mapping of type names to the text their name says: UTF-8
        for the names of names_utf8_text(), the library's UTF-16 for all others."""
        return TextsByName(self)

    def __enter__(self: F) -> F:
        return self

    def __exit__(self, *exception: object) -> None:
        self.Close()


class _View(MutableMapping[str, V]):
    """A file's items as a mapping of type names to values, read and written as the class
    says (_read, _put; _check refuses a value of the wrong kind before anything is done).

    Reading (iteration, ``len``, ``in``, getting) goes through the file's one-shot listing
    and reads (``Items``, ``ReadData``, ``ReadText``): they share the item with every other
    reader and writer, so they never wait, and they raise the real cause where the file
    could not be read (``NotFoundError`` for a missing file, ``AccessDeniedError``, ``Error``
    for a layout word that names no layout, ...); only a file without items is empty.
    Iterating lists the types in the file system's order, leaving out another program's
    attribute names that no item can have (``Items`` lists those with the size None). A
    missing item raises MissingItemError (a KeyError and a FileNotFoundError).

    Setting adds the item (and the file) when missing; a set that fails leaves no item it
    made behind, and an existing value as it was; a busy item is waited for up to the
    file's ``wait``, when setting or deleting. Every item opened here is closed before the
    call returns, whatever happens. Type names are given without the ``user.`` prefix of
    their attribute: setting a key that starts with it is refused."""

    def __init__(self, file: File) -> None:
        self._file = file

    def _read(self, name: str) -> V:
        raise NotImplementedError

    def _put(self, item: MetaData, value: Any) -> None:
        if isinstance(value, str):
            item.Text = value
        else:
            item.Data = value

    def _check(self, value: object) -> None:
        if not isinstance(value, (str, bytes, bytearray, memoryview)):
            raise TypeError(f"an item's value is str or bytes, not {type(value).__name__}")

    def _patiently(self, action: Callable[[], T]) -> T:
        """Runs action until it does not fail busy, with the tool's growing pauses (1 to 16
        ms, with a random part), for up to the file's wait."""
        deadline, pause = None, 0.001
        while True:
            try:
                return action()
            except BusyError as error:
                now = time.monotonic()
                deadline = deadline or now + self._file.wait
                if now >= deadline:
                    note = getattr(error, "add_note", None)
                    if note:
                        note(f"The item was still busy after {self._file.wait:g} s; "
                             "File(..., wait=SECONDS) waits longer.")
                    raise
                time.sleep(min(pause + random.uniform(0, pause), deadline - now))
                pause = min(pause * 2, 0.016)

    def _open_existing(self, name: str) -> MetaData:
        try:
            return self._file.Open(name)
        except NotFoundError as error:
            missing = error
        # Open says "not found" for a missing file as for a missing item; the listing
        # raises the file's own failure, else the item is what is missing.
        self._file._item_names()
        raise missing_item(missing)

    def __getitem__(self, name: str) -> V:
        try:
            return self._read(name)
        except NotFoundError as error:
            if error.winerror == ERROR_NOT_FOUND:
                raise missing_item(error) from None
            raise

    def __setitem__(self, name: str, value: Any) -> None:
        if isinstance(name, str) and name.startswith("user."):
            raise ValueError(f"type names are given without their attribute's 'user.' prefix: "
                             f"{name!r} would be stored as 'user.{name}'; set {name[5:]!r}")
        self._check(value)
        self._patiently(lambda: self._store(name, value))

    def _store(self, name: str, value: Any) -> None:
        try:
            item, made = self._file.Open(name), False
        except NotFoundError:
            file_was_there = os.path.exists(self._file._path)
            item, made = self._file.Add(name), True
        with item:
            try:
                self._put(item, value)
            except BaseException as error:
                if made:
                    _undo_add(item, self._file._path, file_was_there, error)
                raise

    def __delitem__(self, name: str) -> None:
        def delete() -> None:
            with self._open_existing(name) as item:
                item.Delete()

        self._patiently(delete)

    def __iter__(self) -> Iterator[str]:
        return iter(self._file._item_names())

    def __len__(self) -> int:
        return len(self._file._item_names())

    def __contains__(self, name: object) -> bool:
        names = self._file._item_names()  # the file's failure even for a key of another kind
        return isinstance(name, str) and name in names

    def __repr__(self) -> str:
        return f"<{type(self).__name__} of {self._file!r}>"


def _undo_add(item: MetaData, path: str, file_was_there: bool, cause: BaseException) -> None:
    """As the tool's undo: the item a failed set made goes again, while it still holds what
    Add put there (the empty value), and so does the file when the set made it and it is
    still empty. What cannot be undone is said in a note on the set's own failure."""
    try:
        if item.Data == b"":
            item.Delete()
        if not file_was_there and stat.S_ISREG(os.lstat(path).st_mode) and \
                os.path.getsize(path) == 0:
            os.remove(path)
    except OSError as error:
        note = getattr(cause, "add_note", None)
        if note:
            note(f"The item it made could not be removed again: {error}")


class Items(_View[bytes]):
    """A file's items: type name -> value as bytes; setting a str stores it as text
    (UTF-16), bytes-like as it is (see _View for the rest)."""

    def _read(self, name: str) -> bytes:
        return self._file.ReadData(name)

    def __setitem__(self, name: str, value: Value) -> None:
        super().__setitem__(name, value)


class Texts(_View[str]):
    """The same items with their values as the library's text: getting decodes the stored
    UTF-16 (UnicodeDecodeError for an odd number of bytes), setting takes str only."""

    def _read(self, name: str) -> str:
        return self._file.ReadText(name)

    def _check(self, value: object) -> None:
        if not isinstance(value, str):
            raise TypeError(f"a text item's value is str, not {type(value).__name__}")


class TextsUtf8(Texts):
    """The same items with their values as UTF-8 text, as other programs store theirs (the
    desktop's xdg.* and mime_type, curl --xattr, setfattr -v TEXT): getting decodes the
    stored bytes as UTF-8 (UnicodeDecodeError when they are not), setting stores the str's
    UTF-8 bytes. Nothing is guessed: this view reads every value as UTF-8."""

    def _read(self, name: str) -> str:
        return self._file.ReadData(name).decode("utf-8")

    def _put(self, item: MetaData, value: str) -> None:
        item.Data = value.encode("utf-8")


class TextsByName(Texts):
    """The same items as the text their name says, the tool's rule: an item whose name holds
    UTF-8 text by its convention (names_utf8_text) reads as UTF-8 when its bytes are UTF-8
    without a zero byte, and is set as UTF-8 (a str with a zero character is refused, as it
    would not read back); every other item is the library's UTF-16 text, as in texts. Nothing
    is guessed from the bytes alone."""

    def _read(self, name: str) -> str:
        data = self._file.ReadData(name)
        if data and b"\0" not in data and names_utf8_text(name):
            try:
                return data.decode("utf-8")
            except UnicodeDecodeError:
                pass
        return data.decode("utf-16-le", "surrogatepass")  # as ReadText decodes it

    def _put(self, item: MetaData, value: str) -> None:
        if not names_utf8_text(item.Name):
            item.Text = value
        elif "\0" in value:
            raise ValueError(f"{item.Name!r} holds UTF-8 text, which keeps no zero character")
        else:
            item.Data = value.encode("utf-8")
