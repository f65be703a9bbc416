// What one file handle of the layer holds.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/files/share_locks.h"
#include "platform/posix/files/stream_layout.h"
#include "quarrow2/descriptor.h"

namespace quarrow2::platform {

// Bytes written inside the handle's own locked ranges and not stored yet: the value is
// `bytes`, followed, while `storedTail` holds, by what the stored value has past them.
struct HeldWrites {
    std::vector<unsigned char> bytes;
    bool storedTail = true;
};

struct FileObject {
    // A descriptor of its own, so that its locks belong to this handle alone; read-only,
    // except for the main stream of a file opened for writing.
    UniqueFd fd;
    // Its own descriptor of the store's lock file, holding its marks and byte-range locks;
    // open only when the handle has data access. Declared after `fd`, so that it goes
    // first: while it holds locks, the file stays open and its inode number, from which
    // its slot comes, cannot pass to another file.
    LockHolder lock;
    // "user." and the stream name; empty for the file's main stream.
    std::string attribute;
    StreamLayout layout = StreamLayout::kNative;  // how `attribute` holds the content
    LockSlot slot;
    unsigned access = 0;  // AccessKind bits
    bool directory = false;
    // The layout of the file's items, for a handle of its main stream, as decided when it
    // was opened: a walk of its streams fails with the error.
    DWORD layoutError = 0;

    // Serialises the calls on this handle and guards what follows.
    std::mutex mutex;
    uint64_t pointer = 0;
    std::vector<ByteRange> locks;
    std::optional<HeldWrites> held;

    bool named() const { return !attribute.empty(); }
};

}  // namespace quarrow2::platform
