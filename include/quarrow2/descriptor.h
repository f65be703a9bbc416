// The one owner of a POSIX file descriptor, for clients on Linux (the library's own and the
// tool's): UniqueOwner closing with close(2) and keeping errno, so a failure reported after
// the close still names its own cause.
#pragma once

#include <unistd.h>

#include "quarrow2/client.h"

namespace quarrow2 {

struct DescriptorKind {
    using Value = int;
    static int None() { return -1; }
    static bool Held(int fd) { return fd >= 0; }
    static void Close(int fd) { ::close(fd); }
};
using UniqueFd = UniqueOwner<DescriptorKind, KeepErrno>;

}  // namespace quarrow2
