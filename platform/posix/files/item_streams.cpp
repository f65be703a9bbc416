// The listing and the one-shot read of platform/item_streams.h, from the attributes
// themselves. Neither takes a share mode or a lock: they read names, sizes and one value,
// each attribute is replaced in one step (a reader sees the old value or the new one), and
// so they neither refuse nor wait for anyone, as a Windows reader that shares everything.
#include "platform/item_streams.h"

#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix/files/file_access.h"
#include "platform/posix/files/stream_layout.h"
#include "platform/posix/files/stream_path.h"
#include "platform/posix/files/stream_value.h"
#include "platform/posix/system/errors.h"
#include "quarrow2/names.h"

namespace quarrow2::platform {
namespace {

// A value up to this size is read in one call, without asking its size first.
constexpr size_t kFirstRead = 4096 + 64;

// The resolved file or folder opened for reading its attributes; only what NTFS would hold
// carries streams, so a FIFO, socket or device is refused without being opened.
DWORD OpenForAttributes(StreamPath& path, UniqueFd& fd) {
    if (DWORD error = FileStat(path)) return error;
    const bool directory = S_ISDIR(path.file_stat.st_mode);
    if (!directory && !S_ISREG(path.file_stat.st_mode)) return ERROR_ACCESS_DENIED;
    return ReopenDescriptor(path.file_fd.get(), directory, false, fd);
}

DWORD List(LPCWSTR path, std::vector<StreamEntry>& streams) {
    streams.clear();
    StreamPath whole;
    UniqueFd fd;
    StreamLayout layout = StreamLayout::kNative;
    if (DWORD error = ResolveWholePath(path, whole)) return error;
    if (DWORD error = OpenForAttributes(whole, fd)) return error;
    if (DWORD error = StreamLayoutOf(whole, layout)) return error;
    std::vector<char> names;
    if (DWORD error = ListAttributeNames(fd.get(), names)) return error;
    for (size_t at = 0; at < names.size();) {
        const std::string attribute(names.data() + at);
        at += attribute.size() + 1;
        std::string name;
        if (!StreamNameOf(layout, attribute, name)) continue;
        uint64_t size = 0;
        DWORD error = StoredValueSize(fd.get(), attribute, size, layout);
        if (error == ERROR_FILE_NOT_FOUND) continue;  // removed since the listing
        if (error) return error;
        streams.push_back({NameUtf16FromBytes(name.data(), name.size()), size,
                           name.find(':') != std::string::npos});
    }
    return 0;
}

DWORD Read(LPCWSTR streamPath, std::vector<unsigned char>& value) {
    StreamPath path;
    UniqueFd fd;
    if (DWORD error = ResolveStreamPath(streamPath, path)) return error;
    // The file's own contents are never an item's value.
    if (!path.named()) return ERROR_INVALID_NAME;
    if (!path.file_fd.valid()) return ERROR_FILE_NOT_FOUND;
    if (DWORD error = PlaceInLayout(path)) return error;
    if (DWORD error = OpenForAttributes(path, fd)) return error;
    value.resize(std::max(value.capacity(), kFirstRead));
    const ssize_t got = ::fgetxattr(fd.get(), path.attribute.c_str(), value.data(), value.size());
    if (got >= 0) {
        value.resize(ContentSizeOf(path.layout, static_cast<uint64_t>(got)));
        return 0;
    }
    if (errno == ENODATA) return ERROR_NOT_FOUND;
    if (errno != ERANGE) return Win32ErrorFromErrno(errno);
    // Larger than the first read: asked its size, then read; gone meanwhile is missing too.
    const DWORD error = ReadStoredValue(fd.get(), path.attribute, value, path.layout);
    return error == ERROR_FILE_NOT_FOUND ? ERROR_NOT_FOUND : error;
}

}  // namespace

DWORD ListStreams(LPCWSTR path, std::vector<StreamEntry>& streams) {
    return GuardedCode([&] { return List(path, streams); });
}

// The stream path alone tells a missing file from a missing stream here.
DWORD ReadStream(LPCWSTR, LPCWSTR streamPath, std::vector<unsigned char>& value) {
    return GuardedCode([&] { return Read(streamPath, value); });
}

}  // namespace quarrow2::platform
