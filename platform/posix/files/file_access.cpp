#include "platform/posix/files/file_access.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/files/stream_path.h"
#include "platform/posix/system/errors.h"

namespace quarrow2::platform {

DWORD ReopenDescriptor(int pathFd, bool directory, bool writable, UniqueFd& out) {
    int mode = directory ? O_RDONLY | O_DIRECTORY : writable ? O_RDWR : O_RDONLY;
    int fd = ::open(DescriptorPath(pathFd).c_str(), mode | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        // The link of an open descriptor is always there, unless /proc is not mounted.
        if (errno == ENOENT) return ERROR_NOT_SUPPORTED;
        return Win32ErrorFromErrno(errno);
    }
    out.reset(fd);
    return 0;
}

DWORD CheckMayChange(int fd) {
    // The descriptor itself answers on kernels with faccessat2 (5.8 on); older ones refuse
    // the flag, and its /proc link answers the same question there at the cost of a lookup.
    int answer = ::faccessat(fd, "", W_OK, AT_EACCESS | AT_EMPTY_PATH);
    if (answer != 0 && (errno == EINVAL || errno == ENOSYS))
        answer = ::faccessat(AT_FDCWD, DescriptorPath(fd).c_str(), W_OK, AT_EACCESS);
    if (answer == 0) return 0;
    if (errno == EACCES || errno == EPERM || errno == ETXTBSY) return ERROR_ACCESS_DENIED;
    return Win32ErrorFromErrno(errno);
}

}  // namespace quarrow2::platform
