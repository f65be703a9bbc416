// Whether the volume that holds a path supports named streams.
#pragma once

#include "platform/platform.h"

namespace quarrow2::store {

// Room for a volume root; a root has at most 245 units before its terminator.
constexpr size_t kVolumeRootCapacity = 260;

// The root of the volume a path lies on, as the volume query takes it: "C:\" for a drive
// path, "\\server\share\" for a UNC path, the path itself with a backslash appended
// otherwise (cut at its fourth backslash or after 244 units). The path is read up to its
// first zero unit; null counts as empty.
void GetVolumeRoot(const WCHAR* path, WCHAR (&root)[kVolumeRootCapacity]);

// Non-zero when the volume of the path reports FILE_NAMED_STREAMS. Never fails: a volume
// that cannot be queried reads as one without named streams, and `queryError` then holds
// why it could not be (0 when the volume answered).
DWORD ProbeVolume(const WCHAR* path, DWORD& queryError);

}  // namespace quarrow2::store
