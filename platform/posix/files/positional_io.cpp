#include "platform/posix/files/positional_io.h"

#include <unistd.h>

#include <cerrno>

#include "platform/posix/system/errors.h"

namespace quarrow2::platform {

DWORD ReadAt(int fd, uint64_t offset, void* buffer, size_t size, size_t& count) {
    count = 0;
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (count < size) {
        ssize_t got = ::pread(fd, bytes + count, size - count, static_cast<off_t>(offset + count));
        if (got < 0) {
            if (errno == EINTR) continue;
            return Win32ErrorFromErrno(errno);
        }
        if (got == 0) break;
        count += static_cast<size_t>(got);
    }
    return 0;
}

DWORD WriteAt(int fd, uint64_t offset, const void* buffer, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    for (size_t done = 0; done < size;) {
        ssize_t put = ::pwrite(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
        if (put < 0) {
            if (errno == EINTR) continue;
            return Win32ErrorFromErrno(errno);
        }
        done += static_cast<size_t>(put);
    }
    return 0;
}

}  // namespace quarrow2::platform
