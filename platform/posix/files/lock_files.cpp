#include "platform/posix/files/lock_files.h"

#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <mutex>
#include <string>

#include "platform/posix/system/errors.h"

namespace quarrow2::posix {
namespace {

constexpr char kLockFolder[] = "/dev/shm/quarrow2-locks";
constexpr mode_t kFolderMode = 01777;
constexpr mode_t kLockFileMode = 0444;
// A claim waits this long for its turn, a closing handle (which only tidies up) far less.
constexpr int kPatientAttempts = 20000;
constexpr int kHastyAttempts = 50;
constexpr long kTurnPauseNanoseconds = 100 * 1000;
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

std::string LockFilePath(const std::string& name) { return std::string(kLockFolder) + "/" + name; }

// A new lock file, complete with its mode before anyone can open it by name; -1 with
// EEXIST when another process made one first.
int PublishLockFile(const std::string& path) {
    UniqueFd fd(::open(kLockFolder, O_TMPFILE | O_RDWR | O_NOFOLLOW | O_CLOEXEC, kLockFileMode));
    if (!fd.valid()) return -1;
    char self[40];
    snprintf(self, sizeof self, "/proc/self/fd/%d", fd.get());
    if (::fchmod(fd.get(), kLockFileMode) != 0 ||
        ::linkat(AT_FDCWD, self, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0)
        return -1;
    return fd.release();
}

// Counts forks: a lock file descriptor opened before the last fork is shared with the
// other process, whose locks in it a closing handle cannot tell from its own, so it does
// not remove the lock file then.
std::atomic<unsigned> forks{0};

unsigned ForksSoFar() {
    static const bool counting = pthread_atfork(nullptr, nullptr, [] { ++forks; }) == 0;
    return counting ? forks.load() : 0;
}

bool OthersLockAnything(int fd) {
    struct flock probe = {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = 0;
    probe.l_len = 0;
    if (::fcntl(fd, F_OFD_GETLK, &probe) != 0) return true;
    return probe.l_type != F_UNLCK;
}

}  // namespace

DWORD LockFile::Open(int fileFd) {
    struct stat st;
    if (::fstat(fileFd, &st) != 0) return Win32ErrorFromErrno(errno);
    if (!LockFolderReady()) return ERROR_NOT_SUPPORTED;
    forks_ = ForksSoFar();
    char name[40];
    snprintf(name, sizeof name, "%" PRIx64 "-%" PRIx64, static_cast<uint64_t>(st.st_dev),
             static_cast<uint64_t>(st.st_ino));
    const std::string path = LockFilePath(name);
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) {
            fd = PublishLockFile(path);
            if (fd < 0 && errno == EEXIST) continue;
        }
        // The folder itself gone or replaced by something else (by its owner or an
        // administrator): looked at again, and made anew when missing.
        if (fd < 0 && (errno == ENOENT || errno == ENOTDIR)) {
            if (LockFolderReady(true)) continue;
            return ERROR_NOT_SUPPORTED;
        }
        if (fd < 0)
            return errno == EACCES || errno == EPERM || errno == ELOOP ? ERROR_ACCESS_DENIED
                                                                       : Win32ErrorFromErrno(errno);
        fd_.reset(fd);
        path_ = path;
        return 0;
    }
    return ERROR_SHARING_VIOLATION;
}

DWORD LockFile::CheckStillNamed() {
    struct stat st;
    if (::fstat(fd_.get(), &st) != 0) return Win32ErrorFromErrno(errno);
    if (!S_ISREG(st.st_mode)) return ERROR_ACCESS_DENIED;
    checked_ = true;
    return st.st_nlink > 0 ? 0 : ERROR_FILE_NOT_FOUND;
}

void LockFile::Forget() {
    fd_.reset();
    path_.clear();
    checked_ = false;
}

LockFile::~LockFile() {
    if (!checked_ || forks_ != ForksSoFar()) return;
    // Without the turn the file stays: a claim may be checking that it is still there.
    ClaimTurn turn(fd_.get(), false);
    if (turn.held() && !OthersLockAnything(fd_.get())) {
        const int saved = errno;
        ::unlink(path_.c_str());
        errno = saved;
    }
}

ClaimTurn::ClaimTurn(int fd, bool patient) : fd_(fd) {
    const int attempts = patient ? kPatientAttempts : kHastyAttempts;
    const int saved = errno;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
            held_ = true;
            break;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) break;
        struct timespec pause = {0, kTurnPauseNanoseconds};
        ::nanosleep(&pause, nullptr);
    }
    errno = saved;
}

ClaimTurn::~ClaimTurn() {
    if (held_) ::flock(fd_, LOCK_UN);
}

}  // namespace quarrow2::posix
