#include "platform/posix/files/stream_layout.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string_view>

#include "platform/posix/files/stream_path.h"
#include "platform/posix/files/unique_fd.h"
#include "platform/posix/system/errors.h"

namespace quarrow2::platform {
namespace {

// Samba's defaults: streams_xattr:prefix = user.DosStream., and store_stream_type = yes
// appends the stream type. Samba keeps its own file attributes beside them.
constexpr std::string_view kSambaPrefix = "user.DosStream.";
constexpr std::string_view kSambaSuffix = ":$DATA";
constexpr std::string_view kSambaAttributes = "user.DOSATTRIB";
constexpr size_t kMaxAttributeName = 255;

bool StartsWith(std::string_view s, std::string_view start) {
    return s.size() >= start.size() && s.compare(0, start.size(), start) == 0;
}

bool EndsWith(std::string_view s, std::string_view end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

bool ParseLayout(std::string_view word, StreamLayout& layout) {
    if (word == "native")
        layout = StreamLayout::kNative;
    else if (word == "samba")
        layout = StreamLayout::kSamba;
    else
        return false;
    return true;
}

// "\040" and the like stand for the spaces, tabs and backslashes of a mount point.
std::string Unescape(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            out.push_back(
                static_cast<char>(std::strtol(field.substr(i + 1, 3).c_str(), nullptr, 8)));
            i += 3;
        } else {
            out.push_back(field[i]);
        }
    }
    return out;
}

// Where the root of the file system `device` is mounted; a mount of the whole file system
// is preferred to one of a folder inside it. Empty when it is mounted nowhere we can see.
std::string MountPointOf(dev_t device) {
    const std::string id = std::to_string(major(device)) + ":" + std::to_string(minor(device));
    std::ifstream mounts("/proc/self/mountinfo");
    std::string line, whole, part;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string mountId, parentId, deviceId, root, point;
        if (!(fields >> mountId >> parentId >> deviceId >> root >> point) || deviceId != id)
            continue;
        if (root == "/")
            whole = Unescape(point);
        else if (part.empty())
            part = Unescape(point);
    }
    return whole.empty() ? part : whole;
}

// The marker on the file system's root; native when there is none to be read.
DWORD MarkedLayout(dev_t device, StreamLayout& layout) {
    layout = StreamLayout::kNative;
    const std::string point = MountPointOf(device);
    struct stat st;
    // A mount point covered by a later mount shows another file system's root.
    if (point.empty() || ::stat(point.c_str(), &st) != 0 || st.st_dev != device) return 0;
    char word[16];
    ssize_t got = ::getxattr(point.c_str(), kLayoutMarker, word, sizeof word);
    if (got < 0) return errno == ERANGE ? ERROR_BAD_ENVIRONMENT : 0;
    return ParseLayout(std::string_view(word, static_cast<size_t>(got)), layout)
               ? 0
               : ERROR_BAD_ENVIRONMENT;
}

struct MarkerCache {
    std::mutex mutex;
    std::map<dev_t, std::pair<DWORD, StreamLayout>> layouts;
};

MarkerCache& Markers() {
    static MarkerCache* cache = new MarkerCache;
    return *cache;
}

}  // namespace

DWORD ListAttributeNames(int fd, std::vector<char>& list) {
    // Most files' names fit this, and then one call answers; the size is asked only when
    // they do not.
    constexpr size_t kFirstTry = 1024;
    list.resize(std::max(list.capacity(), kFirstTry));
    for (;;) {
        ssize_t got = ::flistxattr(fd, list.data(), list.size());
        if (got >= 0) {
            list.resize(static_cast<size_t>(got));
            return 0;
        }
        if (errno != ERANGE) {
            list.clear();
            return errno == EOPNOTSUPP ? 0 : Win32ErrorFromErrno(errno);
        }
        ssize_t size = ::flistxattr(fd, nullptr, 0);
        if (size < 0) {
            list.clear();
            return errno == EOPNOTSUPP ? 0 : Win32ErrorFromErrno(errno);
        }
        // Names added between the two calls make the next read fail with ERANGE again.
        list.resize(static_cast<size_t>(size));
        if (size == 0) return 0;
    }
}

DWORD StreamLayoutOf(int fd, StreamLayout& layout) {
    layout = StreamLayout::kNative;
    struct stat st;
    if (::fstat(fd, &st) != 0) return Win32ErrorFromErrno(errno);
    return StreamLayoutOn(st.st_dev, layout);
}

DWORD StreamLayoutOn(dev_t device, StreamLayout& layout) {
    layout = StreamLayout::kNative;
    if (const char* chosen = std::getenv(kLayoutVariable); chosen && *chosen)
        return ParseLayout(chosen, layout) ? 0 : ERROR_BAD_ENVIRONMENT;
    MarkerCache& cache = Markers();
    {
        std::lock_guard<std::mutex> guard(cache.mutex);
        auto known = cache.layouts.find(device);
        if (known != cache.layouts.end()) {
            layout = known->second.second;
            return known->second.first;
        }
    }
    DWORD error = MarkedLayout(device, layout);
    std::lock_guard<std::mutex> guard(cache.mutex);
    cache.layouts.emplace(device, std::make_pair(error, layout));
    return error;
}

DWORD PlaceInLayout(StreamPath& path) {
    if (!path.named()) return 0;
    UniqueFd folder;
    if (path.file_fd.valid()) {
        if (DWORD error = FileStat(path)) return error;
        if (DWORD error = StreamLayoutOn(path.file_stat.st_dev, path.layout)) return error;
    } else {
        // The file is still to be made, in its folder and so on that folder's file system.
        const size_t slash = path.file.rfind('/');
        const std::string name = slash == std::string::npos ? std::string(".")
                                 : slash == 0               ? std::string("/")
                                                            : path.file.substr(0, slash);
        folder.reset(::open(name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!folder.valid()) return Win32ErrorFromErrno(errno);
        if (DWORD error = StreamLayoutOf(folder.get(), path.layout)) return error;
    }
    if (path.layout == StreamLayout::kNative) return 0;
    const std::string name = path.attribute.substr(sizeof kStreamAttributePrefix - 1);
    path.attribute.assign(kSambaPrefix).append(name).append(kSambaSuffix);
    return path.attribute.size() > kMaxAttributeName ? ERROR_FILENAME_EXCED_RANGE : 0;
}

bool StreamNameOf(StreamLayout layout, const std::string& attribute, std::string& name) {
    const std::string_view prefix =
        layout == StreamLayout::kSamba ? kSambaPrefix : std::string_view(kStreamAttributePrefix);
    const std::string_view suffix = layout == StreamLayout::kSamba ? kSambaSuffix : "";
    if (attribute.size() <= prefix.size() + suffix.size() || !StartsWith(attribute, prefix) ||
        !EndsWith(attribute, suffix))
        return false;
    name = attribute.substr(prefix.size(), attribute.size() - prefix.size() - suffix.size());
    return true;
}

const unsigned char* StoredForm(StreamLayout layout, const unsigned char* data, size_t size,
                                std::vector<unsigned char>& scratch, size_t& storedSize) {
    storedSize = size + StoredSuffixBytes(layout);
    if (layout == StreamLayout::kNative) return data;
    scratch.assign(data, data + size);
    scratch.push_back(0);
    return scratch.data();
}

DWORD RefuseMixing(int fd, StreamLayout layout) {
    std::vector<char> list;
    if (DWORD error = ListAttributeNames(fd, list)) return error;
    for (size_t at = 0; at < list.size();) {
        const std::string name(list.data() + at);
        at += name.size() + 1;
        std::string stream;
        const bool samba = StreamNameOf(StreamLayout::kSamba, name, stream);
        const bool native = !samba && StartsWith(name, kStreamAttributePrefix) &&
                            !StartsWith(name, kSambaPrefix) && name != kSambaAttributes &&
                            name != kLayoutMarker;
        if (layout == StreamLayout::kSamba ? native : samba) return ERROR_EA_LIST_INCONSISTENT;
    }
    return 0;
}

}  // namespace quarrow2::platform
