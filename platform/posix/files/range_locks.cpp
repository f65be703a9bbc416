// LockFile and UnlockFile: exclusive byte-range locks that fail at once, never wait.
#include <algorithm>
#include <mutex>

#include "platform/platform.h"
#include "platform/posix/files/handle_table.h"
#include "platform/posix/files/stream_content.h"
#include "platform/posix/system/errors.h"

namespace quarrow2::platform {
namespace {

ByteRange RangeOf(DWORD offsetLow, DWORD offsetHigh, DWORD lengthLow, DWORD lengthHigh) {
    return ByteRange{(static_cast<uint64_t>(offsetHigh) << 32) | offsetLow,
                     (static_cast<uint64_t>(lengthHigh) << 32) | lengthLow};
}

uint64_t EndOf(const ByteRange& range) {
    uint64_t end = range.offset + range.length;
    return end < range.offset ? UINT64_MAX : end;
}

// Zero-length locks exist, as on Windows, but conflict with nothing.
bool Overlap(const ByteRange& a, const ByteRange& b) {
    return a.length && b.length && a.offset < EndOf(b) && b.offset < EndOf(a);
}

BOOL Lock(HANDLE hFile, ByteRange range) {
    std::shared_ptr<FileObject> file = FindHandle(hFile);
    if (!file) return FALSE;
    std::lock_guard<std::mutex> guard(file->mutex);
    if (!(file->access & (kReadAccess | kWriteAccess))) return FailWith(ERROR_ACCESS_DENIED, FALSE);
    // Locks are exclusive even towards their own handle.
    for (const ByteRange& held : file->locks)
        if (Overlap(held, range)) return FailWith(ERROR_LOCK_VIOLATION, FALSE);
    file->locks.reserve(file->locks.size() + 1);
    if (range.length)
        if (DWORD error = LockByteRange(file->lock.fd(), file->slot, range))
            return FailWith(error, FALSE);
    file->locks.push_back(range);
    return TRUE;
}

BOOL Unlock(HANDLE hFile, ByteRange range) {
    std::shared_ptr<FileObject> file = FindHandle(hFile);
    if (!file) return FALSE;
    std::lock_guard<std::mutex> guard(file->mutex);
    auto found = std::find_if(file->locks.begin(), file->locks.end(), [&](const ByteRange& held) {
        return held.offset == range.offset && held.length == range.length;
    });
    if (found == file->locks.end()) return FailWith(ERROR_NOT_LOCKED, FALSE);
    // What was held back under the lock is stored before anyone else can look there.
    DWORD error = file->named() ? StoreHeldWrites(*file) : 0;
    file->locks.erase(found);
    if (range.length) UnlockByteRange(file->lock.fd(), file->slot, range, file->locks);
    if (error) return FailWith(error, FALSE);
    return TRUE;
}

}  // namespace
}  // namespace quarrow2::platform

using namespace quarrow2::platform;

BOOL LockFile(HANDLE hFile, DWORD dwFileOffsetLow, DWORD dwFileOffsetHigh,
              DWORD nNumberOfBytesToLockLow, DWORD nNumberOfBytesToLockHigh) {
    return Guarded<BOOL>(FALSE, [&] {
        return Lock(hFile, RangeOf(dwFileOffsetLow, dwFileOffsetHigh, nNumberOfBytesToLockLow,
                                   nNumberOfBytesToLockHigh));
    });
}

BOOL UnlockFile(HANDLE hFile, DWORD dwFileOffsetLow, DWORD dwFileOffsetHigh,
                DWORD nNumberOfBytesToUnlockLow, DWORD nNumberOfBytesToUnlockHigh) {
    return Guarded<BOOL>(FALSE, [&] {
        return Unlock(hFile, RangeOf(dwFileOffsetLow, dwFileOffsetHigh, nNumberOfBytesToUnlockLow,
                                     nNumberOfBytesToUnlockHigh));
    });
}
