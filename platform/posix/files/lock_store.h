// The share-mode store: one folder only its users can reach, holding one lock file, in
// which the handles of every process that uses the store keep their share-mode marks and
// byte-range locks (share_locks.h). Which store a process uses, who shares it, and why no
// one else can squat, hold or fill it: docs/design/sharing.md.
#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"
#include "quarrow2/descriptor.h"

namespace quarrow2::platform {

// How many descriptors of the lock file a process keeps for later handles.
constexpr size_t kKeptDescriptors = 8;

// A handle's own descriptor of the lock file (its own open file description, so that the
// locks taken through it are the handle's alone).
class LockHolder {
public:
    LockHolder() = default;
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;
    ~LockHolder() { Release(); }

    // One descriptor the process kept, or a new one. ERROR_LOCK_STORE_UNUSABLE, with a text
    // that names the store, what is wrong with it and what to do, when the process has no
    // usable store; nothing is ever opened unlocked.
    DWORD Open();
    bool valid() const { return fd_.valid(); }
    int fd() const { return fd_.get(); }

    // Gives back every lock the descriptor holds and keeps it for the next handle; after a
    // fork, closes it and leaves its locks to the other process's copy.
    void Release();

private:
    UniqueFd fd_;
    // Forks counted when it was opened: after a fork the descriptor is shared.
    unsigned forks_ = 0;
    // The store it belongs to, as the process chose it then.
    unsigned generation_ = 0;
};

// Closes the descriptors kept for later handles; tests call it to count what a process holds.
void LetGoOfKeptDescriptors();

// The lock file of the store the process chose at its last claim; empty when it has none.
std::string LockStoreFile();

}  // namespace quarrow2::platform
