#include "platform/posix/files/stream_value.h"

#include <sys/statvfs.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/system/errors.h"

namespace quarrow2::platform {
namespace {

// A value that keeps growing between the size query and the read is given up on after
// this many rounds.
constexpr int kReadRounds = 64;

}  // namespace

DWORD StoredValueSize(int fd, const std::string& attribute, uint64_t& size, StreamLayout layout) {
    ssize_t n = ::fgetxattr(fd, attribute.c_str(), nullptr, 0);
    if (n < 0) return Win32ErrorFromErrno(errno);
    size = ContentSizeOf(layout, static_cast<uint64_t>(n));
    return 0;
}

DWORD ReadStoredValue(int fd, const std::string& attribute, std::vector<unsigned char>& value,
                      StreamLayout layout) {
    for (int round = 0; round < kReadRounds; ++round) {
        ssize_t size = ::fgetxattr(fd, attribute.c_str(), nullptr, 0);
        if (size < 0) return Win32ErrorFromErrno(errno);
        value.resize(static_cast<size_t>(size));
        // A zero-sized buffer would turn the read into another size query.
        if (size == 0) return 0;
        ssize_t got = ::fgetxattr(fd, attribute.c_str(), value.data(), value.size());
        if (got >= 0) {
            value.resize(static_cast<size_t>(ContentSizeOf(layout, static_cast<uint64_t>(got))));
            return 0;
        }
        if (errno != ERANGE) return Win32ErrorFromErrno(errno);
    }
    return ERROR_READ_FAULT;
}

namespace {

// A value stored with a suffix cannot be read straight into a buffer sized for the content.
DWORD ReadThroughCopy(int fd, const std::string& attribute, void* buffer, size_t capacity,
                      size_t& count, bool& fits, StreamLayout layout) {
    std::vector<unsigned char> value;
    if (DWORD error = ReadStoredValue(fd, attribute, value, layout)) return error;
    fits = value.size() <= capacity;
    if (fits && !value.empty()) std::memcpy(buffer, value.data(), value.size());
    count = fits ? value.size() : 0;
    return 0;
}

}  // namespace

DWORD ReadStoredValueInto(int fd, const std::string& attribute, void* buffer, size_t capacity,
                          size_t& count, bool& fits, StreamLayout layout) {
    count = 0;
    fits = true;
    if (StoredSuffixBytes(layout))
        return ReadThroughCopy(fd, attribute, buffer, capacity, count, fits, layout);
    if (capacity == 0) {
        uint64_t size = 0;
        DWORD error = StoredValueSize(fd, attribute, size);
        fits = size == 0;
        return error;
    }
    ssize_t got = ::fgetxattr(fd, attribute.c_str(), buffer, capacity);
    if (got >= 0) {
        count = static_cast<size_t>(got);
        return 0;
    }
    if (errno == ERANGE) {
        fits = false;
        return 0;
    }
    return Win32ErrorFromErrno(errno);
}

DWORD StoreValue(int fd, const std::string& attribute, const unsigned char* data, size_t size,
                 StreamLayout layout) {
    static const unsigned char kNothing = 0;
    std::vector<unsigned char> scratch;
    size_t storedSize = 0;
    const unsigned char* stored =
        StoredForm(layout, size ? data : &kNothing, size, scratch, storedSize);
    if (storedSize > kMaxStreamValue) return ERROR_FILE_TOO_LARGE;
    if (::fsetxattr(fd, attribute.c_str(), stored, storedSize, 0) == 0) return 0;
    return WhyValueWasRefused(fd, errno);
}

DWORD WhyValueWasRefused(int fd, int err) {
    // ext4 without large attributes keeps all of a file's attributes in one block and says
    // ENOSPC when that is full, however much room the disk has.
    struct statvfs volume;
    if (err == ENOSPC && ::fstatvfs(fd, &volume) == 0 && volume.f_bavail > 0)
        return ERROR_EA_TABLE_FULL;
    return Win32ErrorFromErrno(err);
}

}  // namespace quarrow2::platform
