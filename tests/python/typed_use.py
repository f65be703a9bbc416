"""Every public name of quarrow2 used as its stubs say, for mypy --strict (test_objects runs
it there) and run on a real file (test_objects calls use()); returns what it read."""
import errno
import os
from typing import Callable, List, Optional, Tuple

import quarrow2


def use(path: str) -> List[object]:
    seen: List[object] = [quarrow2.__version__, quarrow2.DEFAULT_WAIT]
    f = quarrow2.File()
    seen.append(f.SetFile(path) and f.Supported and f.Exists)
    item: quarrow2.MetaData = f.Add("Author")
    item.Text = "Jane"
    item.Data = bytearray(item.Data) + b"\x00"
    seen += [item.Name, item.Length, item.Text if item.Length % 2 == 0 else None]
    item.Close()
    with quarrow2.File(os.fsencode(path), wait=0.5) as g, g.Open("Author") as opened:
        opened.Data = memoryview(b"D\x00")
        types: quarrow2.Strings = g.Types
        seen += [types.Count, types.Item(1), types(1), types[0], types[-1:], len(types),
                 types.index("Author"), types.count("Author"), list(types), g.Length, g.wait]
    with open(path, "rb") as descriptor:
        h = quarrow2.File(descriptor, follow_symlinks=True)
        mapping: quarrow2.Items = h.items
        mapping["Bytes"] = b"\x01"
        mapping["Text"] = "T"
        texts: quarrow2.Texts = h.texts
        utf8: quarrow2.TextsUtf8 = h.texts_utf8
        utf8["xdg.tags"] = "work"
        by_name: quarrow2.TextsByName = h.texts_by_name
        names: Tuple[str, ...] = h.Names
        seen += [sorted(mapping), texts["Author"], utf8["xdg.tags"], by_name["xdg.tags"],
                 quarrow2.names_utf8_text("mime_type"), quarrow2.UTF8_NAMES, mapping.get("None"), names]
        h.Open("Bytes").Delete()
        h.Close()
    errors: List[Optional[int]] = []
    calls: List[Callable[[], object]] = [lambda: f.Open("M"), lambda: quarrow2.File().Add("A")]
    for failing in calls:
        try:
            failing()
        except quarrow2.NotFoundError as error:
            errors += [error.errno, error.winerror, error.hresult]
            seen.append((error.source, error.message, error.strerror, error.filename))
        except quarrow2.Error as error:
            errors.append(error.errno)
    for kind in (quarrow2.AccessDeniedError, quarrow2.BusyError, quarrow2.ExistsError):
        errors.append(kind(errno.EACCES, "").errno)
    try:
        del quarrow2.File(path).items["Missing"]
    except quarrow2.MissingItemError as missing:
        errors.append(missing.winerror)
    f.Close()
    return seen + errors
