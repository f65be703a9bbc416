// Whole reads and writes at an offset of a file's main stream.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace quarrow2::platform {

// Reads up to `size` bytes at `offset`; fewer only at the end of the file.
DWORD ReadAt(int fd, uint64_t offset, void* buffer, size_t size, size_t& count);

// Writes all `size` bytes at `offset`.
DWORD WriteAt(int fd, uint64_t offset, const void* buffer, size_t size);

}  // namespace quarrow2::platform
