// From a Windows-style stream path ("F:T", "F:T:$DATA", "F::$DATA" or "F") to the file
// that carries the stream and the extended attribute that holds it.
#pragma once

#include <sys/stat.h>

#include <string>

#include "platform/platform.h"
#include "platform/posix/files/stream_layout.h"
#include "quarrow2/descriptor.h"

namespace quarrow2::platform {

// Named streams are the attributes of this namespace.
constexpr char kStreamAttributePrefix[] = "user.";

struct StreamPath {
    std::string file;       // the carrying file, as a Linux path
    std::string attribute;  // "user." and the stream name; empty for the file's main stream
    UniqueFd file_fd;       // O_PATH descriptor of `file` (symbolic links followed) when it exists
    StreamLayout layout = StreamLayout::kNative;  // set, with `attribute`, by PlaceInLayout
    struct stat file_stat = {};                   // of `file_fd`, once FileStat has asked
    bool file_stat_known = false;
    bool through_link = false;  // `file` is a symbolic link, and `file_fd` is of its target

    bool named() const { return !attribute.empty(); }
};

// Splits `path` (zero-terminated UTF-16) at its stream separator: the last colon of the
// last component, after a trailing ":$DATA" that follows another colon is dropped (in any
// case). Stream names hold no colon, so this is the colon the library put between a file
// and a type name; what exists on disk never moves it. A last component that only begins
// with a colon (":T" after a slash) names a stream of the folder before it. Opens the
// carrying file when it exists.
//
// Returns 0 with `file_fd` valid when the file exists, 0 with `file_fd` invalid when only
// the file is missing (its folder exists, so it can be created), or the Windows code:
// ERROR_PATH_NOT_FOUND, ERROR_INVALID_NAME (a stream name that NTFS refuses, or a path
// that names no bytes), ERROR_FILENAME_EXCED_RANGE (a legal stream name too long for an
// attribute), or the mapped cause of an open that failed otherwise.
DWORD ResolveStreamPath(LPCWSTR path, StreamPath& out);

// ResolveStreamPath's split alone: `file` and `attribute`, nothing opened or looked up
// (`file_fd` invalid). ERROR_INVALID_NAME and the like as there.
DWORD SplitStreamPath(LPCWSTR path, StreamPath& out);

// The whole of `path` as a Linux path in `file`, nothing opened or looked up.
DWORD SplitWholePath(LPCWSTR path, StreamPath& out);

// The file or folder that the whole of `path` names, colons and all, with no stream part:
// 0 with `file_fd` valid, or the Windows code (ERROR_FILE_NOT_FOUND when it is missing).
DWORD ResolveWholePath(LPCWSTR path, StreamPath& out);

// Fills `path.file_stat` from `path.file_fd` (valid), asking the system only the first time:
// the layout, the kind of file and the lock file all need it.
DWORD FileStat(StreamPath& path);

// "/proc/self/fd/N": reopens, or checks access to, the very inode that `fd` refers to.
std::string DescriptorPath(int fd);

}  // namespace quarrow2::platform
