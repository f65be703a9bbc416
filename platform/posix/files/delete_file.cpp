// DeleteFileW: removes one named stream of a file, or the file itself.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"
#include "platform/posix/files/file_access.h"
#include "platform/posix/files/share_locks.h"
#include "platform/posix/files/stream_path.h"
#include "platform/posix/files/stream_value.h"
#include "platform/posix/system/errors.h"

namespace quarrow2::posix {
namespace {

// Removal is an open for DELETE that lets everyone else in: it fails only against handles
// that refuse to share deletion.
DWORD ClaimDeletion(int fd, const std::string& attribute) {
    return AcquireShareMode(fd, LockSlotFor(attribute), kDeleteAccess, kEveryAccess);
}

DWORD DeleteNamedStream(const StreamPath& path) {
    struct stat st;
    if (::fstat(path.file_fd.get(), &st) != 0) return Win32ErrorFromErrno(errno);
    const bool directory = S_ISDIR(st.st_mode);
    if (!directory && !S_ISREG(st.st_mode)) return ERROR_ACCESS_DENIED;
    UniqueFd fd;
    if (DWORD error = ReopenDescriptor(path.file_fd.get(), directory, false, fd)) return error;
    uint64_t size = 0;
    if (DWORD error = StoredValueSize(fd.get(), path.attribute, size)) return error;
    if (DWORD error = CheckMayChange(fd.get())) return error;
    if (DWORD error = ClaimDeletion(fd.get(), path.attribute)) return error;
    if (::fremovexattr(fd.get(), path.attribute.c_str()) != 0) return Win32ErrorFromErrno(errno);
    return 0;
}

DWORD DeleteWholeFile(const StreamPath& path) {
    // The name itself goes, so a symbolic link is removed, not what it points to.
    UniqueFd link(::open(path.file.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!link.valid()) return Win32ErrorFromErrno(errno);
    struct stat st;
    if (::fstat(link.get(), &st) != 0) return Win32ErrorFromErrno(errno);
    if (S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
    UniqueFd fd;
    // Only regular files can be held open by handles; one that cannot be read was never
    // opened through this layer by this caller, and its removal is up to the folder's
    // permissions alone.
    if (S_ISREG(st.st_mode) && ReopenDescriptor(link.get(), false, false, fd) == 0)
        if (DWORD error = ClaimDeletion(fd.get(), std::string())) return error;
    if (::unlink(path.file.c_str()) != 0) return Win32ErrorFromErrno(errno);
    return 0;
}

BOOL Delete(LPCWSTR name) {
    StreamPath path;
    if (DWORD error = ResolveStreamPath(name, path)) return FailWith(error, FALSE);
    // A missing file has no streams; a dangling symbolic link still has its own name.
    if (path.named() && !path.file_fd.valid()) return FailWith(ERROR_FILE_NOT_FOUND, FALSE);
    DWORD error = path.named() ? DeleteNamedStream(path) : DeleteWholeFile(path);
    if (error) return FailWith(error, FALSE);
    return TRUE;
}

}  // namespace
}  // namespace quarrow2::posix

using namespace quarrow2::posix;

BOOL DeleteFileW(LPCWSTR lpFileName) {
    return Guarded<BOOL>(FALSE, [&] { return Delete(lpFileName); });
}
