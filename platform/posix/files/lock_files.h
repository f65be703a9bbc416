// Where the share-mode marks and byte-range locks of a file live: a lock file of the layer's
// own per file, so that no other program's lock on the file itself can ever meet them.
//
// The user's file is no place for them. A whole-file POSIX lock that a mail spool, a daemon
// or an editor holds (lockf, or fcntl with l_len 0, shared or exclusive) covers every offset,
// however far past the data the marks are put, and an flock that a program keeps would stop
// the claims' turns. So each file that a handle claims access to gets a lock file in one
// folder of the machine, /dev/shm/quarrow2-locks, named by the file's device and inode
// numbers in hex ("803-1a2b"). Every handle opens the lock file by itself (its own open file
// description, so that its open-file-description locks are its alone) and keeps it as long
// as it keeps the file; the kernel drops the locks with the descriptor, also when a process
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
//   umask, then linked under its name, failing with EEXIST if another process was first
//   (whose file is then used). A made-then-chmodded file would, between the two calls, be
//   unreadable to others under a strict umask, and stay so if its maker died there.
// - An entry someone else put under a lock file's name is only opened with O_NOFOLLOW and
//   O_NONBLOCK and used only if it is a regular file: a symbolic link, a FIFO, a directory
//   or a file we may not read refuses the claim with ERROR_ACCESS_DENIED. Nothing is ever
//   written, truncated or chmodded there except a file this process has just made.
// - The inode number of a deleted file is reused. A lock file found under that name may be
//   left from the old file; it is harmless, because a handle keeps the file itself open for
//   as long as it holds locks, so no lock in it can belong to another live inode: locks
//   found there are always of the file now bearing the number.
// - Lock files are removed when the last handle goes, so they do not pile up (one per file
//   ever touched would fill /dev/shm over a few big walks). Removing a lock file that
//   another process has just opened would split the handles over two lock objects, so
//   removal and the check that the file is still there both happen in the claim turn (an
//   exclusive flock on the lock file): a closing handle removes the file only when no other
//   descriptor holds any lock in it, and a claim that finds its lock file removed (no link
//   left) starts over with a new one. A handle always holds locks in its lock file while
//   it keeps it; one whose claim is refused holds none and lets go of it at once, since
//   the file could be removed and a new one made under the name, which its close would
//   then remove from under the new file's holders. In a sticky folder only the lock file's
//   maker may remove it; a lock file made by another user therefore stays until one of that user's
//   handles closes last, which bounds what is left to files shared between users. A
//   process killed while it holds handles leaves their lock files too: the next handle on
//   the same file removes them, and one of a file deleted meanwhile stays, empty, until
//   /dev/shm is cleared at boot (a few hundred bytes each, and only after kills).
// - Only the folder's owner and root can remove others' lock files; one who does so
//   breaks share modes only between the layer's own handles, which the file's own
//   permissions (setfattr works as ever) never depended on.
// - After a fork, parent and child share each lock file descriptor, and with it the
//   locks of the handle; a handle closed in either then leaves the lock file in place,
//   since the locks the other still holds in it look like its own.
// - The folder belongs to the machine as /dev/shm is seen: processes in containers or
//   mount namespaces with a /dev/shm of their own share modes only among themselves, as
//   if on other machines. Device numbers are the same in every mount namespace.
#pragma once

#include <string>

#include "platform/platform.h"
#include "platform/posix/files/unique_fd.h"

namespace quarrow2::posix {

class LockFile {
public:
    LockFile() = default;
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;
    // Removes the lock file when no other descriptor holds a lock in it.
    ~LockFile();

    // Opens the lock file of the file behind `fileFd`, making it when missing.
    DWORD Open(int fileFd);
    bool valid() const { return fd_.valid(); }
    int fd() const { return fd_.get(); }

    // In the claim turn: 0 when the descriptor is a regular file still under its name;
    // ERROR_FILE_NOT_FOUND when a closing handle removed it meanwhile (open it again).
    DWORD CheckStillNamed();
    // Gives the descriptor up, without removing anything.
    void Forget();

private:
    UniqueFd fd_;
    std::string path_;
    // Found to be a lock file, not something else under its name: only then is it removed.
    bool checked_ = false;
    // Forks counted when it was opened: after a fork the descriptor is shared.
    unsigned forks_ = 0;
};

// Concurrent claims on one lock file take turns behind an exclusive flock on it, held for
// a few system calls. No other program locks the layer's own files, so a turn that cannot
// be had after a long wait is a failure, never a reason to go ahead.
class ClaimTurn {
public:
    ClaimTurn(int fd, bool patient);
    ClaimTurn(const ClaimTurn&) = delete;
    ClaimTurn& operator=(const ClaimTurn&) = delete;
    ~ClaimTurn();
    bool held() const { return held_; }

private:
    int fd_;
    bool held_ = false;
};

}  // namespace quarrow2::posix
