#include "platform/posix/files/lock_files.h"

#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/system/errors.h"

namespace quarrow2::platform {
namespace {

constexpr char kLockFolder[] = "/dev/shm/quarrow2-locks";
constexpr mode_t kFolderMode = 01777;
constexpr mode_t kLockFileMode = 0444;
// A removal holds its exclusive flock for one unlink, a claim turn the folder's for a few
// calls; one held much longer is neither, and the claim fails rather than wait on.
constexpr int kFlockAttempts = 20000;
constexpr long kPauseNanoseconds = 100 * 1000;
// A lock file removed or made by others between looking and opening, again and again.
constexpr int kOpenAttempts = 16;

bool UsableFolder() {
    struct stat st;
    return ::lstat(kLockFolder, &st) == 0 && S_ISDIR(st.st_mode) &&
           (st.st_mode & kFolderMode) == kFolderMode;
}

// Made under a private name and renamed into place only when complete, never over anything.
void MakeFolder() {
    char draft[] = "/dev/shm/quarrow2-locks.XXXXXX";
    if (!::mkdtemp(draft)) return;
    if (::chmod(draft, kFolderMode) != 0 ||
        ::renameat2(AT_FDCWD, draft, AT_FDCWD, kLockFolder, RENAME_NOREPLACE) != 0)
        ::rmdir(draft);
}

// Whether the folder is there and fit, making it when missing; looked at once per process,
// and again when `again` says it was found gone. Lock files are reached by their full path
// rather than through a kept descriptor of the folder, which a program closing every
// descriptor it did not open (as after a fork) could take away or swap for another file.
bool LockFolderReady(bool again = false) {
    static std::mutex mutex;
    static bool ready = false;
    std::lock_guard<std::mutex> guard(mutex);
    if (ready && !again) return true;
    if (!UsableFolder()) MakeFolder();
    ready = UsableFolder();
    return ready;
}

std::string LockFilePath(FileIdentity file) {
    char name[40];
    snprintf(name, sizeof name, "%" PRIx64 "-%" PRIx64, file.device, file.inode);
    return std::string(kLockFolder) + "/" + name;
}

// A new lock file, complete with its mode and this descriptor's shared flock before anyone
// can open it by name; -1 with EEXIST when another process made one first.
int PublishLockFile(const std::string& path) {
    UniqueFd fd(::open(kLockFolder, O_TMPFILE | O_RDWR | O_NOFOLLOW | O_CLOEXEC, kLockFileMode));
    if (!fd.valid()) return -1;
    char self[40];
    snprintf(self, sizeof self, "/proc/self/fd/%d", fd.get());
    if (::fchmod(fd.get(), kLockFileMode) != 0 || ::flock(fd.get(), LOCK_SH) != 0 ||
        ::linkat(AT_FDCWD, self, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0)
        return -1;
    return fd.release();
}

// Forks counted in both processes, and in the child alone: a descriptor opened before the
// last fork is shared with the other process.
std::atomic<unsigned> forks{0};
std::atomic<unsigned> forksAsChild{0};

void CountForks() {
    static const bool counting = pthread_atfork(
                                     nullptr, [] { ++forks; },
                                     [] {
                                         ++forks;
                                         ++forksAsChild;
                                     }) == 0;
    (void)counting;
}

void Pause() {
    struct timespec pause = {0, kPauseNanoseconds};
    ::nanosleep(&pause, nullptr);
}

// An flock (`operation` LOCK_SH or LOCK_EX), waited for with pauses rather than in the
// kernel, so that a holder that never lets go (a forked child keeping a copy of the
// descriptor) costs a refusal, not a hang; false when it cannot be had.
bool TakeFlock(int fd, int operation) {
    for (int attempt = 0; attempt < kFlockAttempts; ++attempt) {
        if (::flock(fd, operation | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        Pause();
    }
    errno = EWOULDBLOCK;
    return false;
}

// Removes the lock file of `fd` when no other descriptor has it, then closes `fd`.
void RemoveUnlessShared(int fd, FileIdentity file) {
    const int saved = errno;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) ::unlink(LockFilePath(file).c_str());
    ::close(fd);
    errno = saved;
}

class KeptLockFiles;
KeptLockFiles& Kept();

struct KeptDescriptor {
    FileIdentity file;
    int fd;
    unsigned forksAsChild;
};

// The descriptors kept for later handles, least recently let go of first.
class KeptLockFiles {
public:
    // A kept descriptor for `file`, or -1.
    int Take(FileIdentity file) {
        std::lock_guard<std::mutex> guard(mutex_);
        ForgetInherited();
        for (auto it = kept_.rbegin(); it != kept_.rend(); ++it)
            if (it->file.device == file.device && it->file.inode == file.inode) {
                const int found = it->fd;
                kept_.erase(std::next(it).base());
                return found;
            }
        return -1;
    }

    void Keep(FileIdentity file, int fd) {
        KeptDescriptor dropped = {{}, -1, 0};
        {
            std::lock_guard<std::mutex> guard(mutex_);
            ForgetInherited();
            if (closing_) {
                dropped = {file, fd, 0};
            } else {
                if (!registered_) registered_ = std::atexit([] { Kept().DropAll(true); }) == 0;
                kept_.push_back({file, fd, forksAsChild.load()});
                if (kept_.size() > kKeptLockFiles) {
                    dropped = kept_.front();
                    kept_.erase(kept_.begin());
                }
            }
        }
        if (dropped.fd >= 0) RemoveUnlessShared(dropped.fd, dropped.file);
    }

    void DropAll(bool forGood) {
        std::vector<KeptDescriptor> all;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            ForgetInherited();
            all.swap(kept_);
            if (forGood) closing_ = true;
        }
        for (const KeptDescriptor& kept : all) RemoveUnlessShared(kept.fd, kept.file);
    }

private:
    // A child's copies of its parent's descriptors are the parent's, and the child may
    // have closed them and given their numbers to files of its own: forgotten, never used
    // or closed here (being close-on-exec, they go at exec or exit).
    void ForgetInherited() {
        const unsigned now = forksAsChild.load();
        kept_.erase(
            std::remove_if(kept_.begin(), kept_.end(),
                           [now](const KeptDescriptor& kept) { return kept.forksAsChild != now; }),
            kept_.end());
    }

    std::mutex mutex_;
    std::vector<KeptDescriptor> kept_;
    bool registered_ = false;
    // Past exit's clean-up: what is let go of then is removed at once.
    bool closing_ = false;
};

// Never destroyed, so that handles closed by static destructors after exit's clean-up
// still find it.
KeptLockFiles& Kept() {
    static KeptLockFiles* kept = new KeptLockFiles;
    return *kept;
}

// A new descriptor of the lock file at `path`, flocked shared and still under its name.
DWORD OpenNamed(const std::string& path, UniqueFd& out) {
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        UniqueFd fd(
            ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (!fd.valid() && errno == ENOENT) {
            fd.reset(PublishLockFile(path));
            if (fd.valid()) {
                out = std::move(fd);
                return 0;
            }
            if (errno == EEXIST) continue;
        }
        // The folder itself gone or replaced by something else (by its owner or an
        // administrator): looked at again, and made anew when missing.
        if (!fd.valid() && (errno == ENOENT || errno == ENOTDIR)) {
            if (LockFolderReady(true)) continue;
            return ERROR_NOT_SUPPORTED;
        }
        if (!fd.valid())
            return errno == EACCES || errno == EPERM || errno == ELOOP ? ERROR_ACCESS_DENIED
                                                                       : Win32ErrorFromErrno(errno);
        // The shared flock that keeps the lock file from being removed, waiting out a
        // removal under way.
        if (!TakeFlock(fd.get(), LOCK_SH)) return ERROR_SHARING_VIOLATION;
        struct stat st;
        if (::fstat(fd.get(), &st) != 0) return Win32ErrorFromErrno(errno);
        if (!S_ISREG(st.st_mode)) return ERROR_ACCESS_DENIED;
        // Removed between the open and the flock: the name may hold a newer one by now.
        if (st.st_nlink == 0) continue;
        out = std::move(fd);
        return 0;
    }
    return ERROR_SHARING_VIOLATION;
}

}  // namespace

DWORD LockFile::Open(FileIdentity file) {
    Release();
    CountForks();
    forks_ = forks.load();
    file_ = file;
    int kept = Kept().Take(file);
    if (kept >= 0) {
        fd_.reset(kept);
        return 0;
    }
    if (!LockFolderReady()) return ERROR_NOT_SUPPORTED;
    return OpenNamed(LockFilePath(file), fd_);
}

void LockFile::Release() {
    if (!fd_.valid()) return;
    if (forks_ != forks.load()) {
        fd_.reset();
        return;
    }
    struct flock all = {};
    all.l_type = F_UNLCK;
    all.l_whence = SEEK_SET;
    const int saved = errno;
    const bool released = ::fcntl(fd_.get(), F_OFD_SETLK, &all) == 0;
    errno = saved;
    if (!released) {
        fd_.reset();
        return;
    }
    Kept().Keep(file_, fd_.release());
}

ClaimTurn::ClaimTurn()
    : folder_(::open(kLockFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)) {
    held_ = folder_.valid() && TakeFlock(folder_.get(), LOCK_EX);
}

// Unlocked before the close, so that a copy of the descriptor forked meanwhile does not
// keep the turn.
ClaimTurn::~ClaimTurn() {
    if (held_) ::flock(folder_.get(), LOCK_UN);
}

void LetGoOfKeptLockFiles() { Kept().DropAll(false); }

}  // namespace quarrow2::platform
