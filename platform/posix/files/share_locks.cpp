#include "platform/posix/files/share_locks.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix/system/errors.h"

namespace quarrow2::posix {
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
// In a slot: one byte per access held, then one per access refused to others.
constexpr off_t kHeldMarks = 0;
constexpr off_t kRefusedMarks = 3;
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

// Calls `visit(first, count)` for each run of adjacent access bits in `kinds`.
template <class Visit>
bool EveryRun(unsigned kinds, Visit visit) {
    for (off_t bit = 0; bit < 3;) {
        if (!(kinds & (1u << bit))) {
            ++bit;
            continue;
        }
        off_t first = bit;
        while (bit < 3 && (kinds & (1u << bit))) ++bit;
        if (!visit(first, bit - first)) return false;
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

// Takes the marks and checks the others', in the turn. ERROR_FILE_NOT_FOUND when the lock
// file turns out to have been removed before the turn came.
DWORD ClaimInTurn(LockFile& lock, LockSlot slot, unsigned access, unsigned share) {
    const int fd = lock.fd();
    ClaimTurn turn(fd, true);
    if (!turn.held()) return ERROR_SHARING_VIOLATION;
    if (DWORD error = lock.CheckStillNamed()) return error;
    const unsigned refused = ~share & kEveryAccess;
    bool taken = EveryRun(access,
                          [&](off_t first, off_t count) {
                              return SetLock(fd, F_RDLCK, slot.base + kHeldMarks + first, count);
                          }) &&
                 EveryRun(refused, [&](off_t first, off_t count) {
                     return SetLock(fd, F_RDLCK, slot.base + kRefusedMarks + first, count);
                 });
    bool clear = taken &&
                 EveryRun(access,
                          [&](off_t first, off_t count) {
                              return !OthersHold(fd, slot.base + kRefusedMarks + first, count);
                          }) &&
                 EveryRun(refused, [&](off_t first, off_t count) {
                     return !OthersHold(fd, slot.base + kHeldMarks + first, count);
                 });
    if (clear) return 0;
    SetLock(fd, F_UNLCK, slot.base, kMarkBytes);
    return ERROR_SHARING_VIOLATION;
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

DWORD AcquireShareMode(LockFile& lock, int fileFd, LockSlot slot, unsigned access, unsigned share) {
    access &= kEveryAccess;
    // As on Windows, a handle without data access neither asks for nor refuses anything.
    if (!access) return 0;
    // A lock file removed by a closing handle between opening and the turn is opened anew.
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (!lock.valid())
            if (DWORD error = lock.Open(fileFd)) return error;
        DWORD error = ClaimInTurn(lock, slot, access, share);
        // A refused handle holds no lock, so others may remove its lock file and make a
        // new one under the name: it gives the descriptor up now, and so never removes
        // the new one when it closes.
        if (error && error != ERROR_FILE_NOT_FOUND) lock.Forget();
        if (error != ERROR_FILE_NOT_FOUND) return error;
        lock.Forget();
    }
    return ERROR_SHARING_VIOLATION;
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

}  // namespace quarrow2::posix
