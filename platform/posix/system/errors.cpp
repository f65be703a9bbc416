// The thread's last system error and the translation of the system's own errors into it.

#include <cerrno>

#include "platform/platform.h"
#include "platform/posix/system/errors.h"

namespace quarrow2::platform {

DWORD Win32ErrorFromErrno(int err) {
    switch (err) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
        case ENODATA:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        // An immutable file refuses changes the way a missing permission does.
        case EACCES:
        case EPERM:
        case EISDIR:
            return ERROR_ACCESS_DENIED;
        // What Windows says of a volume that takes no writes at all.
        case EROFS:
            return ERROR_WRITE_PROTECT;
        case ENAMETOOLONG:
        case ERANGE:
            return ERROR_FILENAME_EXCED_RANGE;
        case ELOOP:
            return ERROR_CANT_RESOLVE_FILENAME;
        case ENOSPC:
            return ERROR_DISK_FULL;
        case EDQUOT:
            return ERROR_NOT_ENOUGH_QUOTA;
        case E2BIG:
        case EFBIG:
            return ERROR_FILE_TOO_LARGE;
        case EOPNOTSUPP:
            return ERROR_NOT_SUPPORTED;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case EEXIST:
            return ERROR_FILE_EXISTS;
        case EBUSY:
        case ETXTBSY:
            return ERROR_SHARING_VIOLATION;
        case EAGAIN:
            return ERROR_LOCK_VIOLATION;
        case EFAULT:
            return ERROR_NOACCESS;
        case EIO:
            return ERROR_IO_DEVICE;
        default:
            return ERROR_GEN_FAILURE;
    }
}

}  // namespace quarrow2::platform

// The thread's last system error, as GetLastError and SetLastError keep it.
namespace {

thread_local DWORD last_error = ERROR_SUCCESS;

}  // namespace

DWORD GetLastError() { return last_error; }

void SetLastError(DWORD dwErrCode) { last_error = dwErrCode; }
