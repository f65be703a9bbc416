// Share modes and byte-range locks among all handles on this machine, kept as
// open-file-description locks in the file's own lock file (lock_files.h), which no other
// program locks: they vanish with the handle's descriptor of it, also when a process dies.
//
// Every lock is a read lock, because lock files are opened read-only. A handle shows
// what it holds by locking a byte and finds the others' marks with F_OFD_GETLK for a write
// lock, which reports any lock of another open file description. Each claim first takes its
// own marks and only then looks for conflicting ones, so two claims that race are never both
// granted; one that finds a conflict tries once more in the claim turn (lock_files.h), so of
// conflicting claims made at the same moment one is granted, as if they had come in turn.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/files/lock_files.h"

namespace quarrow2::platform {

// Kinds of access, with the bit values of the matching FILE_SHARE_* flags.
enum AccessKind : unsigned {
    kReadAccess = 1,
    kWriteAccess = 2,
    kDeleteAccess = 4,
};
constexpr unsigned kEveryAccess = kReadAccess | kWriteAccess | kDeleteAccess;

// The range of one stream in the lock file: its share-mode marks, then its byte-range
// locks. Named streams are told apart by a hash of their names; two names that share a
// slot only ever cause a refusal too many.
struct LockSlot {
    off_t base = 0;
    uint64_t size = 0;
};
LockSlot LockSlotFor(const std::string& attribute);

// Takes the marks of a handle that wants `access` and lets others have `share`, in
// `lock`, which it opens for `file` (and keeps for as long as the handle keeps the file
// open). ERROR_SHARING_VIOLATION, with no mark left behind and `lock` let go of, when a
// handle on the same stream refuses that access or holds an access this one refuses. A
// handle without data access takes part in nothing and opens no lock file.
DWORD AcquireShareMode(LockFile& lock, FileIdentity file, LockSlot slot, unsigned access,
                       unsigned share);

// A byte range of a stream, as LockFile takes it.
struct ByteRange {
    uint64_t offset = 0;
    uint64_t length = 0;
};

// The functions below take the descriptor of a handle's lock file.

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
