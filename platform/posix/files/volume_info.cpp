// GetVolumeInformationW: what the file system under a root path can do. Named streams are
// there when it takes "user." extended attributes.
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/posix/system/utf8.h"
#include "platform/posix/system/errors.h"

namespace quarrow2::posix {
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
DWORD NearestExisting(std::string& path, struct statfs& fs) {
    for (;;) {
        if (::statfs(path.c_str(), &fs) == 0) return 0;
        if ((errno != ENOENT && errno != ENOTDIR) || path == "/" || path == ".")
            return Win32ErrorFromErrno(errno);
        path = ParentOf(path);
    }
}

// A probe refused for want of permission (a file without read permission, a folder the
// caller may not search) says nothing against the file system: counted as support, so that
// the caller's own open meets the refusal and reports the file's reason.
bool TakesNamedStreams(const std::string& path) {
    if (::getxattr(path.c_str(), kProbeAttribute, nullptr, 0) >= 0) return true;
    return errno == ENODATA || errno == EACCES || errno == EPERM;
}

BOOL QueryVolume(LPCWSTR root, LPWSTR volumeName, DWORD volumeNameSize, LPDWORD serialNumber,
                 LPDWORD maxComponentLength, LPDWORD fileSystemFlags, LPWSTR fileSystemName,
                 DWORD fileSystemNameSize) {
    std::string path;
    if (DWORD error = PathOfRoot(root, path)) return FailWith(error, FALSE);
    struct statfs fs;
    if (DWORD error = NearestExisting(path, fs)) return FailWith(error, FALSE);

    const char* name = FileSystemName(static_cast<unsigned long>(fs.f_type));
    const size_t nameLength = std::strlen(name);
    if (fileSystemName && fileSystemNameSize <= nameLength) return FailWith(ERROR_MORE_DATA, FALSE);

    DWORD flags = FILE_CASE_SENSITIVE_SEARCH | FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
    if (TakesNamedStreams(path)) flags |= FILE_NAMED_STREAMS;
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
}  // namespace quarrow2::posix

using namespace quarrow2::posix;

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
