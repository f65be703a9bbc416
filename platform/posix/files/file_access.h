// Turning the O_PATH descriptor of a file into one that can read, lock and carry
// attributes, and checking what the caller may change.
#pragma once

#include "platform/platform.h"
#include "quarrow2/descriptor.h"

namespace quarrow2::platform {

// Opens the very inode behind `pathFd` (through /proc/self/fd, so no other file can take
// its place): a directory as a directory, a regular file read-only or, for `writable`,
// read-write. Never waits. The caller has made sure it is a regular file or a directory,
// so no device is ever opened.
DWORD ReopenDescriptor(int pathFd, bool directory, bool writable, UniqueFd& out);

// 0 when the caller may change the file's content and attributes; ERROR_ACCESS_DENIED when
// it lacks write permission or the file is immutable, ERROR_WRITE_PROTECT when its mount is
// read-only.
DWORD CheckMayChange(int fd);

}  // namespace quarrow2::platform
