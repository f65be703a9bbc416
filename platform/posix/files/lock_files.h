// Where the share-mode marks and byte-range locks of a file live: a lock file of the layer's
// own per file, so that no other program's lock on the file itself can ever meet them.
//
// The user's file is no place for them. A whole-file POSIX lock that a mail spool, a daemon
// or an editor holds (lockf, or fcntl with l_len 0, shared or exclusive) covers every offset,
// however far past the data the marks are put, and an flock that a program keeps on the file
// would meet the layer's own. So each file that a handle claims access to gets a lock file in one
// folder of the machine, /dev/shm/quarrow2-locks, named by the file's device and inode
// numbers in hex ("803-1a2b"). Every handle has a descriptor of the lock file to itself (its
// own open file description, so that its open-file-description locks are its alone) as
// long as it keeps the file; the kernel drops the locks with the descriptor, also when a process
// dies. Only read locks and flock are used, so a read-only descriptor is enough: any user
// who can open the file can take part, whoever made the lock file.
//
// Pitfalls, each thought through:
//
// - The folder is shared by all users, so it is sticky and world-writable (01777), like
//   /tmp. It is made under a private name, given its mode and then renamed into place
//   without replacing anything (RENAME_NOREPLACE), so nobody ever sees it half made, and a
//   umask never leaves it without write permission for others. What is found there is used
//   only when it is a real directory (not a symbolic link) with at least those mode bits,
//   as seen at a process's first claim (and again when it is found gone or not a directory);
//   otherwise, or when /dev/shm is missing, every claim fails with ERROR_NOT_SUPPORTED (and
//   with ERROR_DISK_FULL when /dev/shm is full). Handles are never opened unlocked. Lock
//   files are reached by full path, not through a kept descriptor of the folder, which a
//   program closing every descriptor it did not open (as children do after fork) could
//   take away or swap for another file.
// - Lock files are made the same way: an unnamed file (O_TMPFILE), chmod 0444 whatever the
//   umask, shared-flocked, then linked under its name, failing with EEXIST if another process was
//   first (whose file is then used). A made-then-chmodded file would, between the two calls, be
//   unreadable to others under a strict umask, and stay so if its maker died there.
// - An entry someone else put under a lock file's name is only opened with O_NOFOLLOW and
//   O_NONBLOCK and used only if it is a regular file: a symbolic link, a FIFO, a directory
//   or a file we may not read refuses the claim with ERROR_ACCESS_DENIED. Nothing is ever
//   written, truncated or chmodded there except a file this process has just made.
// - The inode number of a deleted file is reused. A lock file found under that name may be
//   left from the old file; it is harmless, because a handle keeps the file itself open for
//   as long as it holds locks, so no lock in it can belong to another live inode: locks
//   found there are always of the file now bearing the number. The same holds for a
//   descriptor this process kept (below) under a number that a new file has taken: the
//   name is the new file's, and the descriptor holds no lock.
// - Every descriptor of a lock file holds a shared flock on it from its opening (or, for a
//   new one, from before it gets its name) to its close. A lock file is removed only by
//   one who gets an exclusive flock without waiting: then no other descriptor anywhere,
//   in use or kept, has it, and one opened meanwhile finds, once its shared flock is
//   granted, that the file has no link left (fstat) and opens the name again. So removal
//   never splits the handles of one file over two lock files, and a claim needs no turn to
//   find its lock file.
// - A claim takes its marks and then tests for conflicting ones, so two racing claims are
//   never both granted; but each may see the other's marks and both be refused. Only a
//   claim whose test finds a conflict therefore withdraws its marks, takes the claim turn
//   (an exclusive flock on the folder, the one thing every user can open that no lock file
//   removal touches), takes its marks and tests again inside it, withdraws them if refused,
//   and lets go. Of claims that collide, the one whose turn comes last finds every other
//   one either granted (marks kept) or withdrawn, so at least one is granted, and a claim
//   is refused only for the marks of a holder that is granted or still testing outside the
//   turn (who then takes the turn itself). The turn is taken while holding nothing but
//   the lock file's shared flock and marks, never waited for by a removal (which takes its
//   exclusive flock without waiting and holds it for one unlink), and inside it nothing is
//   waited for: no deadlock. Its holder's kill closes the descriptor and with it the flock;
//   it is unlocked before its close, so that a copy forked meanwhile does not keep it, and
//   one held past the patience of a removal wait (a foreign program flocking the folder)
//   refuses the claim, as its fast test had found. One turn for the whole folder serializes
//   only claims that met a conflict, each for a few calls.
// - A process keeps the descriptors its handles let go of, without any lock but the
//   shared flock, for the next handle on the same file: at most kKeptLockFiles of them,
//   the least recently let go removed first. Each keeps its lock file from being removed,
//   so lock files are removed when kept ones are dropped, at exit (or when the library is
//   unloaded), and by LetGoOfKeptLockFiles. One kept or in use in another process stays
//   for that process to remove. A process killed leaves its lock files; any process that
//   later drops one of the same file removes it, and one of a file deleted meanwhile
//   stays, empty, until /dev/shm is cleared at boot (a few hundred bytes each, and only
//   after kills).
// - A descriptor holds the handle's locks alone (its own open file description): a kept
//   one is only ever given to one handle at a time, and after a fork it is shared with the
//   other process. So the child forgets every kept descriptor it inherited, neither using
//   nor closing it (a child may close what it inherited and give the numbers to files of
//   its own; close-on-exec, the copies go at exec or exit), and a handle open across a fork, in
//   either process, closes its descriptor without giving back its locks or keeping it: the other
//   process's copy of the handle may still hold them. The parent keeps the descriptors it kept
//   before the fork: the child never uses its copies, and closing them releases nothing.
// - Only the folder's owner and root can remove others' lock files (and anyone their own);
//   one who removes a lock file in use breaks share modes only between the layer's own
//   handles, which the file's own permissions (setfattr works as ever) never depended on.
// - The folder belongs to the machine as /dev/shm is seen: processes in containers or
//   mount namespaces with a /dev/shm of their own share modes only among themselves, as
//   if on other machines. Device numbers are the same in every mount namespace.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"
#include "platform/posix/files/unique_fd.h"

namespace quarrow2::platform {

// How many lock file descriptors a process keeps when no handle uses them.
constexpr size_t kKeptLockFiles = 8;

// The file a lock file is for, as fstat names it.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
};
inline FileIdentity IdentityOf(const struct stat& st) {
    return FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

class LockFile {
public:
    LockFile() = default;
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;
    ~LockFile() { Release(); }

    // A descriptor of the file's lock file for this handle alone: one the process kept, or
    // a new one, making the lock file when missing.
    DWORD Open(FileIdentity file);
    bool valid() const { return fd_.valid(); }
    int fd() const { return fd_.get(); }

    // Gives back every lock the descriptor holds and keeps it for the next handle on the
    // same file; after a fork, closes it and leaves its locks to the other process's copy.
    void Release();

private:
    UniqueFd fd_;
    FileIdentity file_;
    // Forks counted when it was opened: after a fork the descriptor is shared.
    unsigned forks_ = 0;
};

// The turn of a claim that found a conflict at its first test (above); not held when the
// folder cannot be opened or stays flocked by another.
class ClaimTurn {
public:
    ClaimTurn();
    ClaimTurn(const ClaimTurn&) = delete;
    ClaimTurn& operator=(const ClaimTurn&) = delete;
    ~ClaimTurn();
    bool held() const { return held_; }

private:
    UniqueFd folder_;
    bool held_ = false;
};

// Drops every lock file descriptor kept for later handles, removing the lock files nobody
// else has open. Runs at exit; tests call it to see what the last handle leaves.
void LetGoOfKeptLockFiles();

}  // namespace quarrow2::platform
