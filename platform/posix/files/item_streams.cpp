// The listing and the one-shot read of platform/item_streams.h, from the attributes
// themselves. Neither takes a share mode or a lock: they read names, sizes and one value,
// each attribute is replaced in one step (a reader sees the old value or the new one), and
// so they neither refuse nor wait for anyone, as a Windows reader that shares everything.
//
// Neither opens the file either. A regular file or folder that the path names without a
// symbolic link at its end is read by path, as getfattr reads it: one statx tells its kind
// and the layout, then the attribute calls (the l-variants, so a link put in its place
// meanwhile is never followed: it carries no items, and the read takes the long way).
// Anything else (a link, a path that leads nowhere, a failure) takes the long way: the path
// resolved as every item call resolves it, and the attributes read through the /proc link
// of the O_PATH descriptor that left, so every call reaches that one inode and the failure
// names its cause.
#include "platform/item_streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix/files/stream_layout.h"
#include "platform/posix/files/stream_path.h"
#include "platform/posix/system/errors.h"
#include "quarrow2/names.h"

namespace quarrow2::platform {
namespace {

// A value up to this size is read in one call, without asking its size first.
constexpr size_t kFirstRead = 4096 + 64;
// A value that keeps growing between the size query and the read is given up on after
// this many rounds.
constexpr int kReadRounds = 64;

// Where the attribute calls go: a path, and whether a link at its end is followed (the
// /proc link of a descriptor) or never (a path read directly).
struct Attributes {
    std::string at;
    bool follow = false;

    ssize_t Get(const std::string& name, void* buffer, size_t size) const {
        return (follow ? ::getxattr : ::lgetxattr)(at.c_str(), name.c_str(), buffer, size);
    }
    ssize_t List(char* buffer, size_t size) const {
        return (follow ? ::listxattr : ::llistxattr)(at.c_str(), buffer, size);
    }
    // The Windows code of a failed call's errno; the /proc link of an open descriptor is
    // always there, unless /proc is not mounted.
    DWORD Error(int error) const {
        return follow && error == ENOENT ? ERROR_NOT_SUPPORTED : Win32ErrorFromErrno(error);
    }
};

bool CarriesStreams(mode_t mode) { return S_ISREG(mode) || S_ISDIR(mode); }

// The short way: `path.file` looked at without opening it. False, with nothing decided,
// for anything but a regular file or folder named without a link at its end.
bool LookedAt(StreamPath& path, Attributes& attributes) {
    struct statx found;
    if (::statx(AT_FDCWD, path.file.c_str(), AT_SYMLINK_NOFOLLOW | AT_STATX_SYNC_AS_STAT,
                STATX_TYPE | STATX_MODE | STATX_INO, &found) != 0 ||
        !CarriesStreams(found.stx_mode))
        return false;
    path.file_stat = {};
    path.file_stat.st_mode = found.stx_mode;
    path.file_stat.st_ino = found.stx_ino;
    path.file_stat.st_dev = makedev(found.stx_dev_major, found.stx_dev_minor);
    path.file_stat_known = true;
    attributes = {path.file, false};
    return true;
}

// The long way, on a path resolved with its O_PATH descriptor: only what NTFS would hold
// carries streams, so a FIFO, socket or device is refused (none is opened).
DWORD ThroughDescriptor(StreamPath& path, Attributes& attributes) {
    if (DWORD error = FileStat(path)) return error;
    if (!CarriesStreams(path.file_stat.st_mode)) return ERROR_ACCESS_DENIED;
    attributes = {DescriptorPath(path.file_fd.get()), true};
    return 0;
}

// The names of the attributes, as ListAttributeNames gives them for a descriptor.
DWORD ListNames(const Attributes& attributes, std::vector<char>& names) {
    constexpr size_t kFirstTry = 1024;
    names.resize(std::max(names.capacity(), kFirstTry));
    for (;;) {
        ssize_t got = attributes.List(names.data(), names.size());
        if (got >= 0) {
            names.resize(static_cast<size_t>(got));
            return 0;
        }
        if (errno == ERANGE) got = attributes.List(nullptr, 0);
        if (got < 0) {
            names.clear();
            return errno == EOPNOTSUPP ? 0 : attributes.Error(errno);
        }
        // Names added between the two calls make the next read fail with ERANGE again.
        names.resize(std::max<size_t>(static_cast<size_t>(got), 1));
    }
}

// The stored value of `attribute`, read into `value`'s capacity (at least kFirstRead)
// first, so that a small value needs no question about its size.
DWORD ReadValue(const Attributes& attributes, const std::string& attribute, StreamLayout layout,
                std::vector<unsigned char>& value) {
    value.resize(std::max(value.capacity(), kFirstRead));
    for (int round = 0; round < kReadRounds; ++round) {
        ssize_t got = attributes.Get(attribute, value.data(), value.size());
        if (got >= 0) {
            value.resize(ContentSizeOf(layout, static_cast<uint64_t>(got)));
            return 0;
        }
        if (errno == ENODATA) return ERROR_NOT_FOUND;  // gone since it was sized is missing too
        if (errno != ERANGE) return attributes.Error(errno);
        // Larger than the buffer: sized, then read again; one that grows meanwhile goes round.
        got = attributes.Get(attribute, nullptr, 0);
        if (got < 0) return errno == ENODATA ? ERROR_NOT_FOUND : attributes.Error(errno);
        // A zero-sized buffer would turn the read into another size query.
        value.resize(std::max<size_t>(static_cast<size_t>(got), 1));
    }
    return ERROR_READ_FAULT;
}

DWORD ListFrom(const Attributes& attributes, StreamLayout layout,
               std::vector<StreamEntry>& streams) {
    std::vector<char> names;
    if (DWORD error = ListNames(attributes, names)) return error;
    for (size_t offset = 0; offset < names.size();) {
        const std::string attribute(names.data() + offset);
        offset += attribute.size() + 1;
        std::string name;
        if (!StreamNameOf(layout, attribute, name)) continue;
        const ssize_t stored = attributes.Get(attribute, nullptr, 0);
        if (stored < 0 && errno == ENODATA) continue;  // removed since the listing
        if (stored < 0) return attributes.Error(errno);
        streams.push_back({NameUtf16FromBytes(name.data(), name.size()),
                           ContentSizeOf(layout, static_cast<uint64_t>(stored)),
                           name.find(':') != std::string::npos});
    }
    return 0;
}

DWORD List(LPCWSTR path, std::vector<StreamEntry>& streams) {
    streams.clear();
    StreamPath whole;
    Attributes attributes;
    StreamLayout layout = StreamLayout::kNative;
    if (SplitWholePath(path, whole) == 0 && LookedAt(whole, attributes)) {
        if (DWORD error = StreamLayoutOf(whole, layout)) return error;
        // A file that went meanwhile is told the long way, with its cause.
        if (ListFrom(attributes, layout, streams) == 0) return 0;
        streams.clear();
    }
    if (DWORD error = ResolveWholePath(path, whole)) return error;
    if (DWORD error = ThroughDescriptor(whole, attributes)) return error;
    if (DWORD error = StreamLayoutOf(whole, layout)) return error;
    return ListFrom(attributes, layout, streams);
}

DWORD Read(LPCWSTR streamPath, std::vector<unsigned char>& value) {
    StreamPath path;
    Attributes attributes;
    if (SplitStreamPath(streamPath, path) == 0 && path.named() && LookedAt(path, attributes)) {
        if (DWORD error = PlaceInLayout(path)) return error;
        const DWORD error = ReadValue(attributes, path.attribute, path.layout, value);
        // Missing on a file that was there: missing at that moment, whatever came after.
        if (error == 0 || error == ERROR_NOT_FOUND) return error;
    }
    if (DWORD error = ResolveStreamPath(streamPath, path)) return error;
    // The file's own contents are never an item's value.
    if (!path.named()) return ERROR_INVALID_NAME;
    if (!path.file_fd.valid()) return ERROR_FILE_NOT_FOUND;
    if (DWORD error = PlaceInLayout(path)) return error;
    if (DWORD error = ThroughDescriptor(path, attributes)) return error;
    return ReadValue(attributes, path.attribute, path.layout, value);
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
