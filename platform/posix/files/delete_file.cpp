// DeleteFileW: removes one named stream of a file, and never the file itself.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"
#include "platform/posix/files/file_access.h"
#include "platform/posix/files/share_locks.h"
#include "platform/posix/files/stream_layout.h"
#include "platform/posix/files/stream_path.h"
#include "platform/posix/files/stream_value.h"
#include "platform/posix/system/errors.h"

namespace quarrow2::platform {
namespace {

// Removal is an open for DELETE that lets everyone else in: it fails only against handles
// that refuse to share deletion. The claim lasts as long as `holder`.
DWORD ClaimDeletion(LockHolder& holder, const struct stat& st, const std::string& attribute) {
    return AcquireShareMode(holder, LockSlotFor(IdentityOf(st), attribute), kDeleteAccess,
                            kEveryAccess);
}

DWORD DeleteNamedStream(StreamPath& path) {
    if (DWORD error = FileStat(path)) return error;
    const struct stat& st = path.file_stat;
    const bool directory = S_ISDIR(st.st_mode);
    if (!directory && !S_ISREG(st.st_mode)) return ERROR_ACCESS_DENIED;
    UniqueFd fd;
    if (DWORD error = ReopenDescriptor(path.file_fd.get(), directory, false, fd)) return error;
    uint64_t size = 0;
    if (DWORD error = StoredValueSize(fd.get(), path.attribute, size)) return error;
    if (DWORD error = CheckMayChange(fd.get())) return error;
    LockHolder holder;
    if (DWORD error = ClaimDeletion(holder, st, path.attribute)) return error;
    if (::fremovexattr(fd.get(), path.attribute.c_str()) != 0) return Win32ErrorFromErrno(errno);
    return 0;
}

BOOL Delete(LPCWSTR name) {
    StreamPath path;
    if (DWORD error = ResolveStreamPath(name, path)) return FailWith(error, FALSE);
    if (DWORD error = PlaceInLayout(path)) return FailWith(error, FALSE);
    // Only items are ever removed here; a file itself is not this layer's to remove.
    if (!path.named()) return FailWith(ERROR_ACCESS_DENIED, FALSE);
    if (!path.file_fd.valid()) return FailWith(ERROR_FILE_NOT_FOUND, FALSE);
    if (DWORD error = DeleteNamedStream(path)) return FailWith(error, FALSE);
    return TRUE;
}

}  // namespace
}  // namespace quarrow2::platform

using namespace quarrow2::platform;

BOOL DeleteFileW(LPCWSTR lpFileName) {
    return Guarded<BOOL>(FALSE, [&] { return Delete(lpFileName); });
}
