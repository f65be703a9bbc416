// Choosing the share-mode store, checking it, making its one lock file, and the descriptors
// of that file a process keeps for later handles. docs/design/sharing.md gives the reasons.
#include "platform/posix/files/lock_store.h"

#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <random>
#include <vector>

#include "platform/posix/system/message_texts.h"
#include "quarrow2/names.h"

namespace quarrow2::platform {
namespace {

// The store an administrator makes for root and the members of its group (the packages make
// it with systemd-tmpfiles), and the store's name in a user's runtime folder.
constexpr char kSharedStore[] = "/run/quarrow2";
constexpr char kSharedParent[] = "/run";
constexpr char kRuntimeFolders[] = "/run/user/";
constexpr char kStoreName[] = "/quarrow2";
// Where a user without a runtime folder keeps a store: a name another user can take first.
constexpr char kFallbackParent[] = "/dev/shm";
constexpr char kLockFileName[] = "locks";
constexpr mode_t kOwnerOnly = 0700;
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr int kLockFileFlags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

enum class StoreKind { kShared, kRuntime, kFallback };

struct Store {
    std::string folder;
    StoreKind kind = StoreKind::kRuntime;
};

// ---- what is said when a store cannot be used ---------------------------------------------

std::string SystemText(int err) {
    const char* text = ::strerrordesc_np(err);
    return text ? text : "error " + std::to_string(err);
}

const char* Remedy(StoreKind kind) {
    switch (kind) {
        case StoreKind::kShared:
            return "An administrator must make it a folder of root's with mode 2770 "
                   "(systemd-tmpfiles --create quarrow2.conf), or remove it.";
        case StoreKind::kRuntime:
            return "Remove it, or set XDG_RUNTIME_DIR to a folder of your own.";
        case StoreKind::kFallback:
            break;
    }
    return "Set XDG_RUNTIME_DIR to a folder of your own (mode 0700), or have it removed.";
}

// Gives the thread the text that names the store and what is wrong with it.
DWORD Unusable(const Store& store, const std::string& why) {
    const std::string text = "The share-mode store " + store.folder + " cannot be used: " + why +
                             ". " + Remedy(store.kind) + "\r\n";
    SetLockStoreText(NameUtf16FromBytes(text.data(), text.size()));
    return ERROR_LOCK_STORE_UNUSABLE;
}

// A failed making or opening: the process's own limits keep their Windows codes, a full
// file system says so, anything else says that the store cannot be used.
DWORD Refused(const Store& store, const std::string& what, int err) {
    switch (err) {
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case ENOSPC:
        case EDQUOT: {
            const std::string text = "The share-mode store " + store.folder + " is full: " + what +
                                     " (" + SystemText(err) +
                                     "). Free space on its file system.\r\n";
            SetLockStoreText(NameUtf16FromBytes(text.data(), text.size()));
            return ERROR_LOCK_STORE_UNUSABLE;
        }
        default:
            return Unusable(store, what + " (" + SystemText(err) + ")");
    }
}

std::string Octal(mode_t mode) {
    char text[8];
    snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Why an entry that could not be opened as the store's folder is none, seen without
// following it.
DWORD WhyNoFolder(const Store& store, uid_t owner, int err) {
    struct stat st;
    if (::lstat(store.folder.c_str(), &st) != 0) return Refused(store, "it cannot be opened", err);
    if (S_ISLNK(st.st_mode)) return Unusable(store, "it is a symbolic link");
    if (!S_ISDIR(st.st_mode)) return Unusable(store, "it is not a folder");
    if (st.st_uid != owner)
        return Unusable(store, "it belongs to user " + std::to_string(st.st_uid));
    return Refused(store, "it cannot be opened", err);
}

// ---- the checks ---------------------------------------------------------------------------

// Where a store may be: a folder in which no one but `owner` (and root) can make, rename or
// remove entries: `owner`'s, others kept out of writing, or, where kSticky admits it, a
// sticky folder (each entry then stays its maker's). A runtime folder may be reached
// through a link, the others not.
enum class Parent { kRuntime, kRootOnly, kSticky };
bool SafeParent(const char* path, uid_t owner, Parent kind) {
    struct stat st;
    const int got = kind == Parent::kRuntime ? ::stat(path, &st) : ::lstat(path, &st);
    if (got != 0 || !S_ISDIR(st.st_mode) || st.st_uid != owner) return false;
    return (st.st_mode & 022) == 0 || (kind == Parent::kSticky && (st.st_mode & S_ISVTX));
}

// The mode a store's folder must have: the user's own stores 0700, the shared one 2770
// (members may write) or 0700 (root alone).
bool FitFolderMode(StoreKind kind, mode_t mode) {
    mode &= 07777;
    if (kind != StoreKind::kShared) return (mode & 077) == 0;
    return (mode & 07) == 0 && ((mode & 070) == 0 || ((mode & 070) == 070 && (mode & S_ISGID)));
}

DWORD CheckFolder(const Store& store, int folder, uid_t uid, struct stat& st) {
    if (::fstat(folder, &st) != 0) return Refused(store, "it cannot be examined", errno);
    const uid_t owner = store.kind == StoreKind::kShared ? 0 : uid;
    if (st.st_uid != owner)
        return Unusable(store, "it belongs to user " + std::to_string(st.st_uid) +
                                   (owner == 0 ? ", not to root" : ""));
    if (!FitFolderMode(store.kind, st.st_mode))
        return Unusable(store, "its mode is " + Octal(st.st_mode) + ", not " +
                                   (store.kind == StoreKind::kShared ? "2770 or 0700" : "0700"));
    // One of ours made under a strict umask: completed, as no one else can reach it.
    if (store.kind != StoreKind::kShared && (st.st_mode & kOwnerOnly) != kOwnerOnly &&
        ::fchmod(folder, kOwnerOnly) != 0)
        return Refused(store, "its mode cannot be set to 0700", errno);
    return 0;
}

// The lock file lets in whoever may enter the folder, and no one else.
mode_t LockFileMode(const struct stat& folder) { return (folder.st_mode & 070) ? 0660 : 0600; }

DWORD CheckLockFile(const Store& store, int fd, const struct stat& folder) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return Refused(store, "its lock file cannot be examined", errno);
    if (!S_ISREG(st.st_mode)) return Unusable(store, "its lock file is not a regular file");
    const mode_t wanted = LockFileMode(folder);
    const bool shared = wanted & 060;
    if ((st.st_mode & 07777) != wanted || (shared && st.st_gid != folder.st_gid) ||
        (!shared && st.st_uid != folder.st_uid))
        return Unusable(store, "its lock file is not " + Octal(wanted) + " with the folder's " +
                                   (shared ? "group" : "owner"));
    return 0;
}

// ---- making the lock file -----------------------------------------------------------------

// Made complete (mode set whatever the umask) before it gets its name, so that no process
// ever finds it half made, even if its maker dies; EEXIST when another was first.
int PublishLockFile(int folder, mode_t mode) {
    UniqueFd fd(::openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode));
    char self[40];
    if (fd.valid()) {
        snprintf(self, sizeof self, "/proc/self/fd/%d", fd.get());
        if (::fchmod(fd.get(), mode) == 0 &&
            ::linkat(AT_FDCWD, self, folder, kLockFileName, AT_SYMLINK_FOLLOW) == 0)
            return fd.release();
        if (errno == EEXIST || errno == ENOSPC || errno == EDQUOT) return -1;
    } else if (errno == ENOSPC || errno == EDQUOT || errno == EMFILE || errno == ENFILE) {
        return -1;
    }
    // No unnamed files here (or no /proc): a draft under a name of its own, then linked.
    char draft[40];
    snprintf(draft, sizeof draft, ".%s.%08x", kLockFileName,
             static_cast<unsigned>(std::random_device()()));
    fd.reset(::openat(folder, draft, O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!fd.valid()) return -1;
    const bool linked =
        ::fchmod(fd.get(), mode) == 0 && ::linkat(folder, draft, folder, kLockFileName, 0) == 0;
    const int saved = errno;
    ::unlinkat(folder, draft, 0);
    errno = saved;
    return linked ? fd.release() : -1;
}

DWORD OpenLockFile(const Store& store, int folder, const struct stat& folderStat, UniqueFd& out) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        UniqueFd fd(::openat(folder, kLockFileName, kLockFileFlags));
        if (!fd.valid() && errno == ENOENT)
            fd.reset(PublishLockFile(folder, LockFileMode(folderStat)));
        if (!fd.valid() && errno == EEXIST) continue;
        if (!fd.valid()) return Refused(store, "its lock file cannot be opened or made", errno);
        if (DWORD error = CheckLockFile(store, fd.get(), folderStat)) return error;
        out = std::move(fd);
        return 0;
    }
    return Refused(store, "its lock file cannot be opened or made", EEXIST);
}

// ---- choosing the store -------------------------------------------------------------------

// The user's own store: in the runtime folder the session names, else in the one logind
// keeps for the user, else under /dev/shm.
Store OwnStore(uid_t uid) {
    const char* runtime = ::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && SafeParent(runtime, uid, Parent::kRuntime))
        return {std::string(runtime) + kStoreName, StoreKind::kRuntime};
    const std::string logind = kRuntimeFolders + std::to_string(uid);
    if (SafeParent(logind.c_str(), uid, Parent::kRuntime))
        return {logind + kStoreName, StoreKind::kRuntime};
    return {std::string(kFallbackParent) + "/quarrow2-" + std::to_string(uid),
            StoreKind::kFallback};
}

// Whether the process uses the shared store: it does when it may enter it (root, or a
// member of its group). Root always does, making it for itself when there is none; anything
// else in its place, which only root can have put there, is root's to mend. The folder is
// opened into `folder`, or `error` names what is wrong.
bool UsesShared(uid_t uid, UniqueFd& folder, DWORD& error) {
    error = 0;
    if (!SafeParent(kSharedParent, 0, Parent::kRootOnly)) return false;
    const Store shared{kSharedStore, StoreKind::kShared};
    folder.reset(::open(kSharedStore, kFolderFlags));
    if (folder.valid()) return true;
    if (uid != 0) return false;
    if (errno == ENOENT) {
        if (::mkdir(kSharedStore, kOwnerOnly) != 0 && errno != EEXIST) {
            error = Refused(shared, "it cannot be made", errno);
            return true;
        }
        folder.reset(::open(kSharedStore, kFolderFlags));
        if (folder.valid()) return true;
    }
    error = WhyNoFolder(shared, 0, errno);
    return true;
}

// The store's folder, opened without following a link, made when missing.
DWORD OpenFolder(const Store& store, uid_t uid, UniqueFd& folder) {
    if (store.kind == StoreKind::kFallback && !SafeParent(kFallbackParent, 0, Parent::kSticky))
        return Unusable(store, std::string(kFallbackParent) +
                                   " is missing or lets other users replace what is in it");
    folder.reset(::open(store.folder.c_str(), kFolderFlags));
    if (!folder.valid() && errno == ENOENT) {
        if (::mkdir(store.folder.c_str(), kOwnerOnly) != 0 && errno != EEXIST)
            return Refused(store, "it cannot be made", errno);
        folder.reset(::open(store.folder.c_str(), kFolderFlags));
    }
    return folder.valid() ? 0 : WhyNoFolder(store, uid, errno);
}

// Chooses the store, checks it and opens its lock file, whose first descriptor `out` gets.
DWORD ChooseStore(Store& store, UniqueFd& out) {
    const uid_t uid = ::geteuid();
    UniqueFd folder;
    DWORD error = 0;
    if (UsesShared(uid, folder, error)) {
        store = {kSharedStore, StoreKind::kShared};
        if (error) return error;
    } else {
        store = OwnStore(uid);
        if ((error = OpenFolder(store, uid, folder))) return error;
    }
    struct stat st;
    if ((error = CheckFolder(store, folder.get(), uid, st))) return error;
    return OpenLockFile(store, folder.get(), st, out);
}

// ---- the process's store and kept descriptors ---------------------------------------------

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

struct KeptDescriptor {
    int fd;
    unsigned forksAsChild;
};

struct ProcessStore {
    std::mutex mutex;
    Store store;
    std::string lockFile;  // empty until chosen, and again once found gone
    unsigned chosenAsChild = 0;
    unsigned generation = 0;
    std::vector<KeptDescriptor> kept;

    // A child's copies of its parent's descriptors are the parent's, and the child may have
    // closed them and given their numbers to files of its own: forgotten, never used or
    // closed here (being close-on-exec, they go at exec or exit). The child chooses its
    // store again: it may run as another user.
    void ForgetInherited() {
        const unsigned now = forksAsChild.load();
        kept.erase(std::remove_if(kept.begin(), kept.end(),
                                  [now](const KeptDescriptor& k) { return k.forksAsChild != now; }),
                   kept.end());
        if (chosenAsChild != now) lockFile.clear();
    }
};

// Never destroyed, so that handles closed by static destructors at exit still find it.
ProcessStore& Process() {
    static ProcessStore* process = new ProcessStore;
    return *process;
}

}  // namespace

DWORD LockHolder::Open() {
    Release();
    CountForks();
    forks_ = forks.load();
    ProcessStore& process = Process();
    Store store;
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::string lockFile;
        {
            std::lock_guard<std::mutex> guard(process.mutex);
            process.ForgetInherited();
            generation_ = process.generation;
            if (!process.kept.empty()) {
                fd_.reset(process.kept.back().fd);
                process.kept.pop_back();
                return 0;
            }
            if (process.lockFile.empty()) {
                UniqueFd first;
                const DWORD error = ChooseStore(process.store, first);
                if (error) return error;
                process.lockFile = process.store.folder + "/" + kLockFileName;
                process.chosenAsChild = forksAsChild.load();
                generation_ = ++process.generation;
                fd_ = std::move(first);
                return 0;
            }
            store = process.store;
            lockFile = process.lockFile;
        }
        fd_.reset(::open(lockFile.c_str(), kLockFileFlags));
        if (fd_.valid()) return 0;
        const int err = errno;
        if (err != ENOENT && err != ENOTDIR)
            return Refused(store, "its lock file cannot be opened", err);
        // Removed (with the store, by its owner or an administrator): chosen and made
        // again, and the descriptors kept of the old one closed.
        std::vector<KeptDescriptor> old;
        {
            std::lock_guard<std::mutex> guard(process.mutex);
            if (process.generation == generation_) {
                process.lockFile.clear();
                old.swap(process.kept);
            }
        }
        for (const KeptDescriptor& kept : old) ::close(kept.fd);
    }
    return Refused(store, "its lock file cannot be opened", ENOENT);
}

void LockHolder::Release() {
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
    ProcessStore& process = Process();
    std::lock_guard<std::mutex> guard(process.mutex);
    process.ForgetInherited();
    if (generation_ != process.generation || process.kept.size() >= kKeptDescriptors) {
        fd_.reset();
        return;
    }
    process.kept.push_back({fd_.release(), forksAsChild.load()});
}

void LetGoOfKeptDescriptors() {
    std::vector<KeptDescriptor> all;
    {
        ProcessStore& process = Process();
        std::lock_guard<std::mutex> guard(process.mutex);
        process.ForgetInherited();
        all.swap(process.kept);
    }
    for (const KeptDescriptor& kept : all) ::close(kept.fd);
}

std::string LockStoreFile() {
    ProcessStore& process = Process();
    std::lock_guard<std::mutex> guard(process.mutex);
    process.ForgetInherited();
    return process.lockFile;
}

}  // namespace quarrow2::platform
