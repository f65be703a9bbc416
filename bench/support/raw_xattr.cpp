#include "bench/support/raw_xattr.h"

#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "quarrow2/descriptor.h"

namespace quarrow2::bench::raw {
namespace {

constexpr char kUserPrefix[] = "user.";

// The value's bytes as a range of the lock file, from its start.
bool OfdLock(int lockFd, int command, short type, off_t length, struct flock& lock) {
    lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = length;
    return ::fcntl(lockFd, command, &lock) == 0;
}

bool Fail(const char* call, std::string& why) {
    why = std::string(call) + ": " + std::strerror(errno);
    return false;
}

void Fit(std::vector<unsigned char>& buffer, ssize_t size) {
    // Never empty: a zero-sized buffer would turn the read into another size query.
    if (buffer.size() < static_cast<size_t>(size) || buffer.empty())
        buffer.resize(size ? static_cast<size_t>(size) : 1);
}

}  // namespace

bool GetValue(int fd, const std::string& attribute, std::vector<unsigned char>& buffer,
              std::string& why) {
    const ssize_t size = ::fgetxattr(fd, attribute.c_str(), nullptr, 0);
    if (size < 0) return Fail("fgetxattr (size)", why);
    Fit(buffer, size);
    if (::fgetxattr(fd, attribute.c_str(), buffer.data(), static_cast<size_t>(size)) != size)
        return Fail("fgetxattr (value)", why);
    return true;
}

bool PutValue(int fd, const std::string& attribute, const std::string& value, std::string& why) {
    if (::fsetxattr(fd, attribute.c_str(), value.data(), value.size(), 0) != 0)
        return Fail("fsetxattr", why);
    return true;
}

bool ValueSize(int fd, const std::string& attribute, long& size, std::string& why) {
    size = ::fgetxattr(fd, attribute.c_str(), nullptr, 0);
    if (size < 0) return Fail("fgetxattr (size)", why);
    return true;
}

bool ListWithSizes(const std::string& path, std::vector<char>& names, size_t& count, long& total,
                   std::string& why) {
    count = 0;
    total = 0;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return Fail("open", why);
    const ssize_t listSize = ::flistxattr(fd.get(), nullptr, 0);
    if (listSize < 0) return Fail("flistxattr (size)", why);
    if (names.size() < static_cast<size_t>(listSize) + 1)
        names.resize(static_cast<size_t>(listSize) + 1);
    const ssize_t got = ::flistxattr(fd.get(), names.data(), static_cast<size_t>(listSize));
    if (got < 0) return Fail("flistxattr", why);
    for (ssize_t at = 0; at < got;) {
        const char* name = names.data() + at;
        const size_t length = std::strlen(name);
        at += static_cast<ssize_t>(length) + 1;
        if (std::strncmp(name, kUserPrefix, sizeof kUserPrefix - 1) != 0) continue;
        const ssize_t size = ::fgetxattr(fd.get(), name, nullptr, 0);
        if (size < 0) return Fail("fgetxattr (size)", why);
        total += size;
        ++count;
    }
    return true;
}

bool GetValueWithLockCheck(int fd, int lockFd, const std::string& attribute,
                           std::vector<unsigned char>& buffer, std::string& why) {
    const ssize_t size = ::fgetxattr(fd, attribute.c_str(), nullptr, 0);
    if (size < 0) return Fail("fgetxattr (size)", why);
    Fit(buffer, size);
    struct flock probe;
    if (!OfdLock(lockFd, F_OFD_GETLK, F_WRLCK, size ? size : 1, probe))
        return Fail("F_OFD_GETLK", why);
    if (probe.l_type != F_UNLCK) return why = "the range is locked", false;
    if (::fgetxattr(fd, attribute.c_str(), buffer.data(), static_cast<size_t>(size)) != size)
        return Fail("fgetxattr (value)", why);
    return true;
}

bool PutValueLocked(int fd, int lockFd, const std::string& attribute, const std::string& value,
                    std::string& why) {
    const off_t length = static_cast<off_t>(value.size());
    struct flock lock;
    if (!OfdLock(lockFd, F_OFD_SETLK, F_WRLCK, length, lock)) return Fail("F_OFD_SETLK", why);
    const bool stored = ::fsetxattr(fd, attribute.c_str(), value.data(), value.size(), 0) == 0;
    if (!stored) Fail("fsetxattr", why);
    OfdLock(lockFd, F_OFD_SETLK, F_UNLCK, length, lock);
    return stored;
}

bool ReadValueOnce(const std::string& path, const std::string& attribute,
                   std::vector<unsigned char>& buffer, std::string& why) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Fail("open", why);
    if (buffer.size() < 4096) buffer.resize(4096);
    ssize_t got = ::fgetxattr(fd, attribute.c_str(), buffer.data(), buffer.size());
    if (got < 0 && errno == ERANGE) {
        got = ::fgetxattr(fd, attribute.c_str(), nullptr, 0);
        if (got >= 0) {
            buffer.resize(static_cast<size_t>(got));
            got = ::fgetxattr(fd, attribute.c_str(), buffer.data(), buffer.size());
        }
    }
    const int reason = errno;
    ::close(fd);
    errno = reason;
    return got >= 0 || Fail("fgetxattr", why);
}

bool GetValueByPath(const std::string& path, const std::string& attribute,
                    std::vector<unsigned char>& buffer, std::string& why) {
    const ssize_t size = ::getxattr(path.c_str(), attribute.c_str(), nullptr, 0);
    if (size < 0) return Fail("getxattr (size)", why);
    Fit(buffer, size);
    if (::getxattr(path.c_str(), attribute.c_str(), buffer.data(), static_cast<size_t>(size)) !=
        size)
        return Fail("getxattr (value)", why);
    return true;
}

bool CreatePutRemove(const std::string& path, const std::string& attribute,
                     const std::string& first, const std::string& second, std::string& why) {
    if (::setxattr(path.c_str(), attribute.c_str(), first.data(), first.size(), XATTR_CREATE) != 0)
        return Fail("setxattr (create)", why);
    if (::setxattr(path.c_str(), attribute.c_str(), second.data(), second.size(), 0) != 0)
        return Fail("setxattr", why);
    if (::removexattr(path.c_str(), attribute.c_str()) != 0) return Fail("removexattr", why);
    return true;
}

}  // namespace quarrow2::bench::raw
