// The value of a handle's named stream as that handle sees it: the stored value, with the
// writes it holds back laid over it. A handle holds writes back only while they fall inside
// a range it has locked, where no other handle may look; everything else reaches the
// attribute at once, each time as one whole new value. The caller holds the file's mutex.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/posix/files/file_object.h"

namespace quarrow2::platform {

DWORD ContentSize(FileObject& file, uint64_t& size);

// Reads up to `capacity` bytes at `offset` into `buffer`.
DWORD ReadContent(FileObject& file, uint64_t offset, void* buffer, size_t capacity, size_t& count);

// True when [offset, offset + length) lies inside one range the handle has locked.
bool InsideOwnLock(const FileObject& file, uint64_t offset, uint64_t length);

// Writes `size` bytes at `offset`: held back when the range lies inside the handle's own
// lock, else stored at once together with anything held back before.
DWORD WriteContent(FileObject& file, uint64_t offset, const unsigned char* data, size_t size);

// Makes `end` the end of the value and stores it. Held-back writes are stored with it, or
// dropped when that fails; the stored value then stays as it was.
DWORD StoreContentEndingAt(FileObject& file, uint64_t end);

// Stores what the handle holds back, if anything; dropped when that fails.
DWORD StoreHeldWrites(FileObject& file);

}  // namespace quarrow2::platform
