#include "platform/posix/files/share_locks.h"

#include <fcntl.h>
#include <time.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix/system/errors.h"

namespace quarrow2::platform {
namespace {

// The lock file's regions, all below 2^63, as far as a lock offset reaches; the first 2^60
// bytes stay free. Marks: slots of 8 bytes, the six mark bytes, the claim turn and one
// spare. Named streams, whose values stay below 64 KiB, map their byte-range locks one to
// one onto 1 MiB; main streams onto 2 TiB, indexed by the inode number itself, so that
// files made one after another never share one.
constexpr uint64_t kMarksStart = uint64_t{1} << 60;
constexpr uint64_t kMarkSlotBytes = 8;
constexpr uint64_t kMarkSlots = uint64_t{1} << 57;
constexpr uint64_t kNamedRangesStart = uint64_t{1} << 61;
constexpr uint64_t kNamedRangeBytes = uint64_t{1} << 20;
constexpr uint64_t kNamedRangeSlots = uint64_t{1} << 41;
constexpr uint64_t kMainRangesStart = uint64_t{1} << 62;
constexpr uint64_t kMainRangeBytes = uint64_t{1} << 41;
constexpr uint64_t kMainRangeSlots = uint64_t{1} << 21;
// In a slot, six mark bytes: one per access held (H) and one per access refused to others
// (R), in the order R-delete, H-read, R-write, H-write, R-read, H-delete. A claim takes its
// marks and then looks for the marks that refuse it: for the usual claims (reading and
// writing, or reading, each refusing writes and deletion to others) both are one run of
// bytes, so the claim is one lock and one test.
constexpr unsigned kHeldMark[3] = {1, 3, 5};     // read, write, delete
constexpr unsigned kRefusedMark[3] = {4, 2, 0};  // read, write, delete
constexpr off_t kMarkBytes = 6;
constexpr off_t kTurnByte = 6;
// The turn is held for a few calls; one held far longer (a stopped process) refuses the
// claim rather than wait on.
constexpr int kTurnAttempts = 20000;
constexpr long kPauseNanoseconds = 100 * 1000;

uint64_t Mix(uint64_t x) {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ULL;
    x ^= x >> 33;
    return x;
}

// FNV-1a over the stream's name.
uint64_t NameHash(const std::string& attribute) {
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (unsigned char c : attribute) {
        hash ^= c;
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

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
    off_t end() const { return start + length; }
};

// Offsets past the slot's last byte share that byte, which can only make ranges overlap
// that did not.
MappedRange MapRange(LockSlot slot, ByteRange range) {
    const uint64_t area = slot.rangeBytes;
    uint64_t end =
        range.offset + range.length < range.offset ? UINT64_MAX : range.offset + range.length;
    uint64_t first = std::min(range.offset, area - 1);
    uint64_t last = std::max(std::min(end, area), first + 1);
    return {static_cast<off_t>(slot.ranges + first), static_cast<off_t>(last - first)};
}

// Takes the marks, then looks for any mark of another handle that refuses this one; false,
// with the marks withdrawn, when there is one.
bool MarkAndTest(int fd, LockSlot slot, unsigned marks, unsigned conflicts) {
    const bool clear = EveryRun(marks,
                                [&](off_t first, off_t count) {
                                    return SetLock(fd, F_RDLCK, slot.marks + first, count);
                                }) &&
                       EveryRun(conflicts, [&](off_t first, off_t count) {
                           return !OthersHold(fd, slot.marks + first, count);
                       });
    if (!clear) SetLock(fd, F_UNLCK, slot.marks, kMarkBytes);
    return clear;
}

// The stream's claim turn, taken without waiting in the kernel; false when another claim
// keeps it past all patience.
bool TakeTurn(int fd, LockSlot slot) {
    for (int attempt = 0; attempt < kTurnAttempts; ++attempt) {
        if (SetLock(fd, F_WRLCK, slot.marks + kTurnByte, 1)) return true;
        if (errno != EAGAIN && errno != EACCES && errno != EINTR) return false;
        struct timespec pause = {0, kPauseNanoseconds};
        ::nanosleep(&pause, nullptr);
    }
    return false;
}

// A conflict found by the first test is tested again in the stream's claim turn, where it
// is one only when another claim keeps its marks.
DWORD Claim(int fd, LockSlot slot, unsigned access, unsigned share) {
    const unsigned refused = ~share & kEveryAccess;
    const unsigned marks = MarkBits(access, kHeldMark) | MarkBits(refused, kRefusedMark);
    const unsigned conflicts = MarkBits(access, kRefusedMark) | MarkBits(refused, kHeldMark);
    if (MarkAndTest(fd, slot, marks, conflicts)) return 0;
    if (!TakeTurn(fd, slot)) return ERROR_SHARING_VIOLATION;
    const bool granted = MarkAndTest(fd, slot, marks, conflicts);
    SetLock(fd, F_UNLCK, slot.marks + kTurnByte, 1);
    return granted ? 0 : ERROR_SHARING_VIOLATION;
}

}  // namespace

LockSlot LockSlotFor(FileIdentity file, const std::string& attribute) {
    const uint64_t fileKey = file.inode + Mix(file.device);
    const uint64_t streamKey = Mix(Mix(fileKey) ^ NameHash(attribute));
    LockSlot slot;
    slot.marks = static_cast<off_t>(kMarksStart + (streamKey % kMarkSlots) * kMarkSlotBytes);
    if (attribute.empty()) {
        slot.ranges =
            static_cast<off_t>(kMainRangesStart + (fileKey % kMainRangeSlots) * kMainRangeBytes);
        slot.rangeBytes = kMainRangeBytes;
    } else {
        // Other bits of the key than the marks' slot.
        slot.ranges = static_cast<off_t>(kNamedRangesStart +
                                         ((streamKey >> 23) % kNamedRangeSlots) * kNamedRangeBytes);
        slot.rangeBytes = kNamedRangeBytes;
    }
    return slot;
}

DWORD AcquireShareMode(LockHolder& holder, LockSlot slot, unsigned access, unsigned share) {
    access &= kEveryAccess;
    // As on Windows, a handle without data access neither asks for nor refuses anything.
    if (!access) return 0;
    if (DWORD error = holder.Open()) return error;
    DWORD error = Claim(holder.fd(), slot, access, share);
    // A refused handle gives back the marks it took, and with them the descriptor.
    if (error) holder.Release();
    return error;
}

// A write lock, so that of two handles locking the same bytes at once exactly one succeeds.
DWORD LockByteRange(int fd, LockSlot slot, ByteRange range) {
    MappedRange mapped = MapRange(slot, range);
    if (SetLock(fd, F_WRLCK, mapped.start, mapped.length)) return 0;
    return errno == EAGAIN || errno == EACCES ? ERROR_LOCK_VIOLATION : Win32ErrorFromErrno(errno);
}

void UnlockByteRange(int fd, LockSlot slot, ByteRange range,
                     const std::vector<ByteRange>& stillHeld) {
    const MappedRange mapped = MapRange(slot, range);
    // Only ranges past the end of the area share bytes after mapping; the bytes they still
    // need are never given back, so no other handle can take them meanwhile.
    std::vector<MappedRange> kept;
    for (const ByteRange& other : stillHeld) {
        if (other.length == 0) continue;
        const MappedRange held = MapRange(slot, other);
        const off_t start = std::max(held.start, mapped.start);
        const off_t end = std::min(held.end(), mapped.end());
        if (start < end) kept.push_back({start, end - start});
    }
    std::sort(kept.begin(), kept.end(),
              [](const MappedRange& a, const MappedRange& b) { return a.start < b.start; });
    off_t from = mapped.start;
    for (const MappedRange& held : kept) {
        if (held.start > from) SetLock(fd, F_UNLCK, from, held.start - from);
        from = std::max(from, held.end());
    }
    if (from < mapped.end()) SetLock(fd, F_UNLCK, from, mapped.end() - from);
}

bool ByteRangeLockedByOthers(int fd, LockSlot slot, ByteRange range) {
    MappedRange mapped = MapRange(slot, range);
    return OthersHold(fd, mapped.start, mapped.length);
}

}  // namespace quarrow2::platform
