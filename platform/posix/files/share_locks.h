// Share modes and byte-range locks among the handles of every process that uses the same
// share-mode store (lock_store.h). A stream's marks, its claim turn and its byte-range locks
// are open-file-description locks at the stream's slot of the store's lock file; they go
// with the handle's descriptor, also when a process dies. docs/design/sharing.md gives the
// reasoning: the slots, why a claim marks before it tests, and the claim turn that makes
// one of two racing conflicting claims win.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/files/lock_store.h"

namespace quarrow2::platform {

// Kinds of access, with the bit values of the matching FILE_SHARE_* flags.
enum AccessKind : unsigned {
    kReadAccess = 1,
    kWriteAccess = 2,
    kDeleteAccess = 4,
};
constexpr unsigned kEveryAccess = kReadAccess | kWriteAccess | kDeleteAccess;

// The file a claim is on, as fstat names it.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
};
inline FileIdentity IdentityOf(const struct stat& st) {
    return FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

// Where one stream of one file keeps its marks (then its claim turn) and its byte-range
// locks in the lock file. Derived from the file's device and inode numbers and the stream's
// name alone; two streams that meet at a slot only ever cause a refusal too many.
struct LockSlot {
    off_t marks = 0;
    off_t ranges = 0;
    uint64_t rangeBytes = 0;
};
LockSlot LockSlotFor(FileIdentity file, const std::string& attribute);

// Takes the marks of a handle that wants `access` and lets others have `share`, through
// `holder`, which it opens (and which keeps them for as long as the handle keeps the file
// open). ERROR_SHARING_VIOLATION, with no mark left behind and `holder` let go of, when a
// handle on the same stream refuses that access or holds an access this one refuses; the
// store's own error when there is no usable store. A handle without data access takes part
// in nothing and opens nothing.
DWORD AcquireShareMode(LockHolder& holder, LockSlot slot, unsigned access, unsigned share);

// A byte range of a stream, as LockFile takes it.
struct ByteRange {
    uint64_t offset = 0;
    uint64_t length = 0;
};

// The functions below take the descriptor of a handle's holder.

// Locks [offset, offset + length) of the stream for `fd` alone, failing at once with
// ERROR_LOCK_VIOLATION when another handle holds any part of it. `length` is not 0, and
// `fd` holds no lock that overlaps the range.
DWORD LockByteRange(int fd, LockSlot slot, ByteRange range);
// Gives back `range`, keeping every byte that a range in `stillHeld` needs.
void UnlockByteRange(int fd, LockSlot slot, ByteRange range,
                     const std::vector<ByteRange>& stillHeld);

// True when a handle other than `fd`'s holds a lock on any part of the range, or when
// that cannot be told.
bool ByteRangeLockedByOthers(int fd, LockSlot slot, ByteRange range);

}  // namespace quarrow2::platform
