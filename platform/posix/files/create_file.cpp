// CreateFileW: opens or creates a file's main stream or one of its named streams.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/files/file_access.h"
#include "platform/posix/files/handle_table.h"
#include "platform/posix/files/share_locks.h"
#include "platform/posix/files/stream_layout.h"
#include "platform/posix/files/stream_path.h"
#include "platform/posix/files/stream_value.h"
#include "platform/posix/system/errors.h"

namespace quarrow2::platform {
namespace {

struct OpenRequest {
    unsigned access = 0;  // AccessKind bits
    unsigned share = 0;   // FILE_SHARE_* bits, the same values
    DWORD disposition = 0;
    bool backupSemantics = false;
    // What a named stream that has to be made holds from the start.
    const unsigned char* initial = nullptr;
    size_t initialBytes = 0;
};

unsigned AccessKindsOf(DWORD desired) {
    unsigned kinds = 0;
    if (desired & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA)) kinds |= kReadAccess;
    if (desired & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA))
        kinds |= kWriteAccess;
    if (desired & (DELETE | GENERIC_ALL)) kinds |= kDeleteAccess;
    return kinds;
}

// Why a symbolic link at `file` leads to no file (its target missing, or a loop of links);
// 0 when there is no such link there.
DWORD WhyLinkLeadsNowhere(const std::string& file) {
    struct stat st;
    if (::stat(file.c_str(), &st) == 0) return 0;
    const int reason = errno;
    if ((reason != ENOENT && reason != ELOOP) || ::lstat(file.c_str(), &st) != 0 ||
        !S_ISLNK(st.st_mode))
        return 0;
    return reason == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_CANT_RESOLVE_FILENAME;
}

DWORD CreateMissingFile(const std::string& file, UniqueFd& out) {
    // O_EXCL: whatever appeared there meanwhile, a FIFO or a device node included, is left
    // alone and never opened. Nor does it follow a symbolic link: one that leads nowhere
    // stays so, and its target, a file the path does not name, is never made.
    int fd =
        ::open(file.c_str(), O_CREAT | O_EXCL | O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (errno == ENOENT) return ERROR_PATH_NOT_FOUND;
        if (errno == EEXIST)
            if (DWORD nowhere = WhyLinkLeadsNowhere(file)) return nowhere;
        return Win32ErrorFromErrno(errno);
    }
    out.reset(fd);
    return 0;
}

DWORD OpenMainStream(int pathFd, FileIdentity identity, bool directory, bool fileIsNew,
                     const OpenRequest& request, FileObject& object, bool& existed) {
    if (directory && !request.backupSemantics) return ERROR_ACCESS_DENIED;
    existed = !fileIsNew;
    const bool writable = !directory && (request.access & kWriteAccess);
    if (DWORD error = ReopenDescriptor(pathFd, directory, writable, object.fd)) return error;
    if (directory && (request.access & kWriteAccess))
        if (DWORD error = CheckMayChange(object.fd.get())) return error;

    object.directory = directory;
    object.slot = LockSlotFor(identity, object.attribute);
    return AcquireShareMode(object.lock, object.slot, request.access, request.share);
}

DWORD OpenNamedStream(int pathFd, FileIdentity identity, bool directory, const OpenRequest& request,
                      FileObject& object, bool& existed) {
    if (DWORD error = ReopenDescriptor(pathFd, directory, false, object.fd)) return error;
    const int fd = object.fd.get();
    if (request.access & (kWriteAccess | kDeleteAccess))
        if (DWORD error = CheckMayChange(fd)) return error;

    uint64_t size = 0;
    DWORD query = StoredValueSize(fd, object.attribute, size, object.layout);
    if (query && query != ERROR_FILE_NOT_FOUND) return query;
    existed = query == 0;
    if (!existed && request.disposition == OPEN_EXISTING) return ERROR_FILE_NOT_FOUND;

    object.slot = LockSlotFor(identity, object.attribute);
    if (DWORD error = AcquireShareMode(object.lock, object.slot, request.access, request.share))
        return error;

    if (!existed) {
        if (DWORD error = RefuseMixing(fd, object.layout)) return error;
        // Made holding its first content, in the layout's form: never seen empty.
        static const unsigned char kNothing = 0;
        std::vector<unsigned char> scratch;
        size_t storedSize = 0;
        const unsigned char* stored =
            StoredForm(object.layout, request.initialBytes ? request.initial : &kNothing,
                       request.initialBytes, scratch, storedSize);
        if (::fsetxattr(fd, object.attribute.c_str(), stored, storedSize, XATTR_CREATE) == 0)
            return 0;
        if (errno != EEXIST) return WhyValueWasRefused(fd, errno);
        // Made by someone else since the query, with whatever they put in.
        existed = true;
    }
    return 0;
}

DWORD OpenResolved(StreamPath& path, bool fileIsNew, const OpenRequest& request, FileObject& object,
                   bool& existed) {
    if (DWORD error = FileStat(path)) return error;
    const struct stat& st = path.file_stat;
    // Only what NTFS would hold carries streams; FIFOs, sockets and devices are never opened.
    const bool directory = S_ISDIR(st.st_mode);
    if (!directory && !S_ISREG(st.st_mode)) return ERROR_ACCESS_DENIED;
    object.attribute = path.attribute;
    object.layout = path.layout;
    object.access = request.access;
    if (!path.named()) object.layoutError = StreamLayoutOf(path, object.layout);
    // The descriptor reopened below is of this same inode, so its slot is named by it.
    const FileIdentity identity = IdentityOf(st);
    if (path.named())
        return OpenNamedStream(path.file_fd.get(), identity, directory, request, object, existed);
    return OpenMainStream(path.file_fd.get(), identity, directory, fileIsNew, request, object,
                          existed);
}

HANDLE OpenFile(LPCWSTR name, DWORD desiredAccess, DWORD shareMode, DWORD disposition, DWORD flags,
                OpenRequest request = {}) {
    // The library opens what exists, or creates what is missing and opens what is there;
    // it never replaces or empties anything through an open.
    if ((disposition != OPEN_EXISTING && disposition != OPEN_ALWAYS) || (shareMode & ~kEveryAccess))
        return FailWith(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    request.access = AccessKindsOf(desiredAccess);
    request.share = shareMode;
    request.disposition = disposition;
    request.backupSemantics = (flags & FILE_FLAG_BACKUP_SEMANTICS) != 0;

    auto object = std::make_shared<FileObject>();
    bool existed = false;
    DWORD error = 0;
    // A second round only when a missing file appeared between the look and the creation.
    for (int round = 0; round < 2; ++round) {
        StreamPath path;
        if ((error = ResolveStreamPath(name, path)) || (error = PlaceInLayout(path))) break;
        // A first content is for a named stream; a file is never made holding one.
        if (request.initialBytes && !path.named()) {
            error = ERROR_INVALID_PARAMETER;
            break;
        }
        bool fileIsNew = false;
        if (!path.file_fd.valid()) {
            if (disposition == OPEN_EXISTING) {
                error = ERROR_FILE_NOT_FOUND;
                break;
            }
            error = CreateMissingFile(path.file, path.file_fd);
            if (error == ERROR_FILE_EXISTS && round == 0) continue;
            if (error) break;
            fileIsNew = true;
        }
        error = OpenResolved(path, fileIsNew, request, *object, existed);
        break;
    }
    if (error) return FailWith(error, INVALID_HANDLE_VALUE);

    HANDLE handle = AddHandle(std::move(object));
    SetLastError(disposition == OPEN_ALWAYS && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

// The file or folder itself, for reading, as a walk of its streams needs it: a folder
// needs no backup semantics here, since on Linux its items are as much the caller's as a
// file's; anything else is refused without being opened.
HANDLE OpenWhole(LPCWSTR name) {
    OpenRequest request;
    request.access = kReadAccess;
    request.share = FILE_SHARE_READ;
    request.disposition = OPEN_EXISTING;
    request.backupSemantics = true;
    auto object = std::make_shared<FileObject>();
    StreamPath path;
    bool existed = false;
    DWORD error = ResolveWholePath(name, path);
    if (!error) error = OpenResolved(path, false, request, *object, existed);
    if (error) return FailWith(error, INVALID_HANDLE_VALUE);
    HANDLE handle = AddHandle(std::move(object));
    SetLastError(ERROR_SUCCESS);
    return handle;
}

}  // namespace
}  // namespace quarrow2::platform

using namespace quarrow2::platform;

HANDLE OpenFileItself(LPCWSTR lpFileName) {
    return Guarded(INVALID_HANDLE_VALUE, [&] { return OpenWhole(lpFileName); });
}

HANDLE CreateStreamHolding(LPCWSTR lpStreamName, DWORD dwDesiredAccess, DWORD dwShareMode,
                           LPCVOID lpInitial, DWORD nInitialBytes) {
    return Guarded(INVALID_HANDLE_VALUE, [&] {
        // The stored form, the layout's suffix included, must fit an attribute.
        if ((nInitialBytes && !lpInitial) || nInitialBytes >= kMaxStreamValue)
            return FailWith(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
        OpenRequest request;
        request.initial = static_cast<const unsigned char*>(lpInitial);
        request.initialBytes = nInitialBytes;
        return OpenFile(lpStreamName, dwDesiredAccess, dwShareMode, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, request);
    });
}

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                   HANDLE) {
    return Guarded(INVALID_HANDLE_VALUE, [&] {
        return OpenFile(lpFileName, dwDesiredAccess, dwShareMode, dwCreationDisposition,
                        dwFlagsAndAttributes);
    });
}
