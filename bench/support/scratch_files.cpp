#include "bench/support/scratch_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "quarrow2/descriptor.h"

namespace quarrow2::bench {
namespace {

std::string Why(const std::string& what, int error) { return what + ": " + std::strerror(error); }

}  // namespace

std::string SizeName(uint64_t bytes) {
    const char* units[] = {"B", "KiB", "MiB", "GiB"};
    size_t unit = 0;
    while (unit + 1 < std::size(units) && bytes >= 1024 && bytes % 1024 == 0) {
        bytes /= 1024;
        ++unit;
    }
    return std::to_string(bytes) + " " + units[unit];
}

std::string PatternBytes(size_t n) {
    std::string bytes(n, '\0');
    // Latin letters in UTF-16LE: every even byte a letter, every odd byte zero.
    for (size_t i = 0; i < n; i += 2) bytes[i] = static_cast<char>('a' + (i / 2) % 26);
    return bytes;
}

std::string AttributeOf(const std::string& type) { return "user." + type; }

std::string NumberedType(size_t i) {
    char name[16];
    std::snprintf(name, sizeof name, "Item%04zu", i);
    return name;
}

bool MakeFile(const std::string& path, uint64_t mainStreamBytes, std::string& why) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd.valid()) {
        why = Why("cannot make " + path, errno);
        return false;
    }
    std::vector<char> block(1 << 20, 'x');
    for (uint64_t left = mainStreamBytes; left > 0;) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(left, block.size()));
        const ssize_t wrote = ::write(fd.get(), block.data(), chunk);
        if (wrote <= 0) {
            why = Why("cannot write the main stream of " + path, errno);
            return false;
        }
        left -= static_cast<uint64_t>(wrote);
    }
    // On disk, not in delayed allocation: the walk must find a real 100 MiB file.
    if (mainStreamBytes && ::fsync(fd.get()) != 0) {
        why = Why("cannot sync " + path, errno);
        return false;
    }
    return true;
}

bool AddNumberedItems(const std::string& path, size_t count, size_t valueBytes, std::string& why) {
    const std::string value = PatternBytes(valueBytes);
    for (size_t i = 0; i < count; ++i) {
        std::string itemWhy;
        if (!AddItem(path, NumberedType(i), value, itemWhy)) {
            why = "the file system holds only " + std::to_string(i) + " items of " +
                  SizeName(valueBytes) + " in one file, then " + itemWhy;
            return false;
        }
    }
    return true;
}

bool AddItem(const std::string& path, const std::string& type, const std::string& value,
             std::string& why) {
    if (::setxattr(path.c_str(), AttributeOf(type).c_str(), value.data(), value.size(), 0) == 0)
        return true;
    why = "cannot store an item of " + SizeName(value.size()) +
          " (setxattr: " + std::strerror(errno) + ")";
    return false;
}

uint64_t AllocatedBytes(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return 0;
    return static_cast<uint64_t>(st.st_blocks) * 512;
}

}  // namespace quarrow2::bench
