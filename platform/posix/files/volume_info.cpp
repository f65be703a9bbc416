// GetVolumeInformationW: what the file system under a root path can do. Named streams are
// there when it takes "user." extended attributes.
//
// A walk asks for every file, so each mount's answer is kept, keyed by device and mount
// id (which tells a read-only bind mount from the writable mount of the same device), and
// a query costs a statx and a poll instead of a statfs and an attribute probe. The poll
// watches /proc/self/mountinfo, which the kernel marks on every mount, unmount and
// remount in the process's mount namespace; any of them empties the cache, so a file
// system remounted read-only, or unmounted and another mounted on the same device
// number, is asked afresh. Without /proc, or without mount ids, nothing is kept.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <tuple>

#include "platform/platform.h"
#include "quarrow2/names.h"
#include "platform/posix/system/errors.h"

namespace quarrow2::platform {
namespace {

// Asked for, never made: a file system that knows "user." attributes answers that it is
// absent, one that does not says it cannot have it.
constexpr char kProbeAttribute[] = "user.quarrow2.volume-probe";

struct KnownFileSystem {
    unsigned long magic;
    const char* name;
};

// statfs tells file systems apart by their magic numbers only; ext2, ext3 and ext4 share
// one, as do all FUSE file systems (which NTFS volumes mount through).
constexpr KnownFileSystem kKnownFileSystems[] = {
    {0xEF53, "ext4"},         {0x01021994, "tmpfs"}, {0x58465342, "xfs"},     {0x9123683E, "btrfs"},
    {0x65735546, "fuseblk"},  {0x7366746E, "ntfs3"}, {0x794C7630, "overlay"}, {0x6969, "nfs"},
    {0xFF534D42, "cifs"},     {0xFE534D42, "smb2"},  {0x4D44, "vfat"},        {0x2011BAB0, "exfat"},
    {0x73717368, "squashfs"}, {0xE0F5E1E2, "erofs"}, {0x858458F6, "ramfs"},   {0x9FA0, "proc"},
    {0x62656572, "sysfs"},    {0x1CD1, "devpts"},    {0x01021997, "9p"},      {0x27E0EB, "cgroup"},
    {0x63677270, "cgroup2"},
};

const char* FileSystemName(unsigned long magic) {
    for (const KnownFileSystem& known : kKnownFileSystems)
        if (known.magic == magic) return known.name;
    return "unknown";
}

// The Linux path a root names: "/…\" is the absolute path before the backslash, "\" (or
// no root at all) the current folder. Drive letters, UNC and relative roots name nothing.
DWORD PathOfRoot(LPCWSTR root, std::string& path) {
    if (!root) {
        path = ".";
        return 0;
    }
    if (!NameBytesFromUtf16(root, std::char_traits<WCHAR>::length(root), path))
        return ERROR_INVALID_NAME;
    if (path.empty() || path.back() != '\\') return ERROR_INVALID_NAME;
    path.pop_back();
    if (path.empty()) {
        path = ".";
        return 0;
    }
    if (path.front() != '/') return ERROR_PATH_NOT_FOUND;
    return 0;
}

std::string ParentOf(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The volume of a path that does not exist (yet) is that of its nearest existing ancestor.
DWORD NearestExisting(std::string& path, struct statx& found) {
    for (;;) {
        if (::statx(AT_FDCWD, path.c_str(), 0, STATX_TYPE | STATX_MNT_ID, &found) == 0) return 0;
        // Where statx is not let through, stat tells the kind, and nothing is kept.
        struct stat st;
        if (errno == ENOSYS && ::stat(path.c_str(), &st) == 0) {
            found = {};
            found.stx_mode = static_cast<uint16_t>(st.st_mode);
            return 0;
        }
        if ((errno != ENOENT && errno != ENOTDIR) || path == "/" || path == ".")
            return Win32ErrorFromErrno(errno);
        path = ParentOf(path);
    }
}

enum class Probe { kTakes, kRefused, kFileSystemTakes };

// A probe refused for want of permission (a file without read permission, a folder the
// caller may not search) says nothing against the file system: counted as support, so that
// the caller's own open meets the refusal and reports the file's reason. Only an answer
// about a regular file or a directory comes from the file system itself (the kernel
// answers for other kinds before asking it), and only that one is kept for the mount.
Probe ProbeNamedStreams(const std::string& path, const struct statx& found) {
    if (::getxattr(path.c_str(), kProbeAttribute, nullptr, 0) >= 0 || errno == ENODATA) {
        const bool fromFileSystem = S_ISREG(found.stx_mode) || S_ISDIR(found.stx_mode);
        return fromFileSystem ? Probe::kFileSystemTakes : Probe::kTakes;
    }
    return errno == EACCES || errno == EPERM ? Probe::kTakes : Probe::kRefused;
}

struct VolumeFacts {
    struct statfs fs = {};
    bool takesStreams = false;
};

class VolumeCache {
public:
    // The facts kept for the mount `found` is on, if any.
    bool Find(const struct statx& found, VolumeFacts& facts) {
        std::lock_guard<std::mutex> guard(mutex_);
        if (!Usable(found)) return false;
        auto entry = entries_.find(KeyOf(found));
        if (entry == entries_.end()) return false;
        facts = entry->second;
        return true;
    }
    void Keep(const struct statx& found, const VolumeFacts& facts) {
        std::lock_guard<std::mutex> guard(mutex_);
        if (Usable(found)) entries_[KeyOf(found)] = facts;
    }
    static VolumeCache& Instance() {
        // Never destroyed: queries may come from other static destructors.
        static VolumeCache* cache = new VolumeCache;
        return *cache;
    }

private:
    using Key = std::tuple<uint32_t, uint32_t, uint64_t>;
    static Key KeyOf(const struct statx& found) {
        return Key{found.stx_dev_major, found.stx_dev_minor, found.stx_mnt_id};
    }

    VolumeCache() {
        // A child shares the parent's mountinfo descriptor and so its change marks; it
        // starts over with a descriptor of its own.
        pthread_atfork([] { Instance().mutex_.lock(); }, [] { Instance().mutex_.unlock(); },
                       [] {
                           VolumeCache& cache = Instance();
                           if (cache.mounts_ >= 0) ::close(cache.mounts_);
                           cache.mounts_ = kNotOpened;
                           cache.entries_.clear();
                           cache.mutex_.unlock();
                       });
    }

    // Whether entries can be trusted, after forgetting them all if the mounts changed.
    bool Usable(const struct statx& found) {
        if (!(found.stx_mask & STATX_MNT_ID)) return false;
        if (mounts_ == kNotOpened) {
            mounts_ = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
            entries_.clear();
        }
        if (mounts_ < 0) return false;
        struct pollfd watch = {mounts_, POLLPRI, 0};
        if (::poll(&watch, 1, 0) < 0 || (watch.revents & (POLLPRI | POLLERR | POLLNVAL)))
            entries_.clear();
        return true;
    }

    static constexpr int kNotOpened = -2;
    std::mutex mutex_;
    int mounts_ = kNotOpened;
    std::map<Key, VolumeFacts> entries_;
};

DWORD FactsOf(std::string& path, VolumeFacts& facts) {
    struct statx found = {};
    if (DWORD error = NearestExisting(path, found)) return error;
    VolumeCache& cache = VolumeCache::Instance();
    const bool known = cache.Find(found, facts);
    if (known && facts.takesStreams) return 0;
    if (!known && ::statfs(path.c_str(), &facts.fs) != 0) return Win32ErrorFromErrno(errno);
    const Probe probe = ProbeNamedStreams(path, found);
    facts.takesStreams = probe == Probe::kFileSystemTakes;
    // The file system's own "no" is not kept: an unreadable file on it still counts as
    // taking streams, and the next file asks again.
    if (!known || facts.takesStreams) cache.Keep(found, facts);
    facts.takesStreams = probe != Probe::kRefused;
    return 0;
}

BOOL QueryVolume(LPCWSTR root, LPWSTR volumeName, DWORD volumeNameSize, LPDWORD serialNumber,
                 LPDWORD maxComponentLength, LPDWORD fileSystemFlags, LPWSTR fileSystemName,
                 DWORD fileSystemNameSize) {
    std::string path;
    if (DWORD error = PathOfRoot(root, path)) return FailWith(error, FALSE);
    VolumeFacts facts;
    if (DWORD error = FactsOf(path, facts)) return FailWith(error, FALSE);
    const struct statfs& fs = facts.fs;

    const char* name = FileSystemName(static_cast<unsigned long>(fs.f_type));
    const size_t nameLength = std::strlen(name);
    if (fileSystemName && fileSystemNameSize <= nameLength) return FailWith(ERROR_MORE_DATA, FALSE);

    DWORD flags = FILE_CASE_SENSITIVE_SEARCH | FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
    if (facts.takesStreams) flags |= FILE_NAMED_STREAMS;
    if (fs.f_flags & ST_RDONLY) flags |= FILE_READ_ONLY_VOLUME;

    if (volumeName && volumeNameSize) volumeName[0] = 0;  // Linux volumes carry no label here
    if (serialNumber) {
        int fsid[2];
        std::memcpy(fsid, &fs.f_fsid, sizeof fsid);
        *serialNumber = static_cast<DWORD>(fsid[0]) ^ static_cast<DWORD>(fsid[1]);
    }
    if (maxComponentLength) *maxComponentLength = static_cast<DWORD>(fs.f_namelen);
    if (fileSystemFlags) *fileSystemFlags = flags;
    if (fileSystemName) {
        for (size_t i = 0; i < nameLength; ++i) fileSystemName[i] = static_cast<WCHAR>(name[i]);
        fileSystemName[nameLength] = 0;
    }
    return TRUE;
}

}  // namespace
}  // namespace quarrow2::platform

using namespace quarrow2::platform;

BOOL GetVolumeInformationW(LPCWSTR lpRootPathName, LPWSTR lpVolumeNameBuffer, DWORD nVolumeNameSize,
                           LPDWORD lpVolumeSerialNumber, LPDWORD lpMaximumComponentLength,
                           LPDWORD lpFileSystemFlags, LPWSTR lpFileSystemNameBuffer,
                           DWORD nFileSystemNameSize) {
    return Guarded<BOOL>(FALSE, [&] {
        return QueryVolume(lpRootPathName, lpVolumeNameBuffer, nVolumeNameSize,
                           lpVolumeSerialNumber, lpMaximumComponentLength, lpFileSystemFlags,
                           lpFileSystemNameBuffer, nFileSystemNameSize);
    });
}
