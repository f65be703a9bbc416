// The one owner of a POSIX file descriptor.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace quarrow2::posix {

// Closing keeps errno as it was, so a failure reported after the close still names its
// own cause.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& o) noexcept : fd_(o.release()) {}
    UniqueFd& operator=(UniqueFd&& o) noexcept {
        reset(o.release());
        return *this;
    }
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        int old = std::exchange(fd_, fd);
        if (old >= 0) {
            int saved = errno;
            ::close(old);
            errno = saved;
        }
    }

private:
    int fd_ = -1;
};

}  // namespace quarrow2::posix
