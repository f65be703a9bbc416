// A descriptor the benchmarks opened themselves, closed when its owner goes: the raw side
// of every benchmark calls the kernel directly and owns what it opens the same way.
#pragma once

#include <unistd.h>

#include <utility>

namespace quarrow2::bench {

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor(Descriptor&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& o) noexcept {
        reset(std::exchange(o.fd_, -1));
        return *this;
    }
    ~Descriptor() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void reset(int fd = -1) {
        if (fd_ >= 0 && fd_ != fd) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

}  // namespace quarrow2::bench
