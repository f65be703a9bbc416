"""The exceptions of quarrow2. Every failure the library reports is an Error, an OSError whose
errno and class follow the Windows code behind its message (winerror, which the library
leaves as the thread's last error on Linux as on Windows), never its English text."""
import errno
from typing import Dict, Optional, Type, Union

E_FAIL = -0x7FFFBFFB  # 0x80004005 as a signed HRESULT: the status of IFile's failures
ERROR_NOT_FOUND = 1168  # the file is there, without the item (IFile2's reads)


class Error(OSError):
    """A failure the library reported. ``strerror``, ``message`` and ``str()`` are its whole
    message (the fixed text, then the system's); ``winerror`` the Windows code behind it (None
    when the message carries no system text) and ``errno`` the matching errno; ``filename``
    the file as given; ``hresult`` the status (signed, as HRESULTs are: E_FAIL for the
    automation calls, HRESULT_FROM_WIN32 of the cause for ``Items``, ``ReadText`` and
    ``ReadData``, and so for the mappings' reads) and ``source`` the ProgID of the reporting
    class, ``Quarrow2.File.1`` or ``Quarrow2.MetaData.1``."""

    hresult: int = E_FAIL
    source: str = ""
    winerror: Optional[int] = None

    @property
    def message(self) -> str:
        return str(self)

    def __str__(self) -> str:
        return self.strerror if self.strerror is not None else super().__str__()


class NotFoundError(Error, FileNotFoundError):
    """The file, a folder on its path, or the item is missing."""


class AccessDeniedError(Error, PermissionError):
    """The file system refuses the access (permissions, an immutable file, a FIFO, socket or
    device, or a link where a file is needed)."""


class BusyError(Error, BlockingIOError):
    """Another handle holds the item for the moment (a sharing or lock violation). The
    mappings wait for it (``File(path, wait=SECONDS)``) before they raise this."""


class ExistsError(Error, FileExistsError):
    """Something of that name is there already."""


class MissingItemError(NotFoundError, KeyError):
    """A mapping's key that the file does not have: a KeyError as mappings raise, and the
    library's FileNotFoundError with its message and codes."""


# The Windows codes the library reports, and the errno Python's os gives for the same cause
# on Linux. Sharing and lock violations are EAGAIN: the item is busy, try again.
ERRNO_OF_WINERROR: Dict[int, int] = {
    1: errno.EINVAL, 2: errno.ENOENT, 3: errno.ENOENT, 4: errno.EMFILE, 5: errno.EACCES,
    6: errno.EBADF, 8: errno.ENOMEM, 10: errno.EINVAL, 14: errno.ENOMEM, 19: errno.EROFS, 30: errno.EIO,
    31: errno.EIO, 32: errno.EAGAIN, 33: errno.EAGAIN, 50: errno.EOPNOTSUPP, 80: errno.EEXIST,
    87: errno.EINVAL, 112: errno.ENOSPC, 123: errno.EINVAL, 183: errno.EEXIST,
    206: errno.ENAMETOOLONG, 223: errno.E2BIG, 277: errno.ENOSPC, 998: errno.EFAULT,
    1117: errno.EIO, 1168: errno.ENOENT, 1816: errno.EDQUOT, 1921: errno.ELOOP,
}
CLASS_OF_ERRNO: Dict[int, Type[Error]] = {
    errno.ENOENT: NotFoundError, errno.EACCES: AccessDeniedError, errno.EAGAIN: BusyError,
    errno.EEXIST: ExistsError,
}

Filename = Union[str, bytes, int, None]


def library_error(message: str, hresult: int, source: str, winerror: int,
                  filename: Filename, kind: Optional[Type[Error]] = None) -> Error:
    """The exception for a failure the library reported (the extension raises what this
    makes); `kind` overrides the class the code gives."""
    number = ERRNO_OF_WINERROR.get(winerror)
    cls = kind if kind is not None else CLASS_OF_ERRNO.get(number or 0, Error)
    error = cls(number, message, filename)
    error.hresult, error.source, error.winerror = hresult, source, winerror or None
    return error


for _class in (Error, NotFoundError, AccessDeniedError, BusyError, ExistsError, MissingItemError):
    _class.__module__ = "quarrow2"  # as the package offers them


def missing_item(error: NotFoundError) -> MissingItemError:
    """The same failure as a mapping's missing key."""
    return library_error(error.message, error.hresult, error.source, error.winerror or 0,
                         error.filename, MissingItemError)  # type: ignore[return-value]
