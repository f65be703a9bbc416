"""Named items of metadata on files, from Python.

The objects of the Windows server by the same names: ``quarrow2.File()`` is what
``win32com.client.Dispatch("Quarrow2.File")`` gives a script there (``SetFile``, ``Open``,
``Add``, ``Types``, ``Length``; items with ``Name``, ``Length``, ``Text``, ``Data``,
``Delete``, ``Close``), and every failure raises ``quarrow2.Error`` with the library's
message, HRESULT and source.

On top of them, each file's items as a mapping::

    with quarrow2.File("notes.txt") as f:
        f.items["Author"] = "Jane Doe"      # str: stored as text (UTF-16)
        f.items["Checksum"] = b"\\x00\\xff"   # bytes: stored as they are
        f.texts["Author"]                  # 'Jane Doe'
        f.items["Author"]                  # b'J\\x00a\\x00n\\x00e\\x00...'

Paths may be str, bytes or os.PathLike; a bytes path, or a str from ``os.fsdecode``, whose
name is not UTF-8 reaches the library with each stray byte as U+DC80-U+DCFF, the library's
own lossless form of such names.
"""
import os
from collections.abc import Iterator, MutableMapping
from typing import Optional, Union

from . import _quarrow2
from ._quarrow2 import Error, MetaData, Strings

__all__ = ["Error", "File", "Items", "MetaData", "Strings", "Texts"]

Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
Error.__module__ = __name__


def library_path(path: Path) -> str:
    """The absolute path as the library takes it: bytes decoded as os.fsdecode does (stray
    bytes as U+DC80-U+DCFF). Absolute, because the volume is probed from it."""
    return os.path.abspath(os.fsdecode(path))


class File(_quarrow2.File):
    """A reference to one file by its path: ``File(path)`` binds it at once, ``File()``
    waits for ``SetFile``. A ``with`` block closes it at its end."""

    def __init__(self, path: Optional[Path] = None) -> None:
        super().__init__()
        if path is not None:
            self.SetFile(path)

    def SetFile(self, path: Path) -> bool:
        """Binds the object to the file at path (str, bytes or os.PathLike); True when its
        volume keeps named streams."""
        return super().SetFile(library_path(path))

    @property
    def items(self) -> "Items":
        """The file's items as a mapping of type names to bytes."""
        return Items(self)

    @property
    def texts(self) -> "Texts":
        """The file's items as a mapping of type names to text."""
        return Texts(self)


class Items(MutableMapping):
    """A file's items: type name -> value as bytes. Iterating lists the types in the file
    system's order; setting a str stores it as text (UTF-16), bytes-like as it is, adding
    the item (and the file) when missing. A missing item raises KeyError; every item opened
    here is closed before the call returns, whatever happens."""

    def __init__(self, file: _quarrow2.File) -> None:
        self._file = file

    def _read(self, item: MetaData) -> bytes:
        return item.Data

    def _open_existing(self, name: str) -> MetaData:
        try:
            return self._file.Open(name)
        except Error:
            self._raise_if_missing(name)
            raise

    def __getitem__(self, name: str) -> bytes:
        with self._open_existing(name) as item:
            return self._read(item)

    def __setitem__(self, name: str, value: Union[str, bytes, bytearray, memoryview]) -> None:
        if not isinstance(value, (str, bytes, bytearray, memoryview)):
            raise TypeError(f"an item's value is str or bytes, not {type(value).__name__}")
        with self._file.Add(name) as item:
            if isinstance(value, str):
                item.Text = value
            else:
                item.Data = value

    def __delitem__(self, name: str) -> None:
        with self._open_existing(name) as item:
            item.Delete()

    def __iter__(self) -> Iterator[str]:
        return iter(self._file.Types)

    def __len__(self) -> int:
        return self._file.Types.Count

    def __contains__(self, name: object) -> bool:
        return isinstance(name, str) and name in list(self._file.Types)

    def _raise_if_missing(self, name: str) -> None:
        """After a failed Open: KeyError when the file has no such item (the library's own
        error stays as the cause), nothing when the item is there and failed otherwise."""
        try:
            missing = name not in self
        except Error:
            return  # the file itself cannot be read: Open's error says why
        if missing:
            raise KeyError(name)


class Texts(Items):
    """The same items with their values as text: getting decodes the stored UTF-16
    (UnicodeDecodeError for an odd number of bytes), setting takes str only."""

    def _read(self, item: MetaData) -> str:  # type: ignore[override]
        return item.Text

    def __setitem__(self, name: str, value: str) -> None:  # type: ignore[override]
        if not isinstance(value, str):
            raise TypeError(f"a text item's value is str, not {type(value).__name__}")
        super().__setitem__(name, value)
