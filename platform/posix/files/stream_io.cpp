// Size, file pointer, reads, writes and the end of a stream, through one handle.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "platform/platform.h"
#include "platform/posix/files/file_access.h"
#include "platform/posix/files/handle_table.h"
#include "platform/posix/files/positional_io.h"
#include "platform/posix/files/stream_content.h"
#include "platform/posix/system/errors.h"

namespace quarrow2::platform {
namespace {

DWORD SizeOf(FileObject& file, uint64_t& size) {
    size = 0;
    if (file.named()) return ContentSize(file, size);
    if (file.directory) return 0;
    struct stat st;
    if (::fstat(file.fd.get(), &st) != 0) return Win32ErrorFromErrno(errno);
    size = static_cast<uint64_t>(st.st_size);
    return 0;
}

// Locks are mandatory: no handle reads or writes a range that another one has locked.
bool LockedByOthers(const FileObject& file, uint64_t offset, uint64_t length) {
    return !InsideOwnLock(file, offset, length) &&
           ByteRangeLockedByOthers(file.lock.fd(), file.slot, ByteRange{offset, length});
}

DWORD FileSize(HANDLE hFile, LPDWORD high) {
    std::shared_ptr<FileObject> file = FindHandle(hFile);
    if (!file) return INVALID_FILE_SIZE;
    std::lock_guard<std::mutex> guard(file->mutex);
    uint64_t size = 0;
    if (DWORD error = SizeOf(*file, size)) return FailWith(error, INVALID_FILE_SIZE);
    if (high) *high = static_cast<DWORD>(size >> 32);
    // A size whose low half looks like the failure value says so through the last error.
    if (static_cast<DWORD>(size) == INVALID_FILE_SIZE) SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size);
}

DWORD MovePointer(HANDLE hFile, LONG low, PLONG high, DWORD method) {
    std::shared_ptr<FileObject> file = FindHandle(hFile);
    if (!file) return INVALID_SET_FILE_POINTER;
    std::lock_guard<std::mutex> guard(file->mutex);
    int64_t distance =
        high ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<DWORD>(*high)) << 32) |
                                    static_cast<DWORD>(low))
             : static_cast<int64_t>(low);
    uint64_t origin = 0;
    switch (method) {
        case FILE_BEGIN:
            break;
        case FILE_CURRENT:
            origin = file->pointer;
            break;
        case FILE_END:
            if (DWORD error = SizeOf(*file, origin))
                return FailWith(error, INVALID_SET_FILE_POINTER);
            break;
        default:
            return FailWith(ERROR_INVALID_PARAMETER, INVALID_SET_FILE_POINTER);
    }
    int64_t target = 0;
    if (__builtin_add_overflow(static_cast<int64_t>(origin), distance, &target) || target < 0)
        return FailWith(ERROR_NEGATIVE_SEEK, INVALID_SET_FILE_POINTER);
    // Without a high half the caller could not learn a position past 32 bits.
    if (!high && target > static_cast<int64_t>(UINT32_MAX))
        return FailWith(ERROR_INVALID_PARAMETER, INVALID_SET_FILE_POINTER);
    file->pointer = static_cast<uint64_t>(target);
    if (high) *high = static_cast<LONG>(static_cast<uint64_t>(target) >> 32);
    if (static_cast<DWORD>(target) == INVALID_SET_FILE_POINTER) SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(target);
}

BOOL Read(HANDLE hFile, LPVOID buffer, DWORD size, LPDWORD bytesRead, LPOVERLAPPED overlapped) {
    if (bytesRead) *bytesRead = 0;
    if (overlapped) return FailWith(ERROR_INVALID_PARAMETER, FALSE);
    std::shared_ptr<FileObject> file = FindHandle(hFile);
    if (!file) return FALSE;
    std::lock_guard<std::mutex> guard(file->mutex);
    if (!(file->access & kReadAccess)) return FailWith(ERROR_ACCESS_DENIED, FALSE);
    if (file->directory) return FailWith(ERROR_INVALID_FUNCTION, FALSE);
    if (size == 0) return TRUE;
    if (!buffer) return FailWith(ERROR_NOACCESS, FALSE);
    if (LockedByOthers(*file, file->pointer, size)) return FailWith(ERROR_LOCK_VIOLATION, FALSE);
    size_t count = 0;
    DWORD error = file->named() ? ReadContent(*file, file->pointer, buffer, size, count)
                                : ReadAt(file->fd.get(), file->pointer, buffer, size, count);
    if (error) return FailWith(error, FALSE);
    file->pointer += count;
    if (bytesRead) *bytesRead = static_cast<DWORD>(count);
    return TRUE;
}

// A handle without write access refuses writes; on a read-only mount that is the reason
// worth naming, as no handle could write there.
DWORD WriteRefusal(const FileObject& file) {
    return CheckMayChange(file.fd.get()) == ERROR_WRITE_PROTECT ? ERROR_WRITE_PROTECT
                                                                : ERROR_ACCESS_DENIED;
}

BOOL Write(HANDLE hFile, LPCVOID buffer, DWORD size, LPDWORD bytesWritten,
           LPOVERLAPPED overlapped) {
    if (bytesWritten) *bytesWritten = 0;
    if (overlapped) return FailWith(ERROR_INVALID_PARAMETER, FALSE);
    std::shared_ptr<FileObject> file = FindHandle(hFile);
    if (!file) return FALSE;
    std::lock_guard<std::mutex> guard(file->mutex);
    if (!(file->access & kWriteAccess)) return FailWith(WriteRefusal(*file), FALSE);
    if (file->directory) return FailWith(ERROR_INVALID_FUNCTION, FALSE);
    if (size == 0) return TRUE;
    if (!buffer) return FailWith(ERROR_NOACCESS, FALSE);
    if (LockedByOthers(*file, file->pointer, size)) return FailWith(ERROR_LOCK_VIOLATION, FALSE);
    DWORD error = file->named() ? WriteContent(*file, file->pointer,
                                               static_cast<const unsigned char*>(buffer), size)
                                : WriteAt(file->fd.get(), file->pointer, buffer, size);
    if (error) return FailWith(error, FALSE);
    file->pointer += size;
    if (bytesWritten) *bytesWritten = size;
    return TRUE;
}

BOOL SetEnd(HANDLE hFile) {
    std::shared_ptr<FileObject> file = FindHandle(hFile);
    if (!file) return FALSE;
    std::lock_guard<std::mutex> guard(file->mutex);
    if (!(file->access & kWriteAccess)) return FailWith(WriteRefusal(*file), FALSE);
    if (file->directory) return FailWith(ERROR_INVALID_FUNCTION, FALSE);
    if (file->named()) {
        if (DWORD error = StoreContentEndingAt(*file, file->pointer)) return FailWith(error, FALSE);
    } else if (::ftruncate(file->fd.get(), static_cast<off_t>(file->pointer)) != 0) {
        return FailWith(Win32ErrorFromErrno(errno), FALSE);
    }
    return TRUE;
}

}  // namespace
}  // namespace quarrow2::platform

using namespace quarrow2::platform;

DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    return Guarded<DWORD>(INVALID_FILE_SIZE, [&] { return FileSize(hFile, lpFileSizeHigh); });
}

DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                     DWORD dwMoveMethod) {
    return Guarded<DWORD>(INVALID_SET_FILE_POINTER, [&] {
        return MovePointer(hFile, lDistanceToMove, lpDistanceToMoveHigh, dwMoveMethod);
    });
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
    return Guarded<BOOL>(FALSE, [&] {
        return Read(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped);
    });
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    return Guarded<BOOL>(FALSE, [&] {
        return Write(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten, lpOverlapped);
    });
}

BOOL SetEndOfFile(HANDLE hFile) {
    return Guarded<BOOL>(FALSE, [&] { return SetEnd(hFile); });
}
