#include "bench/support/volumes.h"

#include <linux/magic.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace quarrow2::bench {
namespace {

// Room for the 100 MiB main stream, a thousand items and every value size at once.
constexpr const char* kTmpfsOptions = "size=512m,mode=0700";

std::string Why(const std::string& what, int error) { return what + ": " + std::strerror(error); }

// A new empty folder under `parent`; empty when none can be made.
std::string NewFolderUnder(const std::string& parent, std::string& why) {
    std::string pattern = parent + "/quarrow2-bench-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        why = Why("cannot make a folder in " + parent, errno);
        return std::string();
    }
    return pattern;
}

bool IsFileSystem(const std::string& folder, long magic) {
    struct statfs info;
    return ::statfs(folder.c_str(), &info) == 0 && static_cast<long>(info.f_type) == magic;
}

void RemoveTree(const std::string& folder) {
    if (folder.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

}  // namespace

ScratchVolumes::ScratchVolumes() {
    volumes_.push_back(MountTmpfs());
    volumes_.push_back(FindExt4());
}

ScratchVolumes::~ScratchVolumes() {
    for (const Volume& volume : volumes_)
        if (volume.skipReason.empty()) RemoveTree(volume.folder);
    if (!tmpfsMountPoint_.empty()) {
        ::umount2(tmpfsMountPoint_.c_str(), MNT_DETACH);
        ::rmdir(tmpfsMountPoint_.c_str());
    }
}

Volume ScratchVolumes::MountTmpfs() {
    Volume volume{"tmpfs", std::string(), std::string()};
    std::string point = NewFolderUnder("/tmp", volume.skipReason);
    if (point.empty()) return volume;
    // Mounts made from here on stay in this process's namespace: the host never sees the
    // tmpfs, and it cannot outlive the process.
    if (::unshare(CLONE_NEWNS) != 0) {
        volume.skipReason = Why("cannot enter a private mount namespace (needs root)", errno);
    } else if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        volume.skipReason = Why("cannot make the mounts private", errno);
    } else if (::mount("tmpfs", point.c_str(), "tmpfs", 0, kTmpfsOptions) != 0) {
        volume.skipReason = Why("cannot mount a tmpfs", errno);
    }
    if (!volume.skipReason.empty()) {
        ::rmdir(point.c_str());
        return volume;
    }
    tmpfsMountPoint_ = point;
    if (!IsFileSystem(point, TMPFS_MAGIC)) {
        volume.skipReason = "the mount at " + point + " is not a tmpfs";
        return volume;
    }
    volume.folder = point + "/scratch";
    if (::mkdir(volume.folder.c_str(), 0700) != 0)
        volume.skipReason = Why("cannot make " + volume.folder, errno);
    return volume;
}

Volume ScratchVolumes::FindExt4() {
    Volume volume{"ext4", std::string(), std::string()};
    std::error_code error;
    std::string programFolder =
        std::filesystem::read_symlink("/proc/self/exe", error).parent_path().string();
    std::string tried;
    for (const std::string& parent : {std::string("/tmp"), programFolder}) {
        if (parent.empty()) continue;
        if (!IsFileSystem(parent, EXT4_SUPER_MAGIC)) {
            tried += (tried.empty() ? "" : ", ") + parent;
            continue;
        }
        volume.folder = NewFolderUnder(parent, volume.skipReason);
        if (!volume.folder.empty()) volume.skipReason.clear();
        return volume;
    }
    volume.skipReason = "no ext4 here (" + tried + " are on other file systems)";
    return volume;
}

}  // namespace quarrow2::bench
