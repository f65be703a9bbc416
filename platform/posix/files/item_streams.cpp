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
//
// A read of a file this thread has just looked at (listed, or read from) goes shorter still:
// see "The last look" below.
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

// ---- The last look ------------------------------------------------------------------
//
// A tree command's worker lists a file and then reads its values, and a Python mapping reads
// the values of the file it has just listed: each read would look at the path again (a
// statx) only to learn what the listing learnt a moment before. So each thread keeps what its
// last look at a path told: the path's text, the kind of file and its device, which give the
// layout (the folder's answer is kept by path text, so it costs no call). Nothing of any
// value is kept: a value is read from the file each time it is asked for.
//
// A read of a stream of that same path then goes straight to lgetxattr in the layout those
// facts give, and keeps its answer only when the call succeeds. Why a success proves what the
// statx would have told:
//
// - lgetxattr never follows a link at the end of the path: it reads the attributes of the
//   entry itself, as the statx (AT_SYMLINK_NOFOLLOW) looked at it. The folders on the way
//   are followed as every call by path follows them, today's statx included.
// - The kernel lets "user." attributes live only on regular files and folders. For anything
//   else (a symbolic link, a FIFO, a socket, a device) reading one fails with ENODATA, on
//   every file system, before the file system is asked (fs/xattr.c, xattr_permission). So
//   a value read proves that the path named a regular file or folder when it was read, as
//   the statx would have proved: nothing is read through a link the present way would not
//   follow, and no FIFO or device is opened (none ever is).
// - A failure proves nothing: ENODATA is also what a link, a FIFO or an entry swapped for a
//   file without the item answers. So every failure (ENODATA, ERANGE that ends in one, a
//   missing path, a refusal, anything) forgets the look and takes the present way, a fresh
//   statx first: "no such item" and every other failure are as exact as without this.
//
// What a stale memory can cause: the path now names another entry than the one looked at
// (the file was removed, renamed over, swapped for a folder, or a folder on the way for a
// link to another file system). A read that succeeds then read the attribute of the item's
// name in the layout the old entry had: the right name for a file of the same kind in the
// same folder on the same device, else possibly the name of the other layout (a folder
// that carries its own marker, a file system whose tree has another). That needs someone
// who can change what the path names, and such a user can already make the read return any
// bytes at all, by putting a file of their own there that holds them under the right name;
// the present way has the same window between its statx and its lgetxattr, only shorter. So
// nobody gains a way to mislead the reader, and a reader who shares a path with no one (the
// usual case) reads exactly what the present way reads. The kernel checks the reader's
// access in each call, so nothing is read that the reader could not read otherwise. Nothing
// is written this way: writes never use the memory.
//
// Only absolute paths outside /proc are kept: a relative one depends on the working folder,
// and /proc's name descriptors that come and go (their folder's answer is not kept either,
// so no call would be saved).
struct LastLook {
    std::string file;  // empty: nothing kept
    mode_t mode = 0;
    ino_t inode = 0;
    dev_t device = 0;
};

thread_local LastLook lastLook;

bool Lasting(const std::string& file) {
    return file.size() > 1 && file[0] == '/' && file.compare(0, 6, "/proc/") != 0;
}

void Forget() { lastLook.file.clear(); }

// The facts of a look (in `path.file_stat`) for `path.file`, and the attribute calls by path.
void Known(StreamPath& path, mode_t mode, ino_t inode, dev_t device, Attributes& attributes) {
    path.file_stat = {};
    path.file_stat.st_mode = mode;
    path.file_stat.st_ino = inode;
    path.file_stat.st_dev = device;
    path.file_stat_known = true;
    attributes = {path.file, false};
}

// The short way: `path.file` looked at without opening it. False, with nothing decided,
// for anything but a regular file or folder named without a link at its end.
bool LookedAt(StreamPath& path, Attributes& attributes) {
    struct statx found;
    if (::statx(AT_FDCWD, path.file.c_str(), AT_SYMLINK_NOFOLLOW | AT_STATX_SYNC_AS_STAT,
                STATX_TYPE | STATX_MODE | STATX_INO, &found) != 0 ||
        !CarriesStreams(found.stx_mode)) {
        Forget();
        return false;
    }
    Known(path, found.stx_mode, found.stx_ino, makedev(found.stx_dev_major, found.stx_dev_minor),
          attributes);
    if (Lasting(path.file)) {
        lastLook.file = path.file;
        lastLook.mode = found.stx_mode;
        lastLook.inode = found.stx_ino;
        lastLook.device = makedev(found.stx_dev_major, found.stx_dev_minor);
    } else {
        Forget();
    }
    return true;
}

// The shortest way: `path.file` as this thread's last look found it, with no call.
bool Remembered(StreamPath& path, Attributes& attributes) {
    if (lastLook.file.empty() || lastLook.file != path.file) return false;
    Known(path, lastLook.mode, lastLook.inode, lastLook.device, attributes);
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
        Forget();
        streams.clear();
    }
    if (DWORD error = ResolveWholePath(path, whole)) return error;
    if (DWORD error = ThroughDescriptor(whole, attributes)) return error;
    if (DWORD error = StreamLayoutOf(whole, layout)) return error;
    return ListFrom(attributes, layout, streams);
}

// A read by path, of the file as this thread last found it (`remembered`) or as a statx finds
// it now: true when that answered, with the answer in `error`.
bool ReadByPath(LPCWSTR streamPath, bool remembered, std::vector<unsigned char>& value,
                DWORD& error) {
    StreamPath path;
    Attributes attributes;
    if (SplitStreamPath(streamPath, path) != 0 || !path.named() ||
        !(remembered ? Remembered(path, attributes) : LookedAt(path, attributes)))
        return false;
    if ((error = PlaceInLayout(path)) == 0)
        error = ReadValue(attributes, path.attribute, path.layout, value);
    else if (!remembered)
        return true;  // the layout of a file looked at now
    // Only a value read proves what the memory told (above): anything else looks again.
    // Missing on a file looked at now: missing at that moment, whatever came after.
    if (error == 0 || (!remembered && error == ERROR_NOT_FOUND)) return true;
    Forget();
    return false;
}

DWORD Read(LPCWSTR streamPath, std::vector<unsigned char>& value) {
    DWORD answer = 0;
    if (ReadByPath(streamPath, true, value, answer) || ReadByPath(streamPath, false, value, answer))
        return answer;
    StreamPath path;
    Attributes attributes;
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
