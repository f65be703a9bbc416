#include "platform/posix/files/stream_path.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <string_view>

#include "quarrow2/names.h"
#include "platform/posix/system/errors.h"

namespace quarrow2::platform {
namespace {

constexpr std::string_view kDataSuffix = ":$DATA";
// NTFS takes stream names of up to 255 UTF-16 units; an attribute name has room for 255
// bytes, "user." included.
constexpr size_t kMaxStreamNameUnits = 255;
constexpr size_t kMaxStreamNameBytes = 255 - (sizeof kStreamAttributePrefix - 1);

bool EndsWithDataSuffix(std::string_view s) {
    if (s.size() < kDataSuffix.size()) return false;
    std::string_view tail = s.substr(s.size() - kDataSuffix.size());
    for (size_t i = 0; i < tail.size(); ++i) {
        char c = tail[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != kDataSuffix[i]) return false;
    }
    return true;
}

DWORD CheckStreamName(std::string_view name) {
    // '/' cannot occur here (it ends a path component); a zero unit ended the path.
    if (name.find_first_of(":\\") != name.npos) return ERROR_INVALID_NAME;
    if (name == "." || name == "..") return ERROR_INVALID_NAME;
    if (NameUtf16FromBytes(name.data(), name.size()).size() > kMaxStreamNameUnits)
        return ERROR_INVALID_NAME;
    if (name.size() > kMaxStreamNameBytes) return ERROR_FILENAME_EXCED_RANGE;
    return 0;
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// Why the folder part whole[0, folderEnd) does not lead to a folder. A missing component
// "F:x" next to an existing F is a stream name with a '/' in it, which NTFS refuses; any
// other gap is a missing folder.
DWORD WhyFolderIsMissing(const std::string& whole, size_t folderEnd) {
    size_t begin = 0;
    while (begin < folderEnd) {
        size_t end = whole.find('/', begin);
        if (end == whole.npos || end > folderEnd) end = folderEnd;
        if (end > begin) {
            struct stat st;
            std::string prefix = whole.substr(0, end);
            if (::stat(prefix.c_str(), &st) == 0) {
                if (!S_ISDIR(st.st_mode)) return ERROR_PATH_NOT_FOUND;
            } else if (errno == ENOENT || errno == ENOTDIR) {
                for (size_t c = begin + 1; c < end; ++c)
                    if (whole[c] == ':' && Exists(whole.substr(0, c))) return ERROR_INVALID_NAME;
                return ERROR_PATH_NOT_FOUND;
            } else {
                return Win32ErrorFromErrno(errno);
            }
        }
        begin = end + 1;
    }
    return ERROR_PATH_NOT_FOUND;
}

// Fills the stream part of `out` from the text after the separator.
DWORD TakeStreamName(std::string_view name, bool explicitData, StreamPath& out) {
    // "F::$DATA" names the main stream; a bare "F:" names nothing.
    if (name.empty()) return explicitData ? 0 : ERROR_INVALID_NAME;
    if (DWORD error = CheckStreamName(name)) return error;
    out.attribute.assign(kStreamAttributePrefix).append(name);
    return 0;
}

// The file itself, whole: 0 with `file_fd` valid, 0 with it invalid when only the file is
// missing in an existing folder, or why the folder part leads nowhere.
DWORD OpenCarryingFile(const std::string& whole, size_t componentStart, StreamPath& out) {
    // The path itself first: a symbolic link's target may lie in another folder's tree,
    // whose layout its items follow (StreamLayoutOf), so it is told from what it names.
    int fd = ::open(out.file.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        out.file_fd.reset(fd);
        if (DWORD error = FileStat(out)) return error;
        if (!S_ISLNK(out.file_stat.st_mode)) return 0;
        out.through_link = true;
        out.file_stat_known = false;
        out.file_fd.reset(fd = ::open(out.file.c_str(), O_PATH | O_CLOEXEC));
    }
    if (fd >= 0) return 0;
    if (errno != ENOENT && errno != ENOTDIR && errno != ENAMETOOLONG)
        return Win32ErrorFromErrno(errno);
    std::string folder = componentStart ? whole.substr(0, componentStart) : std::string(".");
    struct stat st;
    if (::stat(folder.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return 0;
    } else if (errno == EACCES) {
        return ERROR_ACCESS_DENIED;
    }
    out.attribute.clear();
    return WhyFolderIsMissing(whole, componentStart);
}

// The folder `out.file` names (it ends in a slash): it exists, or the path leads nowhere;
// nothing is ever made for it.
DWORD OpenFolder(StreamPath& out) {
    const int fd = ::open(out.file.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        const int reason = errno;
        out.attribute.clear();
        return reason == ENOENT || reason == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                     : Win32ErrorFromErrno(reason);
    }
    out.file_fd.reset(fd);
    return 0;
}

DWORD ToLinuxPath(LPCWSTR path, std::string& out) {
    if (!path || !*path) return ERROR_PATH_NOT_FOUND;
    if (!NameBytesFromUtf16(path, std::char_traits<WCHAR>::length(path), out))
        return ERROR_INVALID_NAME;
    return 0;
}

size_t ComponentStart(const std::string& whole) {
    const size_t lastSlash = whole.rfind('/');
    return lastSlash == whole.npos ? 0 : lastSlash + 1;
}

}  // namespace

DWORD FileStat(StreamPath& path) {
    if (path.file_stat_known) return 0;
    if (::fstat(path.file_fd.get(), &path.file_stat) != 0) return Win32ErrorFromErrno(errno);
    path.file_stat_known = true;
    return 0;
}

std::string DescriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

namespace {

// ResolveStreamPath, opening the file or folder when `open` says so.
DWORD Resolve(LPCWSTR path, StreamPath& out, bool open) {
    out.file.clear();
    out.attribute.clear();
    out.file_fd.reset();
    out.file_stat_known = false;
    out.through_link = false;
    std::string whole;
    if (DWORD error = ToLinuxPath(path, whole)) return error;

    const size_t componentStart = ComponentStart(whole);
    size_t componentEnd = whole.size();
    bool explicitData = false;
    if (EndsWithDataSuffix(whole)) {
        size_t suffixAt = whole.size() - kDataSuffix.size();
        // A colon that starts the component is part of the file's name, not a separator:
        // ":x:$DATA" is the stream "$DATA" of the file ":x", as "doc:$DATA" is of "doc".
        size_t firstColon = whole.find(':', componentStart + 1);
        if (suffixAt > componentStart && firstColon < suffixAt) {
            componentEnd = suffixAt;
            explicitData = true;
        }
    }

    // Stream names never hold a colon, so the last one separates, whatever exists on disk:
    // "doc:Author" is the stream Author of "doc", never a file of that name, and "a:b:T" the
    // stream T of the file "a:b". A colon that starts the component has no file before it.
    size_t separator = whole.npos;
    for (size_t c = componentEnd; c-- > componentStart + 1;)
        if (whole[c] == ':') {
            separator = c;
            break;
        }
    std::string_view rest(whole);
    if (separator != whole.npos) {
        if (DWORD error = TakeStreamName(rest.substr(separator + 1, componentEnd - separator - 1),
                                         explicitData, out))
            return error;
        out.file = whole.substr(0, separator);
    } else if (componentStart > 0 && whole[componentStart] == ':') {
        // "dir/:T", "dir//:T", "/:T": the stream T of the folder the path names up to its last
        // slash, as "C:\:T" is one of a root folder's on NTFS; the composed path of a folder
        // bound as "dir/". Never the file ":T" in it, which is reached bound whole.
        if (DWORD error =
                TakeStreamName(rest.substr(componentStart + 1, componentEnd - componentStart - 1),
                               explicitData, out))
            return error;
        out.file = whole.substr(0, componentStart);
        return open ? OpenFolder(out) : 0;
    } else {
        out.file = whole;
    }
    return open ? OpenCarryingFile(whole, componentStart, out) : 0;
}

}  // namespace

DWORD ResolveStreamPath(LPCWSTR path, StreamPath& out) { return Resolve(path, out, true); }

DWORD SplitStreamPath(LPCWSTR path, StreamPath& out) { return Resolve(path, out, false); }

DWORD SplitWholePath(LPCWSTR path, StreamPath& out) {
    out.file.clear();
    out.attribute.clear();
    out.file_fd.reset();
    out.file_stat_known = false;
    out.through_link = false;
    return ToLinuxPath(path, out.file);
}

DWORD ResolveWholePath(LPCWSTR path, StreamPath& out) {
    if (DWORD error = SplitWholePath(path, out)) return error;
    if (DWORD error = OpenCarryingFile(out.file, ComponentStart(out.file), out)) return error;
    return out.file_fd.valid() ? 0 : ERROR_FILE_NOT_FOUND;
}

}  // namespace quarrow2::platform
