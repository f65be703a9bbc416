#include "platform/posix/files/share_locks.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix/system/errors.h"

namespace quarrow2::platform {
namespace {

// Slots fill [2^62, 2^63) of the lock file, within what a lock offset can reach (the lock
// file's start is free for other uses). The main stream has the first half to itself, so that its
// locks map one to one up to 2 EiB; named streams, whose values stay below 64 KiB, share
// the second half in slots of 1 MiB.
constexpr uint64_t kMainStreamSlot = uint64_t{1} << 62;
constexpr uint64_t kMainStreamSlotSize = uint64_t{1} << 61;
constexpr uint64_t kFirstNamedSlot = kMainStreamSlot + kMainStreamSlotSize;
constexpr uint64_t kNamedSlotSize = uint64_t{1} << 20;
constexpr uint64_t kNamedSlotCount = (uint64_t{1} << 41) - 1;
// In a slot, six mark bytes: one per access held (H) and one per access refused to others
// (R), in the order R-delete, H-read, R-write, H-write, R-read, H-delete. A claim takes its
// marks and then looks for the marks that refuse it: for the usual claims (reading and
// writing, or reading, each refusing writes and deletion to others) both are one run of
// bytes, so the claim is one lock and one test.
constexpr unsigned kHeldMark[3] = {1, 3, 5};     // read, write, delete
constexpr unsigned kRefusedMark[3] = {4, 2, 0};  // read, write, delete
constexpr off_t kMarkBytes = 6;
// Byte-range locks map one to one onto the rest of the slot; offsets beyond it share its
// last byte, which can only make ranges overlap that did not.
constexpr uint64_t kRangeAreaStart = 4096;

bool SetLock(int fd, short type, off_t start, off_t length) {
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = start;
    lock.l_len = length;
    return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

bool OthersHold(int fd, off_t start, off_t length) {
    struct flock probe = {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = start;
    probe.l_len = length;
    if (::fcntl(fd, F_OFD_GETLK, &probe) != 0) return true;
    return probe.l_type != F_UNLCK;
}

// The mark bytes, as bits, of the accesses in `kinds`.
unsigned MarkBits(unsigned kinds, const unsigned (&mark)[3]) {
    unsigned bits = 0;
    for (unsigned kind = 0; kind < 3; ++kind)
        if (kinds & (1u << kind)) bits |= 1u << mark[kind];
    return bits;
}

// Calls `visit(first, count)` for each run of adjacent mark bytes in `bits`.
template <class Visit>
bool EveryRun(unsigned bits, Visit visit) {
    for (off_t byte = 0; byte < kMarkBytes;) {
        if (!(bits & (1u << byte))) {
            ++byte;
            continue;
        }
        off_t first = byte;
        while (byte < kMarkBytes && (bits & (1u << byte))) ++byte;
        if (!visit(first, byte - first)) return false;
    }
    return true;
}

struct MappedRange {
    off_t start;
    off_t length;
};

MappedRange MapRange(LockSlot slot, ByteRange range) {
    const uint64_t area = slot.size - kRangeAreaStart;
    uint64_t end =
        range.offset + range.length < range.offset ? UINT64_MAX : range.offset + range.length;
    uint64_t first = std::min(range.offset, area - 1);
    uint64_t last = std::max(std::min(end, area), first + 1);
    return {static_cast<off_t>(slot.base + kRangeAreaStart + first),
            static_cast<off_t>(last - first)};
}

// Takes the marks, then looks for any mark of another handle that refuses this one; false,
// with the marks withdrawn, when there is one.
bool MarkAndTest(int fd, LockSlot slot, unsigned marks, unsigned conflicts) {
    const bool clear = EveryRun(marks,
                                [&](off_t first, off_t count) {
                                    return SetLock(fd, F_RDLCK, slot.base + first, count);
                                }) &&
                       EveryRun(conflicts, [&](off_t first, off_t count) {
                           return !OthersHold(fd, slot.base + first, count);
                       });
    if (!clear) SetLock(fd, F_UNLCK, slot.base, kMarkBytes);
    return clear;
}

// A conflict found by the first test is tested again in the claim turn, where it is one
// only when another claim keeps its marks.
DWORD Claim(int fd, LockSlot slot, unsigned access, unsigned share) {
    const unsigned refused = ~share & kEveryAccess;
    const unsigned marks = MarkBits(access, kHeldMark) | MarkBits(refused, kRefusedMark);
    const unsigned conflicts = MarkBits(access, kRefusedMark) | MarkBits(refused, kHeldMark);
    if (MarkAndTest(fd, slot, marks, conflicts)) return 0;
    ClaimTurn turn;
    return turn.held() && MarkAndTest(fd, slot, marks, conflicts) ? 0 : ERROR_SHARING_VIOLATION;
}

}  // namespace

LockSlot LockSlotFor(const std::string& attribute) {
    if (attribute.empty())
        return LockSlot{static_cast<off_t>(kMainStreamSlot), kMainStreamSlotSize};
    // FNV-1a, then a final mix so that similar names spread over the slots.
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (unsigned char c : attribute) {
        hash ^= c;
        hash *= 0x100000001b3ULL;
    }
    hash ^= hash >> 33;
    hash *= 0xff51afd7ed558ccdULL;
    hash ^= hash >> 33;
    return LockSlot{static_cast<off_t>(kFirstNamedSlot + (hash % kNamedSlotCount) * kNamedSlotSize),
                    kNamedSlotSize};
}

DWORD AcquireShareMode(LockFile& lock, FileIdentity file, LockSlot slot, unsigned access,
                       unsigned share) {
    access &= kEveryAccess;
    // As on Windows, a handle without data access neither asks for nor refuses anything.
    if (!access) return 0;
    if (DWORD error = lock.Open(file)) return error;
    DWORD error = Claim(lock.fd(), slot, access, share);
    // A refused handle gives back the marks it took, and with them the descriptor.
    if (error) lock.Release();
    return error;
}

DWORD LockByteRange(int fd, LockSlot slot, ByteRange range) {
    MappedRange mapped = MapRange(slot, range);
    if (!SetLock(fd, F_RDLCK, mapped.start, mapped.length)) return ERROR_LOCK_VIOLATION;
    if (OthersHold(fd, mapped.start, mapped.length)) {
        SetLock(fd, F_UNLCK, mapped.start, mapped.length);
        return ERROR_LOCK_VIOLATION;
    }
    return 0;
}

void UnlockByteRange(int fd, LockSlot slot, ByteRange range,
                     const std::vector<ByteRange>& stillHeld) {
    MappedRange mapped = MapRange(slot, range);
    SetLock(fd, F_UNLCK, mapped.start, mapped.length);
    // Only ranges past the end of the area can share bytes after mapping; the kernel has
    // merged such locks into one, so the bytes they still need are taken again.
    for (const ByteRange& other : stillHeld) {
        if (other.length == 0) continue;
        MappedRange kept = MapRange(slot, other);
        if (kept.start < mapped.start + mapped.length && mapped.start < kept.start + kept.length)
            SetLock(fd, F_RDLCK, kept.start, kept.length);
    }
}

bool ByteRangeLockedByOthers(int fd, LockSlot slot, ByteRange range) {
    MappedRange mapped = MapRange(slot, range);
    return OthersHold(fd, mapped.start, mapped.length);
}

}  // namespace quarrow2::platform
